// The window as a screen reader meets it: kvskin runs as a real program on a private X display
// and session bus, GTK's bridge puts its controls on the AT-SPI bus, and this test reads them
// and presses them through libatspi, as a screen reader would.
#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "tests/support/TestSupport.h"
#include "tests/ui/XvfbDisplay.h"
#include "ui/host/gtk/GtkAccessibility.h"

namespace {

using namespace std::chrono_literals;

std::string Kvskin() {
  return (kvtest::BinaryDir() / "tools" / "kvskin" / "kvskin").string();
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 15s) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

std::string Take(gchar* s) {
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

// One display, one session bus (the accessibility bus is started from it on demand) and one
// AT-SPI client connection for the whole binary.
class AtspiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(kvtest::HaveProgram("Xvfb")) << "install xvfb (scripts/install-deps.sh)";
    ASSERT_TRUE(kvtest::HaveProgram("dbus-daemon"));
    ASSERT_TRUE(std::filesystem::exists("/usr/libexec/at-spi-bus-launcher"))
        << "install at-spi2-core (scripts/install-deps.sh)";
    display_ = std::make_unique<uitest::XvfbDisplay>();
    ASSERT_TRUE(display_->Start());
    std::string log = (dir_ / "dbus.out").string();
    ASSERT_TRUE(bus_.Start({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, log));
    ASSERT_TRUE(Eventually([&] {
      std::string out = kvtest::ReadFile(log);
      if (out.find('\n') == std::string::npos) return false;
      address_ = out.substr(0, out.find('\n'));
      return true;
    }));
    setenv("DISPLAY", display_->name().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    ASSERT_EQ(atspi_init(), 0);
  }
  void TearDown() override {
    atspi_exit();
    bus_.Stop();
    display_.reset();
  }
  static std::string address_;

 private:
  kvtest::TempDir dir_;
  std::unique_ptr<uitest::XvfbDisplay> display_;
  kvtest::ChildProcess bus_;
};
std::string AtspiEnvironment::address_;

// kvskin in a real window, with the accessibility bridge on.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), Kvskin());
    started_ = proc_.Start(args, log(), {{"GDK_BACKEND", "x11"}, {"NO_AT_BRIDGE", "0"}});
  }
  ~Program() {
    if (app_) g_object_unref(app_);
    proc_.Stop();
  }
  std::string log() const { return (dir_ / "kvskin.out").string(); }
  std::string Output() const { return kvtest::ReadFile(log()); }

  // The panel that holds the controls, once the program shows up on the bus.
  AtspiAccessible* Panel() {
    if (!started_) return nullptr;
    if (app_ == nullptr) {
      Eventually([&] {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        int n = atspi_accessible_get_child_count(desktop, nullptr);
        for (int i = 0; i < n && app_ == nullptr; ++i) {
          AtspiAccessible* a = atspi_accessible_get_child_at_index(desktop, i, nullptr);
          if (a == nullptr) continue;
          if (Take(atspi_accessible_get_name(a, nullptr)) == "kvskin" &&
              atspi_accessible_get_process_id(a, nullptr) == static_cast<guint>(proc_.pid())) {
            app_ = a;
          } else {
            g_object_unref(a);
          }
        }
        g_object_unref(desktop);
        return app_ != nullptr;
      });
      if (app_ == nullptr) return nullptr;
    }
    AtspiAccessible* frame = atspi_accessible_get_child_at_index(app_, 0, nullptr);
    if (frame == nullptr) return nullptr;
    AtspiAccessible* panel = atspi_accessible_get_child_at_index(frame, 0, nullptr);
    g_object_unref(frame);
    return panel;
  }

 private:
  kvtest::TempDir dir_;
  kvtest::ChildProcess proc_;
  bool started_ = false;
  AtspiAccessible* app_ = nullptr;
};

struct Node {
  AtspiAccessible* obj = nullptr;
  std::string name;
  AtspiRole role = ATSPI_ROLE_INVALID;
};

