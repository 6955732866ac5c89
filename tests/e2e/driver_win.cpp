#include "tests/e2e/driver_win.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace dozerin::e2e {

std::string g_dozerin_exe;
std::string g_shots_dir;

std::string BesideDriver(const std::string& name) {
  char path[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.rfind('\\') + 1) + name;
}

std::string Acp(const char* utf8) {
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), wide_length);
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);  // the terminator
  return narrow;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::wstring Wide(const std::string& acp) {
  std::wstring wide(acp.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      std::max(0, MultiByteToWideChar(CP_ACP, 0, acp.data(), static_cast<int>(acp.size()),
                                      wide.data(), static_cast<int>(wide.size())))));
  return wide;
}

DWORD RunToEnd(std::wstring line, const std::string& folder, std::string* output, HANDLE token) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  if (output != nullptr && CreatePipe(&read, &write, &inherited, 0)) {
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
  }
  PROCESS_INFORMATION pi = {};
  const std::wstring where = Wide(folder);
  const BOOL started =
      token != nullptr ? CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr,
                                              write != nullptr, 0, nullptr, where.c_str(), &si, &pi)
                       : CreateProcessW(nullptr, line.data(), nullptr, nullptr, write != nullptr, 0,
                                        nullptr, where.c_str(), &si, &pi);
  if (write != nullptr) CloseHandle(write);
  char buffer[512];
  DWORD n = 0;
  while (started && read != nullptr && ReadFile(read, buffer, sizeof buffer, &n, nullptr) &&
         n > 0) {
    output->append(buffer, n);
  }
  if (read != nullptr) CloseHandle(read);
  if (!started) return 999;
  DWORD code = 998;
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

namespace {

constexpr char kMainWindowClass[] = "DozerinWindow";

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

bool IsStamp(const std::string& line) {
  // "YYYY/MM/DD HH:MM:SS - "
  if (line.size() < 22) return false;
  const char* shape = "dddd/dd/dd dd:dd:dd - ";
  for (int i = 0; i < 22; ++i) {
    if (shape[i] == 'd' ? !(line[i] >= '0' && line[i] <= '9') : line[i] != shape[i]) return false;
  }
  return true;
}

}  // namespace

Installation::Installation(const std::string& ini_text, const std::string& exe_name)
    : exe_name_(exe_name) {
  static int counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  folder_ = std::string(temp) + "dozerin-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
  RemoveTree(folder_);
  CreateDirectoryA(folder_.c_str(), nullptr);
  AddCopy(exe_name, ini_text);
}

Installation::~Installation() {
  RemoveTree(folder_);
}

void Installation::AddCopy(const std::string& exe_name, const std::string& ini_text) {
  CopyFileA(g_dozerin_exe.c_str(), Path(exe_name).c_str(), FALSE);
  const std::string base = exe_name.substr(0, exe_name.rfind('.'));
  if (!ini_text.empty()) WriteText(Path(base + ".ini"), ini_text);
}

std::string Installation::log() const {
  return Path(exe_name_.substr(0, exe_name_.rfind('.')) + ".log");
}

Program::Program(const std::string& exe_path, const std::string& arguments) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string command = "\"" + exe_path + "\"";
  if (!arguments.empty()) command += " " + arguments;
  const std::string folder = exe_path.substr(0, exe_path.rfind('\\'));
  if (CreateProcessA(exe_path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     folder.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
  }
}

Program::~Program() {
  if (process_ == nullptr) return;
  if (Running()) {
    HWND w = FindWindowOf(pid_, "Dozerin", kMainWindowClass);
    if (w != nullptr) PostMessageA(w, WM_COMMAND, 8, 0);
    if (w == nullptr || WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process_, 99);
    }
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool Program::Running() const {
  return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

HWND Program::WaitForWindow(std::chrono::milliseconds timeout) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        return (found = FindWindowOf(pid_, "Dozerin", kMainWindowClass)) != nullptr || !Running();
      },
      timeout);
  return found;
}

