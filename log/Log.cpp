// The log file's state: which file is open, and writing one entry to it.
#include "log/Log.h"

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/RollingFileAppender.hh>
#include <mutex>

#include "log/detail/LogFile.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace {

constexpr std::size_t kMaxFileSize = 10485760;
constexpr unsigned kBackups = 1;
constexpr mode_t kFileMode = 0644;
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
      new log4cpp::RollingFileAppender(LogName(), path, kMaxFileSize, kBackups, true, kFileMode);
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern(kPattern);
  appender->setLayout(layout);
  root.addAppender(appender);
  root.setPriority(log4cpp::Priority::DEBUG);
  OpenPath() = path;
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
