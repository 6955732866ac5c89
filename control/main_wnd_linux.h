// The Linux program's main object: the tick, the inhibit state machine behind logind and desktop
// inhibitors, the worker, the tray icon and its menu, suspend and resume from logind.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdint>

#include "control/inhibit_state_machine.h"
#include "control/inhibitors_linux.h"
#include "monitor/worker_thread_linux.h"

namespace dozerin {

class CMainApp;
class SettingsDialog;

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

 public slots:
  void OnPrepareForSleep(bool start);

 private:
  void OnTick();
  void OnActivityEvent(std::uint32_t requests, std::uint32_t kinds, const QString& why);
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
  QIcon icons_[kStateCount];
  QMenu menu_;
  QSystemTrayIcon tray_;
  bool in_tick_ = false;
  std::uint32_t tick_requests_ = 0;  // what the current tick asked for
  QString why_;                      // the reason of the last activity that kept the machine awake
  bool closed_ = false;
  bool settings_open_ = false;
  bool x11_ = true;
  SettingsDialog* dialog_ = nullptr;  // while it is open
};

}  // namespace dozerin
