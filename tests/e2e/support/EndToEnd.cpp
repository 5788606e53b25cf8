#include "tests/e2e/support/EndToEnd.h"

#include <cstdlib>
#include <sstream>

#include "integrity/PayloadSigning.h"
#include "kvhttp/download/ResumeRecord.h"

namespace e2etest {

namespace fs = std::filesystem;
using std::chrono::seconds;

WindowPicture::WindowPicture(const fs::path& png)
    : surface_(cairo_image_surface_create_from_png(png.c_str())) {}

WindowPicture::~WindowPicture() {
  cairo_surface_destroy(surface_);
}

bool WindowPicture::ok() const {
  return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS;
}

int WindowPicture::width() const {
  return cairo_image_surface_get_width(surface_);
}

int WindowPicture::height() const {
  return cairo_image_surface_get_height(surface_);
}

std::uint32_t WindowPicture::At(int x, int y) const {
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  return *reinterpret_cast<const std::uint32_t*>(
             data + y * cairo_image_surface_get_stride(surface_) + x * 4) &
         0xFFFFFF;
}

int WindowPicture::Ink(int x, int y, int w, int h, std::uint32_t background, int tolerance) const {
  int n = 0;
  for (int row = y; row < y + h && row < height(); ++row) {
    for (int col = x; col < x + w && col < width(); ++col) {
      const std::uint32_t c = At(col, row);
      for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((c >> shift) & 0xFF);
        const int b = static_cast<int>((background >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance) {
          ++n;
          break;
        }
      }
    }
  }
  return n;
}

bool FaultyInstallerServer::Start(const std::string& installer) {
  kvtest::WriteFile(dir_ / "files" / "setup.exe", installer);
  std::string error;
  if (!integrity::SignPayloadFile(apptest::BuildSigningKey().string(),
                                  (dir_ / "files" / "setup.exe").string(), error)) {
    ADD_FAILURE() << "cannot sign the installer: " << error;
    return false;
  }
  return server_.Start(
      {"--files", (dir_ / "files").string(), "--fault-file", (dir_ / "faults").string()});
}

void FaultyInstallerServer::SetFaults(const std::string& query) {
  if (query.empty()) {
    std::error_code ec;
    fs::remove(dir_ / "faults", ec);
  } else {
    kvtest::WriteFile(dir_ / "faults", query);
  }
}

std::vector<FaultyInstallerServer::Request> FaultyInstallerServer::InstallerRequests() const {
  std::vector<Request> requests;
  std::istringstream in(server_.Log());
  const std::string get = "GET /files/setup.exe";
  for (std::string line; std::getline(in, line);) {
    if (line == get) {
      requests.push_back({});
    } else if (line.rfind(get + " [bytes=", 0) == 0) {
      requests.push_back({std::stoll(line.substr(get.size() + 8)), true});
    }
  }
  return requests;
}

std::int64_t RecordedPieces::Count() const {
  std::int64_t n = 0;
  for (bool h : have) n += h ? 1 : 0;
  return n;
}

double RecordedPieces::Share() const {
  if (fileSize <= 0) return 0;
  std::int64_t bytes = 0;
  for (std::size_t i = 0; i < have.size(); ++i) {
    if (!have[i]) continue;
    const std::int64_t start = static_cast<std::int64_t>(i) * pieceSize;
    bytes += std::min(pieceSize, fileSize - start);
  }
  return static_cast<double>(bytes) / static_cast<double>(fileSize);
}

bool RecordedPieces::Has(std::int64_t offset) const {
  const std::int64_t i = pieceSize > 0 ? offset / pieceSize : -1;
  return i >= 0 && i < static_cast<std::int64_t>(have.size()) && have[static_cast<std::size_t>(i)];
}

bool ReadRecordedPieces(const fs::path& record, RecordedPieces& out) {
  std::error_code ec;
  if (!fs::exists(record, ec)) return false;
  kvhttp::ResumeRecordContent content;
  if (!kvhttp::DecodeResumeRecord(kvtest::ReadFile(record), content)) return false;
  out.fileSize = content.fileSize;
  out.pieceSize = content.pieceSize;
  out.have.assign(static_cast<std::size_t>(content.bitfield.count()), false);
  for (std::int64_t i = 0; i < content.bitfield.count(); ++i) {
    out.have[static_cast<std::size_t>(i)] = content.bitfield.get(i);
  }
  return true;
}

void EndToEndTest::SetUp() {
  ASSERT_TRUE(kvtest::HaveProgram("Xvfb") && kvtest::HaveProgram("xdotool") &&
              kvtest::HaveProgram("xprop") && kvtest::HaveProgram("import"))
      << "install the X test tools (scripts/install-deps.sh)";
  // Room for the window at scale 2 (1300 x 720) without a window manager to place it.
  ASSERT_TRUE(display_.Start(1920, 1080));
  UseInstallerUrl("http://127.0.0.1:9/download/none.exe");
}

void EndToEndTest::TearDown() {
  // Under the sanitizers the program reports what it touched wrongly on its output.
  if (app_ != nullptr) {
    EXPECT_EQ(app_->Output().find("Sanitizer"), std::string::npos) << app_->Output();
    EXPECT_EQ(app_->Output().find("runtime error"), std::string::npos) << app_->Output();
  }
  if (HasFailure() && app_ != nullptr) {
    std::error_code ec;
    if (fs::exists(sandbox_.LogFile("kvdownloader"), ec)) {
      std::printf("--- program log ---\n%s\n--- program output ---\n%s\n",
                  kvtest::ReadFile(sandbox_.LogFile("kvdownloader")).c_str(),
                  app_->Output().c_str());
    }
  }
  app_.reset();
}

std::string EndToEndTest::DemoInstallerBytes() {
  return kvtest::ReadFile(kvtest::BinaryDir() / "tools/demo-installer/demo-installer");
}

void EndToEndTest::UseInstallerUrl(const std::string& url) {
  apptest::WriteUrlIni(
      sandbox_.UrlIni(),
      {{"STR_DOWN_URL", url}, {"STR_DOWN_URL_X64", url}, {"STR_INSTALL_URL", AfterInstallPage()}});
}

::testing::AssertionResult EndToEndTest::StartProgram(int scale, const std::string& locale,
                                                      std::map<std::string, std::string> env) {
  scale_ = scale;
  env["PATH"] = opener_.PathValue();
  env["KV_TEST_RETRY_DELAY_MS"] = "20";
  if (scale != 1) env["GDK_SCALE"] = std::to_string(scale);
  if (!locale.empty()) env["LC_ALL"] = locale;
  log_ = std::make_unique<apptest::LogTail>(sandbox_.LogFile("kvdownloader"));
  app_ = std::make_unique<apptest::AppWindow>(display_, sandbox_);
  if (!app_->Start(env)) return ::testing::AssertionFailure() << "cannot start the program";
  if (app_->WaitForWindow().empty()) {
    return ::testing::AssertionFailure() << "no window; output:\n" << app_->Output();
  }
  return ::testing::AssertionSuccess();
}

void EndToEndTest::ClickAt(int x, int y) {
  app_->Click(x * scale_, y * scale_);
}

std::unique_ptr<WindowPicture> EndToEndTest::Picture(const std::string& name) {
  const fs::path png = sandbox_.root.path() / (name + ".png");
  uitest::RunX(display_, "import -window " + app_->window() + " " + png.string());
  if (const char* keep = std::getenv("KV_TEST_SCREENSHOTS"); keep != nullptr) {
    std::error_code ec;
    fs::create_directories(keep, ec);
    fs::copy_file(png, fs::path(keep) / png.filename(), fs::copy_options::overwrite_existing, ec);
  }
  return std::make_unique<WindowPicture>(png);
}

std::unique_ptr<WindowPicture> EndToEndTest::PictureWhen(
    const std::string& name, const std::function<bool(const WindowPicture&)>& shows,
    std::chrono::milliseconds timeout) {
  std::unique_ptr<WindowPicture> picture;
  apptest::WaitUntil(
      [&] {
        picture = Picture(name);
        return picture->ok() && shows(*picture);
      },
      timeout);
  return picture;
}

namespace {

// Runs [first, last] of at least minLength pixels of row y clearly darker than bg: the edges
// of buttons.
std::vector<std::pair<int, int>> DarkRuns(const WindowPicture& p, int y, std::uint32_t bg,
                                          int minLength) {
  const auto sum = [](std::uint32_t c) {
    return static_cast<int>((c >> 16) + ((c >> 8) & 0xFF) + (c & 0xFF));
  };
  std::vector<std::pair<int, int>> runs;
  int start = -1;
  for (int x = 0; x <= p.width(); ++x) {
    const bool dark = x < p.width() && sum(bg) - sum(p.At(x, y)) > 60;
    if (dark && start < 0) start = x;
    if (!dark && start >= 0) {
      if (x - start >= minLength) runs.emplace_back(start, x - 1);
      start = -1;
    }
  }
  return runs;
}

}  // namespace

bool EndToEndTest::ClickDialogButton(const std::string& dialog, int index, int count) {
  const fs::path png = sandbox_.root.path() / "dialog.png";
  bool clicked = false;
  apptest::WaitUntil(
      [&] {
        uitest::RunX(display_, "import -window " + dialog + " " + png.string());
        const WindowPicture p(png);
        if (!p.ok() || p.width() < 50 || p.height() < 50) return false;
        const std::uint32_t bg = p.At(p.width() / 2, 2);
        // The buttons' bottom edges: the lowest row with `count` long runs; their top edges
        // the next such row above.
        int bottom = -1, top = -1;
        std::vector<std::pair<int, int>> runs;
        for (int y = p.height() - 1; y > p.height() / 2 && top < 0; --y) {
          auto row = DarkRuns(p, y, bg, 20);
          if (static_cast<int>(row.size()) < count) continue;
          if (bottom < 0) {
            bottom = y;
            runs = std::move(row);
          } else if (bottom - y > 8) {
            top = y;
          }
        }
        if (top < 0) return false;
        const auto& run = runs[runs.size() - static_cast<std::size_t>(count - index)];
        uitest::RunX(display_, "xdotool mousemove --window " + dialog + " " +
                                   std::to_string((run.first + run.second) / 2) + " " +
                                   std::to_string((top + bottom) / 2) + " click 1");
        clicked = true;
        return true;
      },
      seconds(5));
  return clicked;
}

bool EndToEndTest::WaitForLog(const std::string& text, std::chrono::milliseconds timeout) {
  return log_->WaitFor(text, timeout);
}

bool EndToEndTest::ProductInstalled() const {
  const fs::path entry =
      sandbox_.root.path() / "home/.local/share/applications/korvana-lumenstack.desktop";
  std::error_code ec;
  return fs::exists(ProductFolder() / "lumenstack", ec) && fs::exists(entry, ec) &&
         fs::exists(ProductFolder() / "domain", ec);
}

::testing::AssertionResult EndToEndTest::NothingInstalled() const {
  std::error_code ec;
  for (const fs::path& p :
       {ProductFolder(), sandbox_.root.path() / "home/.local/share/applications", InstallerPath(),
        fs::path(InstallerPath().string() + ".tmp"), fs::path(InstallerPath().string() + ".cfg")}) {
    if (fs::exists(p, ec)) return ::testing::AssertionFailure() << p << " exists";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace e2etest
