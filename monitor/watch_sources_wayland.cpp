#include "monitor/watch_sources_wayland.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string_view>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "plasma-window-management-client-protocol.h"

namespace dozerin {
namespace {

// The two window lists that Debian ships no description of, written from their documented
// messages: the wlroots foreign toplevel manager (version 3) and the ext foreign toplevel list
// (version 1). Only the events are read; the requests are listed so that opcodes line up.
extern const wl_interface kWlrHandle;
extern const wl_interface kExtHandle;

const wl_interface* kNone[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
const wl_interface* kSeat[1] = {&wl_seat_interface};
const wl_interface* kSurfaceRect[5] = {&wl_surface_interface, nullptr, nullptr, nullptr, nullptr};
const wl_interface* kOutput[1] = {&wl_output_interface};
const wl_interface* kWlrParent[1] = {&kWlrHandle};
const wl_interface* kWlrNew[1] = {&kWlrHandle};
const wl_interface* kExtNew[1] = {&kExtHandle};

const wl_message kWlrHandleRequests[] = {
    {"set_maximized", "", kNone},
    {"unset_maximized", "", kNone},
    {"set_minimized", "", kNone},
    {"unset_minimized", "", kNone},
    {"activate", "o", kSeat},
    {"close", "", kNone},
    {"set_rectangle", "oiiii", kSurfaceRect},
    {"destroy", "", kNone},
    {"set_fullscreen", "2?o", kOutput},
    {"unset_fullscreen", "2", kNone},
};
const wl_message kWlrHandleEvents[] = {
    {"title", "s", kNone},          {"app_id", "s", kNone},        {"output_enter", "o", kOutput},
    {"output_leave", "o", kOutput}, {"state", "a", kNone},         {"done", "", kNone},
    {"closed", "", kNone},          {"parent", "3?o", kWlrParent},
};
const wl_interface kWlrHandle = {
    "zwlr_foreign_toplevel_handle_v1", 3, 10, kWlrHandleRequests, 8, kWlrHandleEvents};
const wl_message kWlrManagerRequests[] = {{"stop", "", kNone}};
const wl_message kWlrManagerEvents[] = {{"toplevel", "n", kWlrNew}, {"finished", "", kNone}};
const wl_interface kWlrManager = {
    "zwlr_foreign_toplevel_manager_v1", 3, 1, kWlrManagerRequests, 2, kWlrManagerEvents};
constexpr std::uint32_t kWlrHandleDestroy = 7;

const wl_message kExtHandleRequests[] = {{"destroy", "", kNone}};
const wl_message kExtHandleEvents[] = {
    {"closed", "", kNone},  {"done", "", kNone},        {"title", "s", kNone},
    {"app_id", "s", kNone}, {"identifier", "s", kNone},
};
const wl_interface kExtHandle = {
    "ext_foreign_toplevel_handle_v1", 1, 1, kExtHandleRequests, 5, kExtHandleEvents};
const wl_message kExtListRequests[] = {{"stop", "", kNone}, {"destroy", "", kNone}};
const wl_message kExtListEvents[] = {{"toplevel", "n", kExtNew}, {"finished", "", kNone}};
const wl_interface kExtList = {
    "ext_foreign_toplevel_list_v1", 1, 2, kExtListRequests, 2, kExtListEvents};
constexpr std::uint32_t kExtHandleDestroy = 0;
constexpr std::uint32_t kListStop = 0;  // of both the ext list and the wlroots manager

// The idle notifier at version 2, whose input notifications ignore idle inhibitors: the program
// holds such an inhibitor itself, and a video player may, and an inhibited notification never
// says idle, so input would seem to go on for ever. Debian 12's description stops at version 1.
const wl_interface* kNotifierNew[3] = {&ext_idle_notification_v1_interface, nullptr,
                                       &wl_seat_interface};
const wl_message kNotifierRequests[] = {
    {"destroy", "", kNone},
    {"get_idle_notification", "nuo", kNotifierNew},
    {"get_input_idle_notification", "2nuo", kNotifierNew},
};
const wl_interface kIdleNotifier = {"ext_idle_notifier_v1", 2, 3, kNotifierRequests, 0, nullptr};
constexpr std::uint32_t kNotifierDestroy = 0;
constexpr std::uint32_t kGetIdleNotification = 1;
constexpr std::uint32_t kGetInputIdleNotification = 2;

bool Named(const wl_message* message, const char* name) {
  return std::strcmp(message->name, name) == 0;
}

// Gives an object back: through its destructor request where it has one (opcode), else only here.
void Release(wl_proxy* proxy, std::uint32_t opcode) {
  if (opcode == UINT32_MAX) {
    wl_proxy_destroy(proxy);
  } else {
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy),
                           WL_MARSHAL_FLAG_DESTROY);
  }
}

}  // namespace

