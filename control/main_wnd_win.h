// The program's hidden main window: owns the tray icon, the tick timer, the inhibit state machine
// and the worker; handles power broadcasts and the menu commands.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/framework_win.h"
#include "control/inhibit_state_machine.h"
#include "control/power_request_win.h"
#include "control/tray_icon_win.h"
#include "control/vocabulary.h"
#include "monitor/worker_thread_win.h"

namespace dozerin {

class CMainApp;

class CMainWnd : public CTrayIcon, private InhibitPlatform {
 public:
  // Makes the object and its hidden window; null when that fails (the object is then gone).
  static CMainWnd* Create(CMainApp& app);

  void LoadSettings();
  // 1 when a worker runs afterwards, -1 when it could not be started. *log_error receives a failed
  // "Start WorkThread!!" entry.
  int StartWorkThread(FileError* log_error);
  // Always 1. *log_error receives a failed "Finish WorkThread!!" entry.
  int StopWorkThread(FileError* log_error);
  // A hold by hand of `seconds` (0: until stopped), and its stop; a failed log entry is shown.
  // Neither touches the holds for commands.
  void StartHold(std::int64_t seconds);
  void StopHold();

 protected:
  bool CreateTrayWnd() override;
  void OnTrayRightClick() override;
  void OnTrayDoubleClick() override;
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  explicit CMainWnd(CMainApp& app) : app_(app), machine_(*this) {}
  ~CMainWnd() override;

  LRESULT OnCreate(WPARAM wparam, LPARAM lparam);
  void OnDestroy();
  LRESULT OnPowerBroadcast(WPARAM event);
  // Reads the power source again and hands it to the state machine.
  void ReadPowerStatus();
  // A hold or its stop handed over by another start of the program.
  LRESULT OnCopyData(const COPYDATASTRUCT* data);
  std::string TooltipText() const;
  // Shows the state and its reason under the title in the icon's tooltip, when they changed.
  void UpdateTooltip();
  // (Re)loads the three state icons at the small-icon size of the current DPI, each from the
  // frame drawn for that size, unless they are loaded at that size already.
  void LoadStateIcons();
  // The power request the system shows, following the state and the tooltip.
  void UpdatePowerRequest();
  // Adds or changes the icon, showing `state` and the tooltip; see the retry timer.
  void PutIcon(DWORD operation, InhibitState state);
  void RunSettingsCommand();
  // Shows the settings sheet, or brings the one open to the front.
  void OpenSettings();
  // A message of the worker's (a reader that cannot be opened), in a box of this thread.
  void ShowWorkerError(WPARAM id);
  // A hold for a command, named by `holder`, that lasts while `process` runs (and while any other
  // such hold lasts); and the look at the tick that ends it.
  void StartWhile(win::UniqueHandle process, DWORD pid, const std::string& holder);
  void EndFinishedWhiles();
  // Reports a failed log write of a handler that has ended early.
  void Report(FileError error);

  // InhibitPlatform
  void SetExecutionState(std::uint32_t flags) override;
  void WakeWorker() override;
  void ShowState(InhibitState state) override;
  bool LoggingOn() const override;
  FileError Log(std::string_view line) override;

  CMainApp& app_;
  InhibitStateMachine machine_;
  HICON icons_[kStateCount] = {};
  int icon_size_ = 0;  // the small-icon size they were loaded at
  UINT_PTR tick_timer_id_ = 0;
  WorkerThread worker_;            // the running worker, or empty
  bool stopping_ = false;          // while a stop waits for the worker
  bool start_after_stop_ = false;  // a start asked for during that wait
  bool settings_open_ = false;
  bool error_box_open_ = false;
  bool icon_wanted_ = false;  // from the first add to the last delete
  PowerRequestCalls power_calls_;
  PowerRequest power_request_{power_calls_};
  bool disk_error_shown_ = false;  // since the settings were last changed
  std::string reason_;             // of the last report that kept the machine awake
  std::string tooltip_;            // as the icon shows it
  // The processes holds for commands wait for, newest last; one per process, kMaxWhileHolds at
  // most.
  struct WhileHold {
    win::UniqueHandle process;
    DWORD pid;
    std::string holder;
  };
  std::vector<WhileHold> while_holds_;
  // The power source's and the charge's change notifications, while registered.
  HPOWERNOTIFY power_notices_[2] = {};
};

}  // namespace dozerin