// The panel's children, freshly read.
std::vector<Node> Children(AtspiAccessible* panel) {
  std::vector<Node> out;
  atspi_accessible_clear_cache(panel);
  int n = atspi_accessible_get_child_count(panel, nullptr);
  for (int i = 0; i < n; ++i) {
    AtspiAccessible* c = atspi_accessible_get_child_at_index(panel, i, nullptr);
    if (c == nullptr) continue;
    out.push_back(Node{c, Take(atspi_accessible_get_name(c, nullptr)),
                       atspi_accessible_get_role(c, nullptr)});
  }
  return out;
}

void Release(std::vector<Node>& nodes) {
  for (Node& n : nodes) g_object_unref(n.obj);
  nodes.clear();
}

const Node* Named(const std::vector<Node>& nodes, const std::string& name) {
  for (const Node& n : nodes) {
    if (n.name == name) return &n;
  }
  return nullptr;
}

bool HasState(AtspiAccessible* obj, AtspiStateType state) {
  atspi_accessible_clear_cache(obj);
  AtspiStateSet* set = atspi_accessible_get_state_set(obj);
  bool has = set != nullptr && atspi_state_set_contains(set, state);
  if (set) g_object_unref(set);
  return has;
}

std::string ActionName(AtspiAccessible* obj) {
  AtspiAction* action = atspi_accessible_get_action_iface(obj);
  if (action == nullptr) return "";
  std::string name;
  if (atspi_action_get_n_actions(action, nullptr) == 1) {
    name = Take(atspi_action_get_action_name(action, 0, nullptr));
  }
  g_object_unref(action);
  return name;
}

bool DoAction(AtspiAccessible* obj) {
  AtspiAction* action = atspi_accessible_get_action_iface(obj);
  if (action == nullptr) return false;
  bool ok = atspi_action_do_action(action, 0, nullptr);
  g_object_unref(action);
  return ok;
}

TEST(AccessibilityTest, AScreenReaderReadsTheWindowAndPressesInstall) {
  Program program({"--lang", "1032", "--texts", "--unfold", "--attr", "edit_path:text=/opt/Korvana",
                   "--attr", "edit_path:readonly=true"});
  AtspiAccessible* panel = program.Panel();
  ASSERT_NE(panel, nullptr) << program.Output();
  std::vector<Node> nodes;
  ASSERT_TRUE(Eventually([&] {
    Release(nodes);
    nodes = Children(panel);
    return Named(nodes, "Αναζήτηση") != nullptr;
  })) << nodes.size();

  // Buttons carry their text as name and "click" as their action; the window's own buttons
  // have names although they show only a glyph.
  const Node* install = Named(nodes, "Εγκατάσταση");
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install->role, ATSPI_ROLE_PUSH_BUTTON);
  EXPECT_EQ(ActionName(install->obj), "click");
  EXPECT_TRUE(HasState(install->obj, ATSPI_STATE_ENABLED));
  EXPECT_TRUE(HasState(install->obj, ATSPI_STATE_SHOWING));
  EXPECT_TRUE(HasState(install->obj, ATSPI_STATE_FOCUSABLE));
  ASSERT_NE(Named(nodes, "Close"), nullptr);
  EXPECT_EQ(Named(nodes, "Close")->role, ATSPI_ROLE_PUSH_BUTTON);
  // On screen where it is drawn.
  AtspiComponent* component = atspi_accessible_get_component_iface(install->obj);
  ASSERT_NE(component, nullptr);
  AtspiRect* extents = atspi_component_get_extents(component, ATSPI_COORD_TYPE_WINDOW, nullptr);
  ASSERT_NE(extents, nullptr);
  EXPECT_EQ(extents->width, 168);
  EXPECT_EQ(extents->height, 46);
  g_free(extents);
  g_object_unref(component);

  // The agreement box is named by the licence text beside it; the fold box by its own text.
  const Node* fold = Named(nodes, "Προσαρμογή");
  ASSERT_NE(fold, nullptr);
  EXPECT_EQ(fold->role, ATSPI_ROLE_CHECK_BOX);
  EXPECT_EQ(ActionName(fold->obj), "toggle");
  EXPECT_FALSE(HasState(fold->obj, ATSPI_STATE_CHECKED));
  int agreeBoxes = 0;
  for (const Node& n : nodes) {
    if (n.role == ATSPI_ROLE_CHECK_BOX && n.name.find("Korvana") != std::string::npos) ++agreeBoxes;
  }
  EXPECT_EQ(agreeBoxes, 1);

  // The path box: named by its label, its text readable, read-only.
  const Node* path = nullptr;
  for (const Node& n : nodes) {
    if (n.role == ATSPI_ROLE_ENTRY) path = &n;
  }
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->name, "Θέση εγκατάστασης");
  AtspiText* text = atspi_accessible_get_text_iface(path->obj);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(Take(atspi_text_get_text(text, 0, -1, nullptr)), "/opt/Korvana");
  g_object_unref(text);
  EXPECT_TRUE(HasState(path->obj, ATSPI_STATE_READ_ONLY));
  EXPECT_FALSE(HasState(path->obj, ATSPI_STATE_EDITABLE));

  // The default actions act as clicks do: the program hears "click", the box turns checked.
  ASSERT_TRUE(DoAction(install->obj));
  EXPECT_TRUE(Eventually([&] {
    return program.Output().find("notify click btn_install") != std::string::npos;
  })) << program.Output();
  ASSERT_TRUE(DoAction(fold->obj));
  EXPECT_TRUE(Eventually([&] { return HasState(fold->obj, ATSPI_STATE_CHECKED); }));
  EXPECT_NE(program.Output().find("notify selectchanged chk_fold"), std::string::npos);

  // Focus moved by the screen reader is the window's focus.
  const Node* browse = Named(nodes, "Αναζήτηση");
  AtspiComponent* browseComponent = atspi_accessible_get_component_iface(browse->obj);
  ASSERT_NE(browseComponent, nullptr);
  EXPECT_TRUE(atspi_component_grab_focus(browseComponent, nullptr));
  g_object_unref(browseComponent);
  EXPECT_TRUE(Eventually([&] { return HasState(browse->obj, ATSPI_STATE_FOCUSED); }));
  EXPECT_TRUE(Eventually([&] {
    return program.Output().find("notify setfocus btn_browse") != std::string::npos;
  })) << program.Output();
  Release(nodes);
  g_object_unref(panel);
}

