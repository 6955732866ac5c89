#include "control/main_wnd_linux.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <algorithm>
#include <cstdlib>

#include "app/main_app.h"
#include "app/paths.h"
#include "app/text.h"
#include "control/keep_awake.h"
#include "control/power_source_linux.h"
#include "control/why_awake.h"
#include "control/xlib_requests_linux.h"
#include "monitor/activity_worker_linux.h"
#include "monitor/watch_sources_gnome.h"
#include "monitor/watch_sources_linux.h"
#include "monitor/watch_sources_wayland.h"
#include "res/resource.h"
#include "res/texts.h"
#include "settings/settings_dialog_linux.h"

namespace dozerin {
namespace {

QString Ui(int id) {
  const std::string_view text = UiText(id, JapaneseLocale());
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// What cannot be watched on this desktop, said once in the log and shown in the settings dialog;
// 0 when everything can. On GNOME it also starts the main thread's listening to the shell, which
// the worker reads.
int WindowNotice() {
  switch (ProbeWaylandWindows()) {
    case WaylandWindows::kListed:
      return 0;
    case WaylandWindows::kGnome:
      ListenToGnomeShell();
      return GnomeShellWindowsEnabled() ? 0 : kTextGnomeNeedsExtension;
    case WaylandWindows::kKdeNotGranted:
      return kTextKdeNeedsEntry;
    case WaylandWindows::kNone:
      return kTextNoWindowList;
    case WaylandWindows::kNoSession:
      break;
  }
  if (!X11Available()) return kTextNoDisplay;
  // A Wayland session whose compositor did not answer: the display is XWayland's.
  const bool wayland =
      !qgetenv("WAYLAND_DISPLAY").isEmpty() || qgetenv("XDG_SESSION_TYPE") == "wayland";
  return wayland ? kTextWaylandX11Only : 0;
}

}  // namespace

CMainWnd::CMainWnd(CMainApp& app)
    : app_(app),
      machine_(*this),
      inhibitors_([this](const QString& line) { Report(Log(line.toStdString())); }) {
  const char* icons[kStateCount] = {":/icons/state_idle", ":/icons/state_margin",
                                    ":/icons/state_busy"};
  for (int state = 0; state < kStateCount; ++state) {
    for (int size : {16, 20, 24, 32, 40, 48, 64}) {
      icons_[state].addFile(QStringLiteral("%1-%2.png").arg(icons[state]).arg(size),
                            QSize(size, size));
    }
  }
}

CMainWnd::~CMainWnd() {
  Close();
}

void CMainWnd::LoadSettings() {
  machine_.SetSettings(LoadInhibitSettings(app_.store()));
}

bool CMainWnd::Create() {
  LoadSettings();
  FileError log_error;
  notice_ = WindowNotice();
  if (StartWorkThread(&log_error) < 0 || log_error != FileError::kNone) return false;
  if (notice_ != 0) Report(Log(std::string(UiText(notice_, false)) + "\n"));
  // The power source as UPower tells it, now and at each change.
  power_ = std::make_unique<UPowerSource>([this](const PowerSource& power) {
    if (closed_) return;
    const FileError e = machine_.SetPower(power);
    UpdateTooltip();
    Pace();
    Report(e);
  });
  const bool nothing_to_show = QGuiApplication::platformName() == QStringLiteral("offscreen");
  if (nothing_to_show) Report(Log(std::string(UiText(kTextNothingToShow, false)) + "\n"));

  hold_menu_.setTitle(Ui(kTextMenuKeepAwake));
  for (const HoldChoice& choice : HoldChoices()) {
    QAction* item = hold_menu_.addAction(Ui(choice.command));
    item->setCheckable(true);
    item->setData(QVariant::fromValue<qlonglong>(choice.seconds));
    hold_items_.push_back(item);
    const std::int64_t seconds = choice.seconds;
    connect(item, &QAction::triggered, this, [this, seconds] { StartHold(seconds); });
  }
  hold_menu_.addSeparator();
  hold_stop_ = hold_menu_.addAction(Ui(ID_HOLD_STOP));
  connect(hold_stop_, &QAction::triggered, this, [this] { StopHold(); });
  connect(&menu_, &QMenu::aboutToShow, this, [this] { ShowHoldInMenu(); });
  menu_.addMenu(&hold_menu_);
  QAction* settings = menu_.addAction(Ui(kTextMenuSettings));
  QFont bold = settings->font();
  bold.setBold(true);  // the default item, as a double click runs it
  settings->setFont(bold);
  connect(settings, &QAction::triggered, this, [this] { RunSettingsCommand(); });
  menu_.addSeparator();
  connect(menu_.addAction(Ui(kTextMenuClose)), &QAction::triggered, this, [this] { Close(); });
  // Without a tray host the program runs on, log only; the icon shows when a host appears. A
  // StatusNotifierItem has no double click: its plain click opens the settings.
  notifier_ = std::make_unique<StatusNotifierItem>(
      menu_, [this] { RunSettingsCommand(); }, [this](bool watcher) { ShowXEmbedIcon(!watcher); });
  notifier_->SetIcon(icons_[machine_.displayed_state()]);
  const bool watcher = StatusNotifierItem::HostPresent();
  ShowXEmbedIcon(!watcher);
  UpdateTooltip();
  // With no tray host at all, one notification says how to reach the program.
  if (!nothing_to_show && !watcher && !XEmbedTrayIcon::TrayPresent()) {
    QDBusMessage note = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    note << Ui(IDS_APP_TITLE) << 0u << QStringLiteral("dozerin") << Ui(kTextNoTrayTitle)
         << Ui(kTextNoTrayBody) << QStringList() << QVariantMap() << -1;
    QDBusConnection::sessionBus().asyncCall(note);
  }

  // Suspend and resume come from logind; a "delay" lock gives time for the suspend steps.
  QDBusConnection::systemBus().connect(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
      SLOT(OnPrepareForSleep(bool)));
  inhibitors_.TakeSleepDelay();

  connect(&tick_, &QTimer::timeout, this, [this] { OnTick(); });
  tick_.start(kTickPeriodMs);  // the first tick decides whether it is needed

  // Later starts hand a hold or its stop over on the session bus. Without one, or with the name
  // taken by another copy, the program runs on without.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && bus.registerObject(QString::fromLatin1(kBusPath), &hold_service_,
                                              QDBusConnection::ExportScriptableSlots)) {
    on_bus_ = bus.registerService(QString::fromStdString(BusName(app_.paths().base_name)));
    if (!on_bus_) bus.unregisterObject(QString::fromLatin1(kBusPath));
  }
  return true;
}

