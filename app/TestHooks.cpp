#include "app/TestHooks.h"

#include <cstdlib>

#include "platform/Elevation.h"
#include "sys/SystemInfo.h"

namespace {

TestHooks ReadTestHooks() {
  TestHooks hooks;
  hooks.urlIniPath = LocaleToWide(platform::TestHookValue("KV_TEST_URL_INI"));
  hooks.carouselUrl = LocaleToWide(platform::TestHookValue("KV_TEST_CAROUSEL_URL"));
  hooks.analyticsUrl = LocaleToWide(platform::TestHookValue("KV_TEST_ANALYTICS_URL"));
  const int timeOut = std::atoi(platform::TestHookValue("KV_TEST_DOWNLOAD_TIMEOUT").c_str());
  if (timeOut > 0 && timeOut <= 3600) hooks.downloadTimeOutSeconds = timeOut;
  const int retryDelay = std::atoi(platform::TestHookValue("KV_TEST_RETRY_DELAY_MS").c_str());
  if (retryDelay > 0 && retryDelay <= 60000) hooks.retryDelayMs = retryDelay;
  return hooks;
}

}  // namespace

const TestHooks& GetTestHooks() {
  static const TestHooks hooks = ReadTestHooks();
  return hooks;
}