DWORD Program::WaitForExit(std::chrono::milliseconds timeout) {
  if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return STILL_ACTIVE;
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_, &code);
  return code;
}

HWND FindWindowOf(DWORD pid, const char* title, const char* class_name) {
  struct Search {
    DWORD pid;
    const char* title;
    const char* class_name;
    HWND found;
  } search{pid, title, class_name, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner != s->pid) return TRUE;
        char text[256] = {};
        if (s->title != nullptr) {
          GetWindowTextA(hwnd, text, sizeof text);
          if (std::strcmp(text, s->title) != 0) return TRUE;
        }
        if (s->class_name != nullptr) {
          GetClassNameA(hwnd, text, sizeof text);
          if (std::strcmp(text, s->class_name) != 0) return TRUE;
        }
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadText(path);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) {
      lines.push_back("<unterminated> " + text.substr(pos));
      break;
    }
    const std::string line = text.substr(pos, end - pos);
    lines.push_back(IsStamp(line) ? line.substr(22) : "<no time stamp> " + line);
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string> EventLines(const std::string& path) {
  std::vector<std::string> lines;
  for (const std::string& line : LogLines(path)) {
    if (line.rfind("Set ES_", 0) == 0 || line.rfind("Set Enable ES_", 0) == 0) continue;
    lines.push_back(line);
  }
  return lines;
}

bool WaitForLogLine(const std::string& path, const std::string& line, int occurrences,
                    std::chrono::milliseconds timeout) {
  return WaitUntil(
      [&] {
        int n = 0;
        for (const std::string& l : LogLines(path)) n += l == line;
        return n >= occurrences;
      },
      timeout);
}

COLORREF Capture::At(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
  return RGB(bgra[i + 2], bgra[i + 1], bgra[i]);
}

Capture CaptureRect(const RECT& r) {
  Capture c;
  c.width = r.right - r.left;
  c.height = r.bottom - r.top;
  if (c.width <= 0 || c.height <= 0) return {};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = c.width;
  info.bmiHeader.biHeight = -c.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, c.width, c.height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  c.bgra.assign(
      static_cast<unsigned char*>(bits),
      static_cast<unsigned char*>(bits) + static_cast<std::size_t>(c.width) * c.height * 4);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return c;
}

void SaveScreenshot(const std::string& name) {
  if (g_shots_dir.empty()) return;
  CreateDirectoryA(g_shots_dir.c_str(), nullptr);
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  const Capture c = CaptureRect(screen);
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = c.width;
  info.biHeight = -c.height;
  info.biPlanes = 1;
  info.biBitCount = 32;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + c.bgra.size());
  std::ofstream out(g_shots_dir + "\\" + name + ".bmp", std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(reinterpret_cast<const char*>(c.bgra.data()),
            static_cast<std::streamsize>(c.bgra.size()));
}

bool TrayRect(RECT* r) {
  HWND tray = FindWindowA(nullptr, "Wine System Tray");
  if (tray == nullptr || !IsWindowVisible(tray)) return false;
  return GetWindowRect(tray, r) != FALSE;
}

int CountTrayPixels(Hue hue) {
  RECT r;
  if (!TrayRect(&r)) return 0;
  const Capture c = CaptureRect(r);
  int count = 0;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      const int red = GetRValue(c.At(x, y));
      const int green = GetGValue(c.At(x, y));
      const int blue = GetBValue(c.At(x, y));
      switch (hue) {
        case Hue::kCyan:
          count += red < 80 && green > 150 && blue > 180;
          break;
        case Hue::kYellow:
          count += red > 200 && green > 150 && blue < 100;
          break;
        case Hue::kRed:
          count += red > 180 && green < 90 && blue < 90;
          break;
      }
    }
  }
  return count;
}

}  // namespace dozerin::e2e
