// End-to-end tests of the settings sheet: opened through the menu command or a double click on the
// icon, driven through its controls, checked in the INI file line by line.
#include <windows.h>
// windows.h first: commctrl.h relies on its types.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/vocabulary.h"
#include "res/resource.h"
#include "tests/e2e/driver_win.h"

namespace dozerin::e2e {
namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

bool HasChildOfClass(HWND w, const char* class_name) {
  return FindWindowExA(w, nullptr, class_name, nullptr) != nullptr;
}

// The program's dialog titled "Dozerin": the sheet (it has a tab control) or a message box.
HWND FindDialog(DWORD pid, bool sheet) {
  HWND found = nullptr;
  WaitUntil([&] {
    found = nullptr;
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", "Dozerin")) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid && IsWindowVisible(w) && HasChildOfClass(w, "SysTabControl32") == sheet) {
        found = w;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::string Text(HWND w, int id) {
  char text[4096] = {};
  GetDlgItemTextA(w, id, text, sizeof text);
  return text;
}

// The INI file's lines, blank ones left out.
Lines IniLines(const std::string& path) {
  Lines lines;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return lines;
  std::string all;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) all.append(buffer, n);
  CloseHandle(f);
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

class Sheet : public ::testing::Test {
 protected:
  void Start(const std::string& ini) {
    inst_ = std::make_unique<Installation>(ini);
    program_ = std::make_unique<Program>(inst_->exe());
    main_ = program_->WaitForWindow();
    ASSERT_NE(main_, nullptr);
  }
  HWND Open() {
    PostMessageA(main_, WM_COMMAND, ID_SETTINGS, 0);
    sheet_ = FindDialog(program_->pid(), true);
    return sheet_;
  }
  HWND Page() { return reinterpret_cast<HWND>(SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0)); }
  // Switches tabs; a refusing page shows a message, so the request is posted.
  void Tab(int index) {
    PostMessageA(sheet_, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    std::this_thread::sleep_for(300ms);
  }
  void PressOk() { PostMessageA(sheet_, PSM_PRESSBUTTON, PSBTN_OK, 0); }
  void PressCancel() { PostMessageA(sheet_, PSM_PRESSBUTTON, PSBTN_CANCEL, 0); }
  bool SheetCloses() {
    return WaitUntil([&] { return !IsWindow(sheet_); });
  }
  // The message box that a check or a save shows; returns its text and closes it.
  std::string TakeMessage() {
    HWND box = FindDialog(program_->pid(), false);
    if (box == nullptr) return "<no message box>";
    const std::string text = Text(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(box); });
    return text;
  }
  void Shot(const std::string& name) {
    std::this_thread::sleep_for(400ms);
    SaveScreenshot(name);
  }
  // Adds an entry through the page's add dialog, checking that OK follows the text.
  void Add(HWND page, int add_button, int field, const std::string& text,
           const char* shot = nullptr) {
    PostMessageA(GetDlgItem(page, add_button), BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      HWND w = nullptr;
      while ((w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == program_->pid() && IsWindowVisible(w) && GetDlgItem(w, field) != nullptr &&
            GetDlgItem(w, IDCANCEL) != nullptr && GetWindow(w, GW_OWNER) == sheet_) {
          dialog = w;
          return true;
        }
      }
      return false;
    })) << "no add dialog";
    HWND ok = GetDlgItem(dialog, IDOK);
    EXPECT_FALSE(IsWindowEnabled(ok));
    SetDlgItemTextA(dialog, field, " ");
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(ok) != FALSE; })) << "blanks count";
    SetDlgItemTextA(dialog, field, "");
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(ok) == FALSE; }));
    SetDlgItemTextA(dialog, field, text.c_str());
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(ok) != FALSE; }));
    if (shot != nullptr) Shot(shot);
    PostMessageA(ok, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
  }
  // Whether the list box holds exactly these entries in this order. (The entries are found by
  // LB_FINDSTRINGEXACT: Wine cuts LB_GETTEXT short when it crosses processes.)
  static bool ListHolds(HWND page, int id, const Lines& expected) {
    const LRESULT count = SendDlgItemMessageA(page, id, LB_GETCOUNT, 0, 0);
    if (count != static_cast<LRESULT>(expected.size())) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const LRESULT found = SendDlgItemMessageA(page, id, LB_FINDSTRINGEXACT, i - 1,
                                                reinterpret_cast<LPARAM>(expected[i].c_str()));
      if (found != static_cast<LRESULT>(i)) return false;
    }
    return true;
  }
  void TearDown() override {
    if (program_ && program_->Running() && sheet_ != nullptr && IsWindow(sheet_)) PressCancel();
  }

  std::unique_ptr<Installation> inst_;
  std::unique_ptr<Program> program_;
  HWND main_ = nullptr;
  HWND sheet_ = nullptr;
};

