#include "monitor/watches.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/text.h"
#include "monitor/wildcard.h"

namespace dozerin {
namespace {

#ifdef _WIN32
const std::string kMe = "\x83\x81", kMo = "\x83\x82", kChou = "\x92\xA0";  // メ モ 帳 (cp932)
const std::string kA = "\x83\x41";                                         // ア: trail byte 'A'
const std::string kMuDai = "\x96\xB3\x91\xE8";                             // 無題
#else
const std::string kMe = "\xE3\x83\xA1", kMo = "\xE3\x83\xA2", kChou = "\xE5\xB8\xB3";
const std::string kA = "\xE3\x82\xA2";
const std::string kMuDai = "\xE7\x84\xA1\xE9\xA1\x8C";
#endif
const std::string kMemo = kMe + kMo + kChou;

// The matcher written the plain recursive way, kept here to check the real one against.
bool ReferenceMatch(std::string_view text, std::string_view pattern) {
  while (!text.empty()) {
    if (pattern.empty()) return false;
    const std::size_t pc = text::CharSize(pattern, 0);
    const std::size_t tc = text::CharSize(text, 0);
    if (pc == 1 && pattern[0] == '*') {
      std::vector<std::size_t> starts;  // character starts after the first character
      for (std::size_t pos = tc; pos <= text.size();
           pos += pos < text.size() ? text::CharSize(text, pos) : 1) {
        starts.push_back(pos);
      }
      for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
        if (ReferenceMatch(text.substr(*it), pattern.substr(1))) return true;
      }
      pattern.remove_prefix(1);
      continue;
    }
    if ((pc == 1 && pattern[0] == '?') || pattern.substr(0, pc) == text.substr(0, tc)) {
      pattern.remove_prefix(pc);
      text.remove_prefix(tc);
      continue;
    }
    return false;
  }
  return pattern.find_first_not_of('*') == std::string_view::npos;
}

TEST(WildcardMatch, Table) {
  struct Row {
    std::string text, pattern;
    bool result;
  };
  const Row rows[] = {
      {"", "", true},
      {"", "*", true},
      {"", "**", true},
      {"", "?", false},
      {"XYZ", "", false},
      {"XYZ", "XYZ", true},
      {"XYZ", "XY", false},
      {"XYZ", "X*", true},
      {"XYZ", "*Z", true},
      {"XYZ", "*Y*", true},
      {"XYZ", "X?Z", true},
      {"XZ", "X?Z", false},
      {"XYZ", "X*Y*Z", true},
      {"XYZ", "*W", false},
      {"XYZW", "X*Z", false},
      {kMemo, "???", true},
      {kMemo, "??", false},
      {kMuDai + " - " + kMemo, "*" + kMemo, true},
      {kA, "?A", false},  // a trail byte is never a character of its own
      {kA + "A", "*A", true},
      {kA, "*A*", false},  // nor where a skip-ahead search lands
      {"NOTEPAD", "NOTEPAD", true},
      {"UNTITLED - NOTEPAD", "NOTEPAD", false},
      {"UNTITLED - NOTEPAD", "*NOTEPAD", true},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(WildcardMatch(r.text, r.pattern), r.result) << r.text << " / " << r.pattern;
    EXPECT_EQ(ReferenceMatch(r.text, r.pattern), r.result) << r.text << " / " << r.pattern;
  }
}

TEST(WildcardMatch, AgreesWithTheRecursiveDefinition) {
  const std::vector<std::string> text_chars = {"A", "B", "*", "?", kMe, kMo, kA};
  const std::vector<std::string> pattern_chars = {"A", "B", "*", "*", "?", kMe, kMo, kA};
  std::mt19937 random(12345);
  auto make = [&](const std::vector<std::string>& chars, int max_len) {
    std::string s;
    const int len = static_cast<int>(random() % static_cast<unsigned>(max_len + 1));
    for (int i = 0; i < len; ++i) s += chars[random() % chars.size()];
    return s;
  };
  int matches = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string text = make(text_chars, 9);
    const std::string pattern = make(pattern_chars, 7);
    const bool expected = ReferenceMatch(text, pattern);
    matches += expected;
    ASSERT_EQ(WildcardMatch(text, pattern), expected) << text << " / " << pattern;
  }
  EXPECT_GT(matches, 1000);  // the generated set holds matches as well as misses
}

TEST(WildcardMatch, HugeTitlesAndManyStarsFinish) {
  const std::string title(1 << 20, 'A');
  EXPECT_FALSE(WildcardMatch(title, "*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B"));
  EXPECT_TRUE(WildcardMatch(title + "B", "*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B"));
  EXPECT_TRUE(WildcardMatch(title, std::string(100000, '*')));
}

