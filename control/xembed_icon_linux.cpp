#include "control/xembed_icon_linux.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

// Last: Xlib's macros (None, Bool, Status…) would clash with Qt's names.
#include <X11/Xlib.h>

namespace dozerin {
namespace {

constexpr std::uint32_t kRequestDock = 0;  // the tray's opcode to dock a window
constexpr std::uint32_t kXEmbedMapped = 1;
constexpr std::uint32_t kEmbeddedNotify = 0;  // the tray's first XEmbed message to the icon

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_connection_t* Connection() {
  const auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 != nullptr && x11->display() != nullptr ? x11->connection() : nullptr;
}

int ScreenNumber() {
  return DefaultScreen(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display());
}

xcb_screen_t* Screen(xcb_connection_t* c) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int n = ScreenNumber(); n > 0 && it.rem > 0; --n) xcb_screen_next(&it);
  return it.rem > 0 ? it.data : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const std::string& name) {
  Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_atom_t TraySelection(xcb_connection_t* c) {
  return Atom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(ScreenNumber()));
}

xcb_window_t Owner(xcb_connection_t* c, xcb_atom_t selection) {
  if (selection == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
  Reply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
  return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
}

// Adds to the events this client takes from a window, keeping those it took.
void Listen(xcb_connection_t* c, xcb_window_t window, std::uint32_t mask) {
  Reply<xcb_get_window_attributes_reply_t> now(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
  if (!now || (now->your_event_mask & mask) == mask) return;
  const std::uint32_t values[] = {now->your_event_mask | mask};
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, values);
}

// Whether the tray asks for icons with an alpha channel (its visual is 32 bits deep).
bool TrayTakesAlpha(xcb_connection_t* c, xcb_window_t tray, xcb_atom_t visual_atom) {
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      c, xcb_get_property(c, 0, tray, visual_atom, XCB_ATOM_VISUALID, 0, 1), nullptr));
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4) {
    return false;
  }
  xcb_visualid_t visual = 0;
  std::memcpy(&visual, xcb_get_property_value(reply.get()), sizeof visual);
  xcb_screen_t* screen = Screen(c);
  if (screen == nullptr) return false;
  for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem > 0;
       xcb_depth_next(&depths)) {
    for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem > 0; xcb_visualtype_next(&v)) {
      if (v.data->visual_id == visual) return depths.data->depth == 32;
    }
  }
  return false;
}

}  // namespace

XEmbedTrayIcon::XEmbedTrayIcon(QMenu& menu, std::function<void()> double_click)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint),
      menu_(menu),
      double_click_(std::move(double_click)) {
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setAttribute(Qt::WA_QuitOnClose, false);
  // The size trays take from its size hints; a tray may give it more.
  setMinimumSize(22, 22);
  resize(22, 22);
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  selection_ = TraySelection(c);
  manager_ = Atom(c, "MANAGER");
  opcode_ = Atom(c, "_NET_SYSTEM_TRAY_OPCODE");
  visual_ = Atom(c, "_NET_SYSTEM_TRAY_VISUAL");
  xembed_info_ = Atom(c, "_XEMBED_INFO");
  xembed_ = Atom(c, "_XEMBED");
  // A tray that starts says so to every client on the root window.
  if (xcb_screen_t* screen = Screen(c)) Listen(c, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
  qApp->installNativeEventFilter(this);
}

XEmbedTrayIcon::~XEmbedTrayIcon() {
  qApp->removeNativeEventFilter(this);
}

bool XEmbedTrayIcon::TrayPresent() {
  xcb_connection_t* c = Connection();
  return c != nullptr && Owner(c, TraySelection(c)) != XCB_WINDOW_NONE;
}

void XEmbedTrayIcon::Dock(bool on) {
  wanted_ = on;
  if (on && tray_ == 0) RequestDock();
  if (!on) Undock();
}

void XEmbedTrayIcon::SetIcon(const QIcon& icon) {
  icon_ = icon;
  update();
}

void XEmbedTrayIcon::RequestDock() {
  xcb_connection_t* c = Connection();
  if (!wanted_ || c == nullptr) return;
  const xcb_window_t tray = Owner(c, selection_);
  if (tray == XCB_WINDOW_NONE) return;  // until a tray starts
  // The tray's end is its window's: then the icon leaves it rather than float on the desktop.
  Listen(c, tray, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
  setAttribute(Qt::WA_TranslucentBackground, TrayTakesAlpha(c, tray, visual_));
  const auto window = static_cast<xcb_window_t>(winId());
  const std::uint32_t info[] = {0, kXEmbedMapped};  // protocol version 0, mapped once docked
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, xembed_info_, xembed_info_, 32, 2, info);
  xcb_client_message_event_t request{};
  request.response_type = XCB_CLIENT_MESSAGE;
  request.format = 32;
  request.window = tray;
  request.type = opcode_;
  request.data.data32[0] = XCB_CURRENT_TIME;
  request.data.data32[1] = kRequestDock;
  request.data.data32[2] = window;
  xcb_send_event(c, 0, tray, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
  xcb_flush(c);
  tray_ = tray;
}

void XEmbedTrayIcon::Undock() {
  tray_ = 0;
  hide();
  // A new window for the next tray: a tray keeps the windows it took until they go.
  destroy();
}

bool XEmbedTrayIcon::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
  if (type != "xcb_generic_event_t" || message == nullptr) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t kind = event->response_type & 0x7f;
  if (kind == XCB_CLIENT_MESSAGE) {
    const auto* m = static_cast<const xcb_client_message_event_t*>(message);
    if (m->format == 32 && m->type == xembed_ && m->data.data32[1] == kEmbeddedNotify &&
        tray_ != 0 && m->window == static_cast<xcb_window_t>(winId())) {
      // In the tray, which maps it: only now may Qt map it too. Mapped while it still sat on the
      // root window, GTK's trays give it no width.
      QTimer::singleShot(0, this, [this] { show(); });
    }
    if (m->format == 32 && m->type == manager_ && m->data.data32[1] == selection_ && wanted_) {
      // A tray has started (or replaced another): dock there, outside the event's delivery.
      QTimer::singleShot(0, this, [this] {
        if (tray_ != 0) Undock();
        RequestDock();
      });
    }
  } else if (kind == XCB_DESTROY_NOTIFY && tray_ != 0 &&
             static_cast<const xcb_destroy_notify_event_t*>(message)->window == tray_) {
    QTimer::singleShot(0, this, [this] {
      Undock();
      RequestDock();  // another tray may own the selection already
    });
  }
  return false;
}

void XEmbedTrayIcon::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!testAttribute(Qt::WA_TranslucentBackground)) {
    painter.fillRect(rect(), palette().window());
  } else {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  icon_.paint(&painter, rect());
}

void XEmbedTrayIcon::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) menu_.popup(event->globalPosition().toPoint());
}

void XEmbedTrayIcon::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && double_click_) double_click_();
}

}  // namespace dozerin
