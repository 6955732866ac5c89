#include "control/inhibitors_linux.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <algorithm>

namespace dozerin {
namespace {

// A bus call waits at most this long: the user-interface thread makes them.
constexpr int kCallTimeoutMs = 3000;
// A lock that could not be taken is tried again after 5 s, then after twice as long each time,
// up to a minute.
constexpr std::chrono::seconds kFirstRetry{5};
constexpr std::chrono::seconds kLongestRetry{60};

struct ServiceInfo {
  bool system_bus;
  const char* name;
  const char* path;
  const char* interface;
};

constexpr ServiceInfo kServices[] = {
    {true, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager"},
    {false, "org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit",
     "org.freedesktop.PowerManagement.Inhibit"},
    {false, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager"},
    {false, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
     "org.freedesktop.ScreenSaver"},
};

constexpr uint kGnomeSuspend = 4;
constexpr uint kGnomeIdle = 8;
const QString kApp = QStringLiteral("Dozerin");
// GNOME shows an inhibitor with the icon and name of the desktop entry its app id names.
const QString kDesktopId = QStringLiteral("org.dozerin.Dozerin");

QDBusConnection Bus(bool system) {
  return system ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
}

QDBusMessage Call(const ServiceInfo& s, const char* method, const QVariantList& args) {
  QDBusMessage m =
      QDBusMessage::createMethodCall(QString::fromLatin1(s.name), QString::fromLatin1(s.path),
                                     QString::fromLatin1(s.interface), QString::fromLatin1(method));
  m.setArguments(args);
  return Bus(s.system_bus).call(m, QDBus::Block, kCallTimeoutMs);
}

// A reason without its figures: "network 2.4 MB/s" and "network 3 MB/s" are the same reason to
// a lock, while "process vlc" is another.
QString WithoutFigures(const QString& why) {
  const auto digit = std::find_if(why.begin(), why.end(), [](QChar c) { return c.isDigit(); });
  return why.left(static_cast<int>(digit - why.begin()));
}

}  // namespace

Inhibitors::Inhibitors(std::function<void(const QString& line)> log, QObject* parent)
    : QObject(parent), log_(std::move(log)) {
  // Whether each service is on the bus comes from its owner changes, and a new owner gets the
  // locks that should be held again: a cookie dies with the connection that gave it.
  for (bool system : {true, false}) {
    QDBusConnection bus = Bus(system);
    auto* watcher = new QDBusServiceWatcher(this);  // owned by this object
    watcher->setConnection(bus);
    watcher->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    for (int s = 0; s < kServiceCount; ++s) {
      if (kServices[s].system_bus == system) watcher->addWatchedService(kServices[s].name);
    }
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString& name, const QString&, const QString& owner) {
              for (int s = 0; s < kServiceCount; ++s) {
                if (name == QLatin1String(kServices[s].name)) {
                  OwnerChanged(static_cast<Service>(s), !owner.isEmpty());
                }
              }
            });
    for (int s = 0; s < kServiceCount; ++s) {
      if (kServices[s].system_bus == system && bus.isConnected() && bus.interface() != nullptr) {
        present_[s] = bus.interface()->isServiceRegistered(QString::fromLatin1(kServices[s].name));
      }
    }
  }
}

Inhibitors::~Inhibitors() {
  ReleaseAll();
  ReleaseSleepDelay();
}

Inhibitors::Service Inhibitors::ServiceOf(LockId lock) {
  switch (lock) {
    case kIdle:
    case kSleepDelay:
      return kLogindService;
    case kPowerManagement:
      return kPowerManagementService;
    case kGnome:
      return kGnomeService;
    default:
      return kScreenSaverService;
  }
}

void Inhibitors::OwnerChanged(Service s, bool present) {
  present_[s] = present;
  for (int i = 0; i < kLockCount; ++i) {
    const auto id = static_cast<LockId>(i);
    if (ServiceOf(id) != s) continue;
    Lock& lock = locks_[id];
    if (lock.held) lock.held->stale = true;
    lock.Forgive();
    Apply(id);
  }
}

std::optional<Inhibitors::Held> Inhibitors::Take(LockId id) {
  Lock& lock = locks_[id];
  const ServiceInfo& info = kServices[ServiceOf(id)];
  QDBusMessage reply;
  switch (id) {
    case kIdle:
      reply = Call(info, "Inhibit", {QStringLiteral("idle"), kApp, why_, QStringLiteral("block")});
      break;
    case kSleepDelay:
      reply = Call(info, "Inhibit",
                   {QStringLiteral("sleep"), kApp, QStringLiteral("Stopping the activity watch"),
                    QStringLiteral("delay")});
      break;
    case kGnome:
      reply = Call(info, "Inhibit", {kDesktopId, uint(0), why_, lock.flags});
      break;
    default:
      reply = Call(info, "Inhibit", {kApp, why_});
      break;
  }
  Held held;
  QString error;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    error = reply.errorMessage().isEmpty() ? QStringLiteral("no answer") : reply.errorMessage();
  } else if (info.system_bus) {
    held.fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (!held.fd->isValid()) error = QStringLiteral("no descriptor");
  } else {
    held.cookie = reply.arguments().first().toUInt();
  }
  if (!error.isEmpty()) {
    if (lock.failure.isEmpty()) {
      log_(QStringLiteral("Inhibit failed: %1: %2\n").arg(info.name, error));
    }
    lock.failure = error;
    lock.retry_at = std::chrono::steady_clock::now() +
                    std::min<std::chrono::seconds>(kFirstRetry * (1 << std::min(lock.failures, 4)),
                                                   kLongestRetry);
    ++lock.failures;
    return std::nullopt;
  }
  lock.Forgive();
  held.flags = lock.flags;
  held.why = id == kSleepDelay ? QString() : WithoutFigures(why_);
  return held;
}

