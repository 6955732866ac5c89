// The one-instance lock: only a lock another process holds means another instance; every other
// trouble with a place moves on to the next one, and with none left the program runs unlocked.
#include "app/instance_lock_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "tests/test_support.h"

namespace dozerin {
namespace {

TEST(InstanceLock, OnlyAHeldLockMeansAnotherInstance) {
  testing::ScratchDir root;
  const std::string good = root.File("dozerin.lock");
  const std::string unusable = root.File("none/deeper/dozerin.lock");
  const struct {
    const char* what;
    std::function<void()> prepare;
    std::vector<std::string> paths;
    InstanceLock::Outcome outcome;
  } cases[] = {
      {"a free place", [] {}, {good}, InstanceLock::Outcome::kTaken},
      {"no runtime folder", [] {}, {unusable, good}, InstanceLock::Outcome::kTaken},
      {"nothing usable", [] {}, {unusable}, InstanceLock::Outcome::kNone},
      {"a link planted in its place",
       [&] { ASSERT_EQ(symlink(root.File("elsewhere").c_str(), good.c_str()), 0); },
       {good},
       InstanceLock::Outcome::kNone},
      {"a folder open to others",
       [&] { chmod(root.path().c_str(), 0777); },
       {good},
       InstanceLock::Outcome::kNone},
      {"a file of another user's",
       [&] {
         testing::WriteFileBytes(good, "");
         if (geteuid() == 0) {
           ASSERT_EQ(chown(good.c_str(), 4242, 4242), 0);
         }
       },
       {good},
       geteuid() == 0 ? InstanceLock::Outcome::kNone : InstanceLock::Outcome::kTaken},
  };
  for (const auto& c : cases) {
    unlink(good.c_str());
    chmod(root.path().c_str(), 0700);
    c.prepare();
    InstanceLock lock;
    EXPECT_EQ(lock.Take(c.paths), c.outcome) << c.what;
  }
  unlink(good.c_str());
  InstanceLock first, second;
  ASSERT_EQ(first.Take({good}), InstanceLock::Outcome::kTaken);
  EXPECT_EQ(second.Take({unusable, good}), InstanceLock::Outcome::kRunning);
}

}  // namespace
}  // namespace dozerin
