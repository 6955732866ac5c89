#include "control/inhibit_state_machine.h"

#include "settings/settings_store.h"

namespace dozerin {
namespace {

struct KindLine {
  std::uint32_t bit;
  const char* line;
};
// Fixed order of the kind lines.
constexpr KindLine kKindLines[] = {
    {KIND_CPU, "Event KIND_CPU\n"},         {KIND_NETWORK, "Event KIND_NETWORK\n"},
    {KIND_PROCESS, "Event KIND_PROCESS\n"}, {KIND_WINDOW, "Event KIND_WINDOW\n"},
    {KIND_MOUSE, "Event KIND_MOUSE\n"},     {KIND_MANUAL, "Event KIND_MANUAL\n"},
    {KIND_DISK, "Event KIND_DISK\n"},       {KIND_REMOTE, "Event KIND_REMOTE\n"},
};

}  // namespace

PowerSource PowerFromStatus(unsigned ac_line, unsigned battery_flag, unsigned life_percent) {
  PowerSource power;
  power.on_battery = ac_line == 0 && battery_flag != 128 && battery_flag != 255;
  power.percent = power.on_battery && life_percent <= 100 ? static_cast<int>(life_percent) : -1;
  return power;
}

InhibitSettings LoadInhibitSettings(const SettingsStore& store) {
  InhibitSettings s;
  s.max_margin = static_cast<std::int32_t>(store.ReadInt(settings::kMaxMargin));
  s.busy_display = store.ReadInt(settings::kBusyDisplay);
  s.reset_display_on_wakeup = store.ReadInt(settings::kResetDisplayOnWakeup);
  s.set_margin_on_wakeup = store.ReadInt(settings::kSetMarginOnWakeup);
  s.battery_hold = store.ReadInt(settings::kBatteryHold);
  s.battery_floor = store.ReadInt(settings::kBatteryFloor);
  if (s.battery_floor > 100) s.battery_floor = 0;
  return s;
}

FileError InhibitStateMachine::OnActivityEvent(std::uint32_t requests, std::uint32_t kinds) {
  if (requests & SET_BUSY) {
    worker_busy_ = true;
  } else if (requests & SET_IDLE) {
    worker_busy_ = false;
  }
  return Apply(requests, kinds);
}

FileError InhibitStateMachine::Apply(std::uint32_t requests, std::uint32_t kinds) {
  if (platform_.LoggingOn()) {
    for (const KindLine& k : kKindLines) {
      if ((kinds & k.bit) == 0) continue;
      if (const FileError e = platform_.Log(k.line); e != FileError::kNone) return e;
    }
  }
  if (requests & SET_BUSY) {
    stored_state_ = STATE_BUSY;
    if (const FileError e = platform_.Log("Set STATE_BUSY\n"); e != FileError::kNone) return e;
  } else if (requests & SET_IDLE) {
    stored_state_ = holding() ? STATE_BUSY : STATE_IDLE;
  }
  if (requests & SET_MARGIN) {
    // A negative MaxMargin counts as the unsigned number it is: a margin that does not end.
    margin_countdown_ = static_cast<std::uint32_t>(settings_.max_margin);
    if (const FileError e = platform_.Log("Set STATE_MARGIN\n"); e != FileError::kNone) return e;
  }
  return FileError::kNone;
}

bool InhibitStateMachine::stopped_by_floor() const {
  return power_.on_battery && settings_.battery_floor != 0 && power_.percent >= 0 &&
         static_cast<std::uint32_t>(power_.percent) <= settings_.battery_floor;
}

bool InhibitStateMachine::power_stopped() const {
  return stopped_by_floor() || (power_.on_battery && settings_.battery_hold == 0 && !holding());
}

FileError InhibitStateMachine::SetPower(const PowerSource& power) {
  power_ = power;
  return NotePowerStop();
}

FileError InhibitStateMachine::NotePowerStop() {
  // A rule in force, whether or not something would hold now.
  const bool stopped = stopped_by_floor() || (power_.on_battery && settings_.battery_hold == 0);
  if (stopped == power_stop_logged_) return FileError::kNone;
  power_stop_logged_ = stopped;
  return platform_.Log(stopped ? "Battery hold off\n" : "Battery hold on\n");
}

FileError InhibitStateMachine::OnTick() {
  platform_.WakeWorker();
  if (const FileError e = ExpireHold(); e != FileError::kNone) return e;
  // New settings may put a rule in force or lift it.
  if (const FileError e = NotePowerStop(); e != FileError::kNone) return e;
  if (holding()) {
    if (const FileError e = Apply(SET_BUSY, KIND_MANUAL); e != FileError::kNone) return e;
  }
  InhibitState effective = stored_state_;
  if (margin_countdown_ != 0) {
    --margin_countdown_;
    if (effective == STATE_IDLE) effective = STATE_MARGIN;
  }
  if (power_stopped()) {
    effective = STATE_IDLE;
  } else if (power_.on_battery && settings_.battery_hold == 0) {
    effective = STATE_BUSY;  // a hold, alone of all reasons, keeps the machine awake on battery
  }
  if (away_mode_capable_ && effective == STATE_BUSY) {
    if (!away_mode_held_) {
      platform_.SetExecutionState(kEsContinuous | kEsAwayModeRequired);
      away_mode_held_ = true;
      const FileError e = platform_.Log("Set Enable ES_AWAYMODE_REQUIRED|ES_CONTINUOUS\n");
      if (e != FileError::kNone) return e;
    }
  } else if (away_mode_capable_ && away_mode_held_) {
    platform_.SetExecutionState(kEsContinuous);
    away_mode_held_ = false;
    if (const FileError e = platform_.Log("Set ES_CONTINUOUS\n"); e != FileError::kNone) return e;
  }
  if (effective == STATE_MARGIN || effective == STATE_BUSY) {
    platform_.SetExecutionState(kEsSystemRequired);
    if (const FileError e = platform_.Log("Set ES_SYSTEM_REQUIRED\n"); e != FileError::kNone) {
      return e;
    }
    if (settings_.busy_display != 0) {
      platform_.SetExecutionState(kEsDisplayRequired);
      if (const FileError e = platform_.Log("Set ES_DISPLAY_REQUIRED\n"); e != FileError::kNone) {
        return e;
      }
    }
  }
  if (effective != displayed_state_) {
    displayed_state_ = effective;
    platform_.ShowState(effective);
  }
  return FileError::kNone;
}

FileError InhibitStateMachine::OnResume() {
  // A hold whose end passed during the sleep is over now.
  if (const FileError e = ExpireHold(); e != FileError::kNone) return e;
  if (settings_.reset_display_on_wakeup != 0) platform_.SetExecutionState(kEsDisplayRequired);
  if (settings_.set_margin_on_wakeup != 0) return OnActivityEvent(SET_MARGIN, 0);
  return FileError::kNone;
}

std::uint32_t InhibitStateMachine::QuerySuspendAnswer() const {
  return stored_state_ == STATE_BUSY && !power_stopped() ? kBroadcastQueryDeny : 0;
}

void InhibitStateMachine::Reset() {
  stored_state_ = holding() ? STATE_BUSY : STATE_IDLE;
  margin_countdown_ = 0;
  worker_busy_ = false;
}

FileError InhibitStateMachine::StartHold(std::int64_t seconds) {
  if (seconds < 0 || seconds > kMaxHoldSeconds) return FileError::kNone;
  hold_ = Hold{seconds, platform_.WallClock()};
  return Apply(SET_BUSY, KIND_MANUAL);
}

FileError InhibitStateMachine::StopHold() {
  return hold_ ? EndHold() : FileError::kNone;
}

std::int64_t InhibitStateMachine::HoldSecondsLeft() const {
  if (!hold_ || hold_->length == 0) return 0;
  const std::int64_t left = hold_->start + hold_->length - platform_.WallClock();
  return left < 0 ? 0 : left;
}

FileError InhibitStateMachine::ExpireHold() {
  if (!hold_ || hold_->length == 0) return FileError::kNone;
  const std::int64_t now = platform_.WallClock();
  // A clock set back to before the hold began: the hold counts from now again rather than for as
  // long as the clock went back.
  if (now < hold_->start) hold_->start = now;
  return now - hold_->start >= hold_->length ? EndHold() : FileError::kNone;
}

FileError InhibitStateMachine::StartCommandHold() {
  ++commands_;
  return Apply(SET_BUSY, KIND_MANUAL);
}

FileError InhibitStateMachine::EndCommandHold() {
  if (commands_ == 0) return FileError::kNone;
  --commands_;
  return AfterHolds();
}

FileError InhibitStateMachine::EndHold() {
  hold_.reset();
  return AfterHolds();
}

FileError InhibitStateMachine::AfterHolds() {
  if (holding()) return FileError::kNone;
  // What the worker last said decides the state; the margin follows the hold as it follows any
  // busy spell.
  return Apply((worker_busy_ ? SET_BUSY : SET_IDLE) | SET_MARGIN, 0);
}

}  // namespace dozerin
