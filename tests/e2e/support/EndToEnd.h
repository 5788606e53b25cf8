// What the end-to-end scenarios share: a display big enough for the window at scale 2, the
// program's sandbox, the demo installer as served, the window's pictures read back by pixel,
// and the checks of what a finished or refused installation leaves on disk.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "tests/app/support/AppTestSupport.h"
#include "tests/app/support/AppWindow.h"
#include "tests/kvhttp/support/FaultServer.h"

namespace e2etest {

// The fault server serving a signed installer at /files/setup.exe (and its statement), with
// faults (its query parameters: "drop_at=N", "rate=B") switched on and off while it runs.
class FaultyInstallerServer {
 public:
  bool Start(const std::string& installer);
  std::string InstallerUrl() const { return server_.Url("/files/setup.exe"); }
  // "" for none.
  void SetFaults(const std::string& query);
  struct Request {
    std::int64_t first = 0;  // where the range starts (0 without one)
    bool ranged = false;
  };
  // The GET requests for the installer so far, in order.
  std::vector<Request> InstallerRequests() const;
  std::string Log() const { return server_.Log(); }

 private:
  kvtest::TempDir dir_;
  kvtest::FaultServer server_;
};

// Pieces on disk according to a download's resume record (the .cfg beside it).
struct RecordedPieces {
  std::int64_t fileSize = 0;
  std::int64_t pieceSize = 0;
  std::vector<bool> have;
  std::int64_t Count() const;
  // The byte share on disk, 0 to 1.
  double Share() const;
  bool Has(std::int64_t offset) const;
};
// False when the record is missing or cannot be read.
bool ReadRecordedPieces(const std::filesystem::path& record, RecordedPieces& out);

// A picture of one window (import -window), read back by pixel.
class WindowPicture {
 public:
  explicit WindowPicture(const std::filesystem::path& png);
  ~WindowPicture();
  WindowPicture(const WindowPicture&) = delete;
  WindowPicture& operator=(const WindowPicture&) = delete;
  bool ok() const;
  int width() const;
  int height() const;
  // 0xRRGGBB
  std::uint32_t At(int x, int y) const;
  // Pixels of [x, x + w) x [y, y + h) whose colour is further than `tolerance` (per channel)
  // from `background`.
  int Ink(int x, int y, int w, int h, std::uint32_t background, int tolerance = 40) const;

 private:
  cairo_surface_t* surface_;
};

// The states the program logs as it goes ("UpdateWindowSate:<state>").
inline const char kDownloading[] = "UpdateWindowSate:kWindow_Downloading";
inline const char kInstalling[] = "UpdateWindowSate:kWindow_Installing";
inline const char kFinished[] = "UpdateWindowSate:kWindow_Finish";

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The demo installer as built.
  static std::string DemoInstallerBytes();
  // Points the program at an installer URL; the after-installation page is AfterInstallPage().
  void UseInstallerUrl(const std::string& url);
  std::string AfterInstallPage() const { return "http://127.0.0.1:9/producturl?key=installed"; }

  // Starts the program (scale 1 or 2, in the given locale, plus more environment) and waits
  // for its window; the log is read from this start on.
  ::testing::AssertionResult StartProgram(int scale = 1, const std::string& locale = "",
                                          std::map<std::string, std::string> env = {});
  // A real click at a point given in the window's 650 x 360 layout.
  void ClickAt(int x, int y);
  // A picture of the main window, kept as <name>.png in the sandbox (and under
  // KV_TEST_SCREENSHOTS).
  std::unique_ptr<WindowPicture> Picture(const std::string& name);
  // Pictures taken until one satisfies `shows` (a page drawn after a change), the last one
  // after the time-out.
  std::unique_ptr<WindowPicture> PictureWhen(
      const std::string& name, const std::function<bool(const WindowPicture&)>& shows,
      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Clicks button `index` (from the left) of the `count` buttons of a message box, found in its
  // picture by their borders; false when they cannot be found.
  bool ClickDialogButton(const std::string& dialog, int index, int count);
  bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout);

  std::filesystem::path WorkFolder() const { return sandbox_.WorkFolder("kvdownloader"); }
  std::filesystem::path InstallerPath() const { return WorkFolder() / "korvana-download.exe"; }
  std::filesystem::path RecordPath() const { return InstallerPath().string() + ".cfg"; }
  std::filesystem::path ProductFolder() const {
    return sandbox_.ProgramFiles() / "Korvana" / "Korvana Lumenstack";
  }
  // The product's program, its desktop entry, and the domain file of its installation.
  bool ProductInstalled() const;
  // Nothing of an installation: no product, no desktop entry, no installer or partial data.
  ::testing::AssertionResult NothingInstalled() const;

  uitest::XvfbDisplay display_;
  apptest::AppSandbox sandbox_;
  apptest::RecordingOpener opener_;
  std::unique_ptr<apptest::AppWindow> app_;
  std::unique_ptr<apptest::LogTail> log_;
  int scale_ = 1;
};

}  // namespace e2etest
