// The GTK message box: the kind's icon, the text (selectable, so it can be copied into a
// report), the buttons of the box type with the labels set by SetMessageBoxButtonLabels, all
// mirrored for right-to-left text. UI thread.
#pragma once

#include <string>

typedef struct _GtkWindow GtkWindow;

namespace SkinUI {

// Shows the box modally over parent (may be null) and returns the button's result id. Escape
// and the title bar's close answer only boxes that have a way out (OK, Cancel); Yes/No and
// Abort/Retry/Ignore wait for one of their buttons.
int RunGtkMessageBox(GtkWindow* parent, const std::wstring& text, const std::wstring& caption,
                     unsigned flags);

}  // namespace SkinUI
