#include "tests/app/support/FlowTest.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "sys/SystemInfo.h"

namespace apptest {

namespace fs = std::filesystem;

namespace {

const char* const kInstallerVariables[] = {"KV_TEST_INSTALLER",      "KV_TEST_INSTALLER_LOG",
                                           "KV_TEST_PRODUCT_LOG",    "KV_TEST_PRODUCT_PATH",
                                           "KV_TEST_INSTALLER_HOLD", "KV_TEST_INSTALLER_PROGRESS"};

}  // namespace

std::string TestInstallerBytes() {
  return kvtest::ReadFile(kvtest::BinaryDir() / "tests" / "app" / "kv_test_installer");
}

void FlowTest::SetEnv(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}

void FlowTest::SetUp() {
  SetUpHeadlessEnv();
  SetEnv("KV_TEST_INSTALLER", "ok");
  SetEnv("KV_TEST_INSTALLER_LOG", (installDir_ / "installer.log").string());
  SetEnv("KV_TEST_PRODUCT_LOG", (installDir_ / "product.log").string());
  SetEnv("KV_TEST_PRODUCT_PATH", "Korvana/Korvana Lumenstack/lumenstack");
}

void FlowTest::TearDown() {
  // What the program logged helps most when a flow test fails.
  if (HasFailure() && log_) {
    for (const std::string& line : log_->Lines()) std::printf("log: %s\n", line.c_str());
  }
  app_.reset();
  for (const char* name : kInstallerVariables) unsetenv(name);
}

void FlowTest::StartApp(const std::string& downloadUrl, std::map<std::string, std::string> urls) {
  urls["STR_DOWN_URL"] = downloadUrl;
  urls["STR_DOWN_URL_X64"] = downloadUrl;
  app_.reset();  // one window (and host) at a time
  app_ = std::make_unique<HeadlessApp>(urls);
  // Leftovers of another test's download would be resumed.
  for (const wchar_t* suffix : {L"", L".tmp", L".cfg"}) {
    std::error_code ec;
    fs::remove(WideToLocale(app_->frame().InstallerFile() + suffix), ec);
  }
  log_ = std::make_unique<LogTail>(app_->LogFile());
  app_->backend().SetFolderAnswerer([this](const std::wstring&, std::wstring& folder) {
    folder = pickedFolder_;
    return true;
  });
  // The path row is on the folded panel.
  app_->Click(L"chk_fold");
  app_->Click(L"btn_browse");
  app_->Click(L"chk_fold");
}

bool FlowTest::WaitForState(WindowState state, std::chrono::milliseconds timeout) {
  return app_->RunUntil(
      [&] {
        const WindowState now = app_->frame().GetWindowState();
        return now == state || (state == kWindow_Installing && now == kWindow_Finish);
      },
      timeout);
}

bool FlowTest::WaitForProgress(int atLeast) {
  return app_->RunUntil([&] { return app_->ProgressValue() >= atLeast; }, std::chrono::seconds(30));
}

}  // namespace apptest