void HoldService::AnswerNow() {
  // The caller has its answer before the hold changes: a failed log entry's message box would
  // otherwise hold the reply back until the caller gives up.
  connection().send(message().createReply());
  setDelayedReply(true);
}

void HoldService::KeepAwake(qlonglong seconds) {
  if (seconds < 0 || seconds > kMaxHoldSeconds) {
    sendErrorReply(QDBusError::InvalidArgs,
                   QStringLiteral("seconds must be 0 (no end) to %1").arg(kMaxHoldSeconds));
    return;
  }
  AnswerNow();
  QMetaObject::invokeMethod(
      &wnd_, [wnd = &wnd_, seconds] { wnd->StartHold(seconds); }, Qt::QueuedConnection);
}

void HoldService::KeepAwakeWhile(const QString& holder) {
  // The hold lasts as long as the process that asks, as the bus knows it: no caller can name
  // another process for it.
  const QDBusReply<uint> pid = connection().interface()->servicePid(message().service());
  // One hold a process, and a bounded number of them: each keeps a descriptor open.
  if (pid.isValid() && !wnd_.HoldsFor(pid.value()) && wnd_.while_holds() >= kMaxWhileHolds) {
    sendErrorReply(QDBusError::LimitsExceeded,
                   QStringLiteral("%1 commands are kept awake already").arg(kMaxWhileHolds));
    return;
  }
  const int pidfd =
      pid.isValid() ? static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid.value()), 0))
                    : -1;
  if (pidfd < 0) {
    sendErrorReply(QDBusError::Failed, QStringLiteral("the calling process cannot be watched"));
    return;
  }
  AnswerNow();
  QMetaObject::invokeMethod(
      &wnd_,
      [wnd = &wnd_, pidfd, pid = pid.value(), holder = holder.left(300)] {
        wnd->StartWhile(pidfd, pid, holder);
      },
      Qt::QueuedConnection);
}

