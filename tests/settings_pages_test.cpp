#include "settings/settings_pages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

class FakeView : public PageView {
 public:
  std::string ItemText(int id) override { return texts[id]; }
  void SetItemText(int id, const std::string& text) override { texts[id] = text; }
  bool Checked(int id) override { return checks[id]; }
  void SetChecked(int id, bool checked) override { checks[id] = checked; }
  void SetSpinRange(int id, std::uint32_t low, std::uint32_t high) override {
    ranges[id] = {low, high};
  }
  void FocusAndSelectAll(int id) override { focused = id; }
  void ShowNotAnInteger() override { messages.push_back("not an integer"); }
  void ShowOutOfRange(std::uint32_t low, std::uint32_t high) override {
    messages.push_back(std::to_string(low) + " to " + std::to_string(high));
  }
  void ShowWriteFailed() override { messages.push_back("write failed"); }
  std::vector<std::string> ListEntries(int id) override { return lists[id]; }
  void AppendListEntry(int id, const std::string& text) override { lists[id].push_back(text); }
  int ListSelection(int) override { return selection; }
  void RemoveListEntry(int id, int index) override {
    lists[id].erase(lists[id].begin() + index);
    selection = -1;
  }
  void SelectListEntry(int, int index) override { selection = index; }
  std::optional<std::string> RunAddDialog(int template_id) override {
    dialogs.push_back(template_id);
    return dialog_result;
  }

  std::map<int, std::string> texts;
  std::map<int, bool> checks;
  std::map<int, std::pair<std::uint32_t, std::uint32_t>> ranges;
  std::map<int, std::vector<std::string>> lists;
  std::vector<std::string> messages;
  std::vector<int> dialogs;
  std::optional<std::string> dialog_result;
  int focused = 0;
  int selection = -1;
};

class PagesTest : public ::testing::Test {
 protected:
  void Ini(const std::string& text) { WriteFileBytes(store_.path(), text); }
  std::string File() { return ReadFileBytes(store_.path()); }
  ScratchDir dir_;
  SettingsStore store_{dir_.File("dozerin.ini")};
  FakeView view_;
};

#ifdef _WIN32
constexpr char kNl[] = "\r\n";
#else
constexpr char kNl[] = "\n";
#endif

TEST_F(PagesTest, GeneralLoadsConvertsAndSavesInOrder) {
  Ini(std::string("[GENERAL]") + kNl + "NetworkTraffic=1500" + kNl + "MouseCap=5" + kNl +
      "MaxMargin=-1" + kNl + "Log=1" + kNl);
  CPageGeneral page(store_, view_);
  page.Initialize();
  EXPECT_EQ(view_.texts[IDC_NETWORK_TRAFFIC], "1");
  EXPECT_EQ(view_.texts[IDC_CPU_USAGE], "0");
  EXPECT_FALSE(view_.checks[IDC_MOUSE_CAP]);  // 5 is no flag value: cleared
  EXPECT_EQ(view_.texts[IDC_MAX_MARGIN], "4294967295");
  EXPECT_EQ(view_.ranges[IDC_NETWORK_SPIN], (std::pair<std::uint32_t, std::uint32_t>{0, 4194303}));
  EXPECT_EQ(view_.ranges[IDC_CPU_SPIN], (std::pair<std::uint32_t, std::uint32_t>{0, 100}));
  EXPECT_EQ(view_.ranges[IDC_MARGIN_SPIN],
            (std::pair<std::uint32_t, std::uint32_t>{0, 2147483647}));
  view_.texts[IDC_MAX_MARGIN] = "180";
  view_.texts[IDC_NETWORK_TRAFFIC] = "4194303";
  view_.texts[IDC_DISK_TRAFFIC] = "40000";
  ASSERT_TRUE(page.Save());
  EXPECT_EQ(File(), std::string("[GENERAL]") + kNl + "NetworkTraffic=-1024" + kNl + "MouseCap=0" +
                        kNl + "MaxMargin=180" + kNl + "Log=1" + kNl + "CPUUsage=0" + kNl +
                        "DiskTraffic=40000" + kNl);
  CPageGeneral again(store_, view_);
  again.Initialize();
  EXPECT_EQ(view_.texts[IDC_NETWORK_TRAFFIC], "4194303");
}

