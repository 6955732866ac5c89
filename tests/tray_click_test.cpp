#include "control/tray_click.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/vocabulary.h"

namespace dozerin {
namespace {

// A fake click timer: records what the recognizer asks for and fires on demand.
class FakeTrayPlatform : public TrayClickPlatform {
 public:
  void SetClickTimer(std::uint32_t period_ms) override {
    calls.push_back("SET " + std::to_string(period_ms));
    timer_running = true;
  }
  void KillClickTimer() override {
    calls.push_back("KILL");
    timer_running = false;
  }
  void PostToSelf(std::uint32_t message) override {
    calls.push_back(message == kWmLButtonUp       ? "POST click"
                    : message == kWmLButtonDblClk ? "POST double"
                    : message == kWmRButtonUp     ? "POST right"
                                                  : "POST other");
  }
  std::uint32_t DoubleClickTimeMs() const override { return 500; }

  std::vector<std::string> calls;
  bool timer_running = false;
};

using Calls = std::vector<std::string>;

class TrayClickTest : public ::testing::Test {
 protected:
  void Shell(std::uint32_t mouse_message) { clicks_.OnNotify(kTrayIconId, mouse_message); }
  // The click timer fires if it is running; other timers reach the recognizer all the time.
  void TimePasses() {
    clicks_.OnTimer(kTickTimerId);
    if (platform_.timer_running) clicks_.OnTimer(kClickTimerId);
  }
  FakeTrayPlatform platform_;
  TrayClickRecognizer clicks_{platform_};
};

TEST_F(TrayClickTest, SingleClickIsReportedAfterTheDoubleClickTime) {
  Shell(kWmLButtonDown);
  Shell(kWmLButtonUp);
  EXPECT_EQ(platform_.calls, Calls{"SET 500"});
  TimePasses();
  EXPECT_EQ(platform_.calls, (Calls{"SET 500", "KILL", "POST click"}));
}

TEST_F(TrayClickTest, DoubleClickIsReportedOnceAndNoSingleClick) {
  Shell(kWmLButtonDown);
  Shell(kWmLButtonUp);
  Shell(kWmLButtonDblClk);
  Shell(kWmLButtonUp);
  TimePasses();
  EXPECT_EQ(platform_.calls, (Calls{"SET 500", "KILL", "POST double"}));
}

TEST_F(TrayClickTest, APressWhileWaitingRestartsTheTimerAndClearsTheDoubleClick) {
  Shell(kWmLButtonDown);
  Shell(kWmLButtonUp);
  Shell(kWmLButtonDblClk);
  Shell(kWmLButtonUp);
  platform_.calls.clear();
  Shell(kWmLButtonDown);
  Shell(kWmLButtonUp);  // a plain click now: no second double click
  TimePasses();
  EXPECT_EQ(platform_.calls, (Calls{"SET 500", "KILL", "POST click"}));
}

TEST_F(TrayClickTest, RightClickOnReleaseOnly) {
  Shell(0x0204);  // WM_RBUTTONDOWN
  Shell(kWmRButtonUp);
  Shell(0x0200);  // WM_MOUSEMOVE
  EXPECT_EQ(platform_.calls, Calls{"POST right"});
}

TEST_F(TrayClickTest, OtherIconsAndOtherTimersAreIgnored) {
  clicks_.OnNotify(kTrayIconId + 1, kWmRButtonUp);
  clicks_.OnNotify(kTrayIconId + 1, kWmLButtonDown);
  clicks_.OnTimer(kTickTimerId);
  EXPECT_EQ(platform_.calls, Calls{});
}

}  // namespace
}  // namespace dozerin
