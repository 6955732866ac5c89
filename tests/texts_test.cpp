// The Linux program's texts and the Windows resources say the same: every string-table entry in
// both languages, and every Japanese text of the dialogs and the menu.
#include "res/texts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "res/resource.h"

namespace dozerin {
namespace {

std::string ResourceScript() {
  std::ifstream in(DOZERIN_SOURCE_DIR "/res/dozerin.rc");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Texts, AgreeWithTheWindowsResources) {
  const std::string rc = ResourceScript();
  ASSERT_FALSE(rc.empty());
  const std::map<std::string, int> ids = {
      {"IDS_APP_TITLE", IDS_APP_TITLE},
      {"IDS_SETTINGS_WRITE_FAILED", IDS_SETTINGS_WRITE_FAILED},
      {"IDS_PERF_INIT_NETWORK", IDS_PERF_INIT_NETWORK},
      {"IDS_THREAD_INIT_FAILED", IDS_THREAD_INIT_FAILED},
      {"IDS_PERF_INIT_PROCESSOR", IDS_PERF_INIT_PROCESSOR},
      {"IDS_PERF_INIT_DISK", IDS_PERF_INIT_DISK},
      {"IDS_FRAMEWORK_APP_TITLE", IDS_FRAMEWORK_APP_TITLE},
      {"IDS_FILE_GENERIC", IDS_FILE_GENERIC},
      {"IDS_FILE_ACCESS_DENIED", IDS_FILE_ACCESS_DENIED},
      {"IDS_FILE_SHARING_VIOLATION", IDS_FILE_SHARING_VIOLATION},
      {"IDS_FILE_BAD_PATH", IDS_FILE_BAD_PATH},
      {"IDS_FILE_DISK_FULL", IDS_FILE_DISK_FULL},
      {"IDS_PARSE_INT", IDS_PARSE_INT},
      {"IDS_PARSE_INT_RANGE", IDS_PARSE_INT_RANGE},
      {"IDS_OUT_OF_MEMORY", IDS_OUT_OF_MEMORY},
      {"IDS_UNEXPECTED_ERROR", IDS_UNEXPECTED_ERROR},
      {"IDS_HOLD_MINUTES_LEFT", IDS_HOLD_MINUTES_LEFT},
      {"IDS_HOLD_NO_END", IDS_HOLD_NO_END},
      {"IDS_KEEP_AWAKE_BAD_VALUE", IDS_KEEP_AWAKE_BAD_VALUE},
      {"IDS_KEEP_AWAKE_NOT_TAKEN", IDS_KEEP_AWAKE_NOT_TAKEN},
      {"IDS_NOT_RUNNING", IDS_NOT_RUNNING},
      {"IDS_HOLD_WHILE", IDS_HOLD_WHILE},
      {"IDS_WHILE_NO_COMMAND", IDS_WHILE_NO_COMMAND},
      {"IDS_WHILE_NOT_STARTED", IDS_WHILE_NOT_STARTED},
      {"IDS_BATTERY_FLOOR", IDS_BATTERY_FLOOR},
      {"IDS_BATTERY_BY_HAND_ONLY", IDS_BATTERY_BY_HAND_ONLY},
      {"IDS_WHILE_BATCH_REFUSED", IDS_WHILE_BATCH_REFUSED},
  };
  // The Japanese string table comes first in the script, the English one second.
  const std::size_t english = rc.find("LANGUAGE LANG_ENGLISH");
  ASSERT_NE(english, std::string::npos);
  const std::regex entry(R"re(\n\s*(IDS_\w+)\s+"((?:[^"\\]|\\.)*)")re");
  int checked = 0;
  for (auto it = std::sregex_iterator(rc.begin(), rc.end(), entry); it != std::sregex_iterator();
       ++it) {
    const std::string name = (*it)[1];
    std::string text = std::regex_replace((*it)[2].str(), std::regex(R"(\\n)"), "\n");
    const bool japanese = static_cast<std::size_t>(it->position()) < english;
    ASSERT_EQ(ids.count(name), 1u) << name;
    EXPECT_EQ(UiText(ids.at(name), japanese), text) << name << (japanese ? " ja" : " en");
    ++checked;
  }
  EXPECT_EQ(checked, 2 * static_cast<int>(ids.size()));
  // Every Japanese dialog text stands in the templates (the Linux-only switch aside).
  for (std::string_view key : DialogTextKeys()) {
    if (key == "option.autostart") continue;
    const std::string quoted = "\"" + std::string(DialogText(key, true)) + "\"";
    EXPECT_NE(rc.find(quoted), std::string::npos) << key;
  }
  // Both menus, each item in its language.
  for (int id : {kTextMenuKeepAwake, ID_HOLD_30MIN, ID_HOLD_1HOUR, ID_HOLD_2HOURS, ID_HOLD_4HOURS,
                 ID_HOLD_NO_END, ID_HOLD_STOP, kTextMenuSettings, kTextMenuClose}) {
    for (bool japanese : {true, false}) {
      if (!japanese && id == kTextMenuSettings) continue;  // the English menu has no settings item
      const std::size_t at = rc.find("\"" + std::string(UiText(id, japanese)) + "\"");
      EXPECT_NE(at, std::string::npos) << id;
      EXPECT_EQ(at < english, japanese) << id;
    }
  }
}

}  // namespace
}  // namespace dozerin