TEST_F(PagesTest, GeneralFieldChecks) {
  struct Row {
    const char* network;
    const char* cpu;
    const char* margin;
    std::string message;  // empty: accepted
    int focused;
    const char* disk = "0";
  };
  const Row rows[] = {
      {"0", "0", "0", "", 0},
      {" 12", "100", "2147483647", "", 0},
      {"12abc", "7", "0", "", 0},  // what follows the digits is not looked at
      {"", "0", "0", "not an integer", IDC_NETWORK_TRAFFIC},
      {"abc", "0", "0", "not an integer", IDC_NETWORK_TRAFFIC},
      {"-1", "0", "0", "not an integer", IDC_NETWORK_TRAFFIC},
      {"4194304", "0", "0", "0 to 4194303", IDC_NETWORK_TRAFFIC},
      {"99999999999999999999999", "0", "0", "0 to 4194303", IDC_NETWORK_TRAFFIC},
      {"1", "101", "0", "0 to 100", IDC_CPU_USAGE},
      {"1", "1", "2147483648", "0 to 2147483647", IDC_MAX_MARGIN},
      {"x", "101", "-", "not an integer", IDC_NETWORK_TRAFFIC},  // the first failure only
      {"1", "1", "0", "0 to 4194303", IDC_DISK_TRAFFIC, "4194304"},
  };
  for (const Row& r : rows) {
    FakeView view;
    CPageGeneral page(store_, view);
    view.texts = {{IDC_NETWORK_TRAFFIC, r.network},
                  {IDC_CPU_USAGE, r.cpu},
                  {IDC_MAX_MARGIN, r.margin},
                  {IDC_DISK_TRAFFIC, r.disk}};
    EXPECT_EQ(page.Check(), r.message.empty()) << r.network << "/" << r.cpu << "/" << r.margin;
    EXPECT_EQ(view.messages,
              r.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.message});
    EXPECT_EQ(view.focused, r.focused);
  }
}

TEST_F(PagesTest, FirstFailedWriteStopsTheSave) {
  SettingsStore unwritable(dir_.File("missing-folder") + "/dozerin.ini");
  CPageGeneral general(unwritable, view_);
  general.Initialize();
  EXPECT_FALSE(general.Save());
  CPageOption option(unwritable, view_);
  option.Initialize();
  EXPECT_FALSE(option.Save());
  CPageProcess process(unwritable, view_);
  process.Initialize();
  view_.lists[IDC_PROCESS_LIST] = {"a.exe"};
  EXPECT_FALSE(process.Save());
  EXPECT_EQ(view_.messages,
            (std::vector<std::string>{"write failed", "write failed", "write failed"}));
}

TEST_F(PagesTest, OptionLoadsInOrderAndSavesClearedFlagsAsZero) {
  Ini(std::string("[GENERAL]") + kNl + "BusyDisplay=9" + kNl + "SetMarginOnWakeup=1" + kNl +
      "BatteryFloor=250" + kNl);
  CPageOption page(store_, view_);
  page.Initialize();
  EXPECT_FALSE(view_.checks[IDC_BUSY_DISPLAY]);
  EXPECT_TRUE(view_.checks[IDC_SET_MARGIN_ON_WAKEUP]);
  EXPECT_FALSE(view_.checks[IDC_RESET_DISPLAY_ON_WAKEUP]);
  EXPECT_TRUE(view_.checks[IDC_BATTERY_HOLD]);
  EXPECT_EQ(view_.texts[IDC_BATTERY_FLOOR], "0");  // what the program takes it for: off
  view_.checks[IDC_RESET_DISPLAY_ON_WAKEUP] = true;
  view_.checks[IDC_BATTERY_HOLD] = false;
  // The floor's range is checked like the General page's fields, before anything is written.
  view_.texts[IDC_BATTERY_FLOOR] = "101";
  EXPECT_FALSE(page.Save());
  EXPECT_EQ(view_.messages, std::vector<std::string>{"0 to 100"});
  EXPECT_EQ(view_.focused, IDC_BATTERY_FLOOR);
  view_.texts[IDC_BATTERY_FLOOR] = "15";
  ASSERT_TRUE(page.Save());
  EXPECT_EQ(File(), std::string("[GENERAL]") + kNl + "BusyDisplay=0" + kNl + "SetMarginOnWakeup=1" +
                        kNl + "BatteryFloor=15" + kNl + "ResetDisplayOnWakeup=1" + kNl +
                        "BatteryHold=0" + kNl);
}

