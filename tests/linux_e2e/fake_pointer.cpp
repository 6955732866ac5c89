// Moves the pointer of a Wayland session by a few pixels, as a hand on the mouse would: through
// KDE's fake input on KWin (which lets only a program with a desktop entry naming it use it), or
// through the wlroots virtual pointer elsewhere (labwc).
#include <wayland-client.h>

#include <cstdint>
#include <cstring>

#include "fake-input-client-protocol.h"

namespace {

// The wlroots virtual pointer, described here: Debian packages no description of it. Only the
// requests used are named; the opcodes are the protocol's.
const wl_message kPointerRequests[] = {{"motion", "uff", nullptr},
                                       {"motion_absolute", "", nullptr},
                                       {"button", "", nullptr},
                                       {"axis", "", nullptr},
                                       {"frame", "", nullptr}};
const wl_interface kVirtualPointer = {"zwlr_virtual_pointer_v1", 1, 5,
                                      kPointerRequests,          0, nullptr};
const wl_interface* kCreateTypes[] = {&wl_seat_interface, &kVirtualPointer};
const wl_message kManagerRequests[] = {{"create_virtual_pointer", "?on", kCreateTypes}};
const wl_interface kPointerManager = {
    "zwlr_virtual_pointer_manager_v1", 1, 1, kManagerRequests, 0, nullptr};
constexpr std::uint32_t kMotion = 0, kFrame = 4, kCreate = 0;

org_kde_kwin_fake_input* input = nullptr;
wl_proxy* manager = nullptr;

void OnGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
  if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
    input = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 1));
  } else if (std::strcmp(interface, kPointerManager.name) == 0) {
    manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kPointerManager, 1));
  }
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 2;
  const wl_registry_listener listener = {&OnGlobal, &OnGlobalRemove};
  wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
  wl_display_roundtrip(display);
  if (input != nullptr) {
    org_kde_kwin_fake_input_authenticate(input, "Dozerin tests", "moves the pointer");
    org_kde_kwin_fake_input_pointer_motion(input, wl_fixed_from_int(30), wl_fixed_from_int(30));
  } else if (manager != nullptr) {
    wl_proxy* pointer =
        wl_proxy_marshal_flags(manager, kCreate, &kVirtualPointer, 1, 0, nullptr, nullptr);
    wl_proxy_marshal_flags(pointer, kMotion, nullptr, 1, 0, 0u, wl_fixed_from_int(30),
                           wl_fixed_from_int(30));
    wl_proxy_marshal_flags(pointer, kFrame, nullptr, 1, 0);
  } else {
    return 3;  // neither offered to this program
  }
  const int sent = wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return sent < 0 ? 4 : 0;
}
