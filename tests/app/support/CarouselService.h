// The demo carousel service (tools/demo/carousel/carousel_server.py) on 127.0.0.1, started
// for one test and stopped with it, and the helpers the banner tests share.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace bannertest {

class CarouselService {
 public:
  // Starts the service with extra command-line switches; false when it did not come up.
  bool Start(const std::vector<std::string>& switches = {});
  void Stop() { process_.Stop(); }
  int port() const { return port_; }
  // The carousel request of the demo product for `language`, with extra query switches
  // ("list=12&cut=2").
  std::wstring CarouselUrl(const std::string& language = "English",
                           const std::string& query = "") const;
  // Every request so far, as "GET /path?query".
  std::vector<std::string> Requests() const;
  // The image requests (entry numbers, in order) so far.
  std::vector<int> ImageRequests() const;

 private:
  kvtest::TempDir dir_;
  kvtest::ChildProcess process_;
  int port_ = 0;
};

// The bytes of demo banner image i (1 to 3), and its MD5 in lower case.
std::string BannerBytes(int i);
std::string BannerMd5(int i);

// The log file of the test process, opened once in a folder of its own.
std::string LogText();

// A folder path as the program writes it: wide, ending in "/".
std::wstring FolderOf(const std::filesystem::path& p);

}  // namespace bannertest
