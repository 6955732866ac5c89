// A thin stand-in for the application framework on Win32: window objects with message routing that
// delete themselves after their window is gone, handle ownership, string-table loading and message
// boxes captioned with the application title. Used only by *_win.cpp files.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace dozerin::win {

// Owns a kernel handle and closes it.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = nullptr) {
    if (*this) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// The text of a window or control, however long.
std::string WindowText(HWND hwnd);

// ANSI-code-page text in the system's wide characters.
std::wstring WideFromAnsi(std::string_view text);

// The base name of a process's executable ("dozerin" for C:\x\dozerin.exe); empty when it cannot
// be read.
std::string ProcessBaseName(DWORD pid);

// A string from the program's string table, in the ANSI code page; empty when it is missing.
std::string LoadResString(UINT id);

// The application title: string 57344, or the executable's base name when that string is missing.
void SetAppTitle(std::string title);
const std::string& AppTitle();

// A modal message box captioned with the application title.
int ShowMessage(HWND owner, const std::string& text, UINT flags);

// Tells the user of the exception being handled (out of memory, or an unexpected error) in a
// message box that comes to the front. Call it only from a catch block; it throws nothing and
// allocates nothing, so it works when memory has run out. While its box is shown, a further
// exception on the same thread is not shown again.
void ReportCurrentException() noexcept;

// Runs f and returns its result; an exception is reported and gives `failed` instead. Every
// callback the system calls goes through this, so that no exception unwinds through the system.
template <typename R, typename F>
R Guarded(R failed, F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    ReportCurrentException();
    return failed;
  }
}

// A window object. The object is made with new and deletes itself once its window has been
// destroyed, or when creating the window fails.
class LivenessGuard;

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  virtual ~Window() = default;

  // Creates a hidden top-level window of the program's plain window class (no class style,
  // cursor, brush or icon). Returns false when it fails; the object is then already deleted.
  bool CreateHidden(DWORD ex_style, const std::string& name);

  // Handles one message; the default passes it on to DefWindowProcA.
  virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Default(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  static LRESULT CALLBACK Dispatch(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
  bool* deleted_flag_ = nullptr;           // set while CreateHidden runs
  class LivenessGuard* guards_ = nullptr;  // the innermost LivenessGuard of this object, if any

  friend class LivenessGuard;
};

// Tells whether a window object still exists after a call that may have destroyed it, such as a
// modal loop in which the window can be closed. Guards nest.
class LivenessGuard {
 public:
  explicit LivenessGuard(Window& window) : window_(&window), outer_(window.guards_) {
    window.guards_ = this;
  }
  ~LivenessGuard() {
    if (window_ != nullptr) window_->guards_ = outer_;
  }
  LivenessGuard(const LivenessGuard&) = delete;
  LivenessGuard& operator=(const LivenessGuard&) = delete;
  bool alive() const { return window_ != nullptr; }

 private:
  friend class Window;
  Window* window_;  // null once the object is gone
  LivenessGuard* outer_;
};

// The class of the program's windows, by which another instance finds them.
const char* WindowClassName();

// Marks a window as the application's main window: its destruction ends the message loop.
void SetMainWindow(HWND hwnd);
// Runs the message loop until the main window is gone; returns the quit message's exit code.
int RunMessageLoop();

}  // namespace dozerin::win
