// The window icon's badges: taskbars that show no progress still tell a failed download (red,
// with an exclamation mark) from one waiting on a question (amber, with pause bars). UI thread.
#pragma once

typedef struct _GdkPixbuf GdkPixbuf;

namespace SkinUI {

enum class TaskbarBadge { kNone, kError, kPaused };

// A new picture (the caller unrefs it): the icon with the badge in its lower trailing corner,
// or a plain copy for kNone.
GdkPixbuf* BadgedIcon(GdkPixbuf* icon, TaskbarBadge badge);

}  // namespace SkinUI
