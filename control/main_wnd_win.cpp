#include "control/main_wnd_win.h"

#include <shellapi.h>
// windows.h first: commctrl.h relies on its types.
#include <commctrl.h>

#include <cstring>

#include "app/main_app.h"
#include "app/text.h"
#include "control/keep_awake.h"
#include "control/shell_messages_win.h"
#include "control/why_awake.h"
#include "monitor/activity_worker_win.h"
#include "res/resource.h"
#include "settings/settings_sheet_win.h"

namespace dozerin {
namespace {

// A menu loaded from the resources, destroyed when it goes out of scope.
class LoadedMenu {
 public:
  explicit LoadedMenu(UINT id)
      : menu_(LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id))) {}
  ~LoadedMenu() {
    if (menu_ != nullptr) DestroyMenu(menu_);
  }
  LoadedMenu(const LoadedMenu&) = delete;
  LoadedMenu& operator=(const LoadedMenu&) = delete;
  HMENU get() const { return menu_; }

 private:
  HMENU menu_;
};

// Whether a status answer may go to this window: a message-only answer window of the process that
// says it asks, and that process another start of this same program. The answer is sent and
// waited for, so it never goes to just any window a sender names.
bool IsStatusAnswerWindow(HWND window, DWORD pid) {
  DWORD owner = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &owner) == 0 || owner != pid ||
      owner == GetCurrentProcessId()) {
    return false;
  }
  char kind[64] = {};
  if (GetClassNameA(window, kind, sizeof kind) == 0 || std::strcmp(kind, kStatusAnswerClass) != 0) {
    return false;
  }
  const std::string asker = win::ProcessBaseName(owner);
  return !asker.empty() &&
         lstrcmpiA(asker.c_str(), win::ProcessBaseName(GetCurrentProcessId()).c_str()) == 0;
}

}  // namespace

CMainWnd* CMainWnd::Create(CMainApp& app) {
  auto* wnd = new CMainWnd(app);  // deletes itself with its window
  return wnd->CreateTrayWnd() ? wnd : nullptr;
}

CMainWnd::~CMainWnd() {
  for (HICON& icon : icons_) {
    if (icon != nullptr) DestroyIcon(icon);
  }
}

void CMainWnd::LoadStateIcons() {
  // The same size as the icons there are: nothing to do. A taskbar restart usually comes at the
  // same scale, and every load costs (under Wine a load and destroy keeps a little memory).
  const int size = GetSystemMetrics(SM_CXSMICON);
  bool all = true;
  for (HICON icon : icons_) all = all && icon != nullptr;
  if (all && size == icon_size_) return;
  icon_size_ = size;
  for (int state = 0; state < kStateCount; ++state) {
    HICON icon = nullptr;
    const auto id = static_cast<WORD>(kStateIcons[state]);
    if (FAILED(LoadIconMetric(GetModuleHandleA(nullptr), MAKEINTRESOURCEW(id), LIM_SMALL, &icon))) {
      icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id),
                                           IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                           GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    }
    // A failed load keeps the icon there is rather than leaving the slot empty.
    if (icon == nullptr) continue;
    if (icons_[state] != nullptr) DestroyIcon(icons_[state]);
    icons_[state] = icon;
  }
}

bool CMainWnd::CreateTrayWnd() {
  return CreateHidden(WS_EX_TOOLWINDOW, win::LoadResString(IDS_APP_TITLE));
}

void CMainWnd::LoadSettings() {
  machine_.SetSettings(LoadInhibitSettings(app_.store()));
}

