#include "log/HotLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau {

namespace {

constexpr std::string_view kDefaultBaseName = "LogRecord";

std::string ErrnoText(int err) {
  return std::error_code(err, std::generic_category()).message();
}

std::string FormatNow(const LocalTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

// The first of the two characters `a` and `b` at or after `from`, or npos.
// (find_first_of calls memchr once per character scanned.)
std::size_t FindEither(std::string_view text, std::size_t from, char a, char b) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == a || text[i] == b)
      return i;
  }
  return std::string_view::npos;
}

// Appends `text` with every line break (CR LF, LF or CR) made CR LF and a
// final CR LF; returns the number of lines.
std::size_t AppendLines(std::string& out, std::string_view text) {
  std::size_t lines = 1;
  std::size_t start = 0;
  for (std::size_t brk; (brk = FindEither(text, start, '\r', '\n')) != std::string_view::npos;) {
    out.append(text.substr(start, brk - start));
    out += "\r\n";
    ++lines;
    start = brk + 1;
    if (text[brk] == '\r' && start < text.size() && text[start] == '\n')
      ++start;
  }
  out.append(text.substr(start));
  out += "\r\n";
  return lines;
}

// Appends `text` with its tags expanded ("{now}" -> `now`) and its final
// line ending dropped.
void AppendExpanded(std::string& out, std::string_view text, std::string_view now) {
  for (int i = 0; i < 2 && !text.empty() && (text.back() == '\r' || text.back() == '\n'); ++i)
    text.remove_suffix(1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('{', pos);
    const std::size_t close =
        open == std::string_view::npos ? open : FindEither(text, open + 1, '{', '}');
    if (close == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    if (text[close] == '{') {  // "{" with no "}" before the next "{" is plain text
      out.append(text.substr(pos, close - pos));
      pos = close;
      continue;
    }
    out.append(text.substr(pos, open - pos));
    const std::string_view name = text.substr(open + 1, close - open - 1);
    if (name == "now") {
      out.append(now);
    } else if (name.empty()) {
      // "{}" yields nothing
    } else if (text::CharCount(name) == 1 && name != "&" && name != "/") {
      out.append(name);
    } else {
      out += "#HLTag(";
      out.append(name);
      out += ')';
    }
    pos = close + 1;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// THLFileDef

THLFileDef::THLFileDef() : extension_(".log") {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.filename().empty()) {
    baseName_ = kDefaultBaseName;
    return;
  }
  folder_ = exe.parent_path().string() + "/";
  baseName_ = exe.stem().string();
}

void THLFileDef::SetFileName(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t fileStart = slash == std::string_view::npos ? 0 : slash + 1;
  folder_ = std::string(name.substr(0, fileStart));
  const std::string_view file = name.substr(fileStart);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) {
    baseName_ = std::string(file);
    extension_.clear();
  } else {
    baseName_ = std::string(file.substr(0, dot));
    extension_ = std::string(file.substr(dot));
  }
  if (baseName_.empty())
    baseName_ = kDefaultBaseName;
}

void THLFileDef::SetFolder(std::string_view folder) {
  if (folder.empty())
    return;
  folder_ = std::string(folder);
  if (folder_.back() != '/')
    folder_ += '/';
}

// ---------------------------------------------------------------------------
// Tags

std::string ExpandLogTags(std::string_view text, const LocalTime& now) {
  std::string out;
  AppendExpanded(out, text, FormatNow(now));
  return out;
}

// ---------------------------------------------------------------------------
// THotLogWriter

// The open log file; every write goes to its end.
class THotLogWriter::File {
 public:
  File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::string& Path() const { return path_; }

  // 0, or the errno of the failure.
  int WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR)
          continue;
        return errno;
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
  }

  int Close() {
    if (fd_ < 0)
      return 0;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
  std::string path_;
};

THotLogWriter::THotLogWriter() = default;

THotLogWriter::~THotLogWriter() {
  Stop();
}

void THotLogWriter::SetErrorHandler(LogErrorHandler handler) {
  std::lock_guard lock(mutex_);
  onError_ = std::move(handler);
}

void THotLogWriter::Start() {
  {
    std::lock_guard lock(mutex_);
    if (running_)
      return;
  }
  const std::string path = fileDef_.FullName();
  // O_APPEND: every write lands at the current end, also when another
  // program writes to the file meanwhile. No lock is taken on the file.
  const int flags =
      O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (fileDef_.AppendMode() ? 0 : O_TRUNC);
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0)
    throw FileError(path, std::string(kLogCreateError));
  file_ = std::make_unique<File>(fd, path);
  errorReported_ = false;
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
    stopping_ = false;
  }
  try {
    thread_ = std::thread(&THotLogWriter::Run, this);
  } catch (const std::system_error&) {
    file_.reset();
    throw FileError(path, std::string(kLogCreateError));
  }
  std::lock_guard lock(mutex_);
  running_ = true;
}

