// The one-instance lock: only a lock another process holds means another instance; any other
// trouble with a place moves on to the next, and with none left the program runs unlocked.
#include "app/instance_lock_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace dozerin {
namespace {

TEST(InstanceLock, OnlyAHeldLockMeansAnotherInstance) {
  using Outcome = InstanceLock::Outcome;
  testing::ScratchDir root;
  const std::string good = root.File("dozerin.lock"), unusable = root.File("no/such/x.lock");
  const bool root_user = geteuid() == 0;  // only root can plant another user's file
  const struct {
    int trap;  // 0 none, 1 a planted link, 2 a folder open to all, 3 another user's, 4 held
    std::vector<std::string> paths;
    Outcome outcome;
  } cases[] = {{0, {good}, Outcome::kTaken},
               {0, {unusable, good}, Outcome::kTaken},
               {0, {unusable}, Outcome::kNone},
               {1, {good}, Outcome::kNone},
               {2, {good}, Outcome::kNone},
               {3, {good}, root_user ? Outcome::kNone : Outcome::kTaken},
               {4, {unusable, good}, Outcome::kRunning}};
  for (const auto& c : cases) {
    unlink(good.c_str());
    chmod(root.path().c_str(), c.trap == 2 ? 0777 : 0700);
    ASSERT_TRUE(c.trap != 1 || symlink("elsewhere", good.c_str()) == 0);
    if (c.trap == 3) testing::WriteFileBytes(good, "");
    ASSERT_TRUE(c.trap != 3 || !root_user || chown(good.c_str(), 4242, 4242) == 0);
    InstanceLock held;  // by the running instance
    ASSERT_TRUE(c.trap != 4 || held.Take({good}) == Outcome::kTaken);
    EXPECT_EQ(InstanceLock().Take(c.paths), c.outcome) << c.trap << " " << c.paths.size();
  }
}

}  // namespace
}  // namespace dozerin
