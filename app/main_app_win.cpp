#include <objbase.h>
#include <windows.h>
// windows.h first: commctrl.h relies on its types.
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/framework_win.h"
#include "app/main_app.h"
#include "app/text.h"
#include "control/main_wnd_win.h"
#include "control/shell_messages_win.h"
#include "res/resource.h"

namespace dozerin {
namespace {

UINT g_taskbar_created = 0;

UINT FileErrorText(FileError error) {
  switch (error) {
    case FileError::kAccessDenied:
      return IDS_FILE_ACCESS_DENIED;
    case FileError::kSharingViolation:
      return IDS_FILE_SHARING_VIOLATION;
    case FileError::kBadPath:
      return IDS_FILE_BAD_PATH;
    case FileError::kDiskFull:
      return IDS_FILE_DISK_FULL;
    default:
      return IDS_FILE_GENERIC;
  }
}

// The main window of the running instance: of the program's class and title, in a process whose
// executable has this base name (another copy may run beside it under another name). A window
// whose process name cannot be read is taken only when no other window is that copy's: a copy of
// another name is never sent what was meant for this one.
HWND RunningInstanceWindow(const std::string& base_name) {
  const std::string title = win::LoadResString(IDS_APP_TITLE);
  HWND unknown = nullptr;
  for (HWND w = nullptr;
       (w = FindWindowExA(nullptr, w, win::WindowClassName(), title.c_str())) != nullptr;) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    const std::string name = win::ProcessBaseName(pid);
    if (name.empty()) {
      if (unknown == nullptr) unknown = w;
      continue;
    }
    if (lstrcmpiA(name.c_str(), base_name.c_str()) == 0) return w;
  }
  return unknown;
}

// Whether the instance's mutex exists; looked at without taking it. One made by a process of a
// higher integrity level cannot be opened from here, but exists all the same.
bool InstanceMutexExists(const std::string& base_name) {
  win::UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, base_name.c_str()));
  return mutex || GetLastError() == ERROR_ACCESS_DENIED;
}

// The running instance's main window, waited for a while: it comes a moment after its mutex.
HWND FindRunning(const std::string& base_name) {
  HWND target = nullptr;
  for (int attempt = 0; attempt < 50 && target == nullptr; ++attempt) {
    if (attempt != 0) Sleep(100);
    target = RunningInstanceWindow(base_name);
  }
  return target;
}

// Sends a request to the running instance's window; false when it did not take it.
bool SendTo(HWND target, std::uintptr_t request, const void* data, DWORD size) {
  if (target == nullptr) return false;
  COPYDATASTRUCT copy = {request, size, const_cast<void*>(data)};
  DWORD_PTR taken = FALSE;
  return SendMessageTimeoutA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy),
                             SMTO_ABORTIFHUNG, 10000, &taken) != 0 &&
         taken == TRUE;
}

bool SendRunning(const std::string& base_name, std::uintptr_t request, const void* data,
                 DWORD size) {
  return SendTo(FindRunning(base_name), request, data, size);
}

// Hands a hold or its stop to the running instance; false when it did not take it.
bool HandOver(const KeepAwakeRequest& request, const std::string& base_name) {
  const std::int64_t seconds = request.seconds;
  return request.kind == KeepAwakeRequest::Kind::kStop
             ? SendRunning(base_name, kCopyDataStopHold, nullptr, 0)
             : SendRunning(base_name, kCopyDataHold, &seconds, sizeof seconds);
}

// Asks the running instance to show its settings sheet, which may then come to the front.
void OpenRunningSettings(const std::string& base_name) {
  if (HWND target = RunningInstanceWindow(base_name); target != nullptr) {
    DWORD pid = 0;
    if (GetWindowThreadProcessId(target, &pid) != 0) AllowSetForegroundWindow(pid);
  }
  SendRunning(base_name, kCopyDataSettings, nullptr, 0);
}

