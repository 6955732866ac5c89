// Start-up and shutdown of the Linux program: files beside the executable or in the user's XDG
// folders, one instance per user and executable name, SIGTERM and SIGINT ending it like the close
// command.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "app/command_hold_linux.h"
#include "app/instance_lock_linux.h"
#include "app/main_app.h"
#include "app/text.h"
#include "control/inhibitors_linux.h"
#include "control/main_wnd_linux.h"
#include "monitor/watch_sources_linux.h"
#include "res/resource.h"
#include "res/texts.h"

namespace dozerin {
namespace {

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Makes folder and its parents, like mkdir -p; errors show later, when the file is written.
void MakeFolders(const std::string& file) {
  for (std::size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1)) {
    mkdir(file.substr(0, at).c_str(), 0700);
  }
}

// A text of the program in the user's language with its %1 filled in, for standard error.
std::string Said(int id, std::string_view value = {}) {
  return text::FillIn(UiText(id, JapaneseLocale()), value);
}

// Calls a method of the running instance on the session bus; its reply, or the error when it did
// not take the call.
QDBusMessage CallRunning(const std::string& base_name, const QString& method,
                         const QVariantList& arguments = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromStdString(BusName(base_name)),
                                                     QString::fromLatin1(kBusPath),
                                                     QString::fromLatin1(kBusInterface), method);
  call.setArguments(arguments);
  // The running instance may still be starting: its name comes a moment after its lock.
  QDBusMessage reply;
  for (int attempt = 0; attempt < 50; ++attempt) {
    reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    if (reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return reply;
}

// Hands a hold or its stop to the running instance; false when it did not take it.
bool HandOver(const KeepAwakeRequest& request, const std::string& base_name) {
  const bool stop = request.kind == KeepAwakeRequest::Kind::kStop;
  return CallRunning(base_name, stop ? QStringLiteral("Stop") : QStringLiteral("KeepAwake"),
                     stop ? QVariantList{} : QVariantList{static_cast<qlonglong>(request.seconds)})
             .type() == QDBusMessage::ReplyMessage;
}

// Runs the command of --while under a hold: the running instance's when it takes it (the bus tells
// it who asks, and it keeps the hold until that process ends), else the locks an instance takes,
// taken here for the command's life; also when an instance that took the hold ends before the
// command. The command's exit code; 127 when it could not be started.
int RunWhile(const std::vector<std::string>& command, bool instance_running,
             const std::string& base_name) {
  const pid_t pid = StartCommand(command);
  if (pid < 0) {
    const int error = errno;
    std::fprintf(stderr, "%s (%s)\n", Said(IDS_WHILE_NOT_STARTED, command[0]).c_str(),
                 std::strerror(error));
    return 127;
  }
  const QString holder = QString::fromStdString(WhileHolder(command[0], pid));
  const QString instance = QString::fromStdString(BusName(base_name));
  QDBusConnection bus = QDBusConnection::sessionBus();
  // Watched before it is asked, so that its end after the answer is not missed.
  QDBusServiceWatcher watcher(instance, bus, QDBusServiceWatcher::WatchForUnregistration);
  const bool handed_over =
      instance_running &&
      CallRunning(base_name, QStringLiteral("KeepAwakeWhile"), {holder}).type() ==
          QDBusMessage::ReplyMessage;
  Inhibitors locks([](const QString&) {});
  bool held_here = false;
  const auto hold_here = [&] {
    if (std::exchange(held_here, true)) return;
    locks.Want(true, false, QStringLiteral("kept awake for ") + holder);
    const QString trouble = locks.Trouble();
    if (!trouble.isEmpty()) {
      std::fprintf(stderr, "%s: could not keep awake: %s\n", base_name.c_str(),
                   trouble.toUtf8().constData());
    }
  };
  QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, hold_here);
  if (!handed_over || bus.interface() == nullptr ||
      !bus.interface()->isServiceRegistered(instance)) {
    hold_here();
  }
  // The command's end, and the instance's, come through the event loop.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return WaitForCommand(pid);
  PassSignalsTo(pid);
  QSocketNotifier ended(pidfd, QSocketNotifier::Read);
  int code = 127;
  QObject::connect(&ended, &QSocketNotifier::activated, [&] {
    int status = 0;
    pid_t reaped = -1;
    do {
      reaped = waitpid(pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0) return;
    code = reaped == pid ? ExitCodeOf(status) : 127;
    QCoreApplication::quit();
  });
  QCoreApplication::exec();
  close(pidfd);
  return code;
}

// A start that only asks the running instance something, or runs a command under a hold: it
// shows nothing, so it needs no display, no restart and none of Qt's options (a command's own
// "-platform" is the command's), and the command gets the environment as it came.
bool RequestStart(const KeepAwakeRequest& request) {
  if (request.kind == KeepAwakeRequest::Kind::kWhile ||
      request.kind == KeepAwakeRequest::Kind::kStop || request.ask_status) {
    return true;
  }
  if (request.kind != KeepAwakeRequest::Kind::kStart && !request.open_settings) return false;
  // A hold or the settings go to the running instance when there is one; else this start is it.
  const std::string exe = ExecutablePath();
  InstanceLock probe;
  return !exe.empty() &&
         probe.Take(InstanceLockPaths(Env("XDG_RUNTIME_DIR"), DeriveSidePaths(exe).base_name,
                                      getuid())) == InstanceLock::Outcome::kRunning;
}

}  // namespace

struct CMainApp::Platform {
  InstanceLock lock;  // held for the life of the process
  std::unique_ptr<CMainWnd> wnd;
  std::unique_ptr<QSocketNotifier> signal_notifier;
};

CMainApp::CMainApp() : platform_(std::make_unique<Platform>()) {}

CMainApp::~CMainApp() = default;

bool CMainApp::InitInstance() {
  const std::string exe = ExecutablePath();
  if (exe.empty()) return false;
  const SidePaths beside = DeriveSidePaths(exe);
  const std::string folder = exe.substr(0, exe.rfind('/') + 1);
  // An installed program (under /usr) keeps its files in the user's folders, even for root.
  const bool installed = exe.rfind("/usr/", 0) == 0;
  paths_ = ChooseUserPaths(beside, !installed && access(beside.ini.c_str(), F_OK) == 0,
                           !installed && access(folder.c_str(), W_OK) == 0, Env("XDG_CONFIG_HOME"),
                           Env("XDG_STATE_HOME"), Env("HOME"));
  if (paths_.ini != beside.ini) {
    MakeFolders(paths_.ini);
    MakeFolders(paths_.log);
  }
  store_.SetPath(paths_.ini);
  log_.Configure(paths_.log, store_.ReadInt(settings::kLog) != 0);

  // One instance per user and executable name: a lock that ends with the process. Only a lock
  // held by another process means another instance; with no usable place it runs unlocked.
  std::string tried;
  const InstanceLock::Outcome lock = platform_->lock.Take(
      InstanceLockPaths(Env("XDG_RUNTIME_DIR"), paths_.base_name, getuid()), &tried);
  if (lock == InstanceLock::Outcome::kNone) {
    std::fprintf(stderr, "%s: no place for the one-instance lock; running without it.\n%s",
                 paths_.base_name.c_str(), tried.c_str());
  }
  if (keep_awake_.kind == KeepAwakeRequest::Kind::kWhile) {
    // Not an instance: a normal start may come while the command runs.
    platform_->lock.Release();
    start_exit_code_ =
        RunWhile(keep_awake_.command, lock == InstanceLock::Outcome::kRunning, paths_.base_name);
    return false;
  }
  if (lock == InstanceLock::Outcome::kRunning) {
    // Another start: silent, unless it brings a hold or a stop, asks for the settings or asks how
    // things stand.
    if (keep_awake_.kind != KeepAwakeRequest::Kind::kNone &&
        !HandOver(keep_awake_, paths_.base_name)) {
      std::fprintf(stderr, "%s\n", Said(IDS_KEEP_AWAKE_NOT_TAKEN).c_str());
      start_exit_code_ = 1;
    }
    // The lock says an instance runs: a call it does not answer means it cannot be reached
    // (no session bus, or its name taken by another), not that it is not running.
    const auto unreachable = [this](const QDBusMessage& reply) {
      std::fprintf(stderr, "%s\n%s\n", Said(kTextInstanceUnreachable).c_str(),
                   reply.errorMessage().toUtf8().constData());
      start_exit_code_ = 1;
    };
    if (keep_awake_.open_settings) {
      const QDBusMessage reply = CallRunning(paths_.base_name, QStringLiteral("Settings"));
      if (reply.type() != QDBusMessage::ReplyMessage) unreachable(reply);
    }
    if (keep_awake_.ask_status) {
      const QDBusMessage reply = CallRunning(paths_.base_name, QStringLiteral("Status"));
      if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QStringLiteral("s")) {
        std::printf("%s\n", reply.arguments().at(0).toString().toUtf8().constData());
      } else {
        unreachable(reply);
      }
    }
    return false;
  }
  if (keep_awake_.ask_status) {
    std::printf("%s\n", Said(IDS_NOT_RUNNING).c_str());
    start_exit_code_ = 1;
    return false;
  }
  // A stop with no instance running: there is no hold to stop.
  if (keep_awake_.kind == KeepAwakeRequest::Kind::kStop) return false;

