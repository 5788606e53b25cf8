#include "ui/core/SkinBuilder.h"

#include "ui/controls/Button.h"
#include "ui/controls/Container.h"
#include "ui/controls/Edit.h"
#include "ui/controls/Label.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/controls/TabLayout.h"
#include "ui/core/Markup.h"
#include "ui/core/PaintManager.h"
#include "ui/core/SkinResources.h"
#include "ui/core/Utf.h"

namespace SkinUI {

std::unique_ptr<CControlUI> CreateStockControl(const std::wstring& n) {
  if (n == L"Control") return std::make_unique<CControlUI>();
  if (n == L"Container") return std::make_unique<CContainerUI>();
  if (n == L"VerticalLayout") return std::make_unique<CVerticalLayoutUI>();
  if (n == L"HorizontalLayout") return std::make_unique<CHorizontalLayoutUI>();
  if (n == L"TabLayout") return std::make_unique<CTabLayoutUI>();
  if (n == L"Label") return std::make_unique<CLabelUI>();
  if (n == L"Text") return std::make_unique<CTextUI>();
  if (n == L"Button") return std::make_unique<CButtonUI>();
  if (n == L"Option") return std::make_unique<COptionUI>();
  if (n == L"CheckBox") return std::make_unique<CCheckBoxUI>();
  if (n == L"Edit") return std::make_unique<CEditUI>();
  if (n == L"Progress") return std::make_unique<CProgressUI>();
  return nullptr;
}

namespace {

constexpr int kMaxIncludeDepth = 8;
// Repeated includes multiply; a skin past this many controls is taken as broken.
constexpr int kMaxControls = 20000;

class Builder {
 public:
  Builder(CPaintManagerUI& manager, ISkinBuilderCallback* callback)
      : manager_(manager), callback_(callback) {}

  BuildResult Build(const std::wstring& file) {
    BuildResult r;
    CMarkupNode window;
    if (!Load(file, window)) {
      r.error = error_;
      return r;
    }
    ApplyWindow(window);
    std::vector<std::unique_ptr<CControlUI>> top;
    if (!BuildChildren(window, file, 0, top)) {
      r.error = error_;
      return r;
    }
    if (top.empty()) {
      r.error = ToUtf8(file) + ": the window holds no control";
      return r;
    }
    if (top.size() == 1) {
      r.root = std::move(top.front());
    } else {
      // Several top-level controls share one plain container.
      auto box = std::make_unique<CContainerUI>();
      for (auto& c : top) box->Add(std::move(c));
      r.root = std::move(box);
    }
    return r;
  }

 private:
  bool Fail(const std::wstring& file, const CMarkupNode* node, const std::string& why) {
    error_ = ToUtf8(file);
    if (node != nullptr)
      error_ += ":" + std::to_string(node->line) + " <" + ToUtf8(node->name) + ">";
    error_ += ": " + why;
    return false;
  }

  bool Load(const std::wstring& file, CMarkupNode& window) {
    std::vector<unsigned char> bytes;
    if (manager_.GetResources() == nullptr || !manager_.GetResources()->ReadSkinFile(file, bytes)) {
      return Fail(file, nullptr, "not found in the skin package");
    }
    MarkupResult parsed =
        ParseMarkup(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!parsed.ok) return Fail(file, nullptr, parsed.error);
    if (parsed.root.name != L"Window") return Fail(file, &parsed.root, "the root must be <Window>");
    window = std::move(parsed.root);
    return true;
  }

  void ApplyWindow(const CMarkupNode& window) {
    for (const auto& [k, v] : window.attributes) {
      if (k == L"size")
        manager_.SetInitSize(ParseSize(v));
      else if (k == L"mininfo")
        manager_.SetMinInfo(ParseSize(v));
      else if (k == L"sizebox")
        manager_.SetSizeBox(ParseRect(v));
      else if (k == L"caption")
        manager_.SetCaptionRect(ParseRect(v));
      else if (k == L"linkcolor" || k == L"linkhovercolor") {
        UiColor normal = k == L"linkcolor" ? ParseColor(v) : manager_.GetLinkColor();
        UiColor hover = k == L"linkhovercolor" ? ParseColor(v) : manager_.GetLinkHoverColor();
        manager_.SetLinkColors(normal, hover);
      }
    }
  }