// The running instance's answer to --status, which comes to a window of this process while the
// request waits; empty when none came. Only the window that was asked may answer.
std::string g_status;
HWND g_status_from = nullptr;

LRESULT CALLBACK StatusAnswer(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  if (message == WM_COPYDATA && copy != nullptr && g_status_from != nullptr &&
      reinterpret_cast<HWND>(wparam) == g_status_from && copy->dwData == kCopyDataStatusReply &&
      copy->lpData != nullptr && copy->cbData <= 4096) {
    g_status.assign(static_cast<const char*>(copy->lpData), copy->cbData);
    return TRUE;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

std::string AskStatus(const std::string& base_name) {
  WNDCLASSA kind = {};
  kind.lpfnWndProc = StatusAnswer;
  kind.hInstance = GetModuleHandleA(nullptr);
  kind.lpszClassName = kStatusAnswerClass;
  RegisterClassA(&kind);
  HWND answer = CreateWindowExA(0, kind.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                kind.hInstance, nullptr);
  if (answer == nullptr) return {};
  // The answer may come from an instance of a lower integrity level than this start.
  ChangeWindowMessageFilterEx(answer, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
  const StatusRequest request = {reinterpret_cast<std::uintptr_t>(answer), GetCurrentProcessId(),
                                 0};
  g_status.clear();
  g_status_from = FindRunning(base_name);
  if (!SendTo(g_status_from, kCopyDataStatus, &request, sizeof request)) g_status.clear();
  g_status_from = nullptr;
  DestroyWindow(answer);
  return g_status;
}

// Ctrl-C at the console reaches the command under --while; this program waits on until the
// command has ended, as on Linux.
BOOL WINAPI KeepWaiting(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Joins the console of the program that started this one (a prompt, dozerin.com), once; true when
// attached to it.
bool JoinParentConsole() {
  static int joined = -1;
  if (joined < 0) {
    joined = AttachConsole(ATTACH_PARENT_PROCESS) ? 1 : 0;
    if (joined != 0) SetConsoleCtrlHandler(KeepWaiting, TRUE);
  }
  return joined != 0;
}

bool Valid(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Writes to a console in its own characters; false when the handle is no console of this process.
bool WriteConsoleText(HANDLE handle, const std::string& text) {
  DWORD mode = 0;
  if (!Valid(handle) || !GetConsoleMode(handle, &mode)) return false;
  const std::wstring wide = win::WideFromAnsi(text);
  DWORD written = 0;
  return !wide.empty() && WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()),
                                        &written, nullptr) != FALSE;
}

bool WriteBytes(HANDLE handle, const std::string& text) {
  DWORD written = 0;
  return Valid(handle) &&
         WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// A line for whoever started the program: its standard output when that leads somewhere (a file
// or a pipe in the ANSI code page, a console in its own characters), else the console it was
// started from, else a message box.
void SayLine(const std::string& line) {
  const std::string text = line + "\r\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (WriteConsoleText(out, text)) return;
  const bool character_device = Valid(out) && GetFileType(out) == FILE_TYPE_CHAR;
  if (Valid(out) && !character_device && WriteBytes(out, text)) return;
  // A console handle (given by dozerin.com) can be written once attached to that console; NUL
  // is a character device too, and takes the line.
  if (JoinParentConsole()) {
    if (WriteConsoleText(out, text) || (character_device && WriteBytes(out, text))) return;
    win::UniqueHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (WriteConsoleText(console.get(), text)) return;
  }
  if (WriteBytes(out, text)) return;
  win::ShowMessage(nullptr, line, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

// The extension of a path's last part, with its dot; empty when it has none.
std::wstring Extension(const std::wstring& path) {
  const std::size_t dot = path.find_last_of(L'.');
  const std::size_t separator = path.find_last_of(L"\\/:");
  return dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)
             ? std::wstring()
             : path.substr(dot);
}

bool IsBatchFile(const std::wstring& path) {
  const std::wstring extension = Extension(path);
  return lstrcmpiW(extension.c_str(), L".bat") == 0 || lstrcmpiW(extension.c_str(), L".cmd") == 0;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A program named as a prompt would find it: where it is named with a folder, there; else in the
// current folder, then along PATH. A name without an extension is tried with each of PATHEXT's
// (npm finds npm.cmd). Empty when it is not found.
std::wstring FindProgram(const std::wstring& name) {
  if (name.empty()) return {};
  std::vector<std::wstring> extensions = {L""};
  if (Extension(name).empty()) {
    extensions.clear();
    wchar_t buffer[2048] = {};
    const DWORD length = GetEnvironmentVariableW(L"PATHEXT", buffer, 2048);
    std::wstring list = length > 0 && length < 2048 ? buffer : L".COM;.EXE;.BAT;.CMD";
    for (std::size_t at = 0; at <= list.size();) {
      const std::size_t end = std::min(list.find(L';', at), list.size());
      if (end > at) extensions.push_back(list.substr(at, end - at));
      at = end + 1;
    }
  }
  std::vector<std::wstring> folders;
  if (name.find_first_of(L"\\/:") != std::wstring::npos) {
    folders.push_back(L"");
  } else {
    folders.push_back(L".\\");
    std::vector<wchar_t> path(32768);
    const DWORD length = GetEnvironmentVariableW(L"PATH", path.data(), 32768);
    const std::wstring list = length > 0 && length < 32768 ? path.data() : L"";
    for (std::size_t at = 0; at <= list.size();) {
      const std::size_t end = std::min(list.find(L';', at), list.size());
      std::wstring folder = list.substr(at, end - at);
      folder.erase(std::remove(folder.begin(), folder.end(), L'"'), folder.end());
      if (!folder.empty()) folders.push_back(folder.back() == L'\\' ? folder : folder + L'\\');
      at = end + 1;
    }
  }
  for (const std::wstring& folder : folders) {
    for (const std::wstring& extension : extensions) {
      const std::wstring candidate = folder + name + extension;
      if (!IsFile(candidate)) continue;
      wchar_t full[MAX_PATH * 4] = {};
      const DWORD length = GetFullPathNameW(candidate.c_str(), MAX_PATH * 4, full, nullptr);
      return length > 0 && length < MAX_PATH * 4 ? std::wstring(full) : candidate;
    }
  }
  return {};
}

// Runs the command of --while under a hold: this process's own execution state for the command's
// life, and the running instance's hold when it takes it (it keeps the hold, shown with its
// reason, until this process ends). The command's exit code; 127 when it could not be started.
int RunWhile(const std::vector<std::string>& command, bool instance_running,
             const std::string& base_name) {
  // The command as it was typed, in the system's own wide text: converted to the ANSI code page
  // and split again, characters would be lost, and some (a fullwidth quote) would split it anew.
  const std::wstring line = GetCommandLineW();
  const std::optional<WhileCommand> found =
      FindWhileCommand(std::u16string_view(reinterpret_cast<const char16_t*>(line.c_str())));
  if (!found) {
    SayLine(text::FillIn(win::LoadResString(IDS_WHILE_NOT_STARTED), command[0]));
    return 127;
  }
  std::wstring program = FindProgram(
      std::wstring(reinterpret_cast<const wchar_t*>(found->program.data()), found->program.size()));
  const std::wstring arguments = line.substr(found->arguments);
  std::wstring application;  // empty: the system looks the program up itself
  std::wstring run = line.substr(found->begin);
  if (IsBatchFile(program)) {
    // cmd.exe reads a batch file's line by rules of its own: only arguments it cannot take as
    // commands, redirections or variables go to it, inside quotes of its own (/s keeps them).
    if (!SafeForCmd(std::u16string_view(reinterpret_cast<const char16_t*>(arguments.c_str())))) {
      SayLine(text::FillIn(win::LoadResString(IDS_WHILE_BATCH_REFUSED), command[0]));
      return 126;
    }
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      SayLine(text::FillIn(win::LoadResString(IDS_WHILE_NOT_STARTED), command[0]));
      return 127;
    }
    application = std::wstring(system) + L"\\cmd.exe";
    run = L"cmd.exe /d /v:off /s /c \"\"" + program + L"\"" + arguments + L"\"";
  } else if (!program.empty()) {
    application = program;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // The command writes where this process's own output goes, when that leads somewhere. Started
  // from a console (a prompt, dozerin.com), it shares that console instead of getting a window of
  // its own.
  HANDLE streams[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                       GetStdHandle(STD_ERROR_HANDLE)};
  win::UniqueHandle console_in, console_out;
  if ((!Valid(streams[1]) || GetFileType(streams[1]) == FILE_TYPE_CHAR) && JoinParentConsole() &&
      !Valid(streams[1])) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    console_in.Reset(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                                 nullptr));
    console_out.Reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                                  nullptr));
    streams[0] = console_in.get();
    streams[1] = streams[2] = console_out.get();
  }
  if (Valid(streams[1])) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = streams[0];
    startup.hStdOutput = streams[1];
    startup.hStdError = streams[2];
  }
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), run.data(), nullptr,
                      nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
    SayLine(text::FillIn(win::LoadResString(IDS_WHILE_NOT_STARTED), command[0]));
    return 127;
  }
  win::UniqueHandle process(started.hProcess);
  win::UniqueHandle thread(started.hThread);
  WhileRequest request = {};
  request.requester_pid = GetCurrentProcessId();
  const std::string holder = WhileHolder(command[0], started.dwProcessId);
  std::memcpy(request.holder, holder.data(), std::min(holder.size(), sizeof request.holder));
  // Its own request too, for the command's whole life: a hold handed over ends with the instance,
  // which may end first.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  if (instance_running) SendRunning(base_name, kCopyDataWhile, &request, sizeof request);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

}  // namespace

