// The process list of /proc as the Linux worker reads it, on a recorded tree: which name stands
// for a process, and that a pass reads only the processes it has not met.
#include "monitor/watch_sources_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>

#include "tests/test_support.h"

namespace dozerin {
namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> Names(ProcProcesses& p) {
  std::set<std::string> names;
  EXPECT_TRUE(p.ForEachProcessName([&](std::string_view n) {
    names.emplace(n);
    return false;
  }));
  return names;
}

TEST(ProcProcesses, ExeThenCommandLineThenCommAndOnlyNewOnesRead) {
  testing::ScratchDir root;
  const std::string proc = root.path() + "/proc";
  mkdir(proc.c_str(), 0700);
  const struct {
    const char* pid;
    const char* exe;      // link target, or null
    const char* cmdline;  // NUL-separated arguments, or null
    const char* comm;
  } processes[] = {
      {"10", "/usr/bin/vlc", nullptr, "vlc\n"},
      {"11", "/opt/tool (deleted)", nullptr, "tool\n"},
      {"12", nullptr, "/usr/lib/firefox/firefox\0-new-tab", "Web Content\n"},
      {"13", nullptr, nullptr, "kworker/0:1\n"},
  };
  for (const auto& p : processes) {
    const std::string dir = proc + "/" + p.pid;
    mkdir(dir.c_str(), 0700);
    if (p.exe != nullptr) {
      ASSERT_EQ(symlink(p.exe, (dir + "/exe").c_str()), 0);
    }
    if (p.cmdline != nullptr) Write(dir + "/cmdline", std::string(p.cmdline, 34));
    Write(dir + "/comm", p.comm);
  }
  mkdir((proc + "/self").c_str(), 0700);  // not a process number
  ProcProcesses source(root.path());
  EXPECT_EQ(Names(source), (std::set<std::string>{"vlc", "tool", "firefox", "kworker/0:1"}));
  EXPECT_EQ(source.cached(), 4u);

  // Known processes are not read again; an ended one is forgotten.
  Write(proc + "/13/comm", "renamed\n");
  unlink((proc + "/12/cmdline").c_str());
  unlink((proc + "/12/comm").c_str());
  rmdir((proc + "/12").c_str());
  EXPECT_EQ(Names(source), (std::set<std::string>{"vlc", "tool", "kworker/0:1"}));
  EXPECT_EQ(source.cached(), 3u);

  EXPECT_FALSE(ProcProcesses(root.path() + "/missing").ForEachProcessName([](std::string_view) {
    return false;
  }));
}

}  // namespace
}  // namespace dozerin