void HoldService::Stop() {
  AnswerNow();
  QMetaObject::invokeMethod(
      &wnd_, [wnd = &wnd_] { wnd->StopHold(); }, Qt::QueuedConnection);
}

void HoldService::Settings() {
  AnswerNow();
  wnd_.OpenSettings();
}

QString HoldService::Status() {
  return wnd_.StatusText();
}

void CMainWnd::OpenSettings() {
  QMetaObject::invokeMethod(
      this, [this] { RunSettingsCommand(); }, Qt::QueuedConnection);
}

QString CMainWnd::StatusText() const {
  return QString::fromStdString(StatusLine(tooltip_.toStdString()));
}

CMainWnd::WhileHold::~WhileHold() {
  ended.reset();
  close(pidfd);
}

bool CMainWnd::HoldsFor(std::uint32_t pid) const {
  return std::any_of(while_holds_.begin(), while_holds_.end(),
                     [pid](const auto& h) { return h->pid == pid; });
}

void CMainWnd::StartWhile(int pidfd, std::uint32_t pid, const QString& holder) {
  auto hold = std::make_unique<WhileHold>(pidfd);
  if (closed_) return;
  // A process that asks again keeps its one hold, under the name it gives now; requests that
  // crossed the limit on their way here are let go.
  for (const auto& h : while_holds_) {
    if (h->pid == pid) {
      h->holder = holder;
      UpdateTooltip();
      return;
    }
  }
  if (while_holds_.size() >= kMaxWhileHolds) return;
  hold->pid = pid;
  hold->holder = holder;
  hold->ended = std::make_unique<QSocketNotifier>(pidfd, QSocketNotifier::Read);
  connect(hold->ended.get(), &QSocketNotifier::activated, this, [this, pidfd] { EndWhile(pidfd); });
  while_holds_.push_back(std::move(hold));
  const FileError e = machine_.StartCommandHold();
  SetWhy(kHoldReason);
  UpdateTooltip();
  Pace();
  Report(e);
}

void CMainWnd::EndWhile(int pidfd) {
  // Removed on a later turn: the notifier that calls here goes with it. Until then it is quiet (an
  // ended process stays readable).
  for (const auto& h : while_holds_) {
    if (h->pidfd == pidfd) h->ended->setEnabled(false);
  }
  QMetaObject::invokeMethod(
      this,
      [this, pidfd] {
        const std::size_t before = while_holds_.size();
        while_holds_.erase(std::remove_if(while_holds_.begin(), while_holds_.end(),
                                          [pidfd](const auto& h) { return h->pidfd == pidfd; }),
                           while_holds_.end());
        if (while_holds_.size() == before || closed_) return;
        // Only this command's hold ends: a hold by hand and the other commands' go on.
        const FileError e = machine_.EndCommandHold();
        UpdateTooltip();
        Pace();
        Report(e);
      },
      Qt::QueuedConnection);
}

void CMainWnd::StartHold(std::int64_t seconds) {
  if (closed_) return;
  const FileError e = machine_.StartHold(seconds);
  SetWhy(kHoldReason);  // also for the margin that follows it
  UpdateTooltip();
  Pace();
  Report(e);
}

void CMainWnd::StopHold() {
  if (closed_) return;
  const FileError e = machine_.StopHold();
  UpdateTooltip();
  Pace();
  Report(e);
}

void CMainWnd::ShowHoldInMenu() {
  for (QAction* item : hold_items_) {
    item->setChecked(machine_.hand_hold() && machine_.hold_length() == item->data().toLongLong());
  }
  hold_stop_->setEnabled(machine_.hand_hold());
}

int CMainWnd::StartWorkThread(FileError* log_error) {
  *log_error = FileError::kNone;
  if (worker_) return 1;
  machine_.Reset();
  worker_ = StartWorkThreadObject(
      [this](int id) {
        QMetaObject::invokeMethod(
            this, [this, id] { ShowError(id); }, Qt::QueuedConnection);
      },
      app_.store());
  if (!worker_) {
    ShowError(IDS_THREAD_INIT_FAILED);
    return -1;
  }
  // Reports are taken in the order they were queued, on this thread's event loop.
  reports_ = std::make_unique<QSocketNotifier>(worker_.reports_fd(), QSocketNotifier::Read);
  connect(reports_.get(), &QSocketNotifier::activated, this, [this] { TakeReports(); });
  *log_error = app_.WriteLog("Start WorkThread!!\n");
  Pace();
  return 1;
}

