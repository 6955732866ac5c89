// The tray icon in an X11 system tray (XEmbed: Xfce, MATE, Cinnamon, trayer and the like), for
// where no StatusNotifierItem host shows it. Qt's own icon cannot serve here: from Qt 6.8 it goes
// to any StatusNotifierWatcher on the bus, one that has no host to show it too.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QIcon>
#include <QWidget>
#include <cstdint>
#include <functional>

class QMenu;

namespace dozerin {

class XEmbedTrayIcon : public QWidget, public QAbstractNativeEventFilter {
 public:
  // menu opens on a right click; double_click runs on a left double click.
  XEmbedTrayIcon(QMenu& menu, std::function<void()> double_click);
  ~XEmbedTrayIcon() override;

  // Whether an X11 system tray is there to dock in now.
  static bool TrayPresent();

  // On: docks the icon now if a tray is there, and whenever a tray starts. Off: leaves the tray.
  void Dock(bool on);
  void SetIcon(const QIcon& icon);

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void RequestDock();
  void Undock();

  QMenu& menu_;
  std::function<void()> double_click_;
  QIcon icon_;
  bool wanted_ = false;
  std::uint32_t tray_ = 0;  // the tray's window while docked in it
  std::uint32_t selection_ = 0, manager_ = 0, opcode_ = 0, visual_ = 0, xembed_info_ = 0,
                xembed_ = 0;
};

}  // namespace dozerin
