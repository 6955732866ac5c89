// The power source from UPower on the system bus, followed through its signals: whether the
// machine runs on battery, and the charge of its display device. Without UPower (a desktop, a
// container) the source is not known, which counts as mains.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "control/inhibit_state_machine.h"

class QDBusServiceWatcher;

namespace dozerin {

class UPowerSource : public QObject {
  Q_OBJECT

 public:
  // changed receives each new reading, the first one included.
  explicit UPowerSource(std::function<void(const PowerSource&)> changed);
  ~UPowerSource() override;

  const PowerSource& now() const { return now_; }

 private slots:
  void OnPropertiesChanged(const QDBusMessage& message);

 private:
  // Reads both objects' properties again (a new owner of the name, or the start).
  void ReadAll();
  void Take(const QString& interface, const QVariantMap& properties);
  void Publish();

  std::function<void(const PowerSource&)> changed_;
  std::unique_ptr<QDBusServiceWatcher> watcher_;
  PowerSource now_;  // as last published
  bool published_ = false;
  bool on_battery_ = false;
  bool present_ = true;  // the display device says a battery is there
  double percent_ = -1;
};

}  // namespace dozerin