int CMainWnd::StopWorkThread(FileError* log_error) {
  *log_error = FileError::kNone;
  if (!worker_) return 1;
  reports_.reset();  // what the worker still queued is of a state that ends here
  LinuxWorkerThread stopping = std::move(worker_);
  stopping.Stop(kWorkerStopTimeoutMs);
  *log_error = app_.WriteLog("Finish WorkThread!!\n");
  machine_.Reset();
  Pace();
  return 1;
}

void CMainWnd::Close() {
  if (closed_) return;
  closed_ = true;
  if (dialog_ != nullptr) dialog_->reject();
  FileError ignored;
  StopWorkThread(&ignored);
  tick_.stop();
  // Every lock goes before the bus name: some services take the name's change of owner for the
  // end of its client and clean up after it at the same moment.
  inhibitors_.ReleaseAll();
  inhibitors_.ReleaseSleepDelay();
  if (on_bus_) {
    QDBusConnection::sessionBus().unregisterService(
        QString::fromStdString(BusName(app_.paths().base_name)));
    QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(kBusPath));
    on_bus_ = false;
  }
  notifier_.reset();
  if (tray_) tray_->Dock(false);
  QCoreApplication::exit(0);
}

void CMainWnd::OnTick() {
  in_tick_ = true;
  tick_requests_ = 0;
  const FileError e = machine_.OnTick();
  in_tick_ = false;
  // What this tick asked for is held until a tick asks for less.
  inhibitors_.Want((tick_requests_ & kEsSystemRequired) != 0,
                   (tick_requests_ & kEsDisplayRequired) != 0,
                   !machine_.holding() ? why_
                   : machine_.hand_hold() || while_holds_.empty()
                       ? hold_reason_
                       : QStringLiteral("kept awake for ") + while_holds_.back()->holder);
  // Most ticks change nothing a person reads: then nothing is made.
  TickTip tip{machine_.displayed_state(), machine_.margin_countdown(),
              machine_.holding() ? (machine_.HoldSecondsLeft() + 59) / 60 : -1, why_changes_,
              inhibitors_.Trouble()};
  if (!(tip == tick_tip_)) {
    tick_tip_ = std::move(tip);
    UpdateTooltip();
  }
  Pace();
  Report(e);
}

void CMainWnd::Pace() {
  // A lock that failed is tried again at the ticks.
  const bool quiet = worker_ && machine_.Quiet() && inhibitors_.Trouble().isEmpty();
  worker_.SetSelfPaced(quiet);
  if (quiet) {
    tick_.stop();
  } else if (!tick_.isActive() && !closed_) {
    tick_.start(kTickPeriodMs);
  }
}

void CMainWnd::UpdateTooltip() {
  const bool japanese = JapaneseLocale();
  const std::string no_end = machine_.hand_hold() || while_holds_.empty()
                                 ? std::string(UiText(IDS_HOLD_NO_END, japanese))
                                 : text::FillIn(UiText(IDS_HOLD_WHILE, japanese),
                                                while_holds_.back()->holder.toStdString());
  QString tip = QString::fromStdString(ProgramTooltip(
      machine_, UiText(IDS_APP_TITLE, false), why_text_, UiText(IDS_HOLD_MINUTES_LEFT, japanese),
      no_end, UiText(IDS_BATTERY_FLOOR, japanese), UiText(IDS_BATTERY_BY_HAND_ONLY, japanese)));
  const QString trouble = inhibitors_.Trouble();
  if (!trouble.isEmpty()) tip += QStringLiteral("\ncould not keep awake: ") + trouble;
  if (tooltip_ == tip) return;
  tooltip_ = tip;
  if (tray_) tray_->setToolTip(tip);
  if (notifier_) notifier_->SetToolTip(tip);
}