struct CMainApp::Platform {
  win::UniqueHandle instance_mutex;  // held for the life of the process
  bool com_initialized = false;
};

UINT TaskbarCreatedMessage() {
  return g_taskbar_created;
}

CMainApp::CMainApp() : platform_(std::make_unique<Platform>()) {
  g_taskbar_created = RegisterWindowMessageA("TaskbarCreated");
}

CMainApp::~CMainApp() = default;

bool CMainApp::InitInstance() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
  platform_->com_initialized = true;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                        ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  const std::string exe = ExecutablePath();
  if (exe.empty()) return false;
  paths_ = DeriveSidePaths(exe);
  std::string title = win::LoadResString(IDS_FRAMEWORK_APP_TITLE);
  win::SetAppTitle(title.empty() ? paths_.base_name : title);

  store_.SetPath(paths_.ini);
  log_.Configure(paths_.log, store_.ReadInt(settings::kLog) != 0);

  // A start that only asks the instance something never owns the instance's mutex, not even for
  // a moment: while it waits or shows a message, a normal start must still become the instance.
  const bool asks_only = keep_awake_.ask_status ||
                         keep_awake_.kind == KeepAwakeRequest::Kind::kStop ||
                         keep_awake_.kind == KeepAwakeRequest::Kind::kWhile;
  bool instance_running = InstanceMutexExists(paths_.base_name);
  if (!instance_running && !asks_only) {
    SetLastError(ERROR_SUCCESS);
    platform_->instance_mutex.Reset(CreateMutexA(nullptr, TRUE, paths_.base_name.c_str()));
    // Another start made it in between, or it was made at another integrity level.
    const DWORD error = GetLastError();
    instance_running = error == ERROR_ALREADY_EXISTS ||
                       (!platform_->instance_mutex && error == ERROR_ACCESS_DENIED);
    if (instance_running) platform_->instance_mutex.Reset();
  }
  if (keep_awake_.kind == KeepAwakeRequest::Kind::kWhile) {
    start_exit_code_ = RunWhile(keep_awake_.command, instance_running, paths_.base_name);
    return false;
  }
  if (instance_running) {
    // Another start: silent, unless it brings a hold or a stop, asks for the settings or asks how
    // things stand.
    if (keep_awake_.kind != KeepAwakeRequest::Kind::kNone &&
        !HandOver(keep_awake_, paths_.base_name)) {
      win::ShowMessage(nullptr, win::LoadResString(IDS_KEEP_AWAKE_NOT_TAKEN),
                       MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
      start_exit_code_ = 1;
    }
    if (keep_awake_.open_settings) OpenRunningSettings(paths_.base_name);
    if (keep_awake_.ask_status) {
      const std::string status = AskStatus(paths_.base_name);
      SayLine(status.empty() ? win::LoadResString(IDS_NOT_RUNNING) : status);
      if (status.empty()) start_exit_code_ = 1;
    }
    return false;
  }
  if (keep_awake_.ask_status) {
    SayLine(win::LoadResString(IDS_NOT_RUNNING));
    start_exit_code_ = 1;
    return false;
  }
  // A stop with no instance running: there is no hold to stop.
  if (keep_awake_.kind == KeepAwakeRequest::Kind::kStop) return false;

  CMainWnd* wnd = CMainWnd::Create(*this);
  if (wnd == nullptr) return false;
  win::SetMainWindow(wnd->hwnd());
  if (keep_awake_.kind == KeepAwakeRequest::Kind::kStart) wnd->StartHold(keep_awake_.seconds);
  if (keep_awake_.open_settings) PostMessageA(wnd->hwnd(), WM_COMMAND, ID_SETTINGS, 0);
  return true;
}