int CMainWnd::StartWorkThread(FileError* log_error) {
  *log_error = FileError::kNone;
  // Asked for from inside a stop's wait (a resume sent meanwhile): the stop starts it once it
  // is done, so that the log and the state follow one another.
  if (stopping_) {
    start_after_stop_ = true;
    return 1;
  }
  if (worker_) return 1;
  machine_.Reset();
  // A new worker has a run flag and a wake-up event of its own, set and not signalled.
  worker_ = StartWorkThreadObject(hwnd(), app_.store());
  if (!worker_) {
    win::ShowMessage(nullptr, win::LoadResString(IDS_THREAD_INIT_FAILED),
                     MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
    return -1;
  }
  *log_error = app_.WriteLog("Start WorkThread!!\n");
  return 1;
}

int CMainWnd::StopWorkThread(FileError* log_error) {
  *log_error = FileError::kNone;
  if (stopping_) {
    start_after_stop_ = false;  // a suspend after the resume that came during the wait
    return 1;
  }
  if (!worker_) return 1;
  // Taken out first: the wait handles messages sent to this thread, which may land here again.
  WorkerThread stopping = std::move(worker_);
  stopping_ = true;
  // Before the wait: what a message handled during it does to the state (a hold, a resume's
  // margin) is kept.
  machine_.Reset();
  // After a time-out the worker is forgotten all the same; it can no longer report, and it ends
  // at its next look at its own run flag.
  stopping.Stop(kWorkerStopTimeoutMs);
  stopping_ = false;
  *log_error = app_.WriteLog("Finish WorkThread!!\n");
  if (start_after_stop_) {
    start_after_stop_ = false;
    FileError start_error = FileError::kNone;
    StartWorkThread(&start_error);
    if (*log_error == FileError::kNone) *log_error = start_error;
  }
  return 1;
}

LRESULT CMainWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(wparam, lparam);
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_TIMER:
      if (wparam == tick_timer_id_) {
        EndFinishedWhiles();
        const FileError e = machine_.OnTick();
        UpdateTooltip();
        if (e != FileError::kNone) {
          Report(e);
          return 0;
        }
      }
      if (wparam == kIconRetryTimerId) PutIcon(NIM_ADD, machine_.displayed_state());
      OnTrayTimer(wparam);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == ID_APP_EXIT) {
        PostMessageA(hwnd(), WM_CLOSE, 0, 0);
        return 0;
      }
      if (LOWORD(wparam) == ID_SETTINGS) {
        OpenSettings();
        return 0;
      }
      if (LOWORD(wparam) == ID_HOLD_STOP) {
        StopHold();
        return 0;
      }
      for (const HoldChoice& choice : HoldChoices()) {
        if (LOWORD(wparam) == choice.command) {
          StartHold(choice.seconds);
          return 0;
        }
      }
      break;
    case WM_COPYDATA:
      return OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lparam));
    case WM_POWERBROADCAST:
      return OnPowerBroadcast(wparam);
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
      LoadStateIcons();
      PutIcon(NIM_MODIFY, machine_.displayed_state());
      return Default(message, wparam, lparam);
    case WM_ENDSESSION:
      // The session ends: the same clean end as the close command, now, since the process may
      // not get another message.
      if (wparam != 0) DestroyWindow(hwnd());
      return 0;
    case WM_ACTIVITY_EVENT:
      if ((ReportRequests(wparam) & (SET_BUSY | SET_MARGIN)) != 0 && lparam != 0) {
        reason_ = ReportReason(wparam);
      }
      Report(machine_.OnActivityEvent(ReportRequests(wparam), static_cast<std::uint32_t>(lparam)));
      return 1;
    case WM_WORKER_ERROR:
      ShowWorkerError(wparam);
      return 0;
    default:
      if (message == TaskbarCreatedMessage() && message != 0) {
        // A new taskbar may come with a new scale.
        LoadStateIcons();
        PutIcon(NIM_ADD, machine_.displayed_state());
        return Default(message, wparam, lparam);
      }
      break;
  }
  return CTrayIcon::WindowProc(message, wparam, lparam);
}

