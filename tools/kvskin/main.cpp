// kvskin: opens a skin in a real window and prints the notifications its controls send, or
// renders it off-screen to a PNG without a display.
//
//   kvskin [--skin ZIP|DIR] [--file skin.xml] [--lang ID] [--texts] [--page N] [--unfold]
//          [--show NAME] [--hide NAME] [--attr NAME:ATTR=VALUE] [--focus NAME]
//          [--png OUT.png] [--scale N] [--fit-report]
//
// Without --skin the skin linked into this program is used. --lang picks the right-to-left
// skin files for Arabic (1025) and Hebrew (1037) and the UI language for the text; --texts
// puts that language's texts on the controls, as the installer does. --show, --hide and
// --attr (each may repeat) set control attributes, for example the finish page:
// --hide btn_install --hide lineLayout --hide customLayout. --focus moves the keyboard focus
// to a control (its focus ring shows). --fit-report prints how every one-line text fits its
// control on both pages.
#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/kvskin/LanguageTexts.h"
#include "ui/controls/Label.h"
#include "ui/controls/TabLayout.h"
#include "ui/core/Utf.h"
#include "ui/host/gtk/GtkHost.h"
#include "ui/host/headless/HeadlessHost.h"
#include "ui/render/UiLanguage.h"
#include "ui/window/SkinWindowBase.h"

namespace {

using namespace SkinUI;

struct AttributeSetting {
  std::wstring control;
  std::wstring name;
  std::wstring value;
};

struct Options {
  std::string skin;
  std::string file;
  int lang = 1033;
  bool langGiven = false;
  bool texts = false;
  int page = 0;
  std::string png;
  int scale = 1;
  bool unfold = false;
  bool fitReport = false;
  std::string focus;
  std::vector<AttributeSetting> attributes;
};

void Usage() {
  std::fprintf(stderr,
               "usage: kvskin [--skin ZIP|DIR] [--file skin.xml] [--lang ID] [--texts] [--page N]\n"
               "              [--unfold] [--show NAME] [--hide NAME] [--attr NAME:ATTR=VALUE]\n"
               "              [--focus NAME] [--png OUT.png] [--scale N] [--fit-report]\n");
}

bool ParseAttribute(const std::string& setting, AttributeSetting& out) {
  std::size_t colon = setting.find(':');
  std::size_t eq = setting.find('=', colon == std::string::npos ? 0 : colon);
  if (colon == std::string::npos || colon == 0 || eq == std::string::npos || eq == colon + 1) {
    return false;
  }
  out.control = FromUtf8(setting.substr(0, colon));
  out.name = FromUtf8(setting.substr(colon + 1, eq - colon - 1));
  out.value = FromUtf8(setting.substr(eq + 1));
  return true;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--skin") {
      if (!value(o.skin)) return false;
    } else if (a == "--file") {
      if (!value(o.file)) return false;
    } else if (a == "--png") {
      if (!value(o.png)) return false;
    } else if (a == "--focus") {
      if (!value(o.focus)) return false;
    } else if (a == "--lang" || a == "--page" || a == "--scale") {
      if (!value(v)) return false;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || n < 0 || n > 65535) return false;
      (a == "--lang" ? o.lang : a == "--page" ? o.page : o.scale) = static_cast<int>(n);
      o.langGiven = o.langGiven || a == "--lang";
    } else if (a == "--show" || a == "--hide") {
      if (!value(v) || v.empty()) return false;
      o.attributes.push_back({FromUtf8(v), L"visible", a == "--show" ? L"true" : L"false"});
    } else if (a == "--attr") {
      AttributeSetting s;
      if (!value(v) || !ParseAttribute(v, s)) return false;
      o.attributes.push_back(s);
    } else if (a == "--unfold") {
      o.unfold = true;
    } else if (a == "--texts") {
      o.texts = true;
    } else if (a == "--fit-report") {
      o.fitReport = true;
    } else {
      return false;
    }
  }
  if (o.scale < 1 || o.scale > 4) return false;
  if (o.file.empty()) o.file = (o.lang == 1025 || o.lang == 1037) ? "skin_rtl.xml" : "skin.xml";
  return true;
}

