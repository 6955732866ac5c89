#include "monitor/watch_sources_gnome.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>
#include <mutex>

#include "monitor/watch_sources_wayland.h"

namespace dozerin {
namespace {

constexpr char kIdleService[] = "org.gnome.Mutter.IdleMonitor";
constexpr char kIdlePath[] = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr char kIdleInterface[] = "org.gnome.Mutter.IdleMonitor";

constexpr char kShellService[] = "org.gnome.Shell";
constexpr char kWindowsSignature[] = "a(ss)";

// What the listener keeps for the worker.
struct Kept {
  std::mutex mutex;
  std::vector<TopLevelWindow> windows;
  bool monitoring = false;  // the idle monitor has taken a watch
  bool resumed = false;     // input since the worker last asked
};

Kept& Shared() {
  static Kept kept;
  return kept;
}

QString Q(const char* text) {
  return QString::fromLatin1(text);
}

}  // namespace

// Lives on the main thread, whose event loop delivers the bus's signals.
//
// Activity comes from Mutter's user-active watch alone: its idle watch does not fire while anyone
// holds GNOME's idle inhibitor, and this program holds it itself while it keeps the display on,
// so an idle watch would report input for ever after the first. A user-active watch fires once, at
// the next input; it is asked for again a second later, so that input reaches the worker at most
// once a second and costs Mutter one call a second while the user works.
class GnomeShellListener : public QObject {
  Q_OBJECT

 public:
  explicit GnomeShellListener(QObject* parent)
      : QObject(parent),
        bus_(QDBusConnection::sessionBus()),
        watcher_(Q(kShellWindowsService), bus_, QDBusServiceWatcher::WatchForOwnerChange) {
    watcher_.addWatchedService(Q(kIdleService));
    watcher_.addWatchedService(Q(kShellService));
    // Qt delivers only signals of this signature from the name's owner; OnWindows checks again.
    bus_.connect(Q(kShellWindowsService), Q(kShellWindowsPath), Q(kShellWindowsInterface),
                 QStringLiteral("WindowsChanged"), Q(kWindowsSignature), this,
                 SLOT(OnWindows(QDBusMessage)));
    bus_.connect(Q(kIdleService), Q(kIdlePath), Q(kIdleInterface), QStringLiteral("WatchFired"),
                 QStringLiteral("u"), this, SLOT(OnWatchFired(uint)));
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString& name, const QString&, const QString& owner) {
              if (name == Q(kShellService)) {
                shell_ = owner;
              } else {
                Restart(name, !owner.isEmpty());
              }
            });
    rearm_.setSingleShot(true);
    rearm_.setInterval(static_cast<int>(WaylandDesktop::kIdleTimeoutMs));
    connect(&rearm_, &QTimer::timeout, this, [this] { ArmActiveWatch(); });
    if (const QDBusConnectionInterface* names = bus_.interface()) {
      shell_ = names->serviceOwner(Q(kShellService)).value();
    }
    Restart(Q(kShellWindowsService), true);
    Restart(Q(kIdleService), true);
  }

 public slots:
  // The extension's list, as a signal or as the answer to GetWindows. Taken only from GNOME
  // Shell's own connection, where the extension runs, and only in the extension's signature:
  // anyone may own the extension's name while the extension is off.
  void OnWindows(const QDBusMessage& message) {
    if (message.signature() != Q(kWindowsSignature) || shell_.isEmpty() ||
        message.service() != shell_) {
      return;
    }
    std::vector<TopLevelWindow> windows;
    const QDBusArgument list = message.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd() && windows.size() < WaylandDesktop::kMaxWindows) {
      QString title;
      QString app_id;
      list.beginStructure();
      list >> title >> app_id;
      list.endStructure();
      windows.push_back({title.toStdString(), app_id.toStdString().substr(0, 99)});
    }
    list.endArray();
    Kept& kept = Shared();
    const std::lock_guard<std::mutex> lock(kept.mutex);
    kept.windows = std::move(windows);
  }

  void OnWatchFired(uint id) {
    if (id == 0) return;
    if (id != active_watch_) {
      // Input right after the request fires the watch before its id comes back.
      if (arming_) fired_early_ = id;
      return;
    }
    Fired();
  }

 private:
  void Fired() {
    active_watch_ = 0;  // Mutter drops a user-active watch once it fires
    {
      Kept& kept = Shared();
      const std::lock_guard<std::mutex> lock(kept.mutex);
      kept.resumed = true;
    }
    rearm_.start();
  }

  // Reads everything again when a service starts; forgets what it said when it ends.
  void Restart(const QString& name, bool present) {
    Kept& kept = Shared();
    if (name == Q(kShellWindowsService)) {
      {
        const std::lock_guard<std::mutex> lock(kept.mutex);
        kept.windows.clear();
      }
      if (!present) return;
      // Asking also makes the extension send its changes to this program.
      QDBusMessage ask =
          QDBusMessage::createMethodCall(Q(kShellWindowsService), Q(kShellWindowsPath),
                                         Q(kShellWindowsInterface), QStringLiteral("GetWindows"));
      auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
      connect(pending, &QDBusPendingCallWatcher::finished, this,
              [this](QDBusPendingCallWatcher* w) {
                if (!w->isError()) OnWindows(w->reply());
                w->deleteLater();
              });
      return;
    }
    active_watch_ = 0;
    arming_ = false;
    ++generation_;
    rearm_.stop();
    {
      const std::lock_guard<std::mutex> lock(kept.mutex);
      kept.monitoring = false;
      kept.resumed = false;
    }
    if (present) ArmActiveWatch();
  }

  // Asks the idle monitor to tell of the next input.
  void ArmActiveWatch() {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        Q(kIdleService), Q(kIdlePath), Q(kIdleInterface), QStringLiteral("AddUserActiveWatch"));
    arming_ = true;
    fired_early_ = 0;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    const unsigned generation = generation_;
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* w) {
              const QDBusPendingReply<uint> reply = *w;
              w->deleteLater();
              // An answer from a monitor that has gone since is of no use.
              if (generation != generation_) return;
              arming_ = false;
              if (reply.isError()) return;
              active_watch_ = reply.value();
              {
                Kept& kept = Shared();
                const std::lock_guard<std::mutex> lock(kept.mutex);
                kept.monitoring = true;
              }
              if (fired_early_ == active_watch_) Fired();
            });
  }

  QDBusConnection bus_;
  QDBusServiceWatcher watcher_;
  QTimer rearm_;
  QString shell_;  // GNOME Shell's unique name on the bus
  uint active_watch_ = 0;
  bool arming_ = false;  // a request for a watch awaits its answer
  uint fired_early_ = 0;
  unsigned generation_ = 0;
};

bool GnomeShellWindowsEnabled() {
  const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  return bus != nullptr && bus->isServiceRegistered(Q(kShellWindowsService)).value();
}

void ListenToGnomeShell() {
  static bool listening = false;
  if (listening || QCoreApplication::instance() == nullptr) return;
  listening = true;
  new GnomeShellListener(QCoreApplication::instance());  // owned by the application
}

std::vector<TopLevelWindow> GnomeShellWindows::TopLevelWindows() {
  Kept& kept = Shared();
  const std::lock_guard<std::mutex> lock(kept.mutex);
  return kept.windows;
}

std::optional<bool> GnomeShellWindows::UserWasActive() {
  Kept& kept = Shared();
  const std::lock_guard<std::mutex> lock(kept.mutex);
  if (!kept.monitoring) return std::nullopt;
  const bool active = kept.resumed;
  kept.resumed = false;
  return active;
}

}  // namespace dozerin

#include "watch_sources_gnome.moc"