struct WaylandDesktop::Connection {
  struct Window {
    wl_proxy* proxy;
    std::uint32_t destroy_opcode;  // the handle's destructor, or UINT32_MAX for none
    TopLevelWindow shown;
  };

  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  wl_proxy* list = nullptr;  // whichever window list is bound
  std::uint32_t list_destroy = UINT32_MAX;
  wl_proxy* notifier = nullptr;
  org_kde_kwin_idle* kde_idle = nullptr;
  wl_proxy* notification = nullptr;
  std::list<Window> windows;
  bool active = false;   // input since the last "idled"
  bool resumed = false;  // a "resumed" since the last pass

  // The globals offered; the best of each kind is bound after the first round trip.
  struct Offer {
    std::uint32_t name = 0;
    std::uint32_t version = 0;
  };
  Offer ext_list, wlr, plasma, ext_idle, kwin_idle, seat_offer, gtk_shell, kwin;

  ~Connection() {
    if (display == nullptr) return;
    for (Window& w : windows) Forget(w);
    windows.clear();
    if (notification != nullptr) wl_proxy_destroy(notification);
    if (notifier != nullptr) Release(notifier, kNotifierDestroy);
    if (kde_idle != nullptr) org_kde_kwin_idle_destroy(kde_idle);
    if (list != nullptr) {
      // The ext and wlroots lists are told to stop before they go; KDE's has no such request.
      if (std::strcmp(wl_proxy_get_class(list), org_kde_plasma_window_management_interface.name)) {
        wl_proxy_marshal_flags(list, kListStop, nullptr, wl_proxy_get_version(list), 0);
      }
      Release(list, list_destroy);
    }
    if (seat != nullptr) wl_seat_destroy(seat);
    if (registry != nullptr) wl_registry_destroy(registry);
    wl_display_disconnect(display);
  }

  static void Forget(Window& w) { Release(w.proxy, w.destroy_opcode); }

  void Close(wl_proxy* proxy) {
    for (auto it = windows.begin(); it != windows.end(); ++it) {
      if (it->proxy == proxy) {
        Forget(*it);
        windows.erase(it);
        return;
      }
    }
  }

  // A window handle's events, from any of the three lists.
  static int OnWindow(const void* self, void* target, std::uint32_t, const wl_message* message,
                      wl_argument* args) {
    auto* c = const_cast<Connection*>(static_cast<const Connection*>(self));
    auto* w = static_cast<Window*>(wl_proxy_get_user_data(static_cast<wl_proxy*>(target)));
    if (Named(message, "title") || Named(message, "title_changed")) {
      w->shown.title = args[0].s != nullptr ? args[0].s : "";
    } else if (Named(message, "app_id") || Named(message, "app_id_changed")) {
      const std::string_view id = args[0].s != nullptr ? args[0].s : "";
      w->shown.class_name = std::string(id.substr(0, 99));
    } else if (Named(message, "closed") || Named(message, "unmapped")) {
      c->Close(w->proxy);
    }
    return 0;
  }

  void Adopt(wl_proxy* proxy, std::uint32_t destroy_opcode) {
    if (proxy == nullptr) return;
    if (windows.size() >= kMaxWindows) {
      Release(proxy, destroy_opcode);
      return;
    }
    windows.push_back({proxy, destroy_opcode, {}});
    wl_proxy_add_dispatcher(proxy, &Connection::OnWindow, this, &windows.back());
  }