LRESULT CMainWnd::OnCreate(WPARAM wparam, LPARAM lparam) {
  if (Default(WM_CREATE, wparam, lparam) == -1) return -1;
  // Requests come from other starts of the program, which may run at a lower integrity level than
  // this one (an instance run as administrator); the taskbar's restart notice comes from Explorer.
  // Windows drops both otherwise. Only these two get through.
  ChangeWindowMessageFilterEx(hwnd(), WM_COPYDATA, MSGFLT_ALLOW, nullptr);
  if (TaskbarCreatedMessage() != 0) {
    ChangeWindowMessageFilterEx(hwnd(), TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
  }
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version)) machine_.SetAwayModeCapable(version.dwMajorVersion >= 6);
  LoadSettings();
  // The power source now and at each change: mains or battery, and the charge. Where the
  // notifications cannot be had, the older power status broadcast still says so.
  static const GUID kPowerSettings[2] = {
      {0x5D3E9A59, 0xE9D5, 0x4B00, {0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48}},   // AC/DC
      {0xA7AD8041, 0xB45A, 0x4CAE, {0x87, 0xA3, 0xEE, 0xCB, 0xB4, 0x68, 0xA9, 0xE1}}};  // charge
  for (int i = 0; i < 2; ++i) {
    power_notices_[i] =
        RegisterPowerSettingNotification(hwnd(), &kPowerSettings[i], DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  ReadPowerStatus();
  FileError log_error;
  // A worker that cannot be started, or a start that cannot be logged, ends start-up.
  if (StartWorkThread(&log_error) < 0 || log_error != FileError::kNone) return -1;
  LoadStateIcons();
  tooltip_ = TooltipText();
  icon_wanted_ = true;
  PutIcon(NIM_ADD, machine_.displayed_state());
  tick_timer_id_ = SetTimer(hwnd(), kTickTimerId, kTickPeriodMs, nullptr);
  return 0;
}

LRESULT CMainWnd::OnCopyData(const COPYDATASTRUCT* data) {
  // From another process, which waits for the answer: checked, answered, then carried out.
  if (data == nullptr) return FALSE;
  if (data->dwData == kCopyDataStopHold && data->cbData == 0) {
    ReplyMessage(TRUE);
    StopHold();
    return TRUE;
  }
  if (data->dwData == kCopyDataSettings && data->cbData == 0) {
    PostMessageA(hwnd(), WM_COMMAND, ID_SETTINGS, 0);  // a dialog of its own loop, after the reply
    return TRUE;
  }
  if (data->dwData == kCopyDataStatus && data->cbData == sizeof(StatusRequest) &&
      data->lpData != nullptr) {
    StatusRequest request;
    std::memcpy(&request, data->lpData, sizeof request);
    const auto asker = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(request.window));
    if (!IsStatusAnswerWindow(asker, request.pid)) return FALSE;
    const std::string line = StatusLine(tooltip_);
    COPYDATASTRUCT answer = {kCopyDataStatusReply, static_cast<DWORD>(line.size()),
                             const_cast<char*>(line.data())};
    // The asker waits inside its own request, so it answers at once; one that does not is not
    // waited for long.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(asker, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd()),
                        reinterpret_cast<LPARAM>(&answer), SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                        kStatusReplyTimeoutMs, &ignored);
    return TRUE;
  }
  if (data->dwData == kCopyDataWhile && data->cbData == sizeof(WhileRequest) &&
      data->lpData != nullptr) {
    WhileRequest request;
    std::memcpy(&request, data->lpData, sizeof request);
    const std::string holder(request.holder, strnlen(request.holder, sizeof request.holder));
    // A process that asks again keeps its one hold, under the name it gives now.
    for (WhileHold& hold : while_holds_) {
      if (hold.pid == request.requester_pid &&
          WaitForSingleObject(hold.process.get(), 0) == WAIT_TIMEOUT) {
        hold.holder = holder;
        ReplyMessage(TRUE);
        UpdateTooltip();
        return TRUE;
      }
    }
    if (while_holds_.size() >= kMaxWhileHolds) return FALSE;
    win::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, request.requester_pid));
    if (!process) return FALSE;
    ReplyMessage(TRUE);
    StartWhile(std::move(process), request.requester_pid, holder);
    return TRUE;
  }
  std::int64_t seconds = -1;
  if (data->dwData != kCopyDataHold || data->cbData != sizeof seconds || data->lpData == nullptr) {
    return FALSE;
  }
  std::memcpy(&seconds, data->lpData, sizeof seconds);
  if (seconds < 0 || seconds > kMaxHoldSeconds) return FALSE;
  ReplyMessage(TRUE);
  StartHold(seconds);
  return TRUE;
}

void CMainWnd::StartWhile(win::UniqueHandle process, DWORD pid, const std::string& holder) {
  while_holds_.push_back({std::move(process), pid, holder});
  const FileError e = machine_.StartCommandHold();
  reason_ = kHoldReason;
  UpdateTooltip();
  Report(e);
}

void CMainWnd::EndFinishedWhiles() {
  if (while_holds_.empty()) return;
  FileError e = FileError::kNone;
  for (auto it = while_holds_.begin(); it != while_holds_.end();) {
    if (WaitForSingleObject(it->process.get(), 0) != WAIT_OBJECT_0) {
      ++it;
      continue;
    }
    it = while_holds_.erase(it);
    // Only this command's hold ends: a hold by hand and the other commands' go on.
    if (const FileError ended = machine_.EndCommandHold(); e == FileError::kNone) e = ended;
  }
  UpdateTooltip();
  Report(e);
}

