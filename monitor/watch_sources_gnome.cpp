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
#include <mutex>

#include "monitor/watch_sources_wayland.h"

namespace dozerin {
namespace {

constexpr char kIdleService[] = "org.gnome.Mutter.IdleMonitor";
constexpr char kIdlePath[] = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr char kIdleInterface[] = "org.gnome.Mutter.IdleMonitor";

// What the listener keeps for the worker.
struct Kept {
  std::mutex mutex;
  std::vector<TopLevelWindow> windows;
  bool monitoring = false;  // the idle monitor has taken the watch
  bool active = false;      // input since the last second without any
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
class GnomeShellListener : public QObject {
  Q_OBJECT

 public:
  explicit GnomeShellListener(QObject* parent)
      : QObject(parent),
        bus_(QDBusConnection::sessionBus()),
        watcher_(Q(kShellWindowsService), bus_, QDBusServiceWatcher::WatchForOwnerChange) {
    watcher_.addWatchedService(Q(kIdleService));
    bus_.connect(Q(kShellWindowsService), Q(kShellWindowsPath), Q(kShellWindowsInterface),
                 QStringLiteral("WindowsChanged"), this, SLOT(OnWindows(QDBusMessage)));
    bus_.connect(Q(kIdleService), Q(kIdlePath), Q(kIdleInterface), QStringLiteral("WatchFired"),
                 this, SLOT(OnWatchFired(uint)));
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString& name, const QString&, const QString& owner) {
              Restart(name, !owner.isEmpty());
            });
    Restart(Q(kShellWindowsService), true);
    Restart(Q(kIdleService), true);
  }

 public slots:
  void OnWindows(const QDBusMessage& message) {
    if (message.arguments().isEmpty()) return;
    std::vector<TopLevelWindow> windows;
    const QDBusArgument list = message.arguments().at(0).value<QDBusArgument>();
    if (list.currentType() != QDBusArgument::ArrayType) return;
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
    Kept& kept = Shared();
    if (id == idle_watch_ && idle_watch_ != 0) {
      {
        const std::lock_guard<std::mutex> lock(kept.mutex);
        kept.active = false;
      }
      // A watch for the next input, which Mutter drops once it fires.
      Call(QStringLiteral("AddUserActiveWatch"), {}, nullptr);
    } else if (idle_watch_ != 0) {
      // The user-active watch (the only other one), which may fire before its id comes back.
      const std::lock_guard<std::mutex> lock(kept.mutex);
      kept.active = true;
      kept.resumed = true;
    }
  }

 private:
  // Reads everything again when a service starts; forgets what it said when it ends.
  void Restart(const QString& name, bool present) {
    Kept& kept = Shared();
    if (name == Q(kShellWindowsService)) {
      {
        const std::lock_guard<std::mutex> lock(kept.mutex);
        kept.windows.clear();
      }
      if (!present) return;
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
    idle_watch_ = 0;
    {
      const std::lock_guard<std::mutex> lock(kept.mutex);
      kept.monitoring = false;
      kept.active = false;
    }
    if (present) {
      Call(QStringLiteral("AddIdleWatch"),
           {QVariant::fromValue<qulonglong>(WaylandDesktop::kIdleTimeoutMs)}, &idle_watch_);
    }
  }

  // Asks the idle monitor for a watch; its id lands in *id, when given.
  void Call(const QString& method, const QList<QVariant>& arguments, uint* id) {
    QDBusMessage ask =
        QDBusMessage::createMethodCall(Q(kIdleService), Q(kIdlePath), Q(kIdleInterface), method);
    ask.setArguments(arguments);
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [id](QDBusPendingCallWatcher* w) {
      const QDBusPendingReply<uint> reply = *w;
      if (!reply.isError()) {
        if (id != nullptr) *id = reply.value();
        Kept& kept = Shared();
        const std::lock_guard<std::mutex> lock(kept.mutex);
        kept.monitoring = true;
      }
      w->deleteLater();
    });
  }

  QDBusConnection bus_;
  QDBusServiceWatcher watcher_;
  uint idle_watch_ = 0;
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
  const bool active = kept.active || kept.resumed;
  kept.resumed = false;
  return active;
}

}  // namespace dozerin

#include "watch_sources_gnome.moc"
