// The thread cache is turned off by adding one entry to GLIBC_TUNABLES, unless it is sized there.
#include "app/allocator_linux.h"

#include <gtest/gtest.h>

namespace dozerin {
namespace {

TEST(Allocator, TunablesGainTheThreadCacheUnlessTheySizeIt) {
  const struct {
    const char* now;
    std::optional<std::string> then;
  } cases[] = {{nullptr, "glibc.malloc.tcache_count=0"},
               {"glibc.malloc.mxfast=0", "glibc.malloc.tcache_count=0:glibc.malloc.mxfast=0"},
               {"glibc.malloc.tcache_count_x=1",
                "glibc.malloc.tcache_count=0:glibc.malloc.tcache_count_x=1"},
               {"glibc.malloc.tcache_count=7", std::nullopt},
               {"a=1:glibc.malloc.tcache_count", std::nullopt}};
  for (const auto& c : cases)
    EXPECT_EQ(TunablesWithoutThreadCache(c.now), c.then) << (c.now ? c.now : "unset");
}

}  // namespace
}  // namespace dozerin