void CMainWnd::StartHold(std::int64_t seconds) {
  const FileError e = machine_.StartHold(seconds);
  reason_ = kHoldReason;  // also for the margin that follows it
  UpdateTooltip();
  Report(e);
}

void CMainWnd::StopHold() {
  const FileError e = machine_.StopHold();
  UpdateTooltip();
  Report(e);
}

void CMainWnd::OnDestroy() {
  Default(WM_DESTROY, 0, 0);
  // The icon and the timer go whatever the log says: a failed entry must not leave a dead icon.
  FileError ignored;
  StopWorkThread(&ignored);
  icon_wanted_ = false;
  UpdatePowerRequest();
  NotifyIcon(NIM_DELETE, nullptr, nullptr);
  KillTimer(hwnd(), kIconRetryTimerId);
  if (tick_timer_id_ != 0) KillTimer(hwnd(), tick_timer_id_);
  tick_timer_id_ = 0;
  for (HPOWERNOTIFY& notice : power_notices_) {
    if (notice != nullptr) UnregisterPowerSettingNotification(notice);
    notice = nullptr;
  }
}

void CMainWnd::ReadPowerStatus() {
  SYSTEM_POWER_STATUS status = {};
  // Not known when it cannot be read: counted as mains.
  const PowerSource power =
      GetSystemPowerStatus(&status)
          ? PowerFromStatus(status.ACLineStatus, status.BatteryFlag, status.BatteryLifePercent)
          : PowerSource{};
  const FileError e = machine_.SetPower(power);
  UpdateTooltip();
  Report(e);
}

LRESULT CMainWnd::OnPowerBroadcast(WPARAM event) {
  FileError e = FileError::kNone;
  switch (event) {
    case kPbtQuerySuspend:
      return machine_.QuerySuspendAnswer();
    case kPbtSuspend:
      StopWorkThread(&e);
      break;
    case kPbtResumeSuspend:
    case kPbtResumeAutomatic:
      StartWorkThread(&e);
      if (e == FileError::kNone) e = machine_.OnResume();
      break;
    case kPbtPowerSettingChange:
    case kPbtPowerStatusChange:
      // Only a cue: what the power source is now comes from the system itself.
      ReadPowerStatus();
      return TRUE;
    default:
      break;
  }
  Report(e);
  return 0;
}

void CMainWnd::RunSettingsCommand() {
  // The window may be closed (WM_CLOSE, log-off) inside any of the modal waits below, and this
  // object is then gone.
  win::LivenessGuard guard(*this);
  settings_open_ = true;
  SetForegroundWindow(hwnd());  // the sheet comes up in front, where the asker allowed it
  // The sheet's modal loop goes on dispatching this window's ticks, events and broadcasts.
  const bool confirmed = ShowSettingsSheet(hwnd(), app_.store());
  if (!guard.alive()) return;
  if (confirmed) {
    LoadSettings();
    disk_error_shown_ = false;
    FileError e = FileError::kNone;
    StopWorkThread(&e);
    if (!guard.alive()) return;
    if (e == FileError::kNone) StartWorkThread(&e);
    if (!guard.alive()) return;
    Report(e);
    if (!guard.alive()) return;
  }
  settings_open_ = false;
}

