#include "ui/host/Host.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace SkinUI {
namespace {

std::mutex& BackendMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<IHostBackend>& Backend() {
  static std::shared_ptr<IHostBackend> backend;
  return backend;
}

}  // namespace

std::vector<int> MessageBoxButtons(unsigned flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

int MessageBoxDismissResult(unsigned flags) {
  // Closing a box without a button answers what leaves things as they are.
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
      return IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

void SetHostBackend(std::shared_ptr<IHostBackend> backend) {
  std::lock_guard<std::mutex> lock(BackendMutex());
  Backend() = std::move(backend);
}

IHostBackend* GetHostBackend() {
  std::lock_guard<std::mutex> lock(BackendMutex());
  return Backend().get();
}

void AssertUiThread(const char* what) {
#ifndef NDEBUG
  IHostBackend* backend = GetHostBackend();
  if (backend != nullptr && !backend->IsUiThread()) {
    std::fprintf(stderr, "SkinUI: %s called off the UI thread\n", what);
    std::abort();
  }
#else
  (void)what;
#endif
}

}  // namespace SkinUI
