// The texts the program shows, in Japanese and in English, for the platforms whose resources are
// not a Windows string table. The ids are those of the string table (res/resource.h).
#pragma once

#include <string_view>
#include <vector>

namespace dozerin {

// The text of id in the user's language; empty when there is none. UTF-8.
std::string_view UiText(int id, bool japanese);

// A text of the settings dialog, named by its key ("general.mouse"); the Japanese ones are those of
// the dialog templates of res/dozerin.rc. Empty for an unknown key.
std::string_view DialogText(std::string_view key, bool japanese);

// Every key of the dialog texts, in table order.
std::vector<std::string_view> DialogTextKeys();

// Whether the user's language, as the locale variables name it, is Japanese.
bool JapaneseLocale();

// Texts of the tray menu, which the Windows program takes from its menu resource.
constexpr int kTextMenuSettings = 0x10001;
constexpr int kTextMenuClose = 0x10002;
// Said once when there is no X display to watch.
constexpr int kTextNoDisplay = 0x10003;
// The keep-awake submenu; its items' texts go by their command ids (ID_HOLD_...).
constexpr int kTextMenuKeepAwake = 0x10004;
// Said once on a Wayland session, where only the X11 windows of XWayland can be read.
constexpr int kTextWaylandX11Only = 0x10005;
// Said once on a Wayland session whose own windows cannot be listed, naming what is missing.
constexpr int kTextKdeNeedsEntry = 0x10006;
constexpr int kTextNoWindowList = 0x10007;
constexpr int kTextGnomeNeedsExtension = 0x10008;
// The notification of a start with no tray to show the icon in.
constexpr int kTextNoTrayTitle = 0x1000A;
constexpr int kTextNoTrayBody = 0x1000B;
// Logged once when there is no display at all to show the icon or the settings on.
constexpr int kTextNothingToShow = 0x1000C;
// A request start whose running instance does not answer on the session bus.
constexpr int kTextInstanceUnreachable = 0x1000D;

}  // namespace dozerin