class PreviewWindow : public SkinWindowBase {
 public:
  PreviewWindow(const Options& o, const kvskin::LanguageTexts* texts) : options_(o), texts_(texts) {
    std::error_code ec;
    if (o.skin.empty()) {
      type_ = UILIB_ZIPRESOURCE;
    } else if (std::filesystem::is_directory(o.skin, ec)) {
      type_ = UILIB_FILE;
    } else {
      type_ = UILIB_ZIP;
    }
  }

  std::wstring GetWindowClassName() const override { return L"KVSkinPreview"; }
  std::wstring GetSkinFolder() override { return FromUtf8(options_.skin); }
  std::wstring GetSkinFile() override { return FromUtf8(options_.file); }
  UILIB_RESOURCETYPE GetResourceType() const override { return type_; }
  int GetResourceID() const override { return 104; }
  std::wstring GetZIPFileName() const override { return FromUtf8(options_.skin); }

  void OnSkinLoadFailed(const std::string& error) override {
    std::fprintf(stderr, "kvskin: %s\n", error.c_str());
    FailSkinLoad(GetHostWindow());
  }

  void InitWindow() override {
    SetIconResource(101);
    if (texts_ != nullptr) {
      for (const auto& [name, text] : texts_->controls) {
        if (CControlUI* c = FindControl(name)) c->SetText(text);
      }
    }
    if (!SelectPage(options_.page)) {
      std::fprintf(stderr, "kvskin: the skin has no page %d\n", options_.page);
      pageMissing_ = true;
    }
    if (options_.unfold) Unfold();
    for (const AttributeSetting& s : options_.attributes) {
      CControlUI* c = FindControl(s.control);
      if (c == nullptr) {
        std::fprintf(stderr, "kvskin: the skin has no control %s\n", ToUtf8(s.control).c_str());
        controlMissing_ = true;
        continue;
      }
      c->SetAttribute(s.name, s.value);
    }
  }

  bool SelectPage(int page) {
    auto* tab = dynamic_cast<CTabLayoutUI*>(FindControl(L"switch"));
    return tab == nullptr || tab->SelectItem(page, Notification::kSilent);
  }

  void Unfold() {
    CControlUI* panel = FindControl(L"bottomLayout");
    if (panel == nullptr || panel->IsVisible()) return;
    panel->SetVisible(true);
    UiSize s = GetClientSize();
    ResizeClient(s.cx, s.cy + panel->GetFixedHeight());
  }

  void Notify(TNotifyUI& msg) override {
    if (!quiet_) {
      std::printf("notify %s %s\n", ToUtf8(msg.sType).c_str(),
                  msg.pSender ? ToUtf8(msg.pSender->GetName()).c_str() : "");
      std::fflush(stdout);
    }
    SkinWindowBase::Notify(msg);
  }

  void SetQuiet(bool quiet) { quiet_ = quiet; }
  // A --page the skin lacks: nothing is rendered, so no page 0 passes for the one asked for.
  bool PageMissing() const { return pageMissing_; }
  bool ControlMissing() const { return controlMissing_; }

 private:
  Options options_;
  const kvskin::LanguageTexts* texts_;
  UILIB_RESOURCETYPE type_;
  bool pageMissing_ = false;
  bool controlMissing_ = false;
  bool quiet_ = false;
};

// Tabs through the window, as a keyboard user would, until the control has the focus.
bool FocusByKeyboard(PreviewWindow& window, CHeadlessWindow& host, const std::string& name) {
  CControlUI* target = window.FindControl(FromUtf8(name));
  if (target == nullptr) return false;
  for (int i = 0; i < 64 && window.GetPaintManager().GetFocus() != target; ++i) {
    host.KeyPress(Key::kTab);
  }
  return window.GetPaintManager().GetFocus() == target;
}

