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
    {KIND_MOUSE, "Event KIND_MOUSE\n"},
};

}  // namespace

InhibitSettings LoadInhibitSettings(const SettingsStore& store) {
  InhibitSettings s;
  s.max_margin = static_cast<std::int32_t>(store.ReadInt(settings::kMaxMargin));
  s.busy_display = store.ReadInt(settings::kBusyDisplay);
  s.reset_display_on_wakeup = store.ReadInt(settings::kResetDisplayOnWakeup);
  s.set_margin_on_wakeup = store.ReadInt(settings::kSetMarginOnWakeup);
  return s;
}

FileError InhibitStateMachine::OnActivityEvent(std::uint32_t requests, std::uint32_t kinds) {
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
    stored_state_ = STATE_IDLE;
  }
  if (requests & SET_MARGIN) {
    // A negative MaxMargin counts as the unsigned number it is: a margin that does not end.
    margin_countdown_ = static_cast<std::uint32_t>(settings_.max_margin);
    if (const FileError e = platform_.Log("Set STATE_MARGIN\n"); e != FileError::kNone) return e;
  }
  return FileError::kNone;
}

FileError InhibitStateMachine::OnTick() {
  platform_.WakeWorker();
  InhibitState effective = stored_state_;
  if (margin_countdown_ != 0) {
    --margin_countdown_;
    if (effective == STATE_IDLE) effective = STATE_MARGIN;
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
  if (settings_.reset_display_on_wakeup != 0) platform_.SetExecutionState(kEsDisplayRequired);
  if (settings_.set_margin_on_wakeup != 0) return OnActivityEvent(SET_MARGIN, 0);
  return FileError::kNone;
}

std::uint32_t InhibitStateMachine::QuerySuspendAnswer() const {
  return stored_state_ == STATE_BUSY ? kBroadcastQueryDeny : 0;
}

void InhibitStateMachine::Reset() {
  stored_state_ = STATE_IDLE;
  margin_countdown_ = 0;
}

}  // namespace dozerin