// Wine has no network counters: a worker with a network threshold ends with this message.
const char kNoNetworkCounters[] = "パフォーマンスモニタの初期化に失敗しました。(Network Interface)";

TEST_F(Sheet, FurtherSettingsRequestsOpenNoSecondSheet) {
  Start("[GENERAL]\r\nLog=1\r\n");
  ASSERT_NE(Open(), nullptr);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Program(inst_->exe(), "--settings").WaitForExit(), 0u);
  // Posted after the requests, so handled after them inside whichever sheet's loop runs.
  PostMessageA(main_, WM_COMMAND, ID_HOLD_1HOUR, 0);
  ASSERT_TRUE(WaitForLogLine(inst_->log(), "Event KIND_MANUAL"));
  int sheets = 0;
  for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", "Dozerin")) != nullptr;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    sheets += owner == program_->pid() && HasChildOfClass(w, "SysTabControl32");
  }
  EXPECT_EQ(sheets, 1);
  PressCancel();
  EXPECT_TRUE(SheetCloses());
}

TEST_F(Sheet, OkAtOnceWritesTheGeneralKeysAndRestartsTheWorker) {
  Start("[GENERAL]\r\nLog=1\r\nNetworkTraffic=1500\r\nNetworkAveTime=8\r\nMouseCap=5\r\n");
  EXPECT_EQ(TakeMessage(), Acp(kNoNetworkCounters));
  ASSERT_NE(Open(), nullptr);
  HWND page = Page();
  EXPECT_EQ(Text(page, IDC_NETWORK_TRAFFIC), "1");  // 1500 bytes per second: 1 KB/s
  EXPECT_EQ(IsDlgButtonChecked(page, IDC_MOUSE_CAP), static_cast<UINT>(BST_UNCHECKED));
  Shot("sheet_general");
  PressOk();
  ASSERT_TRUE(SheetCloses());
  EXPECT_EQ(TakeMessage(), Acp(kNoNetworkCounters));  // the restarted worker reads the file anew
  EXPECT_EQ(IniLines(inst_->Path("dozerin.ini")),
            (Lines{"[GENERAL]", "Log=1", "NetworkTraffic=1024", "NetworkAveTime=8", "MouseCap=0",
                   "CPUUsage=0", "MaxMargin=0", "DiskTraffic=0"}));
  ASSERT_TRUE(WaitForLogLine(inst_->log(), "Start WorkThread!!", 2));
  EXPECT_EQ(EventLines(inst_->log()),
            (Lines{"Start WorkThread!!", "Finish WorkThread!!", "Start WorkThread!!"}));
}

