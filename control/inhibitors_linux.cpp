#include "control/inhibitors_linux.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>

namespace dozerin {
namespace {

// A bus call waits at most this long: the user-interface thread makes them.
constexpr int kCallTimeoutMs = 3000;

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

QDBusConnection Bus(bool system) {
  return system ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
}

bool Present(const ServiceInfo& s) {
  QDBusConnection bus = Bus(s.system_bus);
  return bus.isConnected() && bus.interface() != nullptr &&
         bus.interface()->isServiceRegistered(QString::fromLatin1(s.name)).value();
}

QDBusMessage Call(const ServiceInfo& s, const char* method, const QVariantList& args) {
  QDBusMessage m =
      QDBusMessage::createMethodCall(QString::fromLatin1(s.name), QString::fromLatin1(s.path),
                                     QString::fromLatin1(s.interface), QString::fromLatin1(method));
  m.setArguments(args);
  return Bus(s.system_bus).call(m, QDBus::Block, kCallTimeoutMs);
}

}  // namespace

Inhibitors::Inhibitors(std::function<void(const QString& line)> log, QObject* parent)
    : QObject(parent), log_(std::move(log)) {
  // A service that failed is tried again once its name comes back onto the bus.
  auto watch = [this](bool system) {
    auto* w = new QDBusServiceWatcher(this);  // owned by this object
    w->setConnection(Bus(system));
    w->setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    for (int s = 0; s < kServiceCount; ++s) {
      if (kServices[s].system_bus == system) w->addWatchedService(kServices[s].name);
    }
    connect(w, &QDBusServiceWatcher::serviceRegistered, this, [this](const QString& name) {
      for (int s = 0; s < kServiceCount; ++s) {
        if (name == QLatin1String(kServices[s].name)) failed_[s] = false;
      }
    });
    return w;
  };
  system_watcher_ = watch(true);
  session_watcher_ = watch(false);
}

Inhibitors::~Inhibitors() {
  ReleaseAll();
  ReleaseSleepDelay();
}

void Inhibitors::Failed(Service s, const QString& error) {
  if (failed_[s]) return;
  failed_[s] = true;
  log_(QStringLiteral("Inhibit failed: %1: %2\n").arg(kServices[s].name, error));
}

bool Inhibitors::Take(Service s, uint gnome_flags, Held* held) {
  const ServiceInfo& info = kServices[s];
  QDBusMessage reply;
  switch (s) {
    case kLogind:
      reply = Call(info, "Inhibit", {QStringLiteral("idle"), kApp, why_, QStringLiteral("block")});
      break;
    case kGnome:
      reply = Call(info, "Inhibit", {kApp, uint(0), why_, gnome_flags});
      break;
    default:
      reply = Call(info, "Inhibit", {kApp, why_});
      break;
  }
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    Failed(s, reply.errorMessage().isEmpty() ? QStringLiteral("no answer") : reply.errorMessage());
    return false;
  }
  const QVariant value = reply.arguments().first();
  if (s == kLogind) {
    held->fd = qvariant_cast<QDBusUnixFileDescriptor>(value);
    if (!held->fd->isValid()) {
      Failed(s, QStringLiteral("no descriptor"));
      return false;
    }
  } else {
    held->cookie = value.toUInt();
    held->flags = gnome_flags;
  }
  return true;
}

void Inhibitors::Release(Service s, Held* held) {
  if (held->fd) {
    held->fd.reset();  // closing our end ends the lock
    return;
  }
  if (held->cookie && Present(kServices[s])) {
    Call(kServices[s], s == kGnome ? "Uninhibit" : "UnInhibit", {*held->cookie});
  }
}

void Inhibitors::Apply(Service s, bool wanted, uint gnome_flags) {
  std::optional<Held>& held = held_[s];
  if (held && (!wanted || held->flags != gnome_flags)) {
    Release(s, &*held);
    held.reset();
  }
  if (!wanted || held || failed_[s] || !Present(kServices[s])) return;
  Held taken;
  if (Take(s, gnome_flags, &taken)) held = std::move(taken);
}

void Inhibitors::Want(bool system, bool display, const QString& why) {
  const bool any = system || display;
  if (any) why_ = why.isEmpty() ? QStringLiteral("in use") : why;
  Apply(kLogind, any, 0);
  Apply(kPowerManagement, any, 0);
  Apply(kGnome, any, any ? kGnomeSuspend | (display ? kGnomeIdle : 0) : 0);
  Apply(kScreenSaver, display, 0);
}

void Inhibitors::SimulateUserActivity() {
  if (Present(kServices[kScreenSaver])) Call(kServices[kScreenSaver], "SimulateUserActivity", {});
}

void Inhibitors::TakeSleepDelay() {
  if (sleep_delay_ || !Present(kServices[kLogind])) return;
  const QDBusMessage reply =
      Call(kServices[kLogind], "Inhibit",
           {QStringLiteral("sleep"), kApp, QStringLiteral("Stopping the activity watch"),
            QStringLiteral("delay")});
  if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
    sleep_delay_ = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
  }
}

void Inhibitors::ReleaseSleepDelay() {
  sleep_delay_.reset();
}

}  // namespace dozerin
