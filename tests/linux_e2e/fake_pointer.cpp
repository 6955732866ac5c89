// Moves the pointer of a KWin session by a few pixels through KDE's fake input, as a hand on the
// mouse would. KWin lets only a program with a desktop entry naming it use fake input.
#include <wayland-client.h>

#include <cstdint>
#include <cstring>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input* input = nullptr;

void OnGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
  if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
    input = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 1));
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
  if (input == nullptr) return 3;  // not offered to this program
  org_kde_kwin_fake_input_authenticate(input, "Dozerin tests", "moves the pointer");
  org_kde_kwin_fake_input_pointer_motion(input, wl_fixed_from_int(30), wl_fixed_from_int(30));
  const int sent = wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return sent < 0 ? 4 : 0;
}
