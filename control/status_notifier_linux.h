// The tray icon as a StatusNotifierItem with its menu over dbusmenu, on the session bus: the tray
// of every Wayland desktop and of KDE. It registers with the StatusNotifierWatcher whenever one
// appears, so a tray host that starts after the program, or restarts, shows the icon.
#pragma once

#include <QDBusMessage>
#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QMenu;

namespace dozerin {

class StatusNotifierItem : public QObject {
  Q_OBJECT

 public:
  // menu is shown as the item's menu; activate runs on a plain click (the protocol has no double
  // click); watcher_changed tells whether a watcher with a host that shows items is on the bus
  // now.
  StatusNotifierItem(QMenu& menu, std::function<void()> activate,
                     std::function<void(bool present)> watcher_changed);
  ~StatusNotifierItem() override;

  // Whether a StatusNotifierWatcher is on the session bus.
  static bool WatcherPresent();
  // Whether it also has a host, which shows the items: asked and awaited, for the start.
  static bool HostPresent();

  void SetIcon(const QIcon& icon);
  void SetToolTip(const QString& text);

  struct Exported;

 private slots:
  // Asks the watcher whether a host is registered; watcher_changed gets the answer.
  void AskForHost();

 private:
  // The watcher's IsStatusNotifierHostRegistered, asked and read.
  static QDBusMessage HostQuestion();
  static bool HostIn(const QDBusMessage& reply);
  void Register();

  std::unique_ptr<Exported> exported_;
};

}  // namespace dozerin
