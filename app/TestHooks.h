// The one place where the program takes settings meant for its tests from the environment:
// servers on other addresses than the brand's. Ignored when the program runs elevated (through
// sudo or pkexec), so nobody can point a root installer elsewhere. Any thread.
#pragma once

#include <string>

struct TestHooks {
  // KV_TEST_URL_INI: a url.ini (UTF-16LE) used instead of the embedded URL configuration.
  std::wstring urlIniPath;
  // KV_TEST_CAROUSEL_URL: the banner list request instead of the brand's.
  std::wstring carouselUrl;
  // KV_TEST_ANALYTICS_URL: the analytics endpoint instead of the brand's.
  std::wstring analyticsUrl;
  // KV_TEST_DOWNLOAD_TIMEOUT: seconds without progress before the engine reconnects (0: its
  // own default), so that failures show in seconds.
  int downloadTimeOutSeconds = 0;
  // KV_TEST_RETRY_DELAY_MS: the engine's first pause before it tries a failed connection again
  // (0: its own default), so that a server that keeps failing is given up in moments.
  int retryDelayMs = 0;
};

// Read once, on first use.
const TestHooks& GetTestHooks();
