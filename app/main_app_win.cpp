#include <objbase.h>
#include <windows.h>
// windows.h first: commctrl.h relies on its types.
#include <commctrl.h>

#include "app/framework_win.h"
#include "app/main_app.h"
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

}  // namespace

struct CMainApp::Platform {
  win::UniqueHandle instance_mutex;  // held for the life of the process
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
  com_initialized_ = true;
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

  platform_->instance_mutex.Reset(CreateMutexA(nullptr, TRUE, paths_.base_name.c_str()));
  if (GetLastError() == ERROR_ALREADY_EXISTS) return false;

  CMainWnd* wnd = CMainWnd::Create(*this);
  if (wnd == nullptr) return false;
  win::SetMainWindow(wnd->hwnd());
  return true;
}

int CMainApp::Run() {
  return win::RunMessageLoop();
}

int CMainApp::ExitInstance(int exit_code) {
  if (com_initialized_) CoUninitialize();
  com_initialized_ = false;
  return exit_code;
}

void CMainApp::ReportLogFailure(FileError error) {
  if (error == FileError::kNone || reporting_failure_) return;
  reporting_failure_ = true;
  std::string text = win::LoadResString(FileErrorText(error));
  const std::size_t at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, log_.path());
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
    dozerin::CMainApp& app = dozerin::App();
    const int code = app.InitInstance() ? app.Run() : 0;
    return app.ExitInstance(code);
  });
}
