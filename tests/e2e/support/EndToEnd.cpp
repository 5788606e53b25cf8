#include "tests/e2e/support/EndToEnd.h"

#include <cstdlib>

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

void EndToEndTest::SetUp() {
  ASSERT_TRUE(kvtest::HaveProgram("Xvfb") && kvtest::HaveProgram("xdotool") &&
              kvtest::HaveProgram("xprop") && kvtest::HaveProgram("import"))
      << "install the X test tools (scripts/install-deps.sh)";
  // Room for the window at scale 2 (1300 x 720) without a window manager to place it.
  ASSERT_TRUE(display_.Start(1920, 1080));
  UseInstallerUrl("http://127.0.0.1:9/download/none.exe");
}

void EndToEndTest::TearDown() {
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
