// Hostile settings files: huge, with huge lines, NUL bytes, endless lists, broken headers and mixed
// line ends. Reading never crashes or hangs and returns what the file says; writing changes only
// its own line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::UnderWine;
using testing::WriteFileBytes;

class SettingsHostile : public ::testing::Test {
 protected:
  ScratchDir dir_;
  SettingsStore store_{dir_.File("dozerin.ini")};
};

TEST_F(SettingsHostile, TenMegabyteFile) {
  std::string text = "[GENERAL]\r\nMaxMargin=5\r\n";
  for (int s = 0; text.size() < (10u << 20); ++s) {
    text += "[S" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 100; ++k)
      text += "key" + std::to_string(k) + "=" + std::string(90, 'v') + "\r\n";
  }
  text += "[LAST]\r\nx=found\r\n";
  WriteFileBytes(store_.path(), text);
  EXPECT_EQ(store_.ReadText("LAST", "x", "-"), "found");
  EXPECT_EQ(store_.ReadInt("GENERAL", "MaxMargin", 0), 5u);
  ASSERT_TRUE(store_.WriteInt("GENERAL", "MaxMargin", 6));
  std::string expected = text;
  expected.replace(expected.find("MaxMargin=5"), 11, "MaxMargin=6");
  EXPECT_EQ(ReadFileBytes(store_.path()), expected);
}

TEST_F(SettingsHostile, OneMegabyteLine) {
  const std::string huge(1u << 20, 'w');
  const std::string text = "[WINDOW]\r\n0=" + huge + "\r\n1=short\r\n[GENERAL]\r\nA=1\r\n";
  WriteFileBytes(store_.path(), text);
  const std::vector<std::string> list = store_.ReadList("WINDOW");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], std::string(4095, 'w'));
  EXPECT_EQ(list[1], "short");
  ASSERT_TRUE(store_.WriteInt("GENERAL", "A", 2));
  EXPECT_EQ(ReadFileBytes(store_.path()),
            "[WINDOW]\r\n0=" + huge + "\r\n1=short\r\n[GENERAL]\r\nA=2\r\n");
}

TEST_F(SettingsHostile, HundredThousandListEntries) {
  std::string text = "[PROCESS]\r\n";
  for (int i = 0; i < 100000; ++i)
    text += std::to_string(i) + "=p" + std::to_string(i) + ".exe\r\n";
  WriteFileBytes(store_.path(), text);
  const std::vector<std::string> list = store_.ReadList("PROCESS");
  ASSERT_EQ(list.size(), 100000u);
  EXPECT_EQ(list.front(), "p0.exe");
  EXPECT_EQ(list.back(), "p99999.exe");
}

TEST_F(SettingsHostile, MixedLineEndsAndNoFinalNewline) {
  const std::string text = "[GENERAL]\nA=1\r\nB=2\n\r\n[PROCESS]\r\n0=a\n1=b";
  WriteFileBytes(store_.path(), text);
  EXPECT_EQ(store_.ReadInt("GENERAL", "A", 0), 1u);
  EXPECT_EQ(store_.ReadInt("GENERAL", "B", 0), 2u);
  EXPECT_EQ(store_.ReadList("PROCESS"), (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(store_.WriteText("PROCESS", "2", "c"));
  EXPECT_EQ(store_.ReadList("PROCESS"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(store_.ReadInt("GENERAL", "B", 0), 2u);
  if (!UnderWine()) {
    EXPECT_EQ(ReadFileBytes(store_.path()), text + "\n2=c\n");
  }
}

TEST_F(SettingsHostile, HeaderWithoutClosingBracket) {
  const std::string text = "[GENERAL]\r\nA=1\r\n[PROCESS\r\n0=x.exe\r\n";
  WriteFileBytes(store_.path(), text);
  EXPECT_TRUE(store_.ReadList("PROCESS").empty());
  EXPECT_EQ(store_.ReadInt("GENERAL", "A", 0), 1u);
  ASSERT_TRUE(store_.WriteInt("GENERAL", "A", 2));
  EXPECT_EQ(store_.ReadInt("GENERAL", "A", 0), 2u);
  if (!UnderWine()) {
    EXPECT_EQ(ReadFileBytes(store_.path()), "[GENERAL]\r\nA=2\r\n[PROCESS\r\n0=x.exe\r\n");
  }
}

TEST_F(SettingsHostile, NulBytes) {
  const std::string text("[GENERAL]\r\nA=1\0junk\r\n\0\0\0\r\nB=2\r\n", 31);
  WriteFileBytes(store_.path(), text);
  EXPECT_EQ(store_.ReadInt("GENERAL", "A", 9), 1u);
  EXPECT_EQ(store_.ReadText("GENERAL", "Z", "z"), "z");
  ASSERT_TRUE(store_.WriteInt("GENERAL", "C", 3));
  EXPECT_EQ(store_.ReadInt("GENERAL", "C", 0), 3u);
  if (!UnderWine()) {
    EXPECT_EQ(ReadFileBytes(store_.path()), text + "C=3\r\n");
  }
}

}  // namespace
}  // namespace dozerin
