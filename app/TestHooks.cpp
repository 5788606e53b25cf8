#include "app/TestHooks.h"

#include <cstdlib>

#include "platform/Paths.h"
#include "platform/Process.h"
#include "sys/SystemInfo.h"

namespace {

TestHooks ReadTestHooks() {
  TestHooks hooks;
  if (platform::ElevatingUser().has_value()) return hooks;
  hooks.urlIniPath = LocaleToWide(platform::EnvOrEmpty("KV_TEST_URL_INI"));
  hooks.carouselUrl = LocaleToWide(platform::EnvOrEmpty("KV_TEST_CAROUSEL_URL"));
  hooks.analyticsUrl = LocaleToWide(platform::EnvOrEmpty("KV_TEST_ANALYTICS_URL"));
  const int timeOut = std::atoi(platform::EnvOrEmpty("KV_TEST_DOWNLOAD_TIMEOUT").c_str());
  if (timeOut > 0 && timeOut <= 3600) hooks.downloadTimeOutSeconds = timeOut;
  return hooks;
}

}  // namespace

const TestHooks& GetTestHooks() {
  static const TestHooks hooks = ReadTestHooks();
  return hooks;
}
