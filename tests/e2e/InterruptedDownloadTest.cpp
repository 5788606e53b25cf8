// The real program when the download does not go as planned: a server that cuts every
// connection at 40 %, the program killed half-way and started again, a tampered installer, and
// a second start while the first one downloads.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "tests/e2e/support/EndToEnd.h"

namespace {

using e2etest::FaultyInstallerServer;
using e2etest::RecordedPieces;
using std::chrono::seconds;
namespace fs = std::filesystem;

constexpr int kInstallX = 325, kInstallY = 207;

class InterruptedDownloadTest : public e2etest::EndToEndTest {
 protected:
  // Slow enough to be caught half-way: about four seconds over the engine's connections.
  std::string SlowRate() const {
    return "rate=" + std::to_string(std::max<std::size_t>(installer_.size() / 32, 16 * 1024));
  }
  bool WaitForShare(double share, std::chrono::milliseconds timeout) {
    return apptest::WaitUntil(
        [&] {
          RecordedPieces pieces;
          return ReadRecordedPieces(RecordPath(), pieces) && pieces.Share() >= share;
        },
        timeout);
  }

  // The requests for the installer from `first` on ask for ranges of pieces that were not on
  // disk. (A run's first request asks from byte 0 to learn whether ranges work; the engine
  // drops its answer when byte 0 is on disk.)
  void ExpectOnlyMissingPiecesAsked(const RecordedPieces& before, std::size_t first) {
    const auto requests = server_.InstallerRequests();
    ASSERT_GT(requests.size(), first + 1) << server_.Log();
    EXPECT_TRUE(requests[first].ranged && requests[first].first == 0) << server_.Log();
    for (std::size_t i = first + 1; i < requests.size(); ++i) {
      EXPECT_TRUE(requests[i].ranged) << "request " << i << "\n" << server_.Log();
      EXPECT_FALSE(before.Has(requests[i].first))
          << "fetched again from " << requests[i].first << "\n"
          << server_.Log();
    }
  }