TEST_F(Sheet, EveryPageFilledInWritesTheExampleFile) {
  Start("");
  ASSERT_NE(Open(), nullptr);
  HWND general = Page();
  SetDlgItemTextA(general, IDC_NETWORK_TRAFFIC, "100");
  SetDlgItemTextA(general, IDC_CPU_USAGE, "0");
  SendDlgItemMessageA(general, IDC_MOUSE_CAP, BM_CLICK, 0, 0);
  SetDlgItemTextA(general, IDC_MAX_MARGIN, "180");
  SetDlgItemTextA(general, IDC_DISK_TRAFFIC, "20000");
  Tab(1);
  HWND process = Page();
  EXPECT_NE(process, general);
  Add(process, IDC_PROCESS_ADD, IDC_ADD_PROCESS_NAME, "notepad.exe", "dialog_add_process");
  Shot("sheet_process");
  Tab(2);
  HWND window = Page();
  Add(window, IDC_WINDOW_ADD, IDC_ADD_WINDOW_NAME, Acp("*メモ帳"), "dialog_add_window");
  Add(window, IDC_WINDOW_ADD, IDC_ADD_WINDOW_NAME, "Untitled - ?otepad");
  Shot("sheet_window");
  Tab(3);
  Shot("sheet_option");
  Tab(4);
  HWND connection = Page();
  Add(connection, IDC_CONNECTION_ADD, IDC_ADD_CONNECTION_PORT, "3389", "dialog_add_connection");
  Add(connection, IDC_CONNECTION_ADD, IDC_ADD_CONNECTION_PORT, "22");
  Add(connection, IDC_CONNECTION_ADD, IDC_ADD_CONNECTION_PORT, "3389");  // taken once
  EXPECT_TRUE(ListHolds(connection, IDC_CONNECTION_LIST, {"3389", "22"}));
  Shot("sheet_connection");
  Tab(0);  // edits survive a tab switch
  EXPECT_EQ(Text(Page(), IDC_MAX_MARGIN), "180");
  PressOk();
  ASSERT_TRUE(SheetCloses());
  EXPECT_EQ(
      IniLines(inst_->Path("dozerin.ini")),
      (Lines{"[GENERAL]", "NetworkTraffic=102400", "CPUUsage=0", "MouseCap=1", "MaxMargin=180",
             "DiskTraffic=20000", "BusyDisplay=0", "ResetDisplayOnWakeup=0", "SetMarginOnWakeup=0",
             "BatteryHold=1", "BatteryFloor=0", "[PROCESS]", "0=notepad.exe", "[WINDOW]",
             Acp("0=*メモ帳"), "1=Untitled - ?otepad", "[CONNECTION]", "0=3389", "1=22"}));
}

TEST_F(Sheet, BadFieldsAreRefusedWithTheirMessages) {
  const std::string ini = "[GENERAL]\r\nLog=1\r\nMaxMargin=-1\r\n";
  Start(ini);
  ASSERT_NE(Open(), nullptr);
  HWND page = Page();
  EXPECT_EQ(Text(page, IDC_MAX_MARGIN), "4294967295");  // shown unchanged, refused at the check
  PressOk();
  EXPECT_EQ(TakeMessage(), Acp("0 から 2147483647 までの整数を入力してください。"));
  // The failing field has the focus with its text selected.
  GUITHREADINFO gui;
  ZeroMemory(&gui, sizeof gui);
  gui.cbSize = sizeof gui;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(sheet_, nullptr), &gui));
  EXPECT_EQ(gui.hwndFocus, GetDlgItem(page, IDC_MAX_MARGIN));
  DWORD from = 1, to = 0;
  SendDlgItemMessageA(page, IDC_MAX_MARGIN, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                      reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 10u);
  SetDlgItemTextA(page, IDC_MAX_MARGIN, "2147483647");
  SetDlgItemTextA(page, IDC_CPU_USAGE, "101");
  PressOk();
  EXPECT_EQ(TakeMessage(), Acp("0 から 100 までの整数を入力してください。"));
  SetDlgItemTextA(page, IDC_CPU_USAGE, "100");
  SetDlgItemTextA(page, IDC_NETWORK_TRAFFIC, "");
  Tab(2);  // leaving the page checks it too
  EXPECT_EQ(TakeMessage(), Acp("正の整数を入力してください。"));
  EXPECT_EQ(Page(), page);
  SetDlgItemTextA(page, IDC_NETWORK_TRAFFIC, "4194304");
  PressOk();
  Shot("sheet_range_message");
  EXPECT_EQ(TakeMessage(), Acp("0 から 4194303 までの整数を入力してください。"));
  EXPECT_TRUE(IsWindow(sheet_));
  PressCancel();
  ASSERT_TRUE(SheetCloses());
  EXPECT_EQ(IniLines(inst_->Path("dozerin.ini")), (Lines{"[GENERAL]", "Log=1", "MaxMargin=-1"}));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(EventLines(inst_->log()), Lines{"Start WorkThread!!"});  // no restart
}