  void AddFont(const CMarkupNode& node) {
    FontInfo f;
    f.name = node.GetAttribute(L"name");
    f.size = ParseInt(node.GetAttribute(L"size"), 12);
    f.bold = ParseBool(node.GetAttribute(L"bold"));
    f.italic = ParseBool(node.GetAttribute(L"italic"));
    f.underline = ParseBool(node.GetAttribute(L"underline"));
    int id = ParseInt(node.GetAttribute(L"id"), -1);
    manager_.AddFont(id, f);
    if (ParseBool(node.GetAttribute(L"default"))) manager_.SetDefaultFont(f);
  }

  bool BuildChildren(const CMarkupNode& parent, const std::wstring& file, int depth,
                     std::vector<std::unique_ptr<CControlUI>>& out) {
    for (const CMarkupNode& node : parent.children) {
      if (node.name == L"Font") {
        AddFont(node);
      } else if (node.name == L"Include") {
        if (!Include(node, file, depth, out)) return false;
      } else if (node.name == L"Default" || node.name == L"Image" || node.name == L"Style") {
        // Shared defaults and named images are not used by our skins.
      } else {
        std::unique_ptr<CControlUI> c;
        if (!BuildControl(node, file, depth, c)) return false;
        out.push_back(std::move(c));
      }
    }
    return true;
  }

  bool Include(const CMarkupNode& node, const std::wstring& file, int depth,
               std::vector<std::unique_ptr<CControlUI>>& out) {
    std::wstring source = node.GetAttribute(L"source");
    if (source.empty()) return Fail(file, &node, "no source");
    if (depth >= kMaxIncludeDepth) return Fail(file, &node, "includes nested too deeply");
    CMarkupNode window;
    if (!Load(source, window)) return false;
    int count = ParseInt(node.GetAttribute(L"count"), 1);
    for (int i = 0; i < std::max(1, count); ++i) {
      if (!BuildChildren(window, source, depth + 1, out)) return false;
    }
    return true;
  }

  bool BuildControl(const CMarkupNode& node, const std::wstring& file, int depth,
                    std::unique_ptr<CControlUI>& out) {
    if (++controls_ > kMaxControls) return Fail(file, &node, "too many controls");
    std::unique_ptr<CControlUI> c = CreateStockControl(node.name);
    if (!c && callback_ != nullptr) c = callback_->CreateControl(node.name);
    if (!c) return Fail(file, &node, "unknown element");
    for (const auto& [k, v] : node.attributes) c->SetAttribute(k, v);
    if (!node.children.empty()) {
      auto* box = dynamic_cast<CContainerUI*>(c.get());
      if (box == nullptr) return Fail(file, &node, "this element cannot hold children");
      std::vector<std::unique_ptr<CControlUI>> kids;
      if (!BuildChildren(node, file, depth, kids)) return false;
      for (auto& k : kids) box->Add(std::move(k));
    }
    if (auto* tab = dynamic_cast<CTabLayoutUI*>(c.get())) {
      tab->SelectItem(std::min(tab->GetCurSel(), std::max(0, tab->GetCount() - 1)),
                      Notification::kSilent);
    }
    out = std::move(c);
    return true;
  }

  CPaintManagerUI& manager_;
  ISkinBuilderCallback* callback_;
  std::string error_;
  int controls_ = 0;
};

}  // namespace

BuildResult BuildSkin(const std::wstring& skinFile, CPaintManagerUI& manager,
                      ISkinBuilderCallback* callback) {
  return Builder(manager, callback).Build(skinFile);
}

}  // namespace SkinUI