  std::string installer_ = DemoInstallerBytes();
  FaultyInstallerServer server_;
};

// Every connection ends at 40 % of the file: the engine gives up, the user gets the network
// box; Retry (a click on it) goes on from the pieces on disk and the installation completes.
TEST_F(InterruptedDownloadTest, ConnectionsCutAt40PercentThenRetryResumes) {
  ASSERT_TRUE(server_.Start(installer_));
  const std::int64_t cut = static_cast<std::int64_t>(installer_.size()) * 4 / 10;
  server_.SetFaults("drop_at=" + std::to_string(cut));
  UseInstallerUrl(server_.InstallerUrl());
  ASSERT_TRUE(StartProgram());
  ClickAt(kInstallX, kInstallY);
  const std::string box = app_->WaitForDialog(seconds(40));
  ASSERT_FALSE(box.empty()) << "the network box";
  EXPECT_TRUE(app_->Screenshot(sandbox_.root.path() / "network-box.png"));
  EXPECT_TRUE(WaitForLog("HttpDownloadEnd：Failed", seconds(5)));
  EXPECT_FALSE(ProductInstalled());

  // What is on disk stops at the cut.
  RecordedPieces before;
  ASSERT_TRUE(ReadRecordedPieces(RecordPath(), before));
  ASSERT_GT(before.Count(), 0);
  for (std::size_t i = 0; i < before.have.size(); ++i) {
    if (before.have[i]) {
      EXPECT_LE(static_cast<std::int64_t>(i + 1) * before.pieceSize, cut) << "piece " << i;
    }
  }
  const std::size_t requestsBefore = server_.InstallerRequests().size();

  server_.SetFaults("");
  ASSERT_TRUE(ClickDialogButton(box, 1, 3));  // Retry
  ASSERT_TRUE(WaitForLog(e2etest::kFinished, seconds(30))) << server_.Log();
  EXPECT_TRUE(ProductInstalled());
  // After Retry only ranges of what was missing were asked for.
  ExpectOnlyMissingPiecesAsked(before, requestsBefore);
  EXPECT_FALSE(fs::exists(RecordPath()));
  app_->RequestClose();
  EXPECT_EQ(app_->WaitExit(), 0) << app_->Output();
}

// kill -9 half-way through the download: the next start's Install takes the pieces on disk
// and fetches only the rest.
TEST_F(InterruptedDownloadTest, KilledHalfWayResumesAfterTheNextStart) {
  ASSERT_TRUE(server_.Start(installer_));
  server_.SetFaults(SlowRate());
  UseInstallerUrl(server_.InstallerUrl());
  ASSERT_TRUE(StartProgram());
  ClickAt(kInstallX, kInstallY);
  ASSERT_TRUE(WaitForShare(0.5, seconds(30))) << server_.Log();
  const pid_t pid = app_->Pid();
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_EQ(app_->WaitExit(), 128 + SIGKILL);

  RecordedPieces before;
  ASSERT_TRUE(ReadRecordedPieces(RecordPath(), before));
  EXPECT_GE(before.Share(), 0.5);
  EXPECT_LT(before.Share(), 1.0);
  EXPECT_FALSE(ProductInstalled());
  const std::size_t requestsBefore = server_.InstallerRequests().size();

  server_.SetFaults("");
  ASSERT_TRUE(StartProgram());
  ClickAt(kInstallX, kInstallY);
  ASSERT_TRUE(WaitForLog(e2etest::kFinished, seconds(30))) << server_.Log();
  EXPECT_TRUE(ProductInstalled());
  ExpectOnlyMissingPiecesAsked(before, requestsBefore);
  app_->RequestClose();
  EXPECT_EQ(app_->WaitExit(), 0) << app_->Output();
}

// One changed byte: the program refuses the file, removes it and shows the network box; the
// installer never ran and nothing was installed. Abort ends the program.
TEST_F(InterruptedDownloadTest, TamperedInstallerIsRefused) {
  apptest::DownloadServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("setup.exe", installer_);
  std::string tampered = installer_;
  tampered[tampered.size() / 2] ^= 0x01;
  server.ReplaceBytes("setup.exe", tampered);
  UseInstallerUrl(server.Url("setup.exe"));
  ASSERT_TRUE(StartProgram());
  ClickAt(kInstallX, kInstallY);
  const std::string box = app_->WaitForDialog(seconds(30));
  ASSERT_FALSE(box.empty()) << "the network box";
  EXPECT_TRUE(app_->Screenshot(sandbox_.root.path() / "refused-box.png"));
  EXPECT_TRUE(log_->Contains("the downloaded installer is refused"));
  EXPECT_FALSE(log_->Contains(e2etest::kInstalling));
  EXPECT_TRUE(NothingInstalled());
  // Every byte was served: the refusal came from the check, not from a short download.
  EXPECT_GE(server.BytesServed(), static_cast<std::int64_t>(installer_.size()));

  ASSERT_TRUE(ClickDialogButton(box, 0, 3));  // Abort
  EXPECT_NE(app_->WaitExit(), -1) << "Abort ends the program";
  EXPECT_TRUE(NothingInstalled());
}

// A second start while the first downloads brings the first window back and ends with 255;
// the first download goes on to the installation.
TEST_F(InterruptedDownloadTest, SecondStartDuringTheDownloadPresentsTheFirst) {
  ASSERT_TRUE(server_.Start(installer_));
  server_.SetFaults(SlowRate());
  UseInstallerUrl(server_.InstallerUrl());
  ASSERT_TRUE(StartProgram());
  ClickAt(kInstallX, kInstallY);
  ASSERT_TRUE(WaitForShare(0.1, seconds(30))) << server_.Log();
  uitest::RunX(display_, "xdotool windowunmap --sync " + app_->window());
  ASSERT_TRUE(app_->VisibleWindows().empty());

  apptest::AppWindow second(display_, sandbox_);
  ASSERT_TRUE(second.Start({{"KV_TEST_RETRY_DELAY_MS", "20"}}));
  EXPECT_EQ(second.WaitExit(), 255) << second.Output();
  EXPECT_TRUE(apptest::WaitUntil(
      [&] {
        const auto shown = app_->VisibleWindows();
        return std::find(shown.begin(), shown.end(), app_->window()) != shown.end();
      },
      seconds(5)));
  // Still downloading, not finished nor started over.
  EXPECT_FALSE(log_->Contains(e2etest::kInstalling));

  server_.SetFaults("");
  ASSERT_TRUE(WaitForLog(e2etest::kFinished, seconds(30))) << server_.Log();
  EXPECT_TRUE(ProductInstalled());
  const std::vector<std::string> lines = log_->Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "OnClickInstall"), 1);
  app_->RequestClose();
  EXPECT_EQ(app_->WaitExit(), 0) << app_->Output();
}

}  // namespace
