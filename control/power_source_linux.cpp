#include "control/power_source_linux.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <cmath>

namespace dozerin {
namespace {

constexpr char kService[] = "org.freedesktop.UPower";
constexpr char kPath[] = "/org/freedesktop/UPower";
constexpr char kDisplayDevice[] = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr char kDeviceInterface[] = "org.freedesktop.UPower.Device";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";

// One object's properties of an interface, as UPower answers them now; empty when it did not
// answer with a{sv}.
QVariantMap GetAll(const char* path, const char* interface) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(path),
                                     QString::fromLatin1(kProperties), QStringLiteral("GetAll"));
  call << QString::fromLatin1(interface);
  const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, 3000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QStringLiteral("a{sv}")) {
    return {};
  }
  return qdbus_cast<QVariantMap>(reply.arguments().at(0));
}

}  // namespace

UPowerSource::UPowerSource(std::function<void(const PowerSource&)> changed)
    : changed_(std::move(changed)) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  watcher_ = std::make_unique<QDBusServiceWatcher>(QString::fromLatin1(kService), bus,
                                                   QDBusServiceWatcher::WatchForOwnerChange);
  connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& owner) {
            if (!owner.isEmpty()) {
              ReadAll();
              return;
            }
            // No UPower: not known, as on a machine without one.
            on_battery_ = false;
            present_ = true;
            percent_ = -1;
            Publish();
          });
  // Taken from UPower's own connection only: the bus gives the signals of the name's owner.
  for (const char* path : {kPath, kDisplayDevice}) {
    bus.connect(QString::fromLatin1(kService), QString::fromLatin1(path),
                QString::fromLatin1(kProperties), QStringLiteral("PropertiesChanged"), this,
                SLOT(OnPropertiesChanged(QDBusMessage)));
  }
  if (bus.interface() != nullptr &&
      bus.interface()->isServiceRegistered(QString::fromLatin1(kService))) {
    ReadAll();
  }
}

UPowerSource::~UPowerSource() = default;

void UPowerSource::ReadAll() {
  Take(QString::fromLatin1(kService), GetAll(kPath, kService));
  present_ = true;
  percent_ = -1;
  Take(QString::fromLatin1(kDeviceInterface), GetAll(kDisplayDevice, kDeviceInterface));
}

void UPowerSource::OnPropertiesChanged(const QDBusMessage& message) {
  if (message.signature() != QStringLiteral("sa{sv}as")) return;
  const QString interface = message.arguments().at(0).toString();
  const bool display = message.path() == QLatin1String(kDisplayDevice);
  if ((display && interface != QLatin1String(kDeviceInterface)) ||
      (!display && interface != QLatin1String(kService))) {
    return;
  }
  Take(interface, qdbus_cast<QVariantMap>(message.arguments().at(1)));
}

void UPowerSource::Take(const QString& interface, const QVariantMap& properties) {
  // Each value is taken only in the type UPower gives it.
  const auto typed = [&properties](const char* name, QMetaType::Type type) {
    const auto it = properties.find(QString::fromLatin1(name));
    return it != properties.end() && it->metaType().id() == type ? *it : QVariant();
  };
  if (interface == QLatin1String(kService)) {
    if (const QVariant on = typed("OnBattery", QMetaType::Bool); on.isValid()) {
      on_battery_ = on.toBool();
    }
  } else {
    if (const QVariant present = typed("IsPresent", QMetaType::Bool); present.isValid()) {
      present_ = present.toBool();
    }
    if (const QVariant percent = typed("Percentage", QMetaType::Double); percent.isValid()) {
      const double value = percent.toDouble();
      percent_ = std::isfinite(value) && value >= 0 && value <= 100 ? value : -1;
    }
  }
  Publish();
}

void UPowerSource::Publish() {
  PowerSource next;
  next.on_battery = on_battery_;
  next.percent = present_ && percent_ >= 0 ? static_cast<int>(std::lround(percent_)) : -1;
  if (published_ && next.on_battery == now_.on_battery && next.percent == now_.percent) return;
  now_ = next;
  published_ = true;
  if (changed_) changed_(now_);
}

}  // namespace dozerin
