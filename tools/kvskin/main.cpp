// kvskin: opens a skin in a real window and prints the notifications its controls send, or
// renders it off-screen to a PNG without a display.
//
//   kvskin [--skin ZIP|DIR] [--file skin.xml] [--lang ID] [--page N] [--png OUT.png]
//          [--scale N] [--unfold]
//
// Without --skin the skin linked into this program is used. The texts are the skin's own;
// --lang only picks the right-to-left skin files for Arabic (1025) and Hebrew (1037).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "ui/controls/TabLayout.h"
#include "ui/core/Utf.h"
#include "ui/host/gtk/GtkHost.h"
#include "ui/host/headless/HeadlessHost.h"
#include "ui/window/SkinWindowBase.h"

namespace {

using namespace SkinUI;

struct Options {
  std::string skin;
  std::string file;
  int lang = 1033;
  int page = 0;
  std::string png;
  int scale = 1;
  bool unfold = false;
};

void Usage() {
  std::fprintf(stderr,
               "usage: kvskin [--skin ZIP|DIR] [--file skin.xml] [--lang ID] [--page N]\n"
               "              [--png OUT.png] [--scale N] [--unfold]\n");
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
    } else if (a == "--lang" || a == "--page" || a == "--scale") {
      if (!value(v)) return false;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || n < 0) return false;
      (a == "--lang" ? o.lang : a == "--page" ? o.page : o.scale) = static_cast<int>(n);
    } else if (a == "--unfold") {
      o.unfold = true;
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
  explicit PreviewWindow(const Options& o) : options_(o) {
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
    if (auto* tab = dynamic_cast<CTabLayoutUI*>(FindControl(L"switch"))) {
      if (!tab->SelectItem(options_.page, Notification::kSilent)) {
        std::fprintf(stderr, "kvskin: the skin has no page %d\n", options_.page);
        pageMissing_ = true;
      }
    }
    if (options_.unfold) {
      if (CControlUI* panel = FindControl(L"bottomLayout")) {
        panel->SetVisible(true);
        UiSize s = GetClientSize();
        ResizeClient(s.cx, s.cy + panel->GetFixedHeight());
      }
    }
  }

  void Notify(TNotifyUI& msg) override {
    std::printf("notify %s %s\n", ToUtf8(msg.sType).c_str(),
                msg.pSender ? ToUtf8(msg.pSender->GetName()).c_str() : "");
    std::fflush(stdout);
    SkinWindowBase::Notify(msg);
  }

  // A --page the skin lacks: nothing is rendered, so no page 0 passes for the one asked for.
  bool PageMissing() const { return pageMissing_; }

 private:
  Options options_;
  UILIB_RESOURCETYPE type_;
  bool pageMissing_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    Usage();
    return 2;
  }
  if (!o.skin.empty()) SkinWindowBase::SetResourcePath(L"");

  if (!o.png.empty()) {
    auto backend = std::make_shared<CHeadlessBackend>();
    SetHostBackend(backend);
    PreviewWindow window(o);
    if (!window.Create(L"kvskin")) return 1;
    if (window.PageMissing()) return 2;
    auto* host = static_cast<CHeadlessWindow*>(window.GetHostWindow());
    if (!host->SavePng(o.png, o.scale)) {
      std::fprintf(stderr, "kvskin: cannot write %s\n", o.png.c_str());
      return 1;
    }
    UiSize s = window.GetClientSize();
    std::printf("rendered %dx%d at scale %d to %s\n", s.cx, s.cy, o.scale, o.png.c_str());
    return 0;
  }

  std::shared_ptr<IHostBackend> backend = CreateGtkBackend(&argc, &argv);
  if (!backend) {
    std::fprintf(stderr, "kvskin: cannot open a display (use --png to render off-screen)\n");
    return 1;
  }
  SetHostBackend(backend);
  int code = 0;
  {
    PreviewWindow window(o);
    if (!window.Create(L"kvskin")) return 1;
    window.CenterWindow();
    std::printf("window %dx%d\n", window.GetClientSize().cx, window.GetClientSize().cy);
    std::fflush(stdout);
    code = window.ShowModal();
  }
  SetHostBackend(nullptr);
  return code;
}
