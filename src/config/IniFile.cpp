#include "config/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <system_error>
#include <utility>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau {
namespace fs = std::filesystem;
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

// What one line of the file is.
struct Parsed {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;       // section or key name, trimmed
  std::size_t valueStart = 0;  // kKey: where the value begins (after "=" and blanks)
};

Parsed ParseLine(std::string_view text) {
  Parsed p;
  const std::string_view t = Trim(text);
  if (t.empty() || t.front() == ';' || t.front() == '#')
    return p;
  if (t.front() == '[') {
    const auto close = t.find(']');
    if (close != std::string_view::npos) {
      p.kind = Parsed::kSection;
      p.name = Trim(t.substr(1, close - 1));
    }
    return p;
  }
  const auto eq = text.find('=');
  if (eq == std::string_view::npos)
    return p;
  p.name = Trim(text.substr(0, eq));
  if (p.name.empty())
    return p;
  p.kind = Parsed::kKey;
  p.valueStart = eq + 1;
  while (p.valueStart < text.size() && (text[p.valueStart] == ' ' || text[p.valueStart] == '\t'))
    ++p.valueStart;
  return p;
}

// Names come from the program, not from the file; one that the format cannot
// hold is a programming error.
void CheckName(std::string_view name, bool section) {
  bool ok = !Trim(name).empty();
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || (section && c == ']') || (!section && c == '='))
      ok = false;
  }
  if (!ok)
    throw Error("Nome inválido para arquivo INI: \"" + std::string(name) + "\"");
}

std::string FileMessage(const std::string& what, const fs::path& path, int err) {
  return what + " \"" + path.string() + "\": " + std::generic_category().message(err);
}

// Closes a file descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The file's bytes, or nullopt when it does not exist.
std::optional<std::string> ReadBytes(const fs::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return std::nullopt;
    throw FileError(path.string(), FileMessage("Não foi possível ler o arquivo", path, errno));
  }
  std::string bytes;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0)
      break;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw FileError(path.string(), FileMessage("Não foi possível ler o arquivo", path, errno));
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  return bytes;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

// --- IniDocument -----------------------------------------------------------

IniDocument::IniDocument(std::string_view bytes, IniEncoding encoding) : encoding_(encoding) {
  while (!bytes.empty()) {
    const auto nl = bytes.find('\n');
    if (nl == std::string_view::npos) {
      lines_.push_back({std::string(bytes), ""});
      break;
    }
    const bool crlf = nl > 0 && bytes[nl - 1] == '\r';
    lines_.push_back({std::string(bytes.substr(0, crlf ? nl - 1 : nl)), crlf ? "\r\n" : "\n"});
    bytes.remove_prefix(nl + 1);
  }
}

std::string IniDocument::Bytes() const {
  std::string out;
  for (const Line& l : lines_)
    out += l.text + l.eol;
  return out;
}

std::string IniDocument::Fold(std::string_view name) const {
  return encoding_ == IniEncoding::Cp1252 ? text::UpperCp1252(text::FromCp1252(name))
                                          : text::UpperCp1252(name);
}

std::string IniDocument::NewLineEnd() const {
  for (const Line& l : lines_) {
    if (!l.eol.empty())
      return l.eol;
  }
  return "\r\n";  // the host is a Windows program
}

std::size_t IniDocument::Find(std::string_view section, std::string_view key) const {
  const std::string wantSection = Fold(Trim(section)), wantKey = Fold(Trim(key));
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Parsed p = ParseLine(lines_[i].text);
    if (p.kind == Parsed::kSection)
      inSection = Fold(p.name) == wantSection;
    else if (inSection && p.kind == Parsed::kKey && Fold(p.name) == wantKey)
      return i;
  }
  return lines_.size();
}

std::optional<std::string> IniDocument::Read(std::string_view section, std::string_view key) const {
  const std::size_t i = Find(section, key);
  if (i == lines_.size())
    return std::nullopt;
  const std::string_view text = lines_[i].text;
  return std::string(Trim(text.substr(ParseLine(text).valueStart)));
}

