// The skin preview tool, run as a real process: off-screen renders, the skin failure path,
// and a real window on a private X display. The accessibility bridge stays off in the
// windowed runs: it keeps a bus connection of its own that leak checkers report at exit.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <sstream>
#include <thread>

#include "tests/support/TestSupport.h"
#include "tests/ui/XvfbDisplay.h"

namespace {

std::string Kvskin() {
  return (kvtest::BinaryDir() / "tools" / "kvskin" / "kvskin").string();
}

struct ToolRun {
  int status = -1;
  std::string output;
};

ToolRun RunKvskin(const std::vector<std::string>& args, const kvtest::TempDir& dir) {
  std::string log = (dir / "kvskin.log").string();
  std::filesystem::remove(log);
  kvtest::ChildProcess p;
  std::vector<std::string> argv{Kvskin()};
  argv.insert(argv.end(), args.begin(), args.end());
  // No display: the tool must never need one with --png.
  EXPECT_TRUE(p.Start(argv, log, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}));
  int st = p.Wait(std::chrono::seconds(60));
  ToolRun r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.output = kvtest::ReadFile(log);
  return r;
}

struct Png {
  explicit Png(const std::string& path) : s(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Png() { cairo_surface_destroy(s); }
  bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(s); }
  int height() const { return cairo_image_surface_get_height(s); }
  std::uint32_t At(int x, int y) const {
    cairo_surface_flush(s);
    auto* d = cairo_image_surface_get_data(s);
    return *reinterpret_cast<const std::uint32_t*>(d + y * cairo_image_surface_get_stride(s) +
                                                   x * 4) &
           0xFFFFFF;
  }
  cairo_surface_t* s;
};

TEST(KvskinTest, RendersTheSkinOffScreen) {
  kvtest::TempDir dir;
  std::string home = (dir / "home.png").string();
  ToolRun r = RunKvskin({"--png", home}, dir);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("rendered 650x360"), std::string::npos) << r.output;
  Png h(home);
  ASSERT_TRUE(h.ok());
  EXPECT_EQ(h.width(), 650);
  EXPECT_EQ(h.height(), 360);
  EXPECT_EQ(h.At(325, 312), 0xFFFFFFu);  // the white line above the licence row

  std::string banner = (dir / "banner.png").string();
  ASSERT_EQ(RunKvskin({"--png", banner, "--page", "1"}, dir).status, 0);
  Png b(banner);
  EXPECT_EQ(b.At(300, 314), 0x14DFD3u);  // the progress bar's background
  EXPECT_EQ(b.At(300, 340), 0xFFFFFFu);

  std::string unfolded = (dir / "unfold.png").string();
  ASSERT_EQ(RunKvskin({"--png", unfolded, "--unfold", "--scale", "2"}, dir).status, 0);
  Png u(unfolded);
  EXPECT_EQ(u.width(), 1300);
  EXPECT_EQ(u.height(), 870);
}

TEST(KvskinTest, ReadsAFolderOrAZipAndPicksTheMirroredSkinForArabic) {
  kvtest::TempDir dir;
  std::string fromDir = (dir / "dir.png").string();
  std::string src = (kvtest::SourceDir() / "ui" / "skin").string();
  ASSERT_EQ(RunKvskin({"--skin", src, "--png", fromDir}, dir).status, 0);
  std::string fromZip = (dir / "zip.png").string();
  std::string zip = (kvtest::BinaryDir() / "ui" / "skin.zip").string();
  ASSERT_EQ(RunKvskin({"--skin", zip, "--png", fromZip}, dir).status, 0);
  EXPECT_EQ(kvtest::ReadFile(fromDir), kvtest::ReadFile(fromZip));
  std::string rtl = (dir / "rtl.png").string();
  ASSERT_EQ(RunKvskin({"--skin", zip, "--lang", "1025", "--png", rtl}, dir).status, 0);
  EXPECT_NE(kvtest::ReadFile(rtl), kvtest::ReadFile(fromZip));
  // Banner page: the progress column and the hide button swap sides when mirrored.
  std::string ltrBanner = (dir / "ltr1.png").string();
  std::string rtlBanner = (dir / "rtl1.png").string();
  ASSERT_EQ(RunKvskin({"--skin", zip, "--page", "1", "--png", ltrBanner}, dir).status, 0);
  ASSERT_EQ(
      RunKvskin({"--skin", zip, "--lang", "1037", "--page", "1", "--png", rtlBanner}, dir).status,
      0);
  Png l(ltrBanner), m(rtlBanner);
  EXPECT_EQ(l.At(300, 314), 0x14DFD3u);
  EXPECT_NE(l.At(550, 314), 0x0EB1A8u);
  EXPECT_EQ(m.At(550, 314), 0x0EB1A8u);
  EXPECT_NE(m.At(100, 314), l.At(100, 314));
}

