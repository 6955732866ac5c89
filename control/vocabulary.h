// The words the program's parts share: inhibit states, the activity-event message and its bits,
// execution-state flags, power-event types, timer and icon ids.
#pragma once

#include <cstdint>

#include "res/resource.h"

namespace dozerin {

// Inhibit states; the value also indexes the state's icon.
enum InhibitState : std::int32_t {
  STATE_IDLE = 0,
  STATE_MARGIN = 1,
  STATE_BUSY = 2,
};
inline constexpr int kStateCount = 3;
// Icon resource of each state, indexed by state.
inline constexpr int kStateIcons[kStateCount] = {IDI_STATE_IDLE, IDI_STATE_MARGIN, IDI_STATE_BUSY};

// The worker's report to the main window (WM_USER + 100).
inline constexpr std::uint32_t WM_ACTIVITY_EVENT = 0x0464;
// A message the worker has for the user, shown by the main window (WM_USER + 101); wParam is its
// string id.
inline constexpr std::uint32_t WM_WORKER_ERROR = 0x0465;

// Request bits, in wParam.
inline constexpr std::uint32_t SET_IDLE = 0x0001;
inline constexpr std::uint32_t SET_BUSY = 0x0002;
inline constexpr std::uint32_t SET_MARGIN = 0x1000;

// Kind bits, in lParam; they only feed the log.
inline constexpr std::uint32_t KIND_CPU = 0x01;
inline constexpr std::uint32_t KIND_NETWORK = 0x02;
inline constexpr std::uint32_t KIND_PROCESS = 0x04;
inline constexpr std::uint32_t KIND_WINDOW = 0x08;
inline constexpr std::uint32_t KIND_MOUSE = 0x10;
inline constexpr std::uint32_t KIND_MANUAL = 0x20;  // a hold by hand, from the menu or command line
inline constexpr std::uint32_t KIND_DISK = 0x40;    // disk transfers above DiskTraffic
inline constexpr std::uint32_t KIND_REMOTE = 0x80;  // a connection to a watched local port

// A hold by hand handed to the running instance in WM_COPYDATA: dwData names the request; a start
// carries its length in seconds as a 64-bit integer (0: no end), a stop carries nothing.
inline constexpr std::uintptr_t kCopyDataHold = 0x444F5A48;      // "DOZH"
inline constexpr std::uintptr_t kCopyDataStopHold = 0x444F5A53;  // "DOZS"
// --settings and --status handed over the same way: the settings carry nothing; a status request
// carries a StatusRequest, to whose window the answer's text goes back in a WM_COPYDATA of its own
// before the request returns.
inline constexpr std::uintptr_t kCopyDataSettings = 0x444F5A45;     // "DOZE"
inline constexpr std::uintptr_t kCopyDataStatus = 0x444F5A51;       // "DOZQ"
inline constexpr std::uintptr_t kCopyDataStatusReply = 0x444F5A52;  // "DOZR"
// --while handed over: the hold lasts while the asking process runs; its holder names the command
// ("make (pid 4242)"), NUL-terminated or filling the field.
inline constexpr std::uintptr_t kCopyDataWhile = 0x444F5A57;  // "DOZW"
struct WhileRequest {
  std::uint32_t requester_pid;
  char holder[300];
};
// A status request names the asking window and its process; the window is a message-only window
// of this class.
struct StatusRequest {
  std::uint64_t window;
  std::uint32_t pid;
  std::uint32_t reserved;
};
inline constexpr char kStatusAnswerClass[] = "DozerinStatusAnswer";
inline constexpr unsigned kStatusReplyTimeoutMs = 2000;

// Execution-state flags.
inline constexpr std::uint32_t kEsSystemRequired = 0x00000001;
inline constexpr std::uint32_t kEsDisplayRequired = 0x00000002;
inline constexpr std::uint32_t kEsAwayModeRequired = 0x00000040;
inline constexpr std::uint32_t kEsContinuous = 0x80000000;

// Power-event types and the answer that refuses a suspend.
inline constexpr std::uint32_t kPbtQuerySuspend = 0;
inline constexpr std::uint32_t kPbtSuspend = 4;
inline constexpr std::uint32_t kPbtResumeSuspend = 7;
inline constexpr std::uint32_t kPbtResumeAutomatic = 18;
inline constexpr std::uint32_t kPbtPowerStatusChange = 10;
inline constexpr std::uint32_t kPbtPowerSettingChange = 0x8013;
inline constexpr std::uint32_t kBroadcastQueryDeny = 0x424D5144;

// Timers of the main window.
inline constexpr std::uintptr_t kTickTimerId = 1;
inline constexpr std::uint32_t kTickPeriodMs = 1000;
inline constexpr std::uintptr_t kClickTimerId = 4;
// Adds the icon again while the shell refuses it.
inline constexpr std::uintptr_t kIconRetryTimerId = 5;
inline constexpr std::uint32_t kIconRetryPeriodMs = 5000;

// The notification-area icon.
inline constexpr std::uint32_t kTrayIconId = 100;
inline constexpr std::uint32_t WM_TRAY_NOTIFY = 0x05F4;  // WM_USER + 500

// Mouse messages the shell reports for the icon, and that the icon window posts to itself.
inline constexpr std::uint32_t kWmLButtonDown = 0x0201;
inline constexpr std::uint32_t kWmLButtonUp = 0x0202;
inline constexpr std::uint32_t kWmLButtonDblClk = 0x0203;
inline constexpr std::uint32_t kWmRButtonUp = 0x0205;

// Worker stop: how long StopWorkThread waits for the worker to end.
inline constexpr std::uint32_t kWorkerStopTimeoutMs = 10000;

}  // namespace dozerin
