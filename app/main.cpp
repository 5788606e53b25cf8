// The process entry: one controller, the work folder, the single-instance lock, the window and
// its loop. A second start of the same program presents the first one's window and ends with
// status 255.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/SetupFrameWnd.h"
#include "log/Log.h"
#include "platform/Elevation.h"
#include "platform/InstanceChannel.h"
#include "platform/NamedLock.h"
#include "sys/SystemInfo.h"
#include "ui/host/gtk/GtkHost.h"

namespace {

// Workers still running this long after the window went are left to the end of the process.
constexpr auto kWorkerGrace = std::chrono::seconds(5);

// The version record's description, else the executable's base name.
std::wstring SingleInstanceName() {
  const std::wstring exe = GetModulePath();
  std::wstring name = GetFileDescription(exe);
  if (!name.empty()) return name;
  name = GetFileNameFromPath(exe);
  const std::size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring ExecutableFolder() {
  const std::wstring exe = GetModulePath();
  const std::size_t slash = exe.rfind(L'/');
  return slash == std::wstring::npos ? L"" : exe.substr(0, slash + 1);
}

int RunSetup(int argc, char** argv) {
  auto frame = std::make_unique<CSetupFrameWnd>();
  frame->InitEnvironment();

  platform::NamedLock lock;
  const platform::NamedLockResult locked = lock.Acquire(SingleInstanceName());
  if (locked == platform::NamedLockResult::AlreadyExists) {
    platform::InstanceChannel::AskPresent(lock);
    return 255;
  }
  // Only another instance of ours keeps us from starting: a lock we cannot take for any other
  // reason (a name taken by someone else, a broken folder) must not lock the user out for ever.
  if (locked == platform::NamedLockResult::Error) {
    LOGA(LogLevelInfo, "single instance lock not taken: %s", lock.ErrorText().c_str());
  }

  std::shared_ptr<SkinUI::IHostBackend> backend = SkinUI::CreateGtkBackend(&argc, &argv);
  if (!backend) {
    std::fprintf(stderr, "kvdownloader: cannot open a display\n");
    return 1;
  }
  SkinUI::SetHostBackend(backend);
  SkinUI::SkinWindowBase::SetInstance(nullptr);
  SkinUI::SkinWindowBase::SetResourcePath(ExecutableFolder());

  const std::wstring title = frame->Language().GetText(L"STR_MESSAGEBOX_TITLE");
  if (!frame->Create(title)) {
    LOGA(LogLevelInfo, "the main window cannot be created");
    return 1;
  }
  platform::InstanceChannel channel;
  CSetupFrameWnd* window = frame.get();
  if (locked == platform::NamedLockResult::Created) {
    channel.Listen(lock, [window] { window->RunOnUiThread([window] { window->BringToFront(); }); });
  }
  frame->CenterWindow();
  frame->ShowModal();
  channel.Stop();

  // Our workers get a moment to finish (the download writes its resume record as it stops).
  if (frame->WaitForWorkers(kWorkerGrace)) {
    frame.reset();
    SkinUI::SetHostBackend(nullptr);
    backend.reset();
  } else {
    LOGA(LogLevelInfo, "workers still running at exit");
  }
  // Threads that are not ours (the banner fetch, the analytics senders of a library) may still
  // be in a request: the process ends without running the destructors of static objects or the
  // libraries' exit handlers under them. The log writes through at once; stdio is flushed.
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything reads the environment or starts a thread.
  platform::DropTestHooksWhenElevated();
  return RunSetup(argc, argv);
}
