// The fixture of the tests that run the install flow in-process: the controller on the
// headless host, the download server, an installation folder picked in the folder picker, and
// the program's log (printed when a test fails).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "tests/app/support/HeadlessApp.h"

namespace apptest {

// The test installer (kv_test_installer), as served.
std::string TestInstallerBytes();

// Besides the window, the test installer is set up through the environment the program hands
// down: it installs the product (KV_TEST_INSTALLER "ok"), records its arguments in
// installDir_/installer.log, and the product records its uid in installDir_/product.log.
class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the program with the installer at `downloadUrl` (and more URLs), and picks
  // pickedFolder_ in the folder picker.
  void StartApp(const std::string& downloadUrl, std::map<std::string, std::string> urls = {});
  void AnswerBoxes(std::function<int(const SkinUI::MessageBoxRequest&)> answerer) {
    app_->SetAnswerer(std::move(answerer));
  }
  // The state; for the installing state also what follows it (a quick installer).
  bool WaitForState(WindowState state,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30));
  bool WaitForProgress(int atLeast);
  // The network-error box's text in the window's language.
  std::wstring NetworkErrorText() const {
    const LanguageManager& lang = app_->frame().Language();
    return lang.GetText(L"STR_NETWORK_ERROR") + L"\n\n" + lang.GetText(L"STR_OPERATE_TIP");
  }
  static void SetEnv(const char* name, const std::string& value);

  PrivateDir installDir_;
  std::wstring pickedFolder_ = installDir_.path().wstring();
  DownloadServer server_;
  std::unique_ptr<HeadlessApp> app_;
  std::unique_ptr<LogTail> log_;
};

}  // namespace apptest
