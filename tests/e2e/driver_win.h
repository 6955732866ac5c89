// The end-to-end test driver's tools: start dozerin.exe in a scratch folder, find its hidden
// window, send it messages, read its log, look at the screen.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace dozerin::e2e {

// Path of the dozerin.exe under test (from --dozerin=), and of the screenshot folder (--shots=).
extern std::string g_dozerin_exe;
extern std::string g_shots_dir;

// Runs a command line (UTF-16, as a prompt passes it) in a folder and waits for it: its exit
// code (999 when it could not start, 998 when it did not end). *output, when given, receives its
// standard output and error; token, when given, is the one it runs under.
DWORD RunToEnd(std::wstring line, const std::string& folder, std::string* output = nullptr,
               HANDLE token = nullptr);
std::wstring Wide(const std::string& acp);

// A file's whole bytes, written or read.
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// Path of a program built beside the driver (such as the helper watchme.exe).
std::string BesideDriver(const std::string& name);

// A UTF-8 text (as this source is written) in the ANSI code page, as the program shows it.
std::string Acp(const char* utf8);

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A scratch folder holding a copy of dozerin.exe and its INI file; removed at the end.
class Installation {
 public:
  explicit Installation(const std::string& ini_text, const std::string& exe_name = "dozerin.exe");
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  std::string Path(const std::string& name) const { return folder_ + "\\" + name; }
  const std::string& folder() const { return folder_; }
  std::string exe() const { return Path(exe_name_); }
  std::string log() const;
  void AddCopy(const std::string& exe_name, const std::string& ini_text);

 private:
  std::string folder_;
  std::string exe_name_;
};

// A running dozerin.exe. Ends it (by the menu's close command, then by force) when destroyed.
class Program {
 public:
  explicit Program(const std::string& exe_path, const std::string& arguments = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD pid() const { return pid_; }
  // The program's hidden main window, once it exists; null if it does not appear in time.
  HWND WaitForWindow(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  // Waits for the process to end; returns its exit code, or STILL_ACTIVE after the time-out.
  DWORD WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  bool Running() const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// The top-level window titled `title` that belongs to process pid, or null.
HWND FindWindowOf(DWORD pid, const char* title, const char* class_name = nullptr);

// The log's lines without their time stamps. Every line is checked to carry a well-formed stamp.
std::vector<std::string> LogLines(const std::string& path);
// The same without the lines written by ticks ("Set ES_..." and "Set Enable ES_...").
std::vector<std::string> EventLines(const std::string& path);
bool WaitForLogLine(const std::string& path, const std::string& line, int occurrences = 1,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Screen captures.
struct Capture {
  int width = 0, height = 0;
  std::vector<unsigned char> bgra;  // top row first
  COLORREF At(int x, int y) const;
};
Capture CaptureRect(const RECT& r);
// Writes the whole screen as a .bmp into the screenshot folder, if one was given.
void SaveScreenshot(const std::string& name);

// The rectangle of the notification area that shows the program's icons.
bool TrayRect(RECT* r);
// Counts pixels of the tray area in one of the state icons' colours.
enum class Hue { kCyan, kYellow, kRed };
int CountTrayPixels(Hue hue);

}  // namespace dozerin::e2e
