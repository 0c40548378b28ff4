// The session log: LogCau.log in the host's data folder.
//
// Callers hand lines to THotLog::AddLine, which only queues them. A parser
// thread expands the tags ("{now}" -> "yyyy-mm-dd hh:mm:ss ") and a writer
// thread appends the lines to the file, each ending in CR LF, in
// Windows-1252. Both threads wake when work arrives and take everything that
// is queued at once, so a burst costs the file one write. Lines reach the file
// in the order in which AddLine was called; Stop writes every line added
// before it, then closes the file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/Clock.h"

namespace cau {

// What Start reports (as cau::FileError) when the log file cannot be opened.
inline constexpr std::string_view kLogCreateError = "Erro criando o arquivo de Log";

// Called once, from the writer thread, when writing to the log file fails.
using LogErrorHandler = std::function<void(const std::string& message)>;

// Where the log goes: folder (ending in "/", or empty for the working
// folder) + base name + extension (with its dot).
class THLFileDef {
 public:
  // The program's folder and file name, ".log", append off.
  THLFileDef();

  // Base name and extension from `name`; its folder part (possibly empty)
  // replaces the folder. An empty base name becomes "LogRecord".
  void SetFileName(std::string_view name);
  // Sets the folder, adding the final "/" when missing; "" changes nothing.
  void SetFolder(std::string_view folder);
  // true: keep an existing file and add to its end; false: a new file each run.
  void SetAppendMode(bool append) { append_ = append; }

  const std::string& Folder() const { return folder_; }
  const std::string& BaseName() const { return baseName_; }
  const std::string& Extension() const { return extension_; }
  bool AppendMode() const { return append_; }
  std::string FullName() const { return folder_ + baseName_ + extension_; }

 private:
  std::string folder_, baseName_, extension_;
  bool append_ = false;
};

// Expands the tags of one text whose "{now}" is `now`; drops a final line
// ending. The result may still hold line breaks inside.
std::string ExpandLogTags(std::string_view text, const LocalTime& now);

// Owns the open log file and the thread that appends to it.
class THotLogWriter {
 public:
  THotLogWriter();
  ~THotLogWriter();
  THotLogWriter(const THotLogWriter&) = delete;
  THotLogWriter& operator=(const THotLogWriter&) = delete;

  // Read when Start opens the file; later changes wait for the next Start.
  THLFileDef& FileDef() { return fileDef_; }
  void SetErrorHandler(LogErrorHandler handler);

  // Opens the file (shared: others may read and write it meanwhile) and
  // starts the thread. Throws cau::FileError(kLogCreateError) when the file
  // cannot be opened. Does nothing when already running.
  void Start();
  // Queues finished lines for the file: UTF-8, each ending in CR LF.
  void Post(std::string&& lines);
  // Writes everything posted, closes the file and ends the thread. Idempotent.
  void Stop();
  bool Ready() const;

 private:
  class File;
  void Run();
  void Write(const std::string& lines);
  void ReportError(const std::string& message);

  THLFileDef fileDef_;
  std::unique_ptr<File> file_;  // touched by Start/Stop and by the thread while it runs
  bool errorReported_ = false;  // writer thread only while it runs

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::string queue_;
  LogErrorHandler onError_;
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// Expands the tags of queued texts and hands the lines to the writer.
class THotLogParser {
 public:
  explicit THotLogParser(THotLogWriter& writer);
  ~THotLogParser();
  THotLogParser(const THotLogParser&) = delete;
  THotLogParser& operator=(const THotLogParser&) = delete;

  void Start();
  // Queues a text stamped `now`; false (text dropped) when not running.
  bool Post(std::string text, TimePoint now);
  // Hands every queued text to the writer, then ends the thread. Idempotent.
  void Stop();
  std::uint64_t LinesProduced() const;

 private:
  struct Item {
    std::string text;
    TimePoint now;
  };
  void Run();

  THotLogWriter& writer_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Item> queue_;
  std::uint64_t linesProduced_ = 0;
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

class THotLog {
 public:
  // `clock` stamps each line as AddLine receives it.
  explicit THotLog(std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>());
  // Stops: every line added so far is written before the file closes.
  ~THotLog();
  THotLog(const THotLog&) = delete;
  THotLog& operator=(const THotLog&) = delete;

  THLFileDef& FileDef() { return writer_.FileDef(); }
  // The handler runs on the writer thread: a window must pass the message on
  // to its own thread rather than touch its controls there.
  void SetErrorHandler(LogErrorHandler handler) { writer_.SetErrorHandler(std::move(handler)); }

  // Opens the file and starts both threads; returns once the file is open.
  // Throws cau::FileError(kLogCreateError) naming the file when it cannot
  // be opened. Does nothing when already started.
  void Start();
  // Queues `text` (UTF-8) without waiting for the file; dropped when the log
  // is not started. Safe from any thread.
  void AddLine(std::string text);
  // Writes every line added before the call, in order, then closes the file.
  // Idempotent; AddLine drops lines afterwards.
  void Stop();
  bool Started() const;

 private:
  std::shared_ptr<const Clock> clock_;
  mutable std::mutex startMutex_;
  bool started_ = false;
  THotLogWriter writer_;
  THotLogParser parser_{writer_};
};

// The program's one log. Made on first use (the start-up calls it before the
// main window exists) and destroyed at exit after main returns, which writes
// every line still queued. Nothing may log from a static destructor.
THotLog& AppLog();

}  // namespace cau
