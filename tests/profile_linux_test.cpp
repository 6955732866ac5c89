// File-level guarantees of our INI engine: a write is all or nothing, concurrent writers lose no
// update, readers never see a half-written file, and a failed write leaves the old file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_store.h"
#include "tests/test_support.h"

namespace dozerin {
namespace {

using testing::FileExists;
using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;

class ProfileFile : public ::testing::Test {
 protected:
  ScratchDir dir_;
  SettingsStore store_{dir_.File("dozerin.ini")};
};

void WriteKeys(SettingsStore store, const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) store.WriteInt("GENERAL", prefix + std::to_string(i), i);
}

TEST_F(ProfileFile, ConcurrentWritersLoseNoUpdate) {
  // Two processes with two threads each, every write a read-modify-write of the whole file.
  constexpr int kPerWriter = 25;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::thread a(WriteKeys, store_, "childA", kPerWriter);
    std::thread b(WriteKeys, store_, "childB", kPerWriter);
    a.join();
    b.join();
    _exit(0);
  }
  std::thread a(WriteKeys, store_, "parentA", kPerWriter);
  std::thread b(WriteKeys, store_, "parentB", kPerWriter);
  a.join();
  b.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char* prefix : {"childA", "childB", "parentA", "parentB"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      EXPECT_EQ(store_.ReadInt("GENERAL", prefix + std::to_string(i), -1), static_cast<unsigned>(i))
          << prefix << i;
    }
  }
}

TEST_F(ProfileFile, ReadersNeverSeeAHalfWrittenFile) {
  const std::string a(2000, 'a');
  const std::string b(2000, 'b');
  WriteFileBytes(store_.path(),
                 "[PAD]\nx=" + std::string(1 << 20, 'p') + "\n[GENERAL]\nV=" + a + "\n");
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!done) {
      const std::string v = store_.ReadText("GENERAL", "V", "missing");
      if (v != a.substr(0, 2000) && v != b.substr(0, 2000)) ++bad;
    }
  });
  SettingsStore writer(store_.path());
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(writer.WriteText("GENERAL", "V", i % 2 ? a : b));
  done = true;
  reader.join();
  EXPECT_EQ(bad, 0);
}

TEST_F(ProfileFile, FailedWriteLeavesTheOldFile) {
  // A file size limit makes every write past a few bytes fail, as a full disk would.
  const std::string old = "[GENERAL]\nLog=1\n" + std::string(4096, ';') + "\n";
  WriteFileBytes(store_.path(), old);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    SettingsStore store(store_.path());
    _exit(store.WriteInt("GENERAL", "MaxMargin", 180) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write should have reported failure";
  EXPECT_EQ(ReadFileBytes(store_.path()), old);
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"dozerin.ini"});
}

TEST_F(ProfileFile, ReadOnlyFolderReportsFailure) {
  WriteFileBytes(store_.path(), "[GENERAL]\nLog=1\n");
  ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Root may write anywhere: the writer runs as an ordinary user instead.
    if (geteuid() == 0 &&
        (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)) {
      _exit(2);
    }
    SettingsStore store(store_.path());
    const bool read_ok = store.ReadInt("GENERAL", "Log", 0) == 1;
    const bool wrote = store.WriteInt("GENERAL", "MaxMargin", 180);
    _exit(read_ok && !wrote ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  chmod(dir_.path().c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write did not report failure; 2: cannot drop root";
  EXPECT_EQ(ReadFileBytes(store_.path()), "[GENERAL]\nLog=1\n");
}

TEST_F(ProfileFile, UnreadableFileIsNeverReplaced) {
  // A folder where the file should be: reads give defaults, writes fail and destroy nothing.
  ASSERT_EQ(mkdir(store_.path().c_str(), 0755), 0);
  EXPECT_EQ(store_.ReadInt("GENERAL", "MaxMargin", 7), 7u);
  EXPECT_FALSE(store_.WriteInt("GENERAL", "MaxMargin", 180));
  struct stat st {};
  ASSERT_EQ(stat(store_.path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ProfileFile, KeepsPermissionsAndFollowsSymbolicLinks) {
  const std::string target = dir_.File("real.ini");
  WriteFileBytes(target, "[GENERAL]\nLog=1\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(symlink(target.c_str(), store_.path().c_str()), 0);
  ASSERT_TRUE(store_.WriteInt("GENERAL", "MaxMargin", 180));
  struct stat st {};
  ASSERT_EQ(lstat(store_.path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFileBytes(target), "[GENERAL]\nLog=1\nMaxMargin=180\n");
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace dozerin