  // A start that came to ask an instance which has ended since: it has no interface to run one.
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::fprintf(stderr, "%s\n", Said(IDS_KEEP_AWAKE_NOT_TAKEN).c_str());
    start_exit_code_ = 1;
    return false;
  }
  auto wnd = std::make_unique<CMainWnd>(*this);
  if (!wnd->Create()) return false;
  platform_->wnd = std::move(wnd);
  if (keep_awake_.kind == KeepAwakeRequest::Kind::kStart) {
    platform_->wnd->StartHold(keep_awake_.seconds);
  }
  if (keep_awake_.open_settings) platform_->wnd->OpenSettings();

  // SIGTERM and SIGINT reach the event loop through a pipe and end the program cleanly.
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    platform_->signal_notifier =
        std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(platform_->signal_notifier.get(), &QSocketNotifier::activated, [this] {
      char drained[16];
      while (read(g_signal_pipe[0], drained, sizeof drained) > 0) {
      }
      platform_->wnd->Close();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
  }
  return true;
}

int CMainApp::Run() {
  return QCoreApplication::exec();
}

int CMainApp::ExitInstance(int exit_code) {
  platform_->signal_notifier.reset();
  platform_->wnd.reset();
  return exit_code;
}

void CMainApp::ReportLogFailure(FileError error) {
  if (error == FileError::kNone || reporting_failure_) return;
  reporting_failure_ = true;
  int id = IDS_FILE_GENERIC;
  switch (error) {
    case FileError::kAccessDenied:
      id = IDS_FILE_ACCESS_DENIED;
      break;
    case FileError::kSharingViolation:
      id = IDS_FILE_SHARING_VIOLATION;
      break;
    case FileError::kBadPath:
      id = IDS_FILE_BAD_PATH;
      break;
    case FileError::kDiskFull:
      id = IDS_FILE_DISK_FULL;
      break;
    default:
      break;
  }
  QMessageBox::critical(nullptr, QStringLiteral("Dozerin"),
                        QString::fromStdString(Said(id, log_.path())));
  reporting_failure_ = false;
}