void Inhibitors::Release(LockId id, Held* held) {
  // Closing our end of a descriptor ends its lock. A cookie is given back only to the owner that
  // gave it; a new owner would take it for one of its own.
  held->fd.reset();
  const Service s = ServiceOf(id);
  if (held->cookie && !held->stale && present_[s]) {
    Call(kServices[s], s == kGnomeService ? "Uninhibit" : "UnInhibit", {*held->cookie});
  }
}

void Inhibitors::Apply(LockId id) {
  Lock& lock = locks_[id];
  if (!lock.wanted) {
    if (lock.held) Release(id, &*lock.held);
    lock.held.reset();
    lock.Forgive();
    return;
  }
  const bool current = lock.held && !lock.held->stale && lock.held->flags == lock.flags &&
                       (id == kSleepDelay || lock.held->why == WithoutFigures(why_));
  if (current || !present_[ServiceOf(id)]) return;
  if (std::chrono::steady_clock::now() < lock.retry_at) return;
  // The new lock is taken before the old one goes, so that the machine is never left without.
  std::optional<Held> taken = Take(id);
  if (!taken) return;
  if (lock.held) Release(id, &*lock.held);
  lock.held = std::move(taken);
}

void Inhibitors::Want(bool system, bool display, const QString& why) {
  const bool any = system || display;
  if (any) why_ = why.isEmpty() ? QStringLiteral("in use") : why;
  locks_[kIdle].wanted = any;
  locks_[kPowerManagement].wanted = any;
  locks_[kGnome].wanted = any;
  locks_[kGnome].flags = any ? kGnomeSuspend | (display ? kGnomeIdle : 0) : 0;
  locks_[kScreenSaver].wanted = display;
  for (int i = 0; i < kLockCount; ++i) Apply(static_cast<LockId>(i));
}

QString Inhibitors::Trouble() const {
  // Nothing fails where nobody is asked: without logind and without a desktop service the
  // machine is not kept awake at all.
  if (locks_[kIdle].wanted && !present_[kLogindService] && !present_[kPowerManagementService] &&
      !present_[kGnomeService]) {
    return QStringLiteral("no service to ask");
  }
  for (int i = 0; i < kLockCount; ++i) {
    const Lock& lock = locks_[i];
    if (lock.wanted && (!lock.held || lock.held->stale) && !lock.failure.isEmpty()) {
      return QStringLiteral("%1: %2").arg(kServices[ServiceOf(static_cast<LockId>(i))].name,
                                          lock.failure);
    }
  }
  return {};
}

void Inhibitors::SimulateUserActivity() {
  if (present_[kScreenSaverService]) {
    Call(kServices[kScreenSaverService], "SimulateUserActivity", {});
  }
}

void Inhibitors::TakeSleepDelay() {
  locks_[kSleepDelay].wanted = true;
  Apply(kSleepDelay);
}

void Inhibitors::ReleaseSleepDelay() {
  locks_[kSleepDelay].wanted = false;
  Apply(kSleepDelay);
}

}  // namespace dozerin