// Every language of the brand: the texts of the fixed-size buttons fit, shrunk where needed,
// never cut; Greek "Install" (the widest) needs the smallest size.
TEST(KvskinTest, EveryLanguagesButtonTextsFitTheirButtons) {
  kvtest::TempDir dir;
  std::string ini = kvtest::ReadFile(kvtest::SourceDir() / "data" / "language.ini");
  std::istringstream lines(ini);
  std::string line;
  int languages = 0;
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || line.empty() ||
        !std::isdigit(static_cast<unsigned char>(line[0])))
      continue;
    std::string id = line.substr(0, eq);
    ToolRun r = RunKvskin({"--lang", id, "--texts", "--fit-report"}, dir);
    ASSERT_EQ(r.status, 0) << id << r.output;
    ++languages;
    for (const char* button : {"btn_install", "btn_start", "btn_browse", "btn_hide"}) {
      std::size_t at = r.output.find(std::string("fit ") + button + " ");
      ASSERT_NE(at, std::string::npos) << id << " " << button << "\n" << r.output;
      std::string fit = r.output.substr(at, r.output.find('\n', at) - at);
      EXPECT_NE(fit.find("ellipsized=no"), std::string::npos) << id << ": " << fit;
      if (id == "1032" && std::string(button) == "btn_install") {
        EXPECT_EQ(fit.find("scale=1.00"), std::string::npos) << fit;
      }
    }
  }
  EXPECT_EQ(languages, 41);
}

TEST(KvskinTest, ShowsTheFinishPageAndTheFocusRing) {
  kvtest::TempDir dir;
  std::string home = (dir / "home.png").string();
  std::string finish = (dir / "finish.png").string();
  ASSERT_EQ(RunKvskin({"--hide", "btn_start", "--png", home}, dir).status, 0);
  ASSERT_EQ(RunKvskin({"--hide", "btn_install", "--hide", "lineLayout", "--hide", "customLayout",
                       "--focus", "btn_start", "--png", finish},
                      dir)
                .status,
            0);
  Png h(home), f(finish);
  EXPECT_EQ(h.At(325, 312), 0xFFFFFFu);  // the line above the licence row
  EXPECT_EQ(f.At(325, 312), 0x04A68Du);  // gone on the finish page
  EXPECT_NE(h.At(22, 336), 0x04A68Du);   // the agreement box's edge
  EXPECT_EQ(f.At(22, 336), 0x04A68Du);
  EXPECT_EQ(f.At(239, 208), 0xFFFFFFu);  // the focus ring left of the centred start button
  EXPECT_EQ(h.At(239, 208), 0x04A68Du);
  ToolRun r = RunKvskin({"--hide", "no_such_control", "--png", home}, dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("no_such_control"), std::string::npos);
  EXPECT_EQ(RunKvskin({"--attr", "btn_start"}, dir).status, 2);
}

TEST(KvskinTest, ASkinThatCannotBeBuiltEndsWithStatusOne) {
  kvtest::TempDir dir;
  ToolRun r =
      RunKvskin({"--skin", "/nonexistent/skin.zip", "--png", (dir / "x.png").string()}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));

  // A skin folder whose window file is broken: the error names the file and line.
  std::filesystem::copy(kvtest::SourceDir() / "ui" / "skin", dir / "skin",
                        std::filesystem::copy_options::recursive);
  kvtest::WriteFile(dir / "skin" / "home.xml", "<Window>\n<VerticalLayout>\n</Window>\n");
  r = RunKvskin({"--skin", (dir / "skin").string(), "--png", (dir / "y.png").string()}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("home.xml"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("line 3"), std::string::npos) << r.output;

  EXPECT_EQ(RunKvskin({"--page"}, dir).status, 2);
  std::string missing = (dir / "missing.png").string();
  EXPECT_EQ(RunKvskin({"--page", "5", "--png", missing}, dir).status, 2);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(RunKvskin({"--bogus"}, dir).status, 2);
}