CMainApp& App() {
  static CMainApp app;
  return app;
}

}  // namespace dozerin

int main(int argc, char** argv) {
  using dozerin::KeepAwakeRequest;
  const KeepAwakeRequest request =
      dozerin::ParseKeepAwake(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (request.kind == KeepAwakeRequest::Kind::kBad) {
    std::fprintf(stderr, "%s\n", dozerin::Said(IDS_KEEP_AWAKE_BAD_VALUE, request.value).c_str());
    return 2;
  }
  if (request.kind == KeepAwakeRequest::Kind::kWhile && request.command.empty()) {
    std::fprintf(stderr, "%s\n", dozerin::Said(IDS_WHILE_NO_COMMAND).c_str());
    return 2;
  }
  std::unique_ptr<QCoreApplication> qt;
  int qt_argc = argc > 0 ? 1 : 0;  // a request start gives Qt its name alone
  if (dozerin::RequestStart(request)) {
    qt = std::make_unique<QCoreApplication>(qt_argc, argv);
  } else {
    // Wayland first, then an X server that answers, and with neither (a server, a session
    // without a display, a Wayland session without Qt's Wayland plugin) the program still runs,
    // log only, on Qt's display-less platform: Qt takes the first of the list that it can start.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
      std::string platforms;
      if (std::getenv("WAYLAND_DISPLAY") != nullptr) platforms += "wayland;";
      if (std::getenv("DISPLAY") != nullptr && dozerin::X11Available()) platforms += "xcb;";
      setenv("QT_QPA_PLATFORM", (platforms + "offscreen").c_str(), 1);
    }
    qt = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // message boxes come and go; the icon stays
  }
  dozerin::CMainApp& app = dozerin::App();
  app.SetKeepAwake(request);
  try {
    const int code = app.InitInstance() ? app.Run() : app.start_exit_code();
    return app.ExitInstance(code);
  } catch (...) {
    return app.ExitInstance(1);
  }
}
