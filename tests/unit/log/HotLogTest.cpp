#include "log/HotLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "config/Errors.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards (tests run in parallel).
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "hotlog-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
      throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::string folder() const { return path_.string() + "/"; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The log as the main window sets it up: LogCau.log in `folder`, appending.
void SetUpLogCau(THotLog& log, const std::string& folder) {
  log.FileDef().SetFileName("LogCau.log");
  log.FileDef().SetFolder(folder);
  log.FileDef().SetAppendMode(true);
}

// Splits at CR LF; fails on a lone CR or LF or a missing final CR LF.
std::vector<std::string> CrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text after the last CR LF: " << bytes.substr(start);
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    start = end + 2;
  }
  return lines;
}

TEST(THLFileDef, DefaultsToProgramFolderAndName) {
  const THLFileDef def;
  EXPECT_EQ(def.Folder(), fs::read_symlink("/proc/self/exe").parent_path().string() + "/");
  EXPECT_EQ(def.BaseName(), fs::read_symlink("/proc/self/exe").stem().string());
  EXPECT_EQ(def.Extension(), ".log");
  EXPECT_FALSE(def.AppendMode());
}

TEST(THLFileDef, FileNameAndFolder) {
  struct Case {
    std::string name, folder;  // folder "" = SetFolder not called
    std::string full;
  } cases[] = {
      {"LogCau.log", "/inst/dados/", "/inst/dados/LogCau.log"},
      {"LogCau.log", "/inst/dados", "/inst/dados/LogCau.log"},
      {"LogCau.log", "", "LogCau.log"},  // a name without folder empties it
      {"/var/x/run.txt", "", "/var/x/run.txt"},
      {"/var/x/run.txt", "/other", "/other/run.txt"},
      {"archive.tar.gz", "/d/", "/d/archive.tar.gz"},
      {"noext", "/d/", "/d/noext"},
      {"", "/d/", "/d/LogRecord"},
      {".log", "/d/", "/d/LogRecord.log"},
      {"/var/x/", "", "/var/x/LogRecord"},
  };
  for (const auto& c : cases) {
    THLFileDef def;
    def.SetFileName(c.name);
    if (!c.folder.empty())
      def.SetFolder(c.folder);
    def.SetFolder("");  // changes nothing
    EXPECT_EQ(def.FullName(), c.full) << c.name << " | " << c.folder;
  }
}

TEST(THotLog, ExpandsTagsAndEndsEveryLineInOneCrLf) {
  struct Case {
    std::string text, bytes;
  } cases[] = {
      {"{now}[PUSH] Fim.", "2011-03-09 14:05:07 [PUSH] Fim.\r\n"},
      {"{now}[PUSH][*] x", "2011-03-09 14:05:07 [PUSH][*] x\r\n"},
      {"msg {abc} end", "msg #HLTag(abc) end\r\n"},
      {"{NOW}", "#HLTag(NOW)\r\n"},
      {"a{}b", "ab\r\n"},
      {"{x}{é}", "x\xE9\r\n"},
      {"{&}{/}", "#HLTag(&)#HLTag(/)\r\n"},
      {"{{now}", "{2011-03-09 14:05:07 \r\n"},
      {"open { only", "open { only\r\n"},
      {"} before {", "} before {\r\n"},
      {"{now", "{now\r\n"},
      {"", "\r\n"},
      {"crlf\r\n", "crlf\r\n"},
      {"lf\n", "lf\r\n"},
      {"cr\r", "cr\r\n"},
      {"two\r\n\r\n", "two\r\n\r\n"},
      {"in\nside\rtoo\r\nok", "in\r\nside\r\ntoo\r\nok\r\n"},
      {"Audiência ação € 日", "Audi\xEAncia a\xE7\xE3o \x80 ?\r\n"},
  };
  TempDir dir;
  {
    THotLog log(std::make_shared<FixedClock>(LocalTime{2011, 3, 9, 14, 5, 7, 250}));
    SetUpLogCau(log, dir.folder());
    log.Start();
    for (const auto& c : cases)
      log.AddLine(c.text);
  }  // the destructor writes everything
  std::string expected;
  for (const auto& c : cases)
    expected += c.bytes;
  EXPECT_EQ(ReadFile(dir.path() / "LogCau.log"), expected);
}

TEST(THotLog, LinesOfManyThreadsAndBurstsArriveOnceInOrder) {
  constexpr int kThreads = 4, kBursts = 50, kPerBurst = 200;
  TempDir dir;
  THotLog log;
  SetUpLogCau(log, dir.folder());
  log.Start();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      int seq = 0;
      for (int b = 0; b < kBursts; ++b) {
        for (int i = 0; i < kPerBurst; ++i)
          log.AddLine("{now}T" + std::to_string(t) + " " + std::to_string(seq++) + "\r\n");
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (t + 1)));
      }
    });
  for (auto& th : threads)
    th.join();
  log.Stop();

  const auto lines = CrLfLines(ReadFile(dir.path() / "LogCau.log"));
  ASSERT_EQ(lines.size(), std::size_t{kThreads * kBursts * kPerBurst});
  std::map<int, int> next;  // thread -> next expected sequence number
  for (const auto& line : lines) {
    // "yyyy-mm-dd hh:mm:ss T<t> <seq>"
    ASSERT_GT(line.size(), 20u) << line;
    ASSERT_EQ(line[19], ' ') << line;
    std::istringstream in(line.substr(20));
    char tee = 0;
    int t = -1, seq = -1;
    in >> tee >> t >> seq;
    ASSERT_EQ(tee, 'T') << line;
    ASSERT_EQ(seq, next[t]) << line;
    next[t] = seq + 1;
  }
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(next[t], kBursts * kPerBurst);
}

