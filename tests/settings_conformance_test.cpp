// One table of cases for the settings file, run against the engine of the build at hand: our own
// engine natively, the system's private-profile functions in the Windows build.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

using testing::FileExists;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::UnderWine;
using testing::WriteFileBytes;

#ifdef _WIN32
const std::string kMemo = "\x83\x81\x83\x82\x92\xA0";  // メモ帳 in code page 932
#else
const std::string kMemo = "\xE3\x83\xA1\xE3\x83\xA2\xE5\xB8\xB3";
#endif

// Line ends of files the engine creates itself: the platform's own.
std::string Native(std::string crlf_text) {
#ifndef _WIN32
  for (std::size_t pos; (pos = crlf_text.find("\r\n")) != std::string::npos;) {
    crlf_text.replace(pos, 2, "\n");
  }
#endif
  return crlf_text;
}

class SettingsConformance : public ::testing::Test {
 protected:
  void Given(const std::optional<std::string>& bytes) {
    if (bytes) WriteFileBytes(store_.path(), *bytes);
  }
  ScratchDir dir_;
  SettingsStore store_{dir_.File("dozerin.ini")};
};

const char kReadFile[] =
    "[GENERAL]\r\n"
    "NetworkTraffic=102400\r\n"
    "  MouseCap  =  1  \r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single='x'\r\n"
    "Mismatch=\"x'\r\n"
    "OnlyQuote=\"\r\n"
    "Empty=\r\n"
    "Dup=first\r\n"
    "Dup=second\r\n"
    "a=b=c\r\n"
    "\r\n"
    "[PROCESS]\r\n"
    "0=notepad.exe\r\n"
    "[general]\r\n"
    "Later=1\r\n";

TEST_F(SettingsConformance, ReadText) {
  struct Row {
    const char* section;
    const char* key;
    const char* def;
    std::string expected;
  };
  const Row rows[] = {
      {"GENERAL", "NetworkTraffic", "-", "102400"},
      {"general", "networktraffic", "-", "102400"},  // names match regardless of case
      {"GENERAL", "MouseCap", "-", "1"},             // blanks around key and value
      {"GENERAL", "Quoted", "-", "  spaced  "},  // one pair of quotes removed, blanks inside kept
      {"GENERAL", "Single", "-", "x"},
      {"GENERAL", "Mismatch", "-", "\"x'"},
      {"GENERAL", "OnlyQuote", "-", "\""},
      {"GENERAL", "Empty", "-", ""},     // an empty value is a value, not the default
      {"GENERAL", "Dup", "-", "first"},  // the first line of a key wins
      {"GENERAL", "a", "-", "b=c"},      // the value runs from the first '='
      {"GENERAL", "Missing", "def", "def"},
      {"NOSECTION", "NetworkTraffic", "-1", "-1"},
      {"PROCESS", "0", "-1", "notepad.exe"},
      {"GENERAL", "Later", "-", "-"},  // only the first section of a name is read
  };
  Given(kReadFile);
  for (const Row& r : rows) {
    EXPECT_EQ(store_.ReadText(r.section, r.key, r.def), r.expected) << r.section << "/" << r.key;
  }
}

TEST_F(SettingsConformance, ReadTextOfNoFileIsTheDefault) {
  EXPECT_EQ(store_.ReadText("WINDOW", "0", "-1"), "-1");
  EXPECT_FALSE(FileExists(store_.path()));
}

TEST_F(SettingsConformance, ReadTextCutsLongValuesAt4095Bytes) {
  Given("[WINDOW]\r\n0=" + std::string(5000, 'x') + "\r\n1=y\r\n");
  EXPECT_EQ(store_.ReadText("WINDOW", "0", "-1"), std::string(4095, 'x'));
  EXPECT_EQ(store_.ReadText("WINDOW", "1", "-1"), "y");
}

TEST_F(SettingsConformance, ReadInt) {
  struct Row {
    const char* key;
    std::int32_t def;
    std::uint32_t expected;
  };
  const Row rows[] = {
      {"Plain", 0, 180},   {"Negative", 0, 4294966272u},  // -1024 taken modulo 2^32
      {"Plus", 0, 5},      {"Letters", 4, 0},             // does not begin with a number
      {"Empty", 4, 4},                                    // an empty value gives the default
      {"Missing", 4, 4},   {"MissingNegative", -1, 4294967295u},
      {"Trailing", 0, 12},  // digits stop at the first other character
      {"TwoTo32", 9, 0},   {"TwoTo32Plus1", 9, 1},
      {"Blanks", 0, 7},    {"Quoted", 0, 42},
      {"Sign", 3, 0},      {"Flag", 0, 7},
  };
  Given(
      "[GENERAL]\r\nPlain=180\r\nNegative=-1024\r\nPlus=+5\r\nLetters=abc\r\nEmpty=\r\n"
      "Trailing=12abc\r\nTwoTo32=4294967296\r\nTwoTo32Plus1=4294967297\r\nBlanks= 7 \r\n"
      "Quoted=\"42\"\r\nSign=-\r\nFlag=7\r\n");
  for (const Row& r : rows) EXPECT_EQ(store_.ReadInt("GENERAL", r.key, r.def), r.expected) << r.key;
}