TEST(KvskinTest, RealWindowPrintsClicksAndTheFailureBoxNeedsAnAnswer) {
  ASSERT_TRUE(kvtest::HaveProgram("Xvfb"));
  uitest::XvfbDisplay x;
  ASSERT_TRUE(x.Start());
  kvtest::TempDir dir;
  std::string log = (dir / "win.log").string();
  {
    kvtest::ChildProcess p;
    ASSERT_TRUE(p.Start({Kvskin()}, log,
                        {{"DISPLAY", x.name()}, {"GDK_BACKEND", "x11"}, {"NO_AT_BRIDGE", "1"}}));
    std::string id = uitest::FindXWindow(x, "^kvskin$", std::chrono::seconds(20));
    ASSERT_FALSE(id.empty()) << kvtest::ReadFile(log);
    EXPECT_NE(uitest::RunX(x, "xdotool getwindowgeometry " + id).find("650x360"),
              std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    uitest::RunX(x, "xdotool mousemove --window " + id + " 241 208 click 1");
    for (int i = 0;
         i < 100 && kvtest::ReadFile(log).find("notify click btn_install") == std::string::npos;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(kvtest::ReadFile(log).find("notify click btn_install"), std::string::npos)
        << kvtest::ReadFile(log);
    // The close button asks the window to close; the preview then quits with status 0.
    uitest::RunX(x, "xdotool mousemove --window " + id + " 629 22 click 1");
    int st = p.Wait(std::chrono::seconds(10));
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
  }
  {
    kvtest::ChildProcess p;
    ASSERT_TRUE(p.Start({Kvskin(), "--skin", "/nonexistent"}, log,
                        {{"DISPLAY", x.name()}, {"GDK_BACKEND", "x11"}, {"NO_AT_BRIDGE", "1"}}));
    std::string box = uitest::FindXWindow(x, "^SkinUI$", std::chrono::seconds(20));
    ASSERT_FALSE(box.empty());
    EXPECT_TRUE(p.Running());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    uitest::RunX(x, "xdotool windowfocus --sync " + box + " key Return");
    int st = p.Wait(std::chrono::seconds(10));
    EXPECT_TRUE(WIFEXITED(st)) << st;
    EXPECT_EQ(WEXITSTATUS(st), 1);
  }
  {
    // At GTK scale 2 the window has twice the pixels and the 1-pixel lines stay sharp.
    kvtest::ChildProcess p;
    ASSERT_TRUE(p.Start({Kvskin()}, log,
                        {{"DISPLAY", x.name()},
                         {"GDK_BACKEND", "x11"},
                         {"NO_AT_BRIDGE", "1"},
                         {"GDK_SCALE", "2"}}));
    std::string id = uitest::FindXWindow(x, "^kvskin$", std::chrono::seconds(20));
    ASSERT_FALSE(id.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_NE(uitest::RunX(x, "xdotool getwindowgeometry " + id).find("1300x720"),
              std::string::npos);
    std::string shot = (dir / "scale2.png").string();
    int status = -1;
    uitest::RunX(x, "import -window " + id + " '" + shot + "'", &status);
    ASSERT_EQ(status, 0);
    Png s2(shot);
    ASSERT_TRUE(s2.ok());
    EXPECT_EQ(s2.At(650, 624), 0xFFFFFFu);
    EXPECT_EQ(s2.At(650, 625), 0xFFFFFFu);
    EXPECT_EQ(s2.At(650, 623), 0x04A68Du);
    EXPECT_EQ(s2.At(650, 626), 0x04A68Du);
    p.Stop();
  }
}

}  // namespace
