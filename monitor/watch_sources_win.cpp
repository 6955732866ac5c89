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
// A walk that meets more windows than this stops there.
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
  // The system lists the top-level windows front to back in one call; the walk stops at the limit.
  std::vector<HWND> handles;
  EnumWindows(
      [](HWND w, LPARAM list) {
        auto* found = reinterpret_cast<std::vector<HWND>*>(list);
        found->push_back(w);
        return found->size() < static_cast<std::size_t>(kMaxWindows) ? TRUE : FALSE;
      },
      reinterpret_cast<LPARAM>(&handles));
  std::vector<TopLevelWindow> windows(handles.size());
  std::u16string buffer;
  for (std::size_t i = 0; i < handles.size(); ++i) {
    TopLevelWindow& entry = windows[i];
    entry.title = WindowTitle(handles[i], &buffer);
    if (!entry.title.empty()) continue;
    // The class name tells only whether an untitled window still exists: every window pattern
    // stands with the class pattern "*", so a titled window's class is never looked at.
    char class_name[100] = {};
    const int class_length = GetClassNameA(handles[i], class_name, sizeof class_name);
    if (class_length > 0) {
      entry.class_name.assign(class_name, static_cast<std::size_t>(class_length));
    }
  }
  return windows;
}

}  // namespace dozerin