class FakeProcesses : public ProcessSource {
 public:
  bool ForEachProcessName(const std::function<bool(std::string_view)>& visit) override {
    if (!available) return false;
    for (const std::string& n : names) {
      ++visited;
      if (visit(n)) break;
    }
    return true;
  }
  std::vector<std::string> names;
  bool available = true;
  int visited = 0;
};

TEST(ProcessWatch, WholeNamesIgnoringCase) {
  struct Row {
    std::vector<std::string> running;
    std::vector<std::string> watched;  // as read: upper-cased
    bool hit;
  };
  const Row rows[] = {
      {{"System", "Notepad.exe"}, {"NOTEPAD.EXE"}, true},
      {{"NOTEPAD.EXE"}, {"NOTEPAD.EXE"}, true},
      {{"notepad.exe"}, {"NOTEPAD"}, false},
      {{"notepad.exe"}, {"C:\\WINDOWS\\NOTEPAD.EXE"}, false},
      {{"notepad.exe.bak"}, {"NOTEPAD.EXE"}, false},
      {{kMemo + ".exe"}, {text::ToUpper(kMemo + ".EXE")}, true},
      {{"a.exe"}, {""}, false},
      {{}, {"A.EXE"}, false},
  };
  for (const Row& r : rows) {
    FakeProcesses processes;
    processes.names = r.running;
    EXPECT_EQ(WatchedProcessRunning(processes, r.watched), r.hit) << r.watched[0];
  }
}

TEST(ProcessWatch, StopsAtTheFirstHitAndAMissingListIsNoHit) {
  FakeProcesses processes;
  processes.names = {"a.exe", "b.exe", "c.exe"};
  EXPECT_TRUE(WatchedProcessRunning(processes, {"C.EXE", "B.EXE"}));
  EXPECT_EQ(processes.visited, 2);
  processes.available = false;
  EXPECT_FALSE(WatchedProcessRunning(processes, {"A.EXE"}));
}

class FakeWindows : public WindowSource {
 public:
  std::vector<TopLevelWindow> TopLevelWindows() override {
    ++walks;
    return windows;
  }
  std::vector<TopLevelWindow> windows;
  int walks = 0;
};

TEST(WindowWatch, FindMatchingWindow) {
  const std::vector<TopLevelWindow> windows = {
      {"", ""},  // vanished: skipped even by "*"
      {"UNTITLED - NOTEPAD", "NOTEPAD"},
      {"NOTEPAD", "NOTEPAD"},
      {"", "TOOLTIPS_CLASS32"},
      {"DOZERIN", "DOZERINWINDOW"},
  };
  struct Row {
    std::string title_pattern, class_pattern;
    std::ptrdiff_t index;
  };
  const Row rows[] = {
      {"NOTEPAD", "*", 2}, {"*NOTEPAD", "*", 1}, {"*", "*", 1},
      {"", "", 1},         {"", "TOOLTIPS*", 3}, {"?", "*", -1},
      {"DOZERIN", "*", 4}, {"*", "DOZERIN*", 4}, {"X*", "*", -1},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FindMatchingWindow(windows, r.title_pattern, r.class_pattern), r.index)
        << r.title_pattern << " / " << r.class_pattern;
  }
}

TEST(WindowWatch, ReadsTheWindowsOnceAndUpperCasesThem) {
  FakeWindows windows;
  windows.windows = {{"Untitled - Notepad", "Notepad"}, {"", "tooltips_class32"}};
  EXPECT_TRUE(WatchedWindowExists(windows, {"NOTHING", "*NOTEPAD"}));
  EXPECT_FALSE(WatchedWindowExists(windows, {"NOTEPAD", "?"}));
  EXPECT_TRUE(WatchedWindowExists(windows, {"**"}));  // the window with an empty title
  EXPECT_EQ(windows.walks, 3);
  // A pattern's literal run in a title it does not match in full, or only across two titles,
  // finds nothing; a later title that holds it and matches does.
  windows.windows = {{"ab", ""}, {"xbcx", ""}, {"cd", ""}, {"ybc", ""}};
  std::size_t which = 0;
  EXPECT_FALSE(WatchedWindowExists(windows, {"B?C*", "*D?", "*BCD", "*BC??"}));
  EXPECT_TRUE(WatchedWindowExists(windows, {"*D?", "*BC"}, &which));
  EXPECT_EQ(which, 1u);
}

}  // namespace
}  // namespace dozerin