TEST_F(SettingsConformance, GeneralDefaultsWithoutAFile) {
  using namespace settings;
  struct Row {
    const IntKey& key;
    std::uint32_t expected;
  };
  const Row rows[] = {
      {kNetworkTraffic, 0},    {kCpuUsage, 0},
      {kMouseCap, 0},          {kMaxMargin, 0},
      {kBusyDisplay, 0},       {kResetDisplayOnWakeup, 0},
      {kSetMarginOnWakeup, 0}, {kNetworkAveTime, 4},
      {kCpuAveTime, 4},        {kLog, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(store_.ReadInt(r.key), r.expected) << r.key.name;
  EXPECT_TRUE(store_.ReadList(kProcess).empty());
  EXPECT_TRUE(store_.ReadList(kWindow).empty());
  EXPECT_FALSE(FileExists(store_.path()));
}

struct WriteRow {
  const char* name;
  std::optional<std::string> before;  // no file when empty
  const char* section;
  const char* key;
  std::optional<std::string> value;  // delete when empty
  std::optional<std::string> after;  // no file when empty
  // Where Wine is known to differ from Windows: Wine stores the file anew from what it parsed and
  // drops blank lines on the way. Windows keeps every line the write does not change.
  std::optional<std::string> wine_after = std::nullopt;
};

TEST_F(SettingsConformance, WriteAndDelete) {
  const std::vector<WriteRow> rows = {
      {"creates the file", std::nullopt, "GENERAL", "MaxMargin", "180",
       Native("[GENERAL]\r\nMaxMargin=180\r\n")},
      {"replaces in place", "[GENERAL]\r\nA=1\r\nMaxMargin=10\r\nB=2\r\n", "GENERAL", "MaxMargin",
       "180", "[GENERAL]\r\nA=1\r\nMaxMargin=180\r\nB=2\r\n"},
      {"finds the key regardless of case", "[general]\r\nmaxmargin=10\r\n", "GENERAL", "MaxMargin",
       "0", "[general]\r\nmaxmargin=0\r\n"},
      {"adds at the end of its section", "[GENERAL]\r\nA=1\r\n\r\n[PROCESS]\r\n0=x.exe\r\n",
       "GENERAL", "B", "2", "[GENERAL]\r\nA=1\r\nB=2\r\n\r\n[PROCESS]\r\n0=x.exe\r\n",
       "[GENERAL]\r\nA=1\r\nB=2\r\n[PROCESS]\r\n0=x.exe\r\n"},
      {"adds a missing section at the end", "[GENERAL]\r\nA=1\r\n", "WINDOW", "0", "*" + kMemo,
       "[GENERAL]\r\nA=1\r\n[WINDOW]\r\n0=*" + kMemo + "\r\n"},
      {"keeps keys it does not write",
       "[GENERAL]\r\nLog=1\r\nNetworkAveTime=8\r\nCPUUsage=0\r\nCPUAveTime=2\r\n", "GENERAL",
       "CPUUsage", "50",
       "[GENERAL]\r\nLog=1\r\nNetworkAveTime=8\r\nCPUUsage=50\r\nCPUAveTime=2\r\n"},
      {"adds a line ending to a last line without one", "[GENERAL]\r\nA=1", "GENERAL", "B", "2",
       "[GENERAL]\r\nA=1\r\nB=2\r\n"},
      {"writes a negative number as text", "[GENERAL]\r\n", "GENERAL", "NetworkTraffic", "-1024",
       "[GENERAL]\r\nNetworkTraffic=-1024\r\n"},
      {"deletes a key", "[PROCESS]\r\n0=a\r\n1=b\r\n2=c\r\n", "PROCESS", "1", std::nullopt,
       "[PROCESS]\r\n0=a\r\n2=c\r\n"},
      {"deleting a missing key changes nothing", "[PROCESS]\r\n0=a\r\n", "PROCESS", "7",
       std::nullopt, "[PROCESS]\r\n0=a\r\n"},
      {"deleting in a missing section creates none", "[GENERAL]\r\nA=1\r\n", "WINDOW", "0",
       std::nullopt, "[GENERAL]\r\nA=1\r\n"},
      {"deleting without a file creates none", std::nullopt, "WINDOW", "0", std::nullopt,
       std::nullopt},
  };
  for (const WriteRow& r : rows) {
    SCOPED_TRACE(r.name);
    testing::RemoveFile(store_.path());
    Given(r.before);
    const std::optional<std::string_view> value =
        r.value ? std::optional<std::string_view>(*r.value) : std::nullopt;
    EXPECT_TRUE(store_.WriteText(r.section, r.key, value));
    if (r.after) {
      ASSERT_TRUE(FileExists(store_.path()));
      EXPECT_EQ(ReadFileBytes(store_.path()),
                UnderWine() && r.wine_after ? *r.wine_after : *r.after);
    } else {
      EXPECT_FALSE(FileExists(store_.path()));
    }
  }
}

TEST_F(SettingsConformance, WrittenValuesReadBack) {
  ASSERT_TRUE(store_.WriteInt("GENERAL", "NetworkTraffic", -1024));
  ASSERT_TRUE(store_.WriteText("WINDOW", "0", "*" + kMemo));
  ASSERT_TRUE(store_.WriteText("WINDOW", "1", ""));
  EXPECT_EQ(store_.ReadInt("GENERAL", "NetworkTraffic", 0) >> 10, 4194303u);
  EXPECT_EQ(store_.ReadList("WINDOW"), (std::vector<std::string>{"*" + kMemo, ""}));
}

TEST_F(SettingsConformance, ReadList) {
  struct Row {
    const char* name;
    std::string file;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"stops at the first gap", "[PROCESS]\r\n0=a\r\n1=b\r\n2=c\r\n4=e\r\n", {"a", "b", "c"}},
      {"stops at an entry -1", "[PROCESS]\r\n0=x.exe\r\n1=-1\r\n2=y.exe\r\n", {"x.exe"}},
      {"an empty value is an entry", "[PROCESS]\r\n0=\r\n1=b\r\n", {"", "b"}},
      {"a quoted -1 reads as -1", "[PROCESS]\r\n0=\"-1\"\r\n1=b\r\n", {}},
      {"keys in any order", "[PROCESS]\r\n1=b\r\n0=a\r\n", {"a", "b"}},
      {"blanks and quotes", "[PROCESS]\r\n 0 =  a b  \r\n1='c'\r\n", {"a b", "c"}},
      {"first line of a key wins", "[PROCESS]\r\n0=a\r\n0=z\r\n", {"a"}},
      {"leading zeros are other keys", "[PROCESS]\r\n00=a\r\n", {}},
      {"no section", "[WINDOW]\r\n0=a\r\n", {}},
      {"first section of the name only", "[PROCESS]\r\n0=a\r\n[PROCESS]\r\n1=b\r\n", {"a"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Given(r.file);
    const std::vector<std::string> list = store_.ReadList("PROCESS");
    EXPECT_EQ(list, r.expected);
    // The same as reading the keys one at a time.
    std::vector<std::string> one_by_one;
    for (int i = 0;; ++i) {
      std::string v = store_.ReadText("PROCESS", std::to_string(i), "-1");
      if (v == "-1") break;
      one_by_one.push_back(v);
    }
    EXPECT_EQ(list, one_by_one);
  }
}

TEST_F(SettingsConformance, WriteListStoresAHundredAndLeavesHigherKeysAlone) {
  Given("[WINDOW]\r\n3=stale\r\n100=keep\r\n150=keep too\r\n");
  std::vector<std::string> entries;
  for (int i = 0; i < 150; ++i) entries.push_back("e" + std::to_string(i));
  ASSERT_TRUE(store_.WriteList("WINDOW", entries));
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(store_.ReadText("WINDOW", std::to_string(i), "-1"), entries[i]);
  }
  EXPECT_EQ(store_.ReadText("WINDOW", "100", "-1"), "keep");
  EXPECT_EQ(store_.ReadText("WINDOW", "101", "-1"), "-1");
  EXPECT_EQ(store_.ReadText("WINDOW", "150", "-1"), "keep too");

  ASSERT_TRUE(store_.WriteList("WINDOW", {"a", "b", "c"}));
  EXPECT_EQ(ReadFileBytes(store_.path()),
            "[WINDOW]\r\n100=keep\r\n150=keep too\r\n0=a\r\n1=b\r\n2=c\r\n");
}

TEST_F(SettingsConformance, WriteListDeletesStaleKeysOfAShrinkingList) {
  Given("[PROCESS]\r\n0=a\r\n1=b\r\n2=c\r\n4=e\r\n");
  ASSERT_TRUE(store_.WriteList("PROCESS", {"a", "b", "c"}));
  EXPECT_EQ(ReadFileBytes(store_.path()), "[PROCESS]\r\n0=a\r\n1=b\r\n2=c\r\n");
  ASSERT_TRUE(store_.WriteList("PROCESS", {}));
  EXPECT_EQ(store_.ReadList("PROCESS"), std::vector<std::string>{});
}

TEST_F(SettingsConformance, RefusesTextThatWouldBreakTheFile) {
  Given("[GENERAL]\r\nA=1\r\n");
  EXPECT_FALSE(store_.WriteText("GENERAL", "A", "1\r\n[EVIL]\r\nx=1"));
  EXPECT_FALSE(store_.WriteText("GENERAL", "A", std::string("1\0x", 3)));
  EXPECT_FALSE(store_.WriteText("GENERAL", "A=B", "1"));
  EXPECT_FALSE(store_.WriteText("GENERAL", "[X]", "1"));
  EXPECT_FALSE(store_.WriteText("GEN]ERAL", "A", "1"));
  EXPECT_FALSE(store_.WriteText("GENERAL", "", "1"));
  EXPECT_FALSE(store_.WriteList("PROCESS", {"a", "b\nc"}));
  EXPECT_EQ(ReadFileBytes(store_.path()), "[GENERAL]\r\nA=1\r\n[PROCESS]\r\n0=a\r\n");
}

}  // namespace
}  // namespace dozerin
