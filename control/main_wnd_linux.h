// The Linux program's main object: the tick, the inhibit state machine behind logind and desktop
// inhibitors, the worker, the tray icon and its menu, suspend and resume from logind.
#pragma once

#include <QDBusContext>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/inhibit_state_machine.h"
#include "control/inhibitors_linux.h"
#include "control/keep_awake.h"
#include "control/status_notifier_linux.h"
#include "control/xembed_icon_linux.h"
#include "monitor/worker_thread_linux.h"

namespace dozerin {

class CMainApp;
class CMainWnd;
class SettingsDialog;
class UPowerSource;

// Where a second start finds the running instance on the session bus (its name: BusName()).
inline constexpr char kBusPath[] = "/org/dozerin/Dozerin";
inline constexpr char kBusInterface[] = "org.dozerin.Dozerin";

// The running instance's methods on the session bus: KeepAwake(seconds), 0 for no end, Stop(),
// KeepAwakeWhile(holder) that holds until the calling process ends, Settings() that opens the
// settings dialog, and Status() that tells the state and why.
class HoldService : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.dozerin.Dozerin")

 public:
  explicit HoldService(CMainWnd& wnd) : wnd_(wnd) {}

 public slots:
  Q_SCRIPTABLE void KeepAwake(qlonglong seconds);
  Q_SCRIPTABLE void KeepAwakeWhile(const QString& holder);
  Q_SCRIPTABLE void Stop();
  Q_SCRIPTABLE void Settings();
  Q_SCRIPTABLE QString Status();

 private:
  // Replies to the call being handled now; the method then acts on a later turn of the loop.
  void AnswerNow();

  CMainWnd& wnd_;
};

class CMainWnd : public QObject, private InhibitPlatform {
  Q_OBJECT

 public:
  explicit CMainWnd(CMainApp& app);
  ~CMainWnd() override;

  // Window creation's steps; false when start-up must end (no worker, or its start not logged).
  bool Create();
  void LoadSettings();
  int StartWorkThread(FileError* log_error);
  int StopWorkThread(FileError* log_error);
  // The close command: the worker stopped and logged, every lock released, the icon gone, and
  // the event loop told to end.
  void Close();
  // A hold by hand of `seconds` (0: until stopped), and its stop; a failed log entry is shown.
  // Neither touches the holds for commands.
  void StartHold(std::int64_t seconds);
  void StopHold();
  // A hold for a command, named by `holder` ("make (pid 4242)"), that lasts while the process of
  // pidfd runs (and while any other such hold lasts). A process has one hold at most.
  void StartWhile(int pidfd, std::uint32_t pid, const QString& holder);
  bool HoldsFor(std::uint32_t pid) const;
  std::size_t while_holds() const { return while_holds_.size(); }
  // Opens the settings dialog on a later turn of the event loop (one at a time).
  void OpenSettings();
  // The state and why, as --status prints it: "busy: process vlc".
  QString StatusText() const;

 public slots:
  void OnPrepareForSleep(bool start);

 private:
  void OnTick();
  // Stops the tick while it has nothing to do and the worker keeps time; starts it again when it
  // has. Called after everything that can change the state.
  void Pace();
  void UpdateTooltip();
  // Shows Qt's icon while no StatusNotifierWatcher is on the bus, and hides it while one is.
  void ShowXEmbedIcon(bool show);
  // Checks the running hold's item and enables the stop, as the menu opens.
  void ShowHoldInMenu();
  void EndWhile(int pidfd);
  void SetWhy(std::string_view why);
  void TakeReports();
  void OnActivityEvent(std::uint32_t requests, std::uint32_t kinds, std::string_view why);
  void RunSettingsCommand();
  void Report(FileError error);
  void ShowError(int string_id);

  // InhibitPlatform
  void SetExecutionState(std::uint32_t flags) override;
  void WakeWorker() override;
  void ShowState(InhibitState state) override;
  bool LoggingOn() const override;
  FileError Log(std::string_view line) override;

  CMainApp& app_;
  InhibitStateMachine machine_;
  Inhibitors inhibitors_;
  QTimer tick_;
  LinuxWorkerThread worker_;
  std::unique_ptr<QSocketNotifier> reports_;  // on the worker's queue
  WorkerReports taken_;                       // the reports being handled
  QIcon icons_[kStateCount];
  QMenu menu_;
  QMenu hold_menu_;
  std::vector<QAction*> hold_items_;  // owned by hold_menu_
  QAction* hold_stop_ = nullptr;
  HoldService hold_service_{*this};
  bool on_bus_ = false;
  // The icon: a StatusNotifierItem whenever a watcher is on the bus, else Qt's XEmbed icon, made
  // only then (Qt decides once, when its first icon is made, which kind it shows).
  std::unique_ptr<StatusNotifierItem> notifier_;
  std::unique_ptr<UPowerSource> power_;
  std::unique_ptr<XEmbedTrayIcon> tray_;
  QString tooltip_;
  bool in_tick_ = false;
  std::uint32_t tick_requests_ = 0;  // what the current tick asked for
  QString why_;                      // the reason of the last activity that kept the machine awake
  std::string why_text_;             // the same as the worker gave it
  std::uint64_t why_changes_ = 0;
  // What a tick can change in the tooltip, which is made anew only when one of these changed.
  struct TickTip {
    InhibitState shown = STATE_IDLE;
    std::uint32_t countdown = 0;
    std::int64_t hold_minutes = -1;
    std::uint64_t why_changes = 0;
    QString trouble;
    bool operator==(const TickTip& o) const {
      return shown == o.shown && countdown == o.countdown && hold_minutes == o.hold_minutes &&
             why_changes == o.why_changes && trouble == o.trouble;
    }
  };
  TickTip tick_tip_;
  const QString hold_reason_ = QString::fromLatin1(kHoldReason);
  bool closed_ = false;
  bool settings_open_ = false;
  bool disk_error_shown_ = false;  // since the settings were last changed
  int notice_ = 0;  // what cannot be watched on this display, shown in the settings too
  SettingsDialog* dialog_ = nullptr;  // while it is open
  // The processes holds for commands wait for, newest last.
  struct WhileHold {
    explicit WhileHold(int fd) : pidfd(fd) {}
    ~WhileHold();
    WhileHold(const WhileHold&) = delete;
    WhileHold& operator=(const WhileHold&) = delete;
    int pidfd;
    std::uint32_t pid = 0;
    QString holder;
    std::unique_ptr<QSocketNotifier> ended;
  };
  std::vector<std::unique_ptr<WhileHold>> while_holds_;
};

}  // namespace dozerin