void CMainWnd::ShowXEmbedIcon(bool show) {
  if (closed_) return;
  if (show && !tray_) {
    tray_ = std::make_unique<XEmbedTrayIcon>(menu_, [this] { RunSettingsCommand(); });
    tray_->SetIcon(icons_[machine_.displayed_state()]);
    tray_->setToolTip(tooltip_);
  }
  if (tray_) tray_->Dock(show);
}

void CMainWnd::SetWhy(std::string_view why) {
  // Made anew only when it changed: a busy machine gives the same reason at every pass.
  if (why == why_text_) return;
  why_text_.assign(why);
  why_ = QString::fromStdString(why_text_);
  ++why_changes_;
}

void CMainWnd::TakeReports() {
  const std::size_t count = worker_.TakeReports(&taken_);
  for (std::size_t i = 0; i < count && worker_; ++i) {
    OnActivityEvent(taken_[i].requests, taken_[i].kinds, taken_[i].Why());
  }
}

void CMainWnd::OnActivityEvent(std::uint32_t requests, std::uint32_t kinds, std::string_view why) {
  if (closed_) return;
  if ((requests & (SET_BUSY | SET_MARGIN)) != 0 && kinds != 0) SetWhy(why);
  const FileError e = machine_.OnActivityEvent(requests, kinds);
  Pace();
  Report(e);
}

void CMainWnd::OnPrepareForSleep(bool start) {
  if (closed_) return;
  FileError e = FileError::kNone;
  if (start) {
    StopWorkThread(&e);
    inhibitors_.ReleaseSleepDelay();  // the suspend steps are done
  } else {
    StartWorkThread(&e);
    if (e == FileError::kNone) e = machine_.OnResume();
    inhibitors_.TakeSleepDelay();
  }
  Pace();
  Report(e);
}

void CMainWnd::RunSettingsCommand() {
  if (settings_open_ || closed_) return;  // one dialog at a time
  settings_open_ = true;
  bool confirmed = false;
  {
    SettingsDialog dialog(app_.store(), AutostartEntry(), QString::fromStdString(ExecutablePath()));
    // The shell extension may have been enabled since the start.
    if (notice_ == kTextGnomeNeedsExtension && GnomeShellWindowsEnabled()) notice_ = 0;
    if (notice_ != 0) dialog.SetNotice(Ui(notice_));
    dialog_ = &dialog;
    // The event loop goes on meanwhile: ticks, reports, suspend and resume are handled.
    confirmed = dialog.exec() == QDialog::Accepted;
    dialog_ = nullptr;
  }
  settings_open_ = false;
  SettleXlibRequests();  // a dialog's windows send many, the last as they are destroyed
  if (!confirmed || closed_) return;
  LoadSettings();
  disk_error_shown_ = false;
  FileError e = FileError::kNone;
  StopWorkThread(&e);
  if (e == FileError::kNone) StartWorkThread(&e);
  Report(e);
}

void CMainWnd::Report(FileError error) {
  app_.ReportLogFailure(error);
}

void CMainWnd::ShowError(int string_id) {
  // The disk check is off and the worker goes on: said once, not at every restart of the worker
  // (each resume) until the settings change.
  if (string_id == IDS_PERF_INIT_DISK) {
    if (disk_error_shown_) return;
    disk_error_shown_ = true;
  }
  // Not modal: the main loop goes on with its ticks meanwhile.
  auto* box =
      new QMessageBox(QMessageBox::Warning, Ui(IDS_APP_TITLE), Ui(string_id), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

void CMainWnd::SetExecutionState(std::uint32_t flags) {
  if (in_tick_) {
    tick_requests_ |= flags;
  } else if (flags & kEsDisplayRequired) {
    inhibitors_.SimulateUserActivity();  // the display is turned on at a wake-up
  }
}

void CMainWnd::WakeWorker() {
  worker_.Wake();
}

void CMainWnd::ShowState(InhibitState state) {
  if (tray_) {
    tray_->SetIcon(icons_[state]);
    SettleXlibRequests();
  }
  if (notifier_) notifier_->SetIcon(icons_[state]);
}

bool CMainWnd::LoggingOn() const {
  return app_.logging_on();
}

FileError CMainWnd::Log(std::string_view line) {
  return app_.WriteLog(line);
}

}  // namespace dozerin