TEST_F(Sheet, LargestRateIsStoredNegativeAndShownAgain) {
  Start("");
  ASSERT_NE(Open(), nullptr);
  SetDlgItemTextA(Page(), IDC_NETWORK_TRAFFIC, "4194303");
  PressOk();
  ASSERT_TRUE(SheetCloses());
  EXPECT_EQ(TakeMessage(), Acp(kNoNetworkCounters));
  const Lines lines = IniLines(inst_->Path("dozerin.ini"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "NetworkTraffic=-1024"), lines.end());
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(Text(Page(), IDC_NETWORK_TRAFFIC), "4194303");
  PressCancel();
  ASSERT_TRUE(SheetCloses());
}

TEST_F(Sheet, ListPagesKeepOrderDuplicatesAndRenumber) {
  Start(
      "[GENERAL]\r\nCPUAveTime=2\r\n[PROCESS]\r\n0=a.exe\r\n1=b.exe\r\n2=c.exe\r\n4=e.exe\r\n"
      "[WINDOW]\r\n0=keep\r\n");
  ASSERT_NE(Open(), nullptr);
  Tab(1);
  HWND page = Page();
  EXPECT_TRUE(ListHolds(page, IDC_PROCESS_LIST, {"a.exe", "b.exe", "c.exe"}));
  SendMessageA(GetDlgItem(page, IDC_PROCESS_DELETE), BM_CLICK, 0, 0);  // nothing selected
  EXPECT_TRUE(ListHolds(page, IDC_PROCESS_LIST, {"a.exe", "b.exe", "c.exe"}));
  SendDlgItemMessageA(page, IDC_PROCESS_LIST, LB_SETCURSEL, 1, 0);
  SendMessageA(GetDlgItem(page, IDC_PROCESS_DELETE), BM_CLICK, 0, 0);
  EXPECT_TRUE(ListHolds(page, IDC_PROCESS_LIST, {"a.exe", "c.exe"}));
  EXPECT_EQ(SendDlgItemMessageA(page, IDC_PROCESS_LIST, LB_GETCURSEL, 0, 0), LB_ERR);
  Add(page, IDC_PROCESS_ADD, IDC_ADD_PROCESS_NAME, "a.exe");
  EXPECT_TRUE(ListHolds(page, IDC_PROCESS_LIST, {"a.exe", "c.exe", "a.exe"}));
  PressOk();
  ASSERT_TRUE(SheetCloses());
  // The window page was never shown: its list stays as it was.
  EXPECT_EQ(IniLines(inst_->Path("dozerin.ini")),
            (Lines{"[GENERAL]", "CPUAveTime=2", "NetworkTraffic=0", "CPUUsage=0", "MouseCap=0",
                   "MaxMargin=0", "DiskTraffic=0", "[PROCESS]", "0=a.exe", "1=c.exe", "2=a.exe",
                   "[WINDOW]", "0=keep"}));
}

TEST_F(Sheet, FailedWriteShowsTheMessageAndKeepsTheSheetOpen) {
  Start("[GENERAL]\r\nLog=1\r\nMaxMargin=5\r\n");
  ASSERT_NE(Open(), nullptr);
  SetDlgItemTextA(Page(), IDC_MAX_MARGIN, "60");
  // Another program holds the file: the write fails.
  HANDLE hold = CreateFileA(inst_->Path("dozerin.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  PressOk();
  EXPECT_EQ(TakeMessage(),
            Acp("設定の更新時にエラーが発生しました。\nインストールフォルダに書き込み"
                "権限があるか確認してください。"));
  EXPECT_TRUE(IsWindow(sheet_));
  CloseHandle(hold);
  PressOk();  // again, now that the file can be written
  ASSERT_TRUE(SheetCloses());
  const Lines lines = IniLines(inst_->Path("dozerin.ini"));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "MaxMargin=60"), lines.end());
}

