#include "control/xlib_requests_linux.h"

#include <QGuiApplication>

// Last: Xlib's macros (None, Bool, Status…) would clash with Qt's names.
#include <X11/Xlib.h>

namespace dozerin {

void SettleXlibRequests() {
  const auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 != nullptr && x11->display() != nullptr) XSync(x11->display(), False);
}

}  // namespace dozerin
