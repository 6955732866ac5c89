// The Linux counterparts of the execution-state requests: the inhibitors of logind and of the
// desktop, held over D-Bus while the machine must stay awake and let go when it need not.
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QDBusServiceWatcher;

namespace dozerin {

class Inhibitors : public QObject {
  Q_OBJECT

 public:
  // log receives one line for each service that fails (once, until its name reappears).
  explicit Inhibitors(std::function<void(const QString& line)> log, QObject* parent = nullptr);
  ~Inhibitors() override;

  // What is wanted from now on: system (no automatic suspend) and display (no blanking or
  // locking either), for the reason why. Takes and releases the locks to match.
  void Want(bool system, bool display, const QString& why);
  void ReleaseAll() { Want(false, false, {}); }
  // Turns the display on, as at a wake-up (org.freedesktop.ScreenSaver.SimulateUserActivity).
  void SimulateUserActivity();

  // logind's "sleep" lock in "delay" mode, which lets the program finish its suspend steps.
  void TakeSleepDelay();
  void ReleaseSleepDelay();
  bool sleep_delay_held() const { return sleep_delay_.has_value(); }

 private:
  // One service's lock: a logind descriptor or a cookie of a desktop service.
  struct Held {
    std::optional<QDBusUnixFileDescriptor> fd;
    std::optional<uint> cookie;
    uint flags = 0;  // GNOME's inhibit flags of the cookie
  };
  enum Service { kLogind, kPowerManagement, kGnome, kScreenSaver, kServiceCount };

  void Apply(Service s, bool wanted, uint gnome_flags);
  bool Take(Service s, uint gnome_flags, Held* held);
  void Release(Service s, Held* held);
  void Failed(Service s, const QString& error);

  std::function<void(const QString&)> log_;
  std::optional<Held> held_[kServiceCount];
  bool failed_[kServiceCount] = {};
  QString why_;
  std::optional<QDBusUnixFileDescriptor> sleep_delay_;
  QDBusServiceWatcher* system_watcher_ = nullptr;
  QDBusServiceWatcher* session_watcher_ = nullptr;
};

}  // namespace dozerin
