// Titled top-level windows for the benchmarks, made on $DISPLAY by a connection of their own.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace dozerin {

// count titled top-level windows, made at once; the connection that made them stays open, since a
// display server may reset itself when its last client leaves.
inline xcb_connection_t* MakeTitledWindows(int count) {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x) != 0) return nullptr;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  auto atom = [x](const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r != nullptr ? r->atom : XCB_NONE;
    std::free(r);
    return a;
  };
  const xcb_atom_t net_wm_name = atom("_NET_WM_NAME");
  const xcb_atom_t utf8 = atom("UTF8_STRING");
  for (int i = 0; i < count; ++i) {
    const xcb_window_t w = xcb_generate_id(x);
    xcb_create_window(x, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const std::string title = "Window number " + std::to_string(i) + " - Some Program";
    // As toolkits set them: the UTF-8 title, and the old one for old clients.
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, net_wm_name, utf8, 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
  }
  std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));  // all made
  return x;
}

}  // namespace dozerin
