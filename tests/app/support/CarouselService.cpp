#include "tests/app/support/CarouselService.h"

#include <openssl/evp.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "log/Log.h"

namespace bannertest {
namespace fs = std::filesystem;

bool CarouselService::Start(const std::vector<std::string>& switches) {
  const fs::path portFile = dir_ / "port";
  std::vector<std::string> argv = {
      "python3",     (kvtest::SourceDir() / "tools/demo/carousel/carousel_server.py").string(),
      "--port",      "0",
      "--port-file", portFile.string(),
      "--log",       (dir_ / "requests.log").string()};
  argv.insert(argv.end(), switches.begin(), switches.end());
  if (!process_.Start(argv, (dir_ / "server.out").string())) return false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end && process_.Running()) {
    std::istringstream in(kvtest::ReadFile(portFile));
    if (in >> port_ && port_ > 0) return kvtest::WaitForPort(port_);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::wstring CarouselService::CarouselUrl(const std::string& language,
                                          const std::string& query) const {
  std::string url = "http://127.0.0.1:" + std::to_string(port_) +
                    "/downloader/carousel?pid=1102&lang=" + language;
  if (!query.empty()) url += "&" + query;
  return std::wstring(url.begin(), url.end());
}

std::vector<std::string> CarouselService::Requests() const {
  std::vector<std::string> lines;
  std::istringstream in(kvtest::ReadFile(dir_ / "requests.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<int> CarouselService::ImageRequests() const {
  const std::string prefix = "GET /downloader/banners/";
  std::vector<int> numbers;
  for (const std::string& line : Requests()) {
    if (line.rfind(prefix, 0) == 0) numbers.push_back(std::stoi(line.substr(prefix.size())));
  }
  return numbers;
}

std::string BannerBytes(int i) {
  return kvtest::ReadFile(kvtest::SourceDir() / "tools/demo/carousel/banners" /
                          ("banner_" + std::to_string(i) + ".png"));
}

std::string BannerMd5(int i) {
  const std::string bytes = BannerBytes(i);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_md5(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned k = 0; k < len; ++k) {
    out += hex[md[k] >> 4];
    out += hex[md[k] & 15];
  }
  return out;
}

std::string LogText() {
  static kvtest::TempDir dir;
  static const bool opened = [] {
    const std::string folder = dir.path().string();
    LogInit(L"banner.log", std::wstring(folder.begin(), folder.end()).c_str());
    return true;
  }();
  (void)opened;
  return kvtest::ReadFile(LogFilePath());
}

std::wstring FolderOf(const fs::path& p) {
  const std::string s = p.string() + "/";
  return std::wstring(s.begin(), s.end());
}

}  // namespace bannertest