  // The list's events: a new window, or the list's end.
  static int OnList(const void* self, void* target, std::uint32_t, const wl_message* message,
                    wl_argument* args) {
    auto* c = const_cast<Connection*>(static_cast<const Connection*>(self));
    if (Named(message, "toplevel")) {
      auto* handle = reinterpret_cast<wl_proxy*>(args[0].o);
      c->Adopt(handle, std::strcmp(wl_proxy_get_class(c->list), kWlrManager.name) == 0
                           ? kWlrHandleDestroy
                           : kExtHandleDestroy);
    } else if (Named(message, "window_with_uuid") && args[1].s != nullptr) {
      auto* manager = static_cast<org_kde_plasma_window_management*>(target);
      c->Adopt(reinterpret_cast<wl_proxy*>(
                   org_kde_plasma_window_management_get_window_by_uuid(manager, args[1].s)),
               c->PlasmaWindowDestroy());
    } else if (Named(message, "window") &&
               wl_proxy_get_version(static_cast<wl_proxy*>(target)) <
                   ORG_KDE_PLASMA_WINDOW_MANAGEMENT_WINDOW_WITH_UUID_SINCE_VERSION) {
      auto* manager = static_cast<org_kde_plasma_window_management*>(target);
      c->Adopt(reinterpret_cast<wl_proxy*>(
                   org_kde_plasma_window_management_get_window(manager, args[0].u)),
               c->PlasmaWindowDestroy());
    } else if (Named(message, "finished")) {
      // The list has ended: the ext list is given back through its destructor.
      Release(c->list, c->list_destroy);
      c->list = nullptr;
    }
    return 0;
  }

  std::uint32_t PlasmaWindowDestroy() const {
    return wl_proxy_get_version(list) >= ORG_KDE_PLASMA_WINDOW_DESTROY_SINCE_VERSION
               ? ORG_KDE_PLASMA_WINDOW_DESTROY
               : UINT32_MAX;
  }

  static int OnIdle(const void* self, void*, std::uint32_t, const wl_message* message,
                    wl_argument*) {
    auto* c = const_cast<Connection*>(static_cast<const Connection*>(self));
    if (Named(message, "resumed")) {
      c->active = true;
      c->resumed = true;
    } else {
      c->active = false;  // "idled" or "idle"
    }
    return 0;
  }

