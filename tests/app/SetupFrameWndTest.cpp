// clang-format off
#include "app/SetupFrameWnd.h"
// clang-format on

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "sys/SystemInfo.h"
#include "tests/app/support/HeadlessApp.h"
#include "ui/controls/Option.h"

namespace {

using apptest::HeadlessApp;
using apptest::LogTail;
using namespace SkinUI;
namespace fs = std::filesystem;

::testing::AssertionResult ClientSizeIs(HeadlessApp& app, int cx, int cy) {
  const UiSize size = app.frame().GetClientSize();
  if (size.cx == cx && size.cy == cy) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << size.cx << " x " << size.cy;
}

fs::path WorkFolderLog() {
  const apptest::HeadlessEnv& env = apptest::SetUpHeadlessEnv();
  const std::string exe = fs::read_symlink("/proc/self/exe").filename().string();
  return env.programFiles / "korvana_down" / exe / "Log" / "korvana_down.log";
}

TEST(SetupFrameWndTest, StartUpLogsTheFactsInOrderAndBindsTheTexts) {
  LogTail log(WorkFolderLog());
  HeadlessApp app;
  const LanguageManager& lang = app.frame().Language();

  const std::vector<std::string> expected = {
      "UpdateWindowSate:kWindow_Init", "Windows Version:", "Windows Bit:x64",
      "downloader version:", "DownloadRatio:90  ==== ReadFileTimeout:1500"};
  int last = -1;
  for (const std::string& line : expected) {
    const int at = log.IndexOf(line);
    EXPECT_GT(at, last) << line;
    last = at;
  }
  EXPECT_EQ(app.host().GetTitle(), lang.GetText(L"STR_MESSAGEBOX_TITLE"));
  EXPECT_EQ(app.Find(L"btn_install")->GetText(), lang.GetText(L"STR_INSTALL"));
  EXPECT_EQ(app.Find(L"chk_fold")->GetText(), lang.GetText(L"STR_CUSTOMIZE_INSTALL"));
  EXPECT_EQ(app.Find(L"edit_path")->GetText(), app.frame().GetInstallFolder());
  EXPECT_EQ(app.frame().GetWindowState(), kWindow_Init);
  EXPECT_EQ(app.Page(), 0);
  EXPECT_FALSE(app.Visible(L"btn_start"));
  EXPECT_TRUE(app.host().HasIcon());
  EXPECT_GT(app.Find(L"chk_fold")->GetPos().left, app.Find(L"chk_agree")->GetPos().left);
}

TEST(SetupFrameWndTest, InstallButtonFollowsTheAgreementAndThePanelUnfoldsTo435) {
  HeadlessApp app;
  CControlUI* install = app.Find(L"btn_install");
  EXPECT_TRUE(install->IsEnabled());
  app.Click(L"chk_agree");
  EXPECT_FALSE(install->IsEnabled());
  app.Click(L"chk_agree");
  EXPECT_TRUE(install->IsEnabled());

  EXPECT_TRUE(ClientSizeIs(app, 650, 360));
  app.Click(L"chk_fold");
  EXPECT_TRUE(ClientSizeIs(app, 650, 435));
  EXPECT_TRUE(app.Visible(L"edit_path"));
  app.Click(L"chk_fold");
  EXPECT_TRUE(ClientSizeIs(app, 650, 360));
}

TEST(SetupFrameWndTest, FolderPickerAndTheRefusedFolder) {
  apptest::PrivateDir folders;
  HeadlessApp app;
  std::wstring answer = L"/no/such/folder";
  app.backend().SetFolderAnswerer([&](const std::wstring&, std::wstring& folder) {
    folder = answer;
    return true;
  });
  app.Click(L"chk_fold");

  // A press in the read-only path box opens the picker once and moves the focus on.
  app.Click(L"edit_path");
  ASSERT_EQ(app.backend().GetFolderPickerTitles().size(), 1u);
  EXPECT_EQ(app.backend().GetFolderPickerTitles()[0],
            app.frame().Language().GetText(L"STR_SELECT_FOLDER"));
  EXPECT_TRUE(app.Find(L"btn_browse")->IsFocused());
  EXPECT_EQ(app.Find(L"edit_path")->GetText(), L"/no/such/folder");

  // Folded again, a refused folder unfolds the panel to show its red tip.
  app.Click(L"chk_fold");
  LogTail log(app.LogFile());
  app.Click(L"btn_install");
  EXPECT_TRUE(app.Visible(L"label_tip"));
  EXPECT_EQ(app.Find(L"label_tip")->GetText(), app.frame().Language().GetText(L"STR_PATH_INVALID"));
  EXPECT_TRUE(ClientSizeIs(app, 650, 435));
  EXPECT_EQ(app.frame().GetWindowState(), kWindow_Init);
  EXPECT_TRUE(log.Contains("sel path:/no/such/folder/"));
  EXPECT_FALSE(log.Contains("sel path end"));

  // Picking a folder clears the tip; the picked folder is stored with a trailing "/".
  answer = folders.path().wstring();
  app.Click(L"btn_browse");
  EXPECT_FALSE(app.Visible(L"label_tip"));
  app.SetAnswerer([](const MessageBoxRequest& box) { return IDABORT; });
  app.Click(L"btn_install");
  EXPECT_EQ(app.frame().GetInstallFolder(), answer + L"/");
  EXPECT_TRUE(log.Contains("sel path:" + folders.path().string() + "/"));
  EXPECT_TRUE(log.Contains("sel path end"));
  EXPECT_EQ(app.Page(), 1);
  EXPECT_TRUE(ClientSizeIs(app, 650, 360));
  // The download of nothing fails; Abort closes.
  EXPECT_TRUE(app.RunUntil([&] { return app.Closed(); }));
}

TEST(SetupFrameWndTest, CloseQuestionOnTheHomePageAndOnlyOneAtATime) {
  HeadlessApp app;
  const LanguageManager& lang = app.frame().Language();
  kvtest::WriteFile(WideToLocale(app.frame().InstallerFile()), "left over");
  int asked = 0;
  app.SetAnswerer([&](const MessageBoxRequest& box) {
    ++asked;
    // A second request while the question is open is ignored.
    app.host().RequestClose();
    return asked == 1 ? IDNO : IDYES;
  });
  app.host().RequestClose();
  ASSERT_EQ(app.Boxes().size(), 1u);
  EXPECT_EQ(app.Boxes()[0].text, lang.GetText(L"STR_CLOSE_TIP1"));
  EXPECT_EQ(app.Boxes()[0].caption, lang.GetText(L"STR_MESSAGEBOX_TITLE"));
  EXPECT_EQ(app.Boxes()[0].flags, MB_YESNO | MB_ICONQUESTION);
  EXPECT_FALSE(app.Closed());

  app.host().RequestClose();
  EXPECT_EQ(app.Boxes().size(), 2u);
  EXPECT_TRUE(app.Closed());
  EXPECT_FALSE(fs::exists(WideToLocale(app.frame().InstallerFile())));
}

TEST(SetupFrameWndTest, HideMinimisesTheBannerPage) {
  apptest::PrivateDir folder;
  HeadlessApp app;
  app.backend().SetFolderAnswerer([&](const std::wstring&, std::wstring& f) {
    f = folder.path().wstring();
    return true;
  });
  app.Click(L"btn_browse");
  bool networkBox = false;
  app.SetAnswerer([&](const MessageBoxRequest& box) {
    networkBox = true;
    return IDABORT;
  });
  app.Click(L"btn_install");
  ASSERT_EQ(app.Page(), 1);
  app.Click(L"btn_hide");
  EXPECT_TRUE(app.host().IsMinimized());
  EXPECT_TRUE(app.RunUntil([&] { return app.Closed(); }));
  EXPECT_TRUE(networkBox);
}

// The language comes from the locale; Arabic gets the right-to-left skin and mirrored values.
TEST(SetupFrameWndTest, ArabicMirrorsTheSkinTheBarAndTheBoxes) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old != nullptr ? old : "";
  setenv("LC_ALL", "ar_SA.UTF-8", 1);
  {
    HeadlessApp app;
    EXPECT_TRUE(app.frame().Language().IsRightToLeft());
    // The mirrored skin puts the fold box left of the agreement.
    EXPECT_LT(app.Find(L"chk_fold")->GetPos().left, app.Find(L"chk_agree")->GetPos().left);
    app.frame().SetProgress(30);
    EXPECT_EQ(app.ProgressValue(), 70);
    EXPECT_EQ(app.ProgressText(), L"30 %");
    EXPECT_EQ(app.host().GetTaskbarCompleted(), 30u);
    // The buttons carry the words the Arabic texts name them by.
    const LanguageManager& lang = app.frame().Language();
    EXPECT_EQ(MessageBoxButtonLabel(IDRETRY), lang.GetText(L"STR_BUTTON_RETRY"));
    EXPECT_NE(lang.GetText(L"STR_OPERATE_TIP").find(MessageBoxButtonLabel(IDIGNORE)),
              std::wstring::npos);
    EXPECT_NE(MessageBoxButtonLabel(IDNO), L"No");

    app.SetAnswerer([](const MessageBoxRequest&) { return IDNO; });
    app.host().RequestClose();
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].flags,
              MB_YESNO | MB_ICONQUESTION | MB_RTLREADING | MB_RIGHT | MB_SETFOREGROUND);
  }
  if (old != nullptr) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

}  // namespace
