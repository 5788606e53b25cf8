// The log file's state: which file is open, and writing one entry to it.
#include "log/Log.h"

#include <log4cpp/Category.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <mutex>
#include <vector>

#include "log/detail/LogFile.h"
#include "log/detail/RollingLogAppender.h"
#include "platform/Elevation.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace {

constexpr std::size_t kMaxFileSize = 10485760;
constexpr mode_t kFileMode = 0644;
// As root, entries written before LogInit wait here (the folder beside the executable may be
// anyone's, a Downloads folder for one); beyond these bounds they are dropped.
constexpr std::size_t kMaxPendingEntries = 256;
constexpr std::size_t kMaxPendingBytes = 65536;
constexpr char kPattern[] = "%d %m%n ";

// One lock for the initialisation test and for the append: log4cpp's rolling appender checks
// the size and rolls over without a lock of its own, so two writers could roll twice.
std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}

std::string& OpenPath() {
  static std::string path;
  return path;
}

struct PendingEntry {
  log4cpp::Priority::Value priority;
  std::string text;
  log4cpp::TimeStamp time;
};

std::vector<PendingEntry>& Pending() {
  static std::vector<PendingEntry> entries;
  return entries;
}

std::size_t& PendingBytes() {
  static std::size_t bytes = 0;
  return bytes;
}

log4cpp::Priority::Value PriorityOf(LogLevel level) {
  switch (level) {
    case LogLevelDebug:
      return log4cpp::Priority::DEBUG;
    case LogLevelInfo:
      return log4cpp::Priority::INFO;
    case LogLevelWarn:
      return log4cpp::Priority::WARN;
    case LogLevelError:
      return log4cpp::Priority::ERROR;
  }
  return log4cpp::Priority::NOTSET;
}

// The executable's file name up to its first "."; it names the appender.
const std::string& LogName() {
  static const std::string name = [] {
    std::string file = platform::FileNameOf(platform::ExecutablePath());
    std::string stem = file.substr(0, file.find('.'));
    return stem.empty() ? std::string("kvdownloader") : stem;
  }();
  return name;
}

std::string DefaultFolder() {
  std::string exe = platform::ExecutablePath();
  std::size_t slash = exe.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  return dir + "/Log";
}

void InitLocked(const wchar_t* fileName, const wchar_t* folder) {
  log4cpp::Category& root = log4cpp::Category::getRoot();
  if (root.getAppender(LogName()) != nullptr) return;

  std::string dir =
      folder != nullptr && *folder != 0 ? platform::WideToLocale(folder) : DefaultFolder();
  // A folder that cannot be made is not reported: the appender then drops every entry.
  platform::CreateFolderTree(dir);
  std::string name =
      fileName != nullptr && *fileName != 0 ? platform::WideToLocale(fileName) : LogName() + ".log";
  std::string path = dir.back() == '/' ? dir + name : dir + "/" + name;

  auto* appender =
      new kvlog_detail::RollingLogAppender(LogName(), dir, name, kMaxFileSize, kFileMode);
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern(kPattern);
  appender->setLayout(layout);
  root.addAppender(appender);
  root.setPriority(log4cpp::Priority::DEBUG);
  OpenPath() = path;

  // What waited for the file goes first, with the times it was written at.
  for (const PendingEntry& e : Pending()) {
    log4cpp::LoggingEvent event(root.getName(), e.text, "", e.priority);
    event.timeStamp = e.time;
    root.callAppenders(event);
  }
  Pending().clear();
  PendingBytes() = 0;
}

// Root's entries before LogInit: kept for the file LogInit opens.
void KeepPending(LogLevel level, const std::string& text) {
  log4cpp::Priority::Value priority = PriorityOf(level);
  if (text.empty() || priority == log4cpp::Priority::NOTSET) return;
  if (Pending().size() >= kMaxPendingEntries || PendingBytes() + text.size() > kMaxPendingBytes) {
    return;
  }
  Pending().push_back(PendingEntry{priority, text, log4cpp::TimeStamp()});
  PendingBytes() += text.size();
}

bool Initialised() {
  return log4cpp::Category::getRoot().getAppender(LogName()) != nullptr;
}

}  // namespace

void LogInit(const wchar_t* fileName, const wchar_t* folder) {
  try {
    std::lock_guard<std::mutex> lock(LogMutex());
    InitLocked(fileName, folder);
  } catch (...) {
    // Logging must never take its caller down; the facility stays uninitialised.
  }
}

namespace kvlog_detail {

void WriteEntry(LogLevel level, const std::string& text) {
  std::lock_guard<std::mutex> lock(LogMutex());
  if (!Initialised() && platform::IsElevated()) {
    KeepPending(level, text);
    return;
  }
  InitLocked(nullptr, nullptr);
  if (text.empty()) return;
  log4cpp::Category& root = log4cpp::Category::getRoot();
  switch (level) {
    case LogLevelDebug:
      root.debug(text);
      break;
    case LogLevelInfo:
      root.info(text);
      break;
    case LogLevelWarn:
      root.warn(text);
      break;
    case LogLevelError:
      root.error(text);
      break;
    default:
      break;
  }
}

}  // namespace kvlog_detail

void LogWrite(LogLevel level, const std::string& text) {
  try {
    kvlog_detail::WriteEntry(level, text);
  } catch (...) {
  }
}

std::string LogFilePath() {
  std::lock_guard<std::mutex> lock(LogMutex());
  return OpenPath();
}