// The banner page: the progress bar's value, mirrored skins included, and the page's texts.
TEST(AccessibilityTest, TheProgressBarTellsItsValueInBothDirections) {
  for (const char* lang : {"1033", "1025"}) {
    // Right to left the bar's own value is the remaining share: 70 there means 30 % done.
    const char* value =
        std::string(lang) == "1025" ? "progress_download:value=70" : "progress_download:value=30";
    Program program({"--lang", lang, "--texts", "--page", "1", "--attr", value});
    AtspiAccessible* panel = program.Panel();
    ASSERT_NE(panel, nullptr) << program.Output();
    std::vector<Node> nodes;
    ASSERT_TRUE(Eventually([&] {
      Release(nodes);
      nodes = Children(panel);
      for (const Node& n : nodes) {
        if (n.role == ATSPI_ROLE_PROGRESS_BAR) return true;
      }
      return false;
    }));
    const Node* bar = nullptr;
    for (const Node& n : nodes) {
      if (n.role == ATSPI_ROLE_PROGRESS_BAR) bar = &n;
      // The home page's controls are not on screen and not in the tree.
      EXPECT_NE(n.role, ATSPI_ROLE_CHECK_BOX) << n.name;
    }
    AtspiValue* v = atspi_accessible_get_value_iface(bar->obj);
    ASSERT_NE(v, nullptr);
    EXPECT_DOUBLE_EQ(atspi_value_get_current_value(v, nullptr), 30.0) << lang;
    EXPECT_DOUBLE_EQ(atspi_value_get_minimum_value(v, nullptr), 0.0);
    EXPECT_DOUBLE_EQ(atspi_value_get_maximum_value(v, nullptr), 100.0);
    g_object_unref(v);
    const Node* hide = nullptr;
    for (const Node& n : nodes) {
      if (n.role == ATSPI_ROLE_PUSH_BUTTON && !n.name.empty() && n.name != "Close") hide = &n;
    }
    ASSERT_NE(hide, nullptr);
    EXPECT_EQ(ActionName(hide->obj), "click");
    Release(nodes);
    g_object_unref(panel);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new AtspiEnvironment);
  return RUN_ALL_TESTS();
}
