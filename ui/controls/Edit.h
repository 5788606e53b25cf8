// A one-line text box drawn by the toolkit itself: caret (placed by a press), typing, pasting
// through the host, read-only mode, a border
// that changes colour with the focus. Sends "textchanged" for user edits and "return" for
// Enter. UI thread.
#pragma once

#include "ui/controls/Label.h"

namespace SkinUI {

class CEditUI : public CLabelUI {
 public:
  CEditUI();
  std::wstring_view GetClass() const override { return L"Edit"; }
  bool IsFocusable() const override { return true; }

  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  // Replaces the text without notifying; the caret moves to the end.
  void SetText(const std::wstring& text) override;
  bool IsReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  int GetMaxChar() const { return maxChar_; }
  std::size_t GetCaret() const { return caret_; }

  void DoEvent(TEventUI& event) override;

 protected:
  // Without a skin colour the field is white, as a system text box is: the text stays dark on
  // light whatever the edit stands on.
  void PaintBkColor(CRenderContext& ctx) override;
  void PaintText(CRenderContext& ctx) override;

 private:
  void UserEdit(std::wstring text, std::size_t caret);
  // A press puts the caret at the character boundary nearest to x.
  void PlaceCaretAt(int x);

  bool readOnly_ = false;
  int maxChar_ = 255;
  std::size_t caret_ = 0;
  int shift_ = 0;  // how far a long text was scrolled left when last painted
};

}  // namespace SkinUI