TEST_F(PagesTest, ListPageAddsDeletesAndStoresAHundred) {
  Ini(std::string("[PROCESS]") + kNl + "0=b.exe" + kNl + "1=a.exe" + kNl + "3=gap.exe" + kNl);
  CPageProcess page(store_, view_);
  page.Initialize();
  EXPECT_EQ(view_.lists[IDC_PROCESS_LIST], (std::vector<std::string>{"b.exe", "a.exe"}));
  page.OnCommand(IDC_PROCESS_DELETE);  // nothing selected: nothing happens
  view_.dialog_result = std::nullopt;
  page.OnCommand(IDC_PROCESS_ADD);  // cancelled
  view_.dialog_result = "b.exe";
  page.OnCommand(IDC_PROCESS_ADD);
  view_.selection = 0;
  page.OnCommand(IDC_PROCESS_DELETE);
  EXPECT_EQ(view_.dialogs, (std::vector<int>{IDD_ADD_PROCESS, IDD_ADD_PROCESS}));
  EXPECT_EQ(view_.lists[IDC_PROCESS_LIST], (std::vector<std::string>{"a.exe", "b.exe"}));
  for (int i = 0; i < 148; ++i) view_.lists[IDC_PROCESS_LIST].push_back("p" + std::to_string(i));
  ASSERT_TRUE(page.Save());
  const std::vector<std::string> stored = store_.ReadList("PROCESS");
  ASSERT_EQ(stored.size(), 100u);
  EXPECT_EQ(stored[0], "a.exe");
  EXPECT_EQ(stored[99], "p97");
}

TEST_F(PagesTest, ConnectionPageTakesEachPortOnce) {
  Ini(std::string("[CONNECTION]") + kNl + "0=22" + kNl);
  CPageConnection page(store_, view_);
  page.Initialize();
  const struct {
    const char* typed;
    const char* message;  // empty: none
  } rows[] = {{"3389", ""},           {" 022 ", ""},       {"5900x", "not an integer"},
              {"", "not an integer"}, {"0", "1 to 65535"}, {"65536", "1 to 65535"},
              {"65535", ""}};
  for (const auto& r : rows) {
    view_.messages.clear();
    view_.dialog_result = r.typed;
    page.OnCommand(IDC_CONNECTION_ADD);
    EXPECT_EQ(view_.messages.empty() ? "" : view_.messages[0], std::string(r.message)) << r.typed;
  }
  EXPECT_EQ(view_.selection, 0);  // " 022 " is port 22, which the list has
  ASSERT_TRUE(page.Save());
  EXPECT_EQ(store_.ReadList("CONNECTION"), (std::vector<std::string>{"22", "3389", "65535"}));
  EXPECT_EQ(view_.dialogs.front(), IDD_ADD_CONNECTION);
}

TEST_F(PagesTest, WindowPageUsesItsOwnSectionAndDialog) {
  CPageWindow page(store_, view_);
  page.Initialize();
  view_.dialog_result = "*";
  page.OnCommand(IDC_WINDOW_ADD);
  ASSERT_TRUE(page.Save());
  EXPECT_EQ(view_.dialogs, std::vector<int>{IDD_ADD_WINDOW});
  EXPECT_EQ(store_.ReadList("WINDOW"), std::vector<std::string>{"*"});
  EXPECT_TRUE(store_.ReadList("PROCESS").empty());
}

}  // namespace
}  // namespace dozerin
