// Decides once a second whether the computer must stay awake. Activity events set the stored state
// and load the margin countdown; each tick turns them into execution-state requests, the icon's
// state and log lines. Runs on the user-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

#include "app/activity_log.h"
#include "control/vocabulary.h"

namespace dozerin {

class SettingsStore;

// What the state machine needs from the program around it.
class InhibitPlatform {
 public:
  virtual ~InhibitPlatform() = default;
  virtual void SetExecutionState(std::uint32_t flags) = 0;
  virtual void WakeWorker() = 0;
  // The notification-area icon shows this state from now on.
  virtual void ShowState(InhibitState state) = 0;
  virtual bool LoggingOn() const = 0;
  // Writes one log line; a failure ends the handler that was logging.
  virtual FileError Log(std::string_view line) = 0;
  // Wall-clock time in seconds: a hold by hand ends at a time of day, also across a suspend.
  virtual std::int64_t WallClock() const { return static_cast<std::int64_t>(std::time(nullptr)); }
};

// The longest hold by hand: a year and a day.
inline constexpr std::int64_t kMaxHoldSeconds = 366LL * 24 * 3600;

// The power source as the system tells it. Not known (a desktop machine, no battery service, a
// failed read) counts as mains.
struct PowerSource {
  bool on_battery = false;
  int percent = -1;  // 0 to 100; -1 when not known
};

// The source as Windows' power status gives it: ACLineStatus (0 offline, 1 online, 255 not
// known), BatteryFlag (128 no battery, 255 not known) and BatteryLifePercent (255 not known).
PowerSource PowerFromStatus(unsigned ac_line, unsigned battery_flag, unsigned life_percent);

struct InhibitSettings {
  std::uint32_t battery_hold = 1;   // 0: no automatic trigger holds on battery
  std::uint32_t battery_floor = 0;  // 1 to 100: nothing holds on battery at or below it
  std::int32_t max_margin = 0;
  std::uint32_t busy_display = 0;
  std::uint32_t reset_display_on_wakeup = 0;
  std::uint32_t set_margin_on_wakeup = 0;
};

// Reads MaxMargin, BusyDisplay, ResetDisplayOnWakeup, SetMarginOnWakeup, BatteryHold and
// BatteryFloor, in that order; a floor outside 0 to 100 is off.
InhibitSettings LoadInhibitSettings(const SettingsStore& store);

class InhibitStateMachine {
 public:
  explicit InhibitStateMachine(InhibitPlatform& platform) : platform_(platform) {}

  void SetSettings(const InhibitSettings& settings) { settings_ = settings; }
  const InhibitSettings& settings() const { return settings_; }
  void SetAwayModeCapable(bool capable) { away_mode_capable_ = capable; }

  // Each handler returns kNone, or the error of a log write that failed; the handler has then
  // skipped its remaining steps.
  FileError OnActivityEvent(std::uint32_t requests, std::uint32_t kinds);
  FileError OnTick();
  FileError OnResume();

  // A hold by hand keeps the state busy, reported at every tick like a watched process, for
  // `seconds` (1 to kMaxHoldSeconds) or, with 0, until it is stopped. A new hold replaces a running
  // one. It outlives worker restarts; when it ends or is stopped the usual margin follows.
  FileError StartHold(std::int64_t seconds);
  FileError StopHold();
  // A hold for a command keeps the state busy the same way until it ends. Each command's hold and
  // the hold by hand are reasons of their own: one ending leaves the others.
  FileError StartCommandHold();
  FileError EndCommandHold();
  bool holding() const { return hold_.has_value() || commands_ != 0; }
  bool hand_hold() const { return hold_.has_value(); }
  // The length the running hold by hand was started with; 0 for one without an end, or none.
  std::int64_t hold_length() const { return hold_ ? hold_->length : 0; }
  // Seconds until the running hold by hand ends; 0 for none or one without an end.
  std::int64_t HoldSecondsLeft() const;

  // The power source from now on. On battery, with BatteryHold=0 only a hold keeps the machine
  // awake, and at or below BatteryFloor nothing does: then the state shows idle and nothing is
  // asked of the system. "Battery hold off" and "Battery hold on" are logged as such a rule comes
  // into force and ends. A hold by hand stopped so comes back with mains power if time is left.
  FileError SetPower(const PowerSource& power);
  const PowerSource& power() const { return power_; }
  // Whether power rules stop the holds now, and whether the floor (rather than BatteryHold=0) does.
  bool power_stopped() const;
  bool stopped_by_floor() const;

  // The answer to a suspend query: refused while busy.
  std::uint32_t QuerySuspendAnswer() const;

  // A worker was started or stopped: no activity is known any more, but a hold goes on.
  void Reset();

  InhibitState stored_state() const { return stored_state_; }
  InhibitState displayed_state() const { return displayed_state_; }
  std::uint32_t margin_countdown() const { return margin_countdown_; }
  bool away_mode_held() const { return away_mode_held_; }
  // Idle, with no hold, no margin left and nothing still shown or held from a busy spell: a tick
  // would only wake the worker, and a report of idle would change nothing.
  bool Quiet() const {
    return !holding() && stored_state_ == STATE_IDLE && margin_countdown_ == 0 &&
           displayed_state_ == STATE_IDLE && !away_mode_held_;
  }

 private:
  struct Hold {
    std::int64_t length;  // seconds; 0 for no end
    std::int64_t start;   // wall clock
  };

  FileError Apply(std::uint32_t requests, std::uint32_t kinds);
  // Ends a hold whose time is up; the margin follows.
  FileError ExpireHold();
  FileError EndHold();
  // The state once the last hold has gone: what the worker last said, and the margin.
  FileError AfterHolds();
  // Logs the start or end of a stop by power rules.
  FileError NotePowerStop();

  InhibitPlatform& platform_;
  InhibitSettings settings_;
  std::optional<Hold> hold_;
  std::size_t commands_ = 0;  // holds for commands running now
  PowerSource power_;
  bool power_stop_logged_ = false;  // "Battery hold off" is the last such line logged
  bool worker_busy_ = false;        // the worker's last report was busy
  bool away_mode_capable_ = false;
  bool away_mode_held_ = false;
  InhibitState stored_state_ = STATE_IDLE;
  InhibitState displayed_state_ = STATE_IDLE;
  std::uint32_t margin_countdown_ = 0;
};

}  // namespace dozerin
