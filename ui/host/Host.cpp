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

std::mutex& LabelMutex() {
  static std::mutex m;
  return m;
}

std::map<int, std::wstring>& Labels() {
  static std::map<int, std::wstring> labels;
  return labels;
}

const wchar_t* EnglishLabel(int id) {
  switch (id) {
    case IDCANCEL:
      return L"Cancel";
    case IDABORT:
      return L"Abort";
    case IDRETRY:
      return L"Retry";
    case IDIGNORE:
      return L"Ignore";
    case IDYES:
      return L"Yes";
    case IDNO:
      return L"No";
    default:
      return L"OK";
  }
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

void SetMessageBoxButtonLabels(std::map<int, std::wstring> labels) {
  std::lock_guard<std::mutex> lock(LabelMutex());
  Labels().clear();
  for (auto& [id, label] : labels) {
    if (!label.empty()) Labels()[id] = std::move(label);
  }
}

std::wstring MessageBoxButtonLabel(int id) {
  std::lock_guard<std::mutex> lock(LabelMutex());
  auto it = Labels().find(id);
  return it != Labels().end() ? it->second : EnglishLabel(id);
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