  static void OnGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
    auto* c = static_cast<Connection*>(data);
    const std::string_view i = interface;
    Offer* offer = i == kExtList.name                                       ? &c->ext_list
                   : i == kWlrManager.name                                  ? &c->wlr
                   : i == org_kde_plasma_window_management_interface.name   ? &c->plasma
                   : i == kIdleNotifier.name                                ? &c->ext_idle
                   : i == org_kde_kwin_idle_interface.name                  ? &c->kwin_idle
                   : i == "gtk_shell1"                                      ? &c->gtk_shell
                   : i.substr(0, 15) == "org_kde_plasma_"                   ? &c->kwin
                   : i == wl_seat_interface.name && c->seat_offer.name == 0 ? &c->seat_offer
                                                                            : nullptr;
    if (offer != nullptr) *offer = {name, version};
  }
  static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

  void* Bind(const Offer& offer, const wl_interface* interface) {
    return wl_registry_bind(registry, offer.name, interface,
                            std::min<std::uint32_t>(offer.version, interface->version));
  }

  bool Open(bool bind) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') return false;
    display = wl_display_connect(nullptr);
    if (display == nullptr) return false;
    static const wl_registry_listener kRegistry = {&Connection::OnGlobal,
                                                   &Connection::OnGlobalRemove};
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, this);
    if (wl_display_roundtrip(display) < 0) return false;
    if (!bind) return true;

    if (ext_list.name != 0) {
      list = static_cast<wl_proxy*>(Bind(ext_list, &kExtList));
      list_destroy = 1;
    } else if (wlr.name != 0) {
      list = static_cast<wl_proxy*>(Bind(wlr, &kWlrManager));
    } else if (plasma.name != 0) {
      list = static_cast<wl_proxy*>(Bind(plasma, &org_kde_plasma_window_management_interface));
    }
    if (list != nullptr) wl_proxy_add_dispatcher(list, &Connection::OnList, this, nullptr);

    if (seat_offer.name != 0 && (ext_idle.name != 0 || kwin_idle.name != 0)) {
      seat =
          static_cast<wl_seat*>(wl_registry_bind(registry, seat_offer.name, &wl_seat_interface, 1));
      if (ext_idle.name != 0) {
        notifier = static_cast<wl_proxy*>(Bind(ext_idle, &kIdleNotifier));
        // Where only version 1 is offered, its notification is all there is.
        const std::uint32_t version = wl_proxy_get_version(notifier);
        notification = wl_proxy_marshal_flags(
            notifier, version >= 2 ? kGetInputIdleNotification : kGetIdleNotification,
            &ext_idle_notification_v1_interface, version, 0, nullptr, kIdleTimeoutMs, seat);
      } else {
        kde_idle = static_cast<org_kde_kwin_idle*>(Bind(kwin_idle, &org_kde_kwin_idle_interface));
        notification = reinterpret_cast<wl_proxy*>(
            org_kde_kwin_idle_get_idle_timeout(kde_idle, seat, kIdleTimeoutMs));
      }
      wl_proxy_add_dispatcher(notification, &Connection::OnIdle, this, nullptr);
    }
    // The windows follow the binding; KDE's titles follow one more request.
    for (int i = 0; i < 2; ++i) {
      if (wl_display_roundtrip(display) < 0) return false;
    }
    return true;
  }

  // Reads and handles what the compositor has sent, without waiting.
  void Drain() {
    if (broken()) return;
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return;  // the connection is lost
    }
    wl_display_flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
      wl_display_read_events(display);
    } else {
      wl_display_cancel_read(display);
    }
    wl_display_dispatch_pending(display);
    // Requests made while handling (KDE's new windows) go out now, not at the next pass.
    wl_display_flush(display);
  }

  bool broken() const { return display == nullptr || wl_display_get_error(display) != 0; }
};

WaylandDesktop::WaylandDesktop() {
  Connect();
}

WaylandDesktop::~WaylandDesktop() = default;

bool WaylandDesktop::Connect() {
  if (c_ != nullptr && !c_->broken()) return true;
  // A compositor that broke the connection, or restarted (as KWin does after a crash): nothing is
  // known until a new connection has been made, tried again every few seconds.
  c_.reset();
  const auto now = std::chrono::steady_clock::now();
  if (now < retry_at_) return false;
  retry_at_ = now + std::chrono::seconds(kReconnectSeconds);
  c_ = std::make_unique<Connection>();
  if (!c_->Open(true)) c_.reset();
  return c_ != nullptr;
}

std::vector<TopLevelWindow> WaylandDesktop::TopLevelWindows() {
  std::vector<TopLevelWindow> windows;
  if (!Connect()) return windows;
  c_->Drain();
  if (c_->broken()) return windows;
  windows.reserve(c_->windows.size());
  for (const Connection::Window& w : c_->windows) windows.push_back(w.shown);
  return windows;
}

std::optional<bool> WaylandDesktop::UserWasActive() {
  if (!Connect() || c_->notification == nullptr) return std::nullopt;
  c_->Drain();
  if (c_->broken()) return std::nullopt;  // what it said last no longer holds
  const bool active = c_->active || c_->resumed;
  c_->resumed = false;
  return active;
}

WaylandWindows ProbeWaylandWindows() {
  WaylandDesktop::Connection probe;
  if (!probe.Open(false)) return WaylandWindows::kNoSession;
  if (probe.ext_list.name != 0 || probe.wlr.name != 0 || probe.plasma.name != 0) {
    return WaylandWindows::kListed;
  }
  const auto desktop = [](const char* name) {
    const char* current = std::getenv("XDG_CURRENT_DESKTOP");
    return current != nullptr && std::strstr(current, name) != nullptr;
  };
  if (probe.gtk_shell.name != 0 || desktop("GNOME")) return WaylandWindows::kGnome;
  if (probe.kwin.name != 0 || desktop("KDE")) return WaylandWindows::kKdeNotGranted;
  return WaylandWindows::kNone;
}

}  // namespace dozerin