void THotLogWriter::Post(std::string&& lines) {
  if (lines.empty())
    return;
  bool wasEmpty;
  {
    std::lock_guard lock(mutex_);
    if (!running_)
      return;
    wasEmpty = queue_.empty();
    if (wasEmpty)
      queue_.swap(lines);
    else
      queue_ += lines;
  }
  // The thread only sleeps on an empty queue, so only the first lines wake it.
  if (wasEmpty)
    wake_.notify_one();
}

void THotLogWriter::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_)
      return;
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  file_.reset();
  std::lock_guard lock(mutex_);
  running_ = false;
}

bool THotLogWriter::Ready() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void THotLogWriter::Run() {
  std::string batch;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty())
      break;  // stopping, and everything is written
    batch.swap(queue_);
    lock.unlock();
    Write(batch);
    batch.clear();
    lock.lock();
  }
  lock.unlock();
  if (const int err = file_->Close())
    ReportError("Erro gravando o arquivo de Log " + file_->Path() + ": " + ErrnoText(err));
}

void THotLogWriter::Write(const std::string& lines) {
  try {
    if (const int err = file_->WriteAll(text::ToCp1252(lines)))
      ReportError("Erro gravando o arquivo de Log " + file_->Path() + ": " + ErrnoText(err));
  } catch (const std::exception& e) {
    ReportError("Erro gravando o arquivo de Log " + file_->Path() + ": " + e.what());
  }
}

// Only the first failure of a run is reported; the lines of a failed write
// are dropped and later lines are still tried.
void THotLogWriter::ReportError(const std::string& message) {
  if (errorReported_)
    return;
  errorReported_ = true;
  LogErrorHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = onError_;
  }
  if (!handler)
    return;
  try {
    handler(message);
  } catch (...) {
    // The program's handler failed; the log goes on regardless.
  }
}

// ---------------------------------------------------------------------------
// THotLogParser

THotLogParser::THotLogParser(THotLogWriter& writer) : writer_(writer) {}

THotLogParser::~THotLogParser() {
  Stop();
}

void THotLogParser::Start() {
  std::lock_guard lock(mutex_);
  if (running_)
    return;
  queue_.clear();
  stopping_ = false;
  thread_ = std::thread(&THotLogParser::Run, this);
  running_ = true;
}

bool THotLogParser::Post(std::string text, TimePoint now) {
  bool wasEmpty;
  {
    std::lock_guard lock(mutex_);
    if (!running_ || stopping_)
      return false;
    wasEmpty = queue_.empty();
    queue_.push_back(Item{std::move(text), now});
  }
  if (wasEmpty)
    wake_.notify_one();
  return true;
}

void THotLogParser::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_)
      return;
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  std::lock_guard lock(mutex_);
  running_ = false;
}

std::uint64_t THotLogParser::LinesProduced() const {
  std::lock_guard lock(mutex_);
  return linesProduced_;
}

void THotLogParser::Run() {
  std::vector<Item> batch;
  std::string lines;
  // Lines of one second share one formatted time.
  std::chrono::sys_seconds second{};
  std::string now;

  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty())
      break;  // stopping, and everything is handed on
    batch.swap(queue_);
    lock.unlock();
    std::size_t produced = 0;
    std::string line;
    try {
      for (const Item& item : batch) {
        const auto s = std::chrono::floor<std::chrono::seconds>(item.now);
        if (now.empty() || s != second) {
          now = FormatNow(ToLocal(item.now));
          second = s;
        }
        line.clear();
        AppendExpanded(line, item.text, now);
        produced += AppendLines(lines, line);
      }
    } catch (const std::exception&) {
      // Out of memory: the lines of this batch expanded so far still go.
    }
    writer_.Post(std::move(lines));
    lines.clear();
    batch.clear();
    lock.lock();
    linesProduced_ += produced;
  }
}

// ---------------------------------------------------------------------------
// THotLog

THotLog::THotLog(std::shared_ptr<const Clock> clock) : clock_(std::move(clock)) {}

THotLog::~THotLog() {
  Stop();
}

void THotLog::Start() {
  std::lock_guard lock(startMutex_);
  if (started_)
    return;
  writer_.Start();
  try {
    parser_.Start();
  } catch (const std::system_error&) {
    const std::string path = writer_.FileDef().FullName();
    writer_.Stop();
    throw FileError(path, std::string(kLogCreateError));
  }
  started_ = true;
}

void THotLog::AddLine(std::string text) {
  parser_.Post(std::move(text), clock_->Now());
}

void THotLog::Stop() {
  std::lock_guard lock(startMutex_);
  if (!started_)
    return;
  parser_.Stop();  // hands every queued text to the writer first
  writer_.Stop();
  started_ = false;
}

bool THotLog::Started() const {
  std::lock_guard lock(startMutex_);
  return started_;
}

THotLog& AppLog() {
  static THotLog log;
  return log;
}

}  // namespace cau
