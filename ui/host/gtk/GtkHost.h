// The GTK host: undecorated top-level windows drawn by the toolkit, GLib timers and posting,
// GTK message boxes and the native folder picker, taskbar progress over D-Bus.
#pragma once

#include <memory>

#include "ui/host/Host.h"

namespace SkinUI {

// Initialises GTK on the calling thread, which becomes the UI thread. Null when no display
// can be opened.
std::shared_ptr<IHostBackend> CreateGtkBackend(int* argc, char*** argv);

}  // namespace SkinUI