// One line per one-line text of both pages (the custom panel unfolded): its place, its width at
// full size, the scale it was set at and whether it still ended in an ellipsis.
void PrintFitReport(PreviewWindow& window, CHeadlessWindow& host) {
  window.Unfold();
  std::vector<std::wstring> seen;
  for (int page : {0, 1}) {
    window.SelectPage(page);
    cairo_surface_destroy(host.Render(1));
    window.GetPaintManager().GetRoot()->ForEach([&](CControlUI* c) {
      auto* label = dynamic_cast<CLabelUI*>(c);
      if (label == nullptr || c->GetName().empty() || !c->IsVisibleInTree()) return;
      if (label->GetText().empty() || c->GetClass() == L"Text" || c->GetClass() == L"Edit") return;
      for (const std::wstring& s : seen) {
        if (s == c->GetName()) return;
      }
      seen.push_back(c->GetName());
      const TextFit& fit = label->GetTextFit();
      std::printf("fit %s control=%d available=%d natural=%d scale=%.2f ellipsized=%s\n",
                  ToUtf8(c->GetName()).c_str(), c->GetPos().GetWidth(), fit.available,
                  fit.naturalWidth, fit.scale, fit.ellipsized ? "yes" : "no");
    });
  }
}

int RenderOffScreen(const Options& o, const kvskin::LanguageTexts* texts) {
  auto backend = std::make_shared<CHeadlessBackend>();
  SetHostBackend(backend);
  PreviewWindow window(o, texts);
  window.SetQuiet(o.fitReport);
  if (!window.Create(L"kvskin")) return 1;
  if (window.PageMissing() || window.ControlMissing()) return 2;
  auto* host = static_cast<CHeadlessWindow*>(window.GetHostWindow());
  if (!o.focus.empty() && !FocusByKeyboard(window, *host, o.focus)) {
    std::fprintf(stderr, "kvskin: %s cannot take the focus\n", o.focus.c_str());
    return 2;
  }
  if (!o.png.empty()) {
    if (!host->SavePng(o.png, o.scale)) {
      std::fprintf(stderr, "kvskin: cannot write %s\n", o.png.c_str());
      return 1;
    }
    UiSize s = window.GetClientSize();
    std::printf("rendered %dx%d at scale %d to %s\n", s.cx, s.cy, o.scale, o.png.c_str());
  }
  if (o.fitReport) PrintFitReport(window, *host);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    Usage();
    return 2;
  }
  if (!o.skin.empty()) SkinWindowBase::SetResourcePath(L"");
  if (o.langGiven) SetUiLanguage(LanguageTagForLcid(static_cast<unsigned>(o.lang)));
  kvskin::LanguageTexts texts;
  if (o.texts && !kvskin::LoadLanguageTexts(static_cast<unsigned>(o.lang), texts)) {
    std::fprintf(stderr, "kvskin: the language package cannot be read\n");
    return 1;
  }
  const kvskin::LanguageTexts* bound = o.texts ? &texts : nullptr;

  if (!o.png.empty() || o.fitReport) return RenderOffScreen(o, bound);

  std::shared_ptr<IHostBackend> backend = CreateGtkBackend(&argc, &argv);
  if (!backend) {
    std::fprintf(stderr, "kvskin: cannot open a display (use --png to render off-screen)\n");
    return 1;
  }
  SetHostBackend(backend);
  int code = 0;
  {
    PreviewWindow window(o, bound);
    if (!window.Create(L"kvskin")) return 1;
    window.CenterWindow();
    std::printf("window %dx%d\n", window.GetClientSize().cx, window.GetClientSize().cy);
    std::fflush(stdout);
    code = window.ShowModal();
  }
  SetHostBackend(nullptr);
  return code;
}
