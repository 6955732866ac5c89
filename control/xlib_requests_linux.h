// Qt keeps an Xlib display beside its xcb connection on X11.
#pragma once

namespace dozerin {

// Xlib keeps a note of each request sent on Qt's connection while it holds the socket, and lets a
// note go only when it reads a reply to a later request, which under Qt it does not do by itself:
// one round trip through Xlib lets them all go. Nothing without an X11 display.
void SettleXlibRequests();

}  // namespace dozerin
