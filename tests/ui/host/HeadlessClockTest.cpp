#include <gtest/gtest.h>

#include <thread>

#include "tests/ui/UiTestSupport.h"
#include "ui/host/headless/HeadlessHost.h"

namespace SkinUI {
namespace {

using namespace std::chrono_literals;

// Timer ticks in the order the window handled them, as (id, manual time in ms).
class ClockWindow : public uitest::RecordingWindow {
 public:
  ClockWindow() : RecordingWindow(UILIB_ZIPRESOURCE, L"", L"skin.xml") {}
  LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (msg == WM_TIMER) {
      ticks.emplace_back(static_cast<int>(wParam), Elapsed());
      if (onTick) onTick(static_cast<int>(wParam));
    }
    return RecordingWindow::HandleCustomMessage(msg, wParam, lParam, handled);
  }
  long long Elapsed() const {
    auto* backend = static_cast<CHeadlessBackend*>(GetHostBackend());
    return std::chrono::duration_cast<std::chrono::milliseconds>(backend->Now() - start).count();
  }
  std::chrono::steady_clock::time_point start;
  std::vector<std::pair<int, long long>> ticks;
  std::function<void(int)> onTick;
};

TEST(HeadlessClockTest, TimersFollowTheManualClockInTimeOrder) {
  uitest::HeadlessScope scope;
  ClockWindow w;
  ASSERT_TRUE(w.Create(L"clock"));
  scope.backend().UseManualClock();
  w.start = scope.backend().Now();
  w.SetTimer(11, 5000);
  w.SetTimer(13, 1000);
  // Real time alone moves nothing.
  std::this_thread::sleep_for(30ms);
  scope.backend().RunPending();
  scope.backend().RunUntil([] { return false; }, 30ms);
  EXPECT_TRUE(w.ticks.empty());

  scope.backend().AdvanceClock(4999ms);
  using Ticks = std::vector<std::pair<int, long long>>;
  EXPECT_EQ(Ticks({{13, 1000}, {13, 2000}, {13, 3000}, {13, 4000}}), w.ticks);
  w.ticks.clear();
  // A tick that starts another timer again moves that one's next time.
  bool restarted = false;
  w.onTick = [&](int id) {
    if (id == 13 && !restarted) {
      restarted = true;
      w.SetTimer(11, 2500);
    }
  };
  scope.backend().AdvanceClock(1ms);
  scope.backend().AdvanceClock(6000ms);
  w.KillTimer(13);
  scope.backend().AdvanceClock(1000ms);
  EXPECT_EQ(Ticks({{11, 5000},
                   {13, 5000},
                   {13, 6000},
                   {13, 7000},
                   {11, 7500},
                   {13, 8000},
                   {13, 9000},
                   {11, 10000},
                   {13, 10000},
                   {13, 11000}}),
            w.ticks);
}

}  // namespace
}  // namespace SkinUI
