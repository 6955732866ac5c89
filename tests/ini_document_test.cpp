// Our INI engine on bytes: what it reads, and that a change touches only its own line.
#include "settings/ini_document.h"

#include <gtest/gtest.h>

#include <string>

namespace dozerin::ini {
namespace {

TEST(IniDocument, ChangesTouchOnlyTheirOwnLine) {
  struct Row {
    const char* name;
    std::string before;
    bool remove;
    std::string value;
    std::string after;
  };
  const std::string keep =
      "; written by hand\n"
      "[GENERAL]   ; trailing words after the bracket\n"
      "  Log = 1   \n"
      "\tNetworkAveTime=8\r\n"
      "\n"
      "unknown line without equals\n"
      "MaxMargin=10\n"
      "\n\n"
      "[OTHER]\n"
      "MaxMargin=99\n";
  const Row rows[] = {
      {"replace", keep, false, "180",
       [&] {
         std::string s = keep;
         s.replace(s.find("MaxMargin=10"), 12, "MaxMargin=180");
         return s;
       }()},
      {"remove", keep, true, "",
       [&] {
         std::string s = keep;
         s.erase(s.find("MaxMargin=10\n"), 13);
         return s;
       }()},
      {"same value writes nothing new", keep, false, "10", keep},
  };
  for (const Row& r : rows) {
    Document doc(r.before);
    if (r.remove) {
      doc.Remove("general", "maxmargin");
    } else {
      doc.Set("general", "maxmargin", r.value);
    }
    EXPECT_EQ(doc.bytes(), r.after) << r.name;
  }
}

TEST(IniDocument, AddedLinesFollowTheFilesLineEndsAfterAnyByteOrderMark) {
  struct Row {
    std::string before;
    std::string after;
  };
  const Row rows[] = {
      {"", "[S]\nk=v\n"},
      {"[S]\r\na=1\r\n", "[S]\r\na=1\r\nk=v\r\n"},
      {"[S]\na=1\r\n", "[S]\na=1\r\nk=v\n"},  // the first line end sets the style
      {"[S]\r\na=1", "[S]\r\na=1\r\nk=v\r\n"},
      {"[S]", "[S]\nk=v\n"},
      {"[T]\r\nx=1", "[T]\r\nx=1\r\n[S]\r\nk=v\r\n"},
      {"[S]\n\n\n[T]\n", "[S]\nk=v\n\n\n[T]\n"},  // blank lines stay between the sections
      {"[S]\ra=1\r", "[S]\ra=1\rk=v\r"},          // old Mac line ends
      // A byte-order mark hides no section and stays in front.
      {"\xEF\xBB\xBF[S]\r\na=1\r\n", "\xEF\xBB\xBF[S]\r\na=1\r\nk=v\r\n"},
      {"\xEF\xBB\xBF", "\xEF\xBB\xBF[S]\nk=v\n"},
  };
  for (const Row& r : rows) {
    Document doc(r.before);
    EXPECT_TRUE(doc.Set("S", "k", "v"));
    EXPECT_EQ(doc.bytes(), r.after) << r.before;
  }
}

TEST(IniDocument, MalformedLinesAreReadSafelyAndKept) {
  const std::string text = std::string(
      "[GENERAL\n"  // no closing bracket: not a header
      "Log=1\n"
      "[]\n"
      "=nameless\n"
      "[GENERAL]\n"
      "A=\0hidden\n"
      "B=x\0y\n"
      "\0\0\0\n"
      "C=3",
      62);
  Document doc(text);
  EXPECT_EQ(doc.Get("GENERAL", "Log"), std::nullopt);
  EXPECT_EQ(doc.Get("GENERAL", "A"), "");
  EXPECT_EQ(doc.Get("GENERAL", "B"), "x");
  EXPECT_EQ(doc.Get("GENERAL", "C"), "3");
  EXPECT_EQ(doc.Get("", ""), "nameless");
  Document changed(text);
  ASSERT_TRUE(changed.Set("GENERAL", "D", "4"));
  EXPECT_EQ(changed.bytes(), text + "\nD=4\n");
}

TEST(IniDocument, CleanValue) {
  struct Row {
    std::string raw, clean;
  };
  const Row rows[] = {
      {"  abc  ", "abc"},
      {"\"a b\"", "a b"},
      {"'a'", "a"},
      {"\"a'", "\"a'"},
      {"\"", "\""},
      {"\"\"", ""},
      {" \" x \" ", " x "},
      {std::string("ab\0cd", 5), "ab"},
      {std::string(5000, 'z'), std::string(kMaxValueBytes, 'z')},
  };
  for (const Row& r : rows) EXPECT_EQ(CleanValue(r.raw), r.clean) << r.raw;
}

}  // namespace
}  // namespace dozerin::ini