void CMainWnd::ShowWorkerError(WPARAM id) {
  // Only the worker's own messages: any process may post to this window.
  if (id != IDS_PERF_INIT_NETWORK && id != IDS_PERF_INIT_PROCESSOR && id != IDS_PERF_INIT_DISK &&
      id != IDS_OUT_OF_MEMORY && id != IDS_UNEXPECTED_ERROR) {
    return;
  }
  // The disk check is off and the worker goes on: said once, not at every restart of the worker
  // (each resume) until the settings change.
  if (id == IDS_PERF_INIT_DISK) {
    if (disk_error_shown_) return;
    disk_error_shown_ = true;
  }
  if (error_box_open_) return;  // one box at a time
  error_box_open_ = true;
  win::LivenessGuard guard(*this);
  // Often with nothing of the program on screen: the box comes to the front.
  win::ShowMessage(nullptr, win::LoadResString(static_cast<UINT>(id)),
                   MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
  if (guard.alive()) error_box_open_ = false;
}

void CMainWnd::OpenSettings() {
  if (!settings_open_) {
    RunSettingsCommand();
    return;
  }
  // One sheet at a time: the open one (or the box it shows) comes to the front.
  HWND front = GetLastActivePopup(hwnd());
  if (front != nullptr && front != hwnd()) SetForegroundWindow(front);
}

void CMainWnd::OnTrayDoubleClick() {
  SetForegroundWindow(hwnd());
  SetFocus(hwnd());
  OpenSettings();
}

void CMainWnd::OnTrayRightClick() {
  LoadedMenu menu(IDR_TRAY_MENU);
  HMENU popup = menu.get() != nullptr ? GetSubMenu(menu.get(), 0) : nullptr;
  if (popup == nullptr) return;
  SetMenuDefaultItem(popup, ID_SETTINGS, FALSE);
  for (const HoldChoice& choice : HoldChoices()) {
    const bool running = machine_.hand_hold() && machine_.hold_length() == choice.seconds;
    CheckMenuItem(popup, choice.command, MF_BYCOMMAND | (running ? MF_CHECKED : MF_UNCHECKED));
  }
  EnableMenuItem(popup, ID_HOLD_STOP,
                 MF_BYCOMMAND | (machine_.hand_hold() ? MF_ENABLED : MF_GRAYED));
  POINT at = {};
  GetCursorPos(&at);
  SetForegroundWindow(hwnd());
  SetFocus(hwnd());
  if (!settings_open_) {
    win::LivenessGuard guard(*this);
    const HWND self = hwnd();
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, 0, self, nullptr);
    if (guard.alive()) PostMessageA(self, WM_NULL, 0, 0);
  }
}

void CMainWnd::Report(FileError error) {
  app_.ReportLogFailure(error);
}

void CMainWnd::SetExecutionState(std::uint32_t flags) {
  SetThreadExecutionState(flags);
}

void CMainWnd::WakeWorker() {
  worker_.Wake();
}

void CMainWnd::ShowState(InhibitState state) {
  tooltip_ = TooltipText();
  PutIcon(NIM_MODIFY, state);
  UpdatePowerRequest();
}

void CMainWnd::UpdatePowerRequest() {
  // Only while busy: a margin's line counts down every second, and a reason is a new request.
  const bool busy = icon_wanted_ && machine_.displayed_state() == STATE_BUSY;
  const std::wstring reason = busy ? win::WideFromAnsi(PowerRequestReason(tooltip_)) : L"";
  power_request_.Apply(busy, reason, machine_.settings().busy_display != 0);
}

void CMainWnd::PutIcon(DWORD operation, InhibitState state) {
  if (!icon_wanted_) return;  // start-up shows the first state before the icon is added
  // A shell still starting (at log-on) may refuse the icon, and one that lost it refuses its
  // change: the other request is tried, and failing both, again every few seconds.
  const BOOL done =
      NotifyIcon(operation, icons_[state], tooltip_.c_str()) ||
      NotifyIcon(operation == NIM_ADD ? NIM_MODIFY : NIM_ADD, icons_[state], tooltip_.c_str());
  if (done) {
    KillTimer(hwnd(), kIconRetryTimerId);
  } else {
    SetTimer(hwnd(), kIconRetryTimerId, kIconRetryPeriodMs, nullptr);
  }
}

std::string CMainWnd::TooltipText() const {
  return ProgramTooltip(
      machine_, win::LoadResString(IDS_APP_TITLE), reason_,
      win::LoadResString(IDS_HOLD_MINUTES_LEFT),
      machine_.hand_hold() || while_holds_.empty()
          ? win::LoadResString(IDS_HOLD_NO_END)
          : text::FillIn(win::LoadResString(IDS_HOLD_WHILE), while_holds_.back().holder),
      win::LoadResString(IDS_BATTERY_FLOOR), win::LoadResString(IDS_BATTERY_BY_HAND_ONLY));
}

void CMainWnd::UpdateTooltip() {
  const std::string tip = TooltipText();
  if (tip == tooltip_) return;
  tooltip_ = tip;
  PutIcon(NIM_MODIFY, machine_.displayed_state());
  UpdatePowerRequest();
}

bool CMainWnd::LoggingOn() const {
  return app_.logging_on();
}

FileError CMainWnd::Log(std::string_view line) {
  return app_.WriteLog(line);
}

}  // namespace dozerin