TEST(THotLog, LinesReachTheFileWhileTheLogRuns) {
  TempDir dir;
  THotLog log;
  SetUpLogCau(log, dir.folder());
  log.Start();
  log.AddLine("early");
  // Another reader opens the file while the log holds it open.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string seen;
  while (seen.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    seen = ReadFile(dir.path() / "LogCau.log");
  }
  EXPECT_EQ(seen, "early\r\n");
  log.Stop();
}

TEST(THotLog, AppendModeKeepsTheFirstRun) {
  TempDir dir;
  for (const char* text : {"first run", "second run"}) {
    THotLog log;
    SetUpLogCau(log, dir.folder());
    log.Start();
    log.AddLine("");  // every run begins with an empty line
    log.AddLine(text);
  }
  EXPECT_EQ(ReadFile(dir.path() / "LogCau.log"), "\r\nfirst run\r\n\r\nsecond run\r\n");

  THotLog fresh;
  SetUpLogCau(fresh, dir.folder());
  fresh.FileDef().SetAppendMode(false);
  fresh.Start();
  fresh.AddLine("third run");
  fresh.Stop();
  EXPECT_EQ(ReadFile(dir.path() / "LogCau.log"), "third run\r\n");
}

TEST(THotLog, DropsLinesWhenNotStartedAndStopsOnce) {
  TempDir dir;
  THotLog log;
  SetUpLogCau(log, dir.folder());
  log.AddLine("before start");
  log.Stop();  // not started: nothing to do
  log.Start();
  log.Start();  // once only
  EXPECT_TRUE(log.Started());
  log.AddLine("kept");
  log.Stop();
  log.Stop();
  EXPECT_FALSE(log.Started());
  log.AddLine("after stop");
  EXPECT_EQ(ReadFile(dir.path() / "LogCau.log"), "kept\r\n");
}

TEST(THotLog, FileThatCannotBeOpenedFailsTheSetUp) {
  TempDir dir;
  struct Case {
    std::string what, folder;
    bool needsNonRoot;
  } cases[] = {
      {"a folder named LogCau.log", dir.folder() + "isdir/", false},
      {"a missing folder", dir.folder() + "missing/", false},
      {"a read-only LogCau.log", dir.folder() + "readonly/", true},
  };
  fs::create_directories(dir.path() / "isdir" / "LogCau.log");
  fs::create_directories(dir.path() / "readonly");
  std::ofstream(dir.path() / "readonly" / "LogCau.log") << "old\r\n";
  fs::permissions(dir.path() / "readonly" / "LogCau.log",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  for (const auto& c : cases) {
    if (c.needsNonRoot && ::geteuid() == 0)
      continue;  // permission bits do not stop root
    THotLog log;
    SetUpLogCau(log, c.folder);
    try {
      log.Start();
      ADD_FAILURE() << c.what << ": Start succeeded";
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()), kLogCreateError) << c.what;
      EXPECT_EQ(e.path(), c.folder + "LogCau.log") << c.what;
    }
    EXPECT_FALSE(log.Started()) << c.what;
    log.AddLine("dropped");
  }
  if (::geteuid() != 0) {
    EXPECT_EQ(ReadFile(dir.path() / "readonly" / "LogCau.log"), "old\r\n");
  }
}

TEST(THotLog, WriteErrorIsReportedOnceFromTheWriterThread) {
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  std::mutex mutex;
  std::vector<std::string> messages;
  std::thread::id reporter;
  {
    THotLog log;
    log.FileDef().SetFileName("/dev/full");
    log.FileDef().SetAppendMode(true);
    log.SetErrorHandler([&](const std::string& message) {
      std::lock_guard lock(mutex);
      messages.push_back(message);
      reporter = std::this_thread::get_id();
    });
    log.Start();
    for (int burst = 0; burst < 5; ++burst) {
      for (int i = 0; i < 100; ++i)
        log.AddLine("{now}line " + std::to_string(i));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Erro gravando o arquivo de Log /dev/full"), std::string::npos)
      << messages[0];
  EXPECT_NE(reporter, std::this_thread::get_id());
}

TEST(THotLog, StopWritesTheWholeBacklog) {
  constexpr int kLines = 20000;
  TempDir dir;
  THotLog log;
  SetUpLogCau(log, dir.folder());
  log.Start();
  for (int i = 0; i < kLines; ++i)
    log.AddLine("{now}[PUSH] line " + std::to_string(i));
  const auto before = std::chrono::steady_clock::now();
  log.Stop();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - before)
                      .count();
  RecordProperty("stop_ms", static_cast<int>(ms));
  const auto lines = CrLfLines(ReadFile(dir.path() / "LogCau.log"));
  ASSERT_EQ(lines.size(), std::size_t{kLines});
  EXPECT_EQ(lines.back().substr(20), "[PUSH] line " + std::to_string(kLines - 1));
}

TEST(AppLog, ExitWritesEveryQueuedLine) {
  TempDir dir;
  EXPECT_EXIT(
      {
        SetUpLogCau(AppLog(), dir.folder());
        AppLog().Start();
        for (int i = 0; i < 5000; ++i)
          AppLog().AddLine("{now}line " + std::to_string(i));
        std::exit(0);  // no Stop: the static's destructor writes the rest
      },
      testing::ExitedWithCode(0), "");
  const auto lines = CrLfLines(ReadFile(dir.path() / "LogCau.log"));
  ASSERT_EQ(lines.size(), 5000u);
  EXPECT_EQ(lines.back().substr(20), "line 4999");
}

TEST(AppLog, IsOneObject) {
  EXPECT_EQ(&AppLog(), &AppLog());
  EXPECT_FALSE(AppLog().Started());
  AppLog().AddLine("dropped: not started");
}

}  // namespace
}  // namespace cau
