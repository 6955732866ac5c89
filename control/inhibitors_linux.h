// The Linux counterparts of the execution-state requests: the inhibitors of logind and of the
// desktop, held over D-Bus while the machine must stay awake and let go when it need not.
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace dozerin {

class Inhibitors : public QObject {
  Q_OBJECT

 public:
  // log receives one line for each lock that fails (once, until it is taken or its service
  // comes back onto the bus).
  explicit Inhibitors(std::function<void(const QString& line)> log, QObject* parent = nullptr);
  ~Inhibitors() override;

  // What is wanted from now on: system (no automatic suspend) and display (no blanking or
  // locking either), for the reason why. Takes and releases the locks to match, and tries again
  // those that failed once their back-off has passed.
  void Want(bool system, bool display, const QString& why);
  void ReleaseAll() { Want(false, false, {}); }
  // Turns the display on, as at a wake-up (org.freedesktop.ScreenSaver.SimulateUserActivity).
  void SimulateUserActivity();

  // logind's "sleep" lock in "delay" mode, which lets the program finish its suspend steps.
  void TakeSleepDelay();
  void ReleaseSleepDelay();
  bool sleep_delay_held() const { return locks_[kSleepDelay].held.has_value(); }

  // Why a wanted lock is not held: "org.freedesktop.login1: Access denied"; empty when every
  // wanted lock of a service on the bus is held.
  QString Trouble() const;

 private:
  // The services on the buses, and the locks taken from them (logind gives two).
  enum Service {
    kLogindService,
    kPowerManagementService,
    kGnomeService,
    kScreenSaverService,
    kServiceCount
  };
  enum LockId { kIdle, kPowerManagement, kGnome, kScreenSaver, kSleepDelay, kLockCount };

  // One lock as held: a logind descriptor or a cookie of a desktop service.
  struct Held {
    std::optional<QDBusUnixFileDescriptor> fd;
    std::optional<uint> cookie;
    uint flags = 0;      // GNOME's inhibit flags of the cookie
    QString why;         // the reason given, without its figures
    bool stale = false;  // taken from a service owner that has gone since
  };
  struct Lock {
    bool wanted = false;
    uint flags = 0;  // GNOME's inhibit flags wanted
    std::optional<Held> held;
    QString failure;  // the last failure, until the lock is taken
    int failures = 0;
    std::chrono::steady_clock::time_point retry_at{};
    // Forgets the failures: the next take is tried at once, and its failure logged.
    void Forgive() {
      failure.clear();
      failures = 0;
      retry_at = {};
    }
  };

  static Service ServiceOf(LockId lock);
  void Apply(LockId lock);
  std::optional<Held> Take(LockId lock);
  void Release(LockId lock, Held* held);
  void OwnerChanged(Service s, bool present);

  std::function<void(const QString&)> log_;
  Lock locks_[kLockCount];
  bool present_[kServiceCount] = {};
  QString why_;
};

}  // namespace dozerin
