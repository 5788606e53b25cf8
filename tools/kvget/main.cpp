// kvget: downloads one URL to a file with the engine's driver, resuming what an earlier run
// left in OUTPUT.tmp / OUTPUT.cfg. Exit 0 on success, 1 with a one-line reason on failure,
// 2 for a bad command line, 130 when interrupted.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kvhttp/download/DownloadTaskManager.h"
#include "kvhttp/download/HttpDownload.h"
#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/download/detail/UrlText.h"
#include "kvhttp/net/Error.h"
#include "log/Log.h"
#include "tools/kvget/KvgetOptions.h"

namespace {

std::atomic<bool> g_interrupted{false};

struct Progress {
  std::string url;  // as the driver keys it
  bool terminal = false;
  bool drawn = false;
};

std::string Size(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024 && u < 4) {
    bytes /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

std::string Duration(std::int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

kvhttp::DownloadTaskStatus Status(const std::string& url, const std::wstring& save, int connections,
                                  int timeout) {
  kvhttp::DownloadTaskStatus status;
  // The task exists by now; asking again only returns its handle.
  kvhttp::QueryDownloadTask(kvhttp::CreateDownloadTask(url, save, connections, timeout), status);
  return status;
}

struct Context {
  Progress progress;
  std::wstring save;
  int connections;
  int timeout;
};

int OnEvent(int event, int value1, int value2, void* user) {
  auto* c = static_cast<Context*>(user);
  if (event != kDownloadEventProgress || !c->progress.terminal) return 0;
  const kvhttp::DownloadTaskStatus s = Status(c->progress.url, c->save, c->connections, c->timeout);
  std::string line;
  char head[16];
  if (s.file_size > 0) {
    std::snprintf(head, sizeof head, "%3d%%", value1);
    line = std::string(head) + "  " + Size(static_cast<double>(s.bytes_downloaded)) + " / " +
           Size(static_cast<double>(s.file_size)) + "  " + Size(s.speed) + "/s";
    if (s.speed > 0 && s.bytes_downloaded < s.file_size)
      line += "  " + Duration((s.file_size - s.bytes_downloaded) / s.speed) + " left";
  } else {
    line = Size(static_cast<double>(s.bytes_downloaded)) + "  " + Size(s.speed) + "/s";
  }
  std::fprintf(stderr, "\r%-72s", line.c_str());
  std::fflush(stderr);
  c->progress.drawn = true;
  return 0;
}

std::string Describe(const kvhttp::DownloadTaskStatus& s, const std::string& output) {
  const boost::system::error_code& ec = s.error;
  const std::string got = " (" + std::to_string(s.bytes_downloaded) + " of " +
                          (s.file_size >= 0 ? std::to_string(s.file_size) : std::string("?")) +
                          " bytes)";
  if (!ec) return "incomplete download" + got;
  if (ec.category() == kvhttp::error_category()) {
    const int v = ec.value();
    switch (v) {
      case kvhttp::errc::insecure_redirect:
        return "refused: the https server redirected to plain http";
      case kvhttp::errc::output_locked:
        return "another download is writing to " + output + ".tmp";
      case kvhttp::errc::size_mismatch:
        return "the server's file is not the expected size" + got;
      case kvhttp::errc::resource_changed:
        return "the file changed on the server more than once during the download";
      case kvhttp::errc::wrong_range:
        return "the server answered range requests with other bytes" + got;
      default:
        break;
    }
    if (v >= 100 && v < 600) return "HTTP " + std::to_string(v) + " " + ec.message();
    if (v >= 1000 && v <= 1007) return "proxy: " + ec.message();
    return "bad response: " + ec.message();
  }
  if (ec.category() == boost::asio::error::get_ssl_category() ||
      ec.category() == boost::asio::ssl::error::get_stream_category())
    return "TLS: " + ec.message();
  if (ec == boost::asio::error::eof) return "connection closed before the end" + got;
  if (ec == boost::asio::error::timed_out) return "timed out";
  if (ec == boost::system::errc::no_space_on_device)
    return "not enough free space for the file" + got;
  return ec.message();
}

std::wstring LogFolder() {
  if (const char* dir = std::getenv("KVGET_LOG_DIR"); dir && *dir)
    return kvhttp::detail::NativeToPath(dir);
  if (const char* home = std::getenv("HOME"); home && *home)
    return kvhttp::detail::NativeToPath(std::string(home) + "/.cache/kvget");
  return L"/tmp/kvget";
}

}  // namespace

int main(int argc, char** argv) {
  kvget::Options options;
  std::string error;
  if (!kvget::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "kvget: %s\n%s", error.c_str(), kvget::kUsage);
    return 2;
  }

  // Signals go to one thread, which cancels the download; the run then ends on its own.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  std::thread([set] {
    int sig = 0;
    while (sigwait(&set, &sig) == 0) {
      if (g_interrupted.exchange(true)) _exit(130);  // a second signal: leave at once
      CancelHttpDownload();
    }
  }).detach();

  LogInit(L"kvget.log", LogFolder().c_str());
  kvhttp::DownloadTaskDefaults defaults;
  defaults.download_rate_limit = options.limit;
  defaults.time_out = options.timeout;
  defaults.check_certificate = !options.insecure;
  kvhttp::SetDownloadTaskDefaults(defaults);

  Context context;
  kvhttp::detail::UseUserLocale();
  std::wstring wideUrl;
  if (!kvhttp::detail::LocaleToWideText(options.url, wideUrl))
    wideUrl = kvhttp::detail::NativeToPath(options.url);
  if (!kvhttp::detail::WideToLocaleText(wideUrl, context.progress.url))
    context.progress.url = kvhttp::detail::PathToNative(wideUrl);
  context.progress.terminal = isatty(STDERR_FILENO) == 1;
  context.save = kvhttp::detail::NativeToPath(options.output);
  context.connections = options.connections;
  context.timeout = options.timeout;

  DownloadRequest request;
  request.connections = options.connections;
  request.userData = &context;
  request.url = wideUrl;
  request.savePath = context.save;
  request.proxy = options.proxyText;
  request.expectedSize = options.expectedSize;
  const bool ok = RunHttpDownload(request, OnEvent, nullptr);
  if (context.progress.drawn) std::fprintf(stderr, "\n");
  if (ok) return 0;
  if (g_interrupted) {
    std::fprintf(stderr, "kvget: interrupted; run again to resume\n");
    return 130;
  }
  const kvhttp::DownloadTaskStatus s =
      Status(context.progress.url, context.save, context.connections, context.timeout);
  std::fprintf(stderr, "kvget: %s\n", Describe(s, options.output).c_str());
  return 1;
}