bool IniDocument::Write(std::string_view section, std::string_view key, std::string_view value) {
  const std::size_t found = Find(section, key);
  if (found != lines_.size()) {
    Line& line = lines_[found];
    const std::string_view text = line.text;
    const std::size_t start = ParseLine(text).valueStart;
    if (text.substr(start) == value)
      return false;
    line.text = std::string(text.substr(0, start)) + std::string(value);
    return true;
  }

  const std::string eol = NewLineEnd();
  const std::string wantSection = Fold(Trim(section));
  // The first section of that name, and the place after its last key.
  std::size_t insertAt = lines_.size();
  bool inSection = false, sectionFound = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Parsed p = ParseLine(lines_[i].text);
    if (p.kind == Parsed::kSection) {
      if (inSection)
        break;
      if (Fold(p.name) == wantSection) {
        inSection = sectionFound = true;
        insertAt = i + 1;
      }
    } else if (inSection && p.kind == Parsed::kKey) {
      insertAt = i + 1;
    }
  }
  std::vector<Line> added;
  if (!sectionFound)
    added.push_back({"[" + std::string(Trim(section)) + "]", eol});
  added.push_back({std::string(Trim(key)) + "=" + std::string(value), eol});
  if (insertAt > 0 && lines_[insertAt - 1].eol.empty())
    lines_[insertAt - 1].eol = eol;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());
  return true;
}

bool IniDocument::Erase(std::string_view section, std::string_view key) {
  bool erased = false;
  for (std::size_t i = Find(section, key); i != lines_.size(); i = Find(section, key)) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
    erased = true;
  }
  return erased;
}

// --- IniFile ---------------------------------------------------------------

IniFile::IniFile(fs::path path, IniEncoding encoding)
    : path_(std::move(path)), encoding_(encoding) {}

IniDocument IniFile::Load() const {
  const auto bytes = ReadBytes(path_);
  return IniDocument(bytes ? std::string_view(*bytes) : std::string_view(), encoding_);
}

void IniFile::Save(const IniDocument& doc) const {
  WriteFileAtomically(path_, doc.Bytes());
}

std::optional<std::string> IniFile::Read(std::string_view section, std::string_view key) const {
  auto bytes = Load().Read(section, key);
  if (bytes && encoding_ == IniEncoding::Cp1252)
    return text::FromCp1252(*bytes);
  return bytes;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  auto value = Read(section, key);
  return value ? std::move(*value) : std::string(fallback);
}

std::int64_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int64_t fallback) const {
  const auto value = Read(section, key);
  const auto n = value ? ParseInteger(*value) : std::nullopt;
  return n ? *n : fallback;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckName(section, true);
  CheckName(key, false);
  // One value, one line: a line break in it must not make new keys.
  std::string clean(value);
  for (char& c : clean) {
    if (static_cast<unsigned char>(c) < 0x20)
      c = ' ';
  }
  const auto toFile = [this](std::string_view utf8) {
    return encoding_ == IniEncoding::Cp1252 ? text::ToCp1252(utf8) : std::string(utf8);
  };
  IniDocument doc = Load();
  if (doc.Write(toFile(section), toFile(key), toFile(clean)))
    Save(doc);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  const auto toFile = [this](std::string_view utf8) {
    return encoding_ == IniEncoding::Cp1252 ? text::ToCp1252(utf8) : std::string(utf8);
  };
  IniDocument doc = Load();
  if (doc.Erase(toFile(section), toFile(key)))
    Save(doc);
}

// --- helpers ---------------------------------------------------------------

void WriteFileAtomically(const fs::path& requested, std::string_view bytes) {
  // Through a symbolic link, replace the file it points to, not the link.
  fs::path path = requested;
  std::error_code ec;
  if (fs::is_symlink(requested, ec)) {
    const fs::path target = fs::canonical(requested, ec);
    if (!ec)
      path = target;
  }
  const auto fail = [&](int err) -> FileError {
    return FileError(requested.string(),
                     FileMessage("Não foi possível gravar o arquivo", requested, err));
  };

  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  static std::atomic<unsigned> counter{0};
  fs::path temp;
  int raw = -1;
  for (int attempt = 0; raw < 0; ++attempt) {
    temp = dir / ("." + path.filename().string() + "." + std::to_string(::getpid()) + "." +
                  std::to_string(counter++) + ".tmp");
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && (errno != EEXIST || attempt > 100))
      throw fail(errno);
  }
  Fd fd(raw);
  const auto abandon = [&](int err) {
    ::unlink(temp.c_str());
    return fail(err);
  };

  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && ::fchmod(fd.get(), st.st_mode & 07777) != 0)
    throw abandon(errno);
  if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
    throw abandon(errno);
  if (::close(fd.release()) != 0)
    throw abandon(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0)
    throw abandon(errno);
  // The rename itself reaches the disk with the folder.
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0)
    ::fsync(dirFd.get());
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-')
      return std::nullopt;
  }
  std::int64_t v = 0;
  const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (err != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return v;
}

}  // namespace cau
