#include "monitor/watch_sources_win.h"

#include <windows.h>
// windows.h first: tlhelp32.h relies on its types.
#include <tlhelp32.h>

#include <cstring>

#include "app/framework_win.h"
#include "app/text.h"

namespace dozerin {
namespace {

// A title longer than this (in UTF-16 units) is read only up to here; a window of another program
// could otherwise make the worker take in any amount of memory.
constexpr int kMaxTitleUnits = 1 << 20;
constexpr int kFirstTitleUnits = 256;
// A walk that meets more windows than this stops: the Z order can change under a walk, and a walk
// that comes round again must still end.
constexpr int kMaxWindows = 100000;

}  // namespace

bool ToolhelpProcesses::ForEachProcessName(
    const std::function<bool(std::string_view name)>& visit) {
  // The snapshot is closed on every path by its owner.
  win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;  // this build's own record size
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    const std::size_t len = strnlen(entry.szExeFile, sizeof entry.szExeFile);
    if (visit(std::string_view(entry.szExeFile, len))) break;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
  }
  return true;
}

namespace {

// The title as the system stores it, in the ANSI code page. Read without sending WM_GETTEXT:
// that message would make the worker wait on whichever thread owns the window, this program's own
// user-interface thread included, and a window that does not answer would stall the worker.
std::string WindowTitle(HWND w, std::u16string* buffer) {
  int room = kFirstTitleUnits;
  for (;;) {
    buffer->assign(static_cast<std::size_t>(room), u'\0');
    const int got = InternalGetWindowText(w, reinterpret_cast<wchar_t*>(buffer->data()), room);
    if (got <= 0) return {};
    // A title that filled the buffer may be longer: read it again with more room.
    if (got < room - 1 || room >= kMaxTitleUnits) {
      return text::FromUtf16(std::u16string_view(buffer->data(), static_cast<std::size_t>(got)));
    }
    room = room * 4 < kMaxTitleUnits ? room * 4 : kMaxTitleUnits;
  }
}

}  // namespace

std::vector<TopLevelWindow> DesktopWindows::TopLevelWindows() {
  std::vector<TopLevelWindow> windows;
  std::u16string buffer;
  int count = 0;
  for (HWND w = GetTopWindow(nullptr); w != nullptr && count < kMaxWindows;
       w = GetWindow(w, GW_HWNDNEXT), ++count) {
    TopLevelWindow entry;
    entry.title = WindowTitle(w, &buffer);
    char class_name[100] = {};
    const int class_length = GetClassNameA(w, class_name, sizeof class_name);
    if (class_length > 0)
      entry.class_name.assign(class_name, static_cast<std::size_t>(class_length));
    windows.push_back(std::move(entry));
  }
  return windows;
}

}  // namespace dozerin