TEST_F(Sheet, AFailedListSaveStopsTheRoundAndASecondOkWritesEverything) {
  Start("[GENERAL]\r\nMaxMargin=5\r\n[WINDOW]\r\n0=old\r\n");
  ASSERT_NE(Open(), nullptr);
  HWND general = Page();
  SetDlgItemTextA(general, IDC_CPU_USAGE, "0042");
  SetDlgItemTextA(general, IDC_MAX_MARGIN, "60");
  Tab(1);
  // An entry that no INI line can hold: the Process page's save fails.
  SendDlgItemMessageA(Page(), IDC_PROCESS_LIST, LB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>("line\nbreak"));
  Tab(2);
  Add(Page(), IDC_WINDOW_ADD, IDC_ADD_WINDOW_NAME, "new");
  Tab(3);
  Tab(0);  // back on the tab: the value as the page took it, formatted anew
  EXPECT_EQ(Text(Page(), IDC_CPU_USAGE), "42");
  PressOk();
  EXPECT_EQ(TakeMessage(),
            Acp("設定の更新時にエラーが発生しました。\nインストールフォルダに書き込み"
                "権限があるか確認してください。"));
  ASSERT_TRUE(IsWindow(sheet_));
  // General saved; the pages after the failing one did not.
  EXPECT_EQ(IniLines(inst_->Path("dozerin.ini")),
            (Lines{"[GENERAL]", "MaxMargin=60", "NetworkTraffic=0", "CPUUsage=42", "MouseCap=0",
                   "DiskTraffic=0", "[WINDOW]", "0=old"}));
  Tab(1);
  SendDlgItemMessageA(Page(), IDC_PROCESS_LIST, LB_SETCURSEL, 0, 0);
  SendMessageA(GetDlgItem(Page(), IDC_PROCESS_DELETE), BM_CLICK, 0, 0);
  PressOk();
  ASSERT_TRUE(SheetCloses());
  EXPECT_EQ(
      IniLines(inst_->Path("dozerin.ini")),
      (Lines{"[GENERAL]", "MaxMargin=60", "NetworkTraffic=0", "CPUUsage=42", "MouseCap=0",
             "DiskTraffic=0", "BusyDisplay=0", "ResetDisplayOnWakeup=0", "SetMarginOnWakeup=0",
             "BatteryHold=1", "BatteryFloor=0", "[WINDOW]", "0=old", "1=new"}));
}

TEST_F(Sheet, DoubleClickOpensOneSheetAndTheMenuStaysShut) {
  Start("[GENERAL]\r\nLog=1\r\n");
  auto double_click = [&] {
    for (UINT m : {kWmLButtonDown, kWmLButtonUp, kWmLButtonDblClk, kWmLButtonUp}) {
      PostMessageA(main_, WM_TRAY_NOTIFY, kTrayIconId, m);
    }
  };
  double_click();
  sheet_ = FindDialog(program_->pid(), true);
  ASSERT_NE(sheet_, nullptr);
  double_click();
  PostMessageA(main_, WM_TRAY_NOTIFY, kTrayIconId, kWmRButtonUp);
  std::this_thread::sleep_for(1500ms);
  int sheets = 0;
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, "#32770", "Dozerin")) != nullptr)
    sheets += IsWindowVisible(w) != 0;
  EXPECT_EQ(sheets, 1);
  EXPECT_EQ(FindWindowOf(program_->pid(), nullptr, "#32768") != nullptr &&
                IsWindowVisible(FindWindowOf(program_->pid(), nullptr, "#32768")),
            false);
  // The main window goes on with its work meanwhile.
  SendMessageA(main_, WM_ACTIVITY_EVENT, SET_BUSY, KIND_CPU);
  EXPECT_TRUE(WaitForLogLine(inst_->log(), "Event KIND_CPU"));
  PressCancel();
  ASSERT_TRUE(SheetCloses());
}

}  // namespace
}  // namespace dozerin::e2e