int CMainApp::Run() {
  return win::RunMessageLoop();
}

int CMainApp::ExitInstance(int exit_code) {
  if (platform_->com_initialized) CoUninitialize();
  platform_->com_initialized = false;
  return exit_code;
}

void CMainApp::ReportLogFailure(FileError error) {
  if (error == FileError::kNone || reporting_failure_) return;
  reporting_failure_ = true;
  const std::string text = text::FillIn(win::LoadResString(FileErrorText(error)), log_.path());
  // Often from a tick, with nothing of the program on screen: the box comes to the front.
  win::ShowMessage(nullptr, text, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
  reporting_failure_ = false;
}

CMainApp& App() {
  static CMainApp app;
  return app;
}

}  // namespace dozerin

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return dozerin::win::Guarded(0, [] {
    using dozerin::KeepAwakeRequest;
    // The arguments as the C runtime split them, in the ANSI code page like every text shown.
    const std::vector<std::string> args(__argv + (__argc > 0 ? 1 : 0), __argv + __argc);
    const KeepAwakeRequest request = dozerin::ParseKeepAwake(args);
    if (request.kind == KeepAwakeRequest::Kind::kBad) {
      const std::string text = dozerin::text::FillIn(
          dozerin::win::LoadResString(IDS_KEEP_AWAKE_BAD_VALUE), request.value);
      dozerin::win::SetAppTitle(dozerin::win::LoadResString(IDS_FRAMEWORK_APP_TITLE));
      dozerin::win::ShowMessage(nullptr, text, MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
      return 2;
    }
    if (request.kind == KeepAwakeRequest::Kind::kWhile && request.command.empty()) {
      dozerin::win::SetAppTitle(dozerin::win::LoadResString(IDS_FRAMEWORK_APP_TITLE));
      dozerin::win::ShowMessage(nullptr, dozerin::win::LoadResString(IDS_WHILE_NO_COMMAND),
                                MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
      return 2;
    }
    dozerin::CMainApp& app = dozerin::App();
    app.SetKeepAwake(request);
    const int code = app.InitInstance() ? app.Run() : app.start_exit_code();
    return app.ExitInstance(code);
  });
}
