#include "app/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace dozerin {
namespace {

struct Row {
  std::string exe;
  std::string ini, log, base;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    const SidePaths p = DeriveSidePaths(r.exe);
    EXPECT_EQ(p.ini, r.ini) << r.exe;
    EXPECT_EQ(p.log, r.log) << r.exe;
    EXPECT_EQ(p.base_name, r.base) << r.exe;
  }
}

#ifdef _WIN32
TEST(Paths, SideFilesSitBesideTheExecutable) {
  ExpectRows({
      {"D:\\Tools\\dozerin.exe", "D:\\Tools\\dozerin.ini", "D:\\Tools\\dozerin.log", "dozerin"},
      {"D:\\Tools\\dozerin", "D:\\Tools\\dozerin.ini", "D:\\Tools\\dozerin.log", "dozerin"},
      {"D:\\v1.2\\dozerin", "D:\\v1.2\\dozerin.ini", "D:\\v1.2\\dozerin.log", "dozerin"},
      {"C:/a.b/my.tool.exe", "C:/a.b/my.tool.ini", "C:/a.b/my.tool.log", "my.tool"},
      {"\\\\server\\share\\dozerin2.exe", "\\\\server\\share\\dozerin2.ini",
       "\\\\server\\share\\dozerin2.log", "dozerin2"},
      // 表 ends in the byte '\\' in code page 932: it is not a separator.
      {"C:\\\x95\x5C.d\\dozerin.exe", "C:\\\x95\x5C.d\\dozerin.ini", "C:\\\x95\x5C.d\\dozerin.log",
       "dozerin"},
      {"C:\\tools\\\x95\x5C.exe", "C:\\tools\\\x95\x5C.ini", "C:\\tools\\\x95\x5C.log", "\x95\x5C"},
  });
}
#else
TEST(Paths, SideFilesSitBesideTheExecutable) {
  ExpectRows({
      {"/opt/tools/dozerin.exe", "/opt/tools/dozerin.ini", "/opt/tools/dozerin.log", "dozerin"},
      {"/opt/tools/dozerin", "/opt/tools/dozerin.ini", "/opt/tools/dozerin.log", "dozerin"},
      {"/opt/v1.2/dozerin", "/opt/v1.2/dozerin.ini", "/opt/v1.2/dozerin.log", "dozerin"},
      {"/a.b/my.tool.exe", "/a.b/my.tool.ini", "/a.b/my.tool.log", "my.tool"},
      {"/home/\xE8\xA1\xA8/dozerin", "/home/\xE8\xA1\xA8/dozerin.ini",
       "/home/\xE8\xA1\xA8/dozerin.log", "dozerin"},
  });
}
#endif

TEST(Paths, LongPathsAreNeitherCutNorOverflowed) {
#ifdef _WIN32
  const std::string sep = "\\";
#else
  const std::string sep = "/";
#endif
  std::string folder = "C:";
  while (folder.size() < 1000) folder += sep + std::string(40, 'd');
  const SidePaths p = DeriveSidePaths(folder + sep + "dozerin.exe");
  EXPECT_EQ(p.ini, folder + sep + "dozerin.ini");
  EXPECT_EQ(p.log, folder + sep + "dozerin.log");
  EXPECT_EQ(p.base_name, "dozerin");
}

TEST(Paths, UserFoldersOnlyWhenTheExecutablesFolderIsNeitherPortableNorWritable) {
  const SidePaths beside{"/opt/d/dozer.ini", "/opt/d/dozer.log", "dozer"};
  const struct {
    bool ini_beside, writable;
    const char *config, *state, *ini, *log;
  } rows[] = {
      {true, false, "", "", "/opt/d/dozer.ini", "/opt/d/dozer.log"},
      {false, true, "", "", "/opt/d/dozer.ini", "/opt/d/dozer.log"},
      {false, false, "", "", "/home/u/.config/dozerin/dozer.ini",
       "/home/u/.local/state/dozerin/dozer.log"},
      {false, false, "/c", "/s", "/c/dozerin/dozer.ini", "/s/dozerin/dozer.log"},
  };
  for (const auto& r : rows) {
    const SidePaths p =
        ChooseUserPaths(beside, r.ini_beside, r.writable, r.config, r.state, "/home/u");
    EXPECT_EQ(p.ini, r.ini);
    EXPECT_EQ(p.log, r.log);
    EXPECT_EQ(p.base_name, "dozer");
  }
}

TEST(Paths, BusNameOfEachCopy) {
  const std::pair<const char*, const char*> rows[] = {
      {"dozerin", "org.dozerin.Dozerin"},
      {"dozerin2", "org.dozerin.Dozerin.dozerin2"},
      {"2nd copy-é", "org.dozerin.Dozerin._2nd_copy___"},
      {"", "org.dozerin.Dozerin._"},  // a file named ".ini" has no base name
  };
  for (const auto& [base, bus] : rows) EXPECT_EQ(BusName(base), bus) << base;
  EXPECT_EQ(BusName(std::string(1000, 'x')).size(), 220u);
}

TEST(Paths, ExecutablePathNamesThisTestProgram) {
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(DeriveSidePaths(exe).base_name, "app_tests");
}

}  // namespace
}  // namespace dozerin
