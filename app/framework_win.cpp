#include "app/framework_win.h"

#include <new>
#include <vector>

#include "app/paths.h"
#include "res/resource.h"

namespace dozerin::win {
namespace {

constexpr char kWindowClass[] = "DozerinWindow";
std::string g_app_title;
HWND g_main_window = nullptr;

bool RegisterWindowClass(WNDPROC proc) {
  static const ATOM atom = [proc] {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    return RegisterClassExA(&wc);
  }();
  return atom != 0;
}

}  // namespace

std::string WindowText(HWND hwnd) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  const int n = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

std::string LoadResString(UINT id) {
  char buffer[4096];
  const int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void SetAppTitle(std::string title) {
  g_app_title = std::move(title);
}
const std::string& AppTitle() {
  return g_app_title;
}

int ShowMessage(HWND owner, const std::string& text, UINT flags) {
  return MessageBoxA(owner, text.c_str(), g_app_title.c_str(), flags);
}

void ReportCurrentException() noexcept {
  // One box at a time on a thread: messages go on inside the box, and a handler that throws
  // again (a timer's, every second) would open a box inside the box.
  thread_local bool showing = false;
  if (showing) return;
  UINT id = IDS_UNEXPECTED_ERROR;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    id = IDS_OUT_OF_MEMORY;
  } catch (...) {
  }
  char text[512];
  if (LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text) <= 0) text[0] = '\0';
  showing = true;
  MessageBoxA(nullptr, text, g_app_title.c_str(),
              MB_OK | MB_ICONSTOP | MB_SETFOREGROUND | MB_TASKMODAL);
  showing = false;
}

std::wstring WideFromAnsi(std::string_view text) {
  std::wstring wide(text.size(), L'\0');
  const int length =
      text.empty() ? 0
                   : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return wide;
}

std::string ProcessBaseName(DWORD pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  std::vector<char> image(32768);
  DWORD size = static_cast<DWORD>(image.size());
  if (!process || !QueryFullProcessImageNameA(process.get(), 0, image.data(), &size)) return {};
  return DeriveSidePaths(std::string(image.data(), size)).base_name;
}

bool Window::CreateHidden(DWORD ex_style, const std::string& name) {
  HWND hwnd = nullptr;
  bool deleted = false;
  deleted_flag_ = &deleted;
  if (RegisterWindowClass(&Window::Dispatch)) {
    hwnd = CreateWindowExA(ex_style, kWindowClass, name.c_str(), 0, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), this);
  }
  if (hwnd != nullptr) {
    deleted_flag_ = nullptr;
    return true;
  }
  // A window that got as far as WM_NCDESTROY (WM_CREATE failed) has deleted its object already.
  if (!deleted) delete this;
  return false;
}

LRESULT Window::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  return Default(message, wparam, lparam);
}

LRESULT Window::Default(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK Window::Dispatch(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Window* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
  // A handler that throws has ended; the user is told and the program goes on. A window whose
  // creation handler throws is not made.
  const LRESULT failed = message == WM_CREATE ? -1 : 0;
  if (message == WM_NCDESTROY) {
    const LRESULT result =
        Guarded(failed, [&] { return self->WindowProc(message, wparam, lparam); });
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    if (hwnd == g_main_window) {
      g_main_window = nullptr;
      PostQuitMessage(0);
    }
    if (self->deleted_flag_ != nullptr) *self->deleted_flag_ = true;
    for (LivenessGuard* guard = self->guards_; guard != nullptr; guard = guard->outer_) {
      guard->window_ = nullptr;
    }
    delete self;
    return result;
  }
  return Guarded(failed, [&] { return self->WindowProc(message, wparam, lparam); });
}

const char* WindowClassName() {
  return kWindowClass;
}

void SetMainWindow(HWND hwnd) {
  g_main_window = hwnd;
}

int RunMessageLoop() {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace dozerin::win
