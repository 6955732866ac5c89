#include "perf/perf_counter.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "monitor/load_sampling.h"
#include "perf/counter_names.h"
#include "tests/perf_block_writer.h"

namespace dozerin {
namespace {

using testing::BuildBlock;
using testing::TestBlock;
using testing::TestCounter;
using testing::TestInstance;
using testing::TestObject;

constexpr std::uint32_t kNetworkObject = 510, kBytesTotal = 388;
constexpr std::uint32_t kProcessorObject = 238, kProcessorTime = 6;

class FakePerfData : public PerfDataSource {
 public:
  std::int32_t GetCounterIndex(std::string_view name) override {
    if (!names_loadable) return -1;
    const auto it = names.find(std::string(name));
    return it == names.end() ? 0 : it->second;
  }
  bool ReadObjectBlock(std::int32_t object_index, std::vector<unsigned char>* block) override {
    requested.push_back(object_index);
    if (blocks.empty()) return false;
    *block = std::move(blocks.front());
    blocks.pop_front();
    return true;
  }
  std::map<std::string, std::int32_t> names = {{"Network Interface", kNetworkObject},
                                               {"Bytes Total/sec", kBytesTotal},
                                               {"Processor", kProcessorObject},
                                               {"% Processor Time", kProcessorTime}};
  bool names_loadable = true;
  std::deque<std::vector<unsigned char>> blocks;
  std::vector<std::int32_t> requested;
};

TestBlock NetworkBlock(std::int64_t time, std::int64_t freq,
                       std::vector<std::pair<std::string, std::int64_t>> instances) {
  TestObject o{kNetworkObject, 1252, {{kBytesTotal, PERF_COUNTER_BULK_COUNT}}, {}};
  for (auto& [name, value] : instances) o.instances.push_back({name, {}, {value}});
  return {time, freq, 0, {o}};
}

TestBlock ProcessorBlock(std::int64_t time_100ns, std::vector<std::int64_t> idle) {
  TestObject o{kProcessorObject, 0, {{kProcessorTime, PERF_100NSEC_TIMER_INV}}, {}};
  for (std::size_t i = 0; i < idle.size(); ++i) {
    const std::string n = std::to_string(i);
    o.instances.push_back({"", std::u16string(n.begin(), n.end()), {idle[i]}});
  }
  return {0, 0, time_100ns, {o}};
}

// Rates of every instance of the next block, in order.
std::vector<std::uint64_t> Rates(CPerfCounter& c) {
  std::vector<std::uint64_t> rates;
  if (!c.Query()) return rates;
  do rates.push_back(c.GetRate());
  while (c.NextInstance());
  return rates;
}

std::vector<std::string> Names(CPerfCounter& c) {
  std::vector<std::string> names;
  if (!c.Query()) return names;
  do names.push_back(c.GetInstanceName());
  while (c.NextInstance());
  return names;
}

TEST(PerfCounter, RatesAgainstTheSampleOfTheSameInstance) {
  FakePerfData data;
  data.blocks.push_back(BuildBlock(NetworkBlock(1000, 1000, {{"eth0", 100}, {"eth1", 50}})));
  data.blocks.push_back(BuildBlock(NetworkBlock(3000, 1000, {{"eth0", 300}, {"eth1", 70}})));
  data.blocks.push_back(BuildBlock(NetworkBlock(4000, 1000, {{"eth0", 300}, {"eth1", 170}})));
  CPerfCounter c(data);
  ASSERT_TRUE(c.Open("Network Interface", "Bytes Total/sec"));
  EXPECT_EQ(data.requested, std::vector<std::int32_t>{kNetworkObject});
  // Open sampled the first instance only: the second has no previous value yet.
  EXPECT_EQ(Rates(c), (std::vector<std::uint64_t>{100, 0}));
  EXPECT_EQ(Rates(c), (std::vector<std::uint64_t>{0, 100}));
  EXPECT_EQ(c.sample_count(), 2u);
}

TEST(PerfCounter, SamplesOfInstancesThatWentAwayAreDroppedThoseThatStayKeepTheirReadings) {
  FakePerfData data;
  std::int64_t eth0 = 1000;
  // A VPN interface under a new name every few passes; eth0 all along at 100 bytes a second.
  for (int pass = 0; pass <= 300; ++pass) {
    std::vector<std::pair<std::string, std::int64_t>> instances = {{"eth0", eth0}};
    instances.emplace_back("vpn" + std::to_string(pass / 5), 5000 + pass);
    data.blocks.push_back(BuildBlock(NetworkBlock(1000 * pass, 1000, instances)));
    eth0 += 100;
  }
  CPerfCounter c(data);
  ASSERT_TRUE(c.Open("Network Interface", "Bytes Total/sec"));
  std::size_t most = 0;
  for (int pass = 1; pass <= 300; ++pass) {
    EXPECT_EQ(Rates(c)[0], 100u) << pass;
    most = std::max(most, c.sample_count());
  }
  // eth0 and the VPN names of about the last minute, never the 60 names seen in all.
  EXPECT_LE(most, 2 + kForgetSampleAfterQueries / 5 + 1);
}

TEST(PerfCounter, RateEdgeCases) {
  struct Row {
    const char* name;
    std::int64_t x0, t0, x1, t1, freq;
    std::uint64_t rate;
  };
  const Row rows[] = {
      {"plain", 1000, 0, 3000, 2000, 1000, 1000},
      {"truncated, not rounded", 1, 0, 1000, 10000, 1000, 99},  // 99.9 per second
      {"counter went backwards", 5000, 0, 4000, 1000, 1000, 0},
      {"no time elapsed", 1000, 500, 2000, 500, 1000, 0},
      {"time went backwards", 1000, 500, 2000, 400, 1000, 0},
      {"frequency 0", 1000, 0, 2000, 1000, 0, 0},
      {"previous value exactly 0", 0, 0, 5000, 1000, 1000, 0},
      {"3 GB/s, past 31 bits", 1, 0, 3000000001LL, 1000, 1000, 3000000000u},
      {"10 GB/s, past 32 bits", 1, 0, 20000000001LL, 2000, 1000, 10000000000u},
      {"rate beyond 64 bits saturates", 1, 0, 0x7FFFFFFFFFFFFFFFLL, 1, 1000000000000LL, UINT64_MAX},
  };
  for (const Row& r : rows) {
    FakePerfData data;
    data.blocks.push_back(BuildBlock(NetworkBlock(r.t0, r.freq, {{"eth0", r.x0}})));
    data.blocks.push_back(BuildBlock(NetworkBlock(r.t1, r.freq, {{"eth0", r.x1}})));
    CPerfCounter c(data);
    ASSERT_TRUE(c.Open("Network Interface", "Bytes Total/sec")) << r.name;
    EXPECT_EQ(Rates(c), std::vector<std::uint64_t>{r.rate}) << r.name;
  }
}

TEST(PerfCounter, PercentEdgeCases) {
  struct Row {
    const char* name;
    std::int64_t idle0, t0, idle1, t1;
    std::int32_t percent;
  };
  const Row rows[] = {
      {"busy for the whole interval", 5000, 0, 5000, 10000000, 100},
      {"idle for the whole interval", 5000, 0, 10005000, 10000000, 0},
      {"truncated: 42.7", 1000, 0, 1000 + 573, 1000, 42},
      {"idle ran ahead of time: negative", 1000, 0, 1150, 100, -50},
      {"idle went backwards", 5000, 0, 4000, 100, 0},
      {"no time elapsed", 1000, 100, 1100, 100, 0},
      {"previous value exactly 0", 0, 0, 1000, 2000, 0},
  };
  for (const Row& r : rows) {
    FakePerfData data;
    data.blocks.push_back(BuildBlock(ProcessorBlock(r.t0, {r.idle0})));
    data.blocks.push_back(BuildBlock(ProcessorBlock(r.t1, {r.idle1})));
    CPerfCounter c(data);
    ASSERT_TRUE(c.Open("Processor", "% Processor Time")) << r.name;
    ASSERT_TRUE(c.Query());
    EXPECT_EQ(c.GetPercent(), r.percent) << r.name;
  }
}

TEST(PerfCounter, RepeatedNamesAreNumberedInBlockOrder) {
  struct Row {
    std::vector<std::string> own;
    std::vector<std::string> unique;
  };
  const Row rows[] = {
      {{"nic", "nic", "nic"}, {"nic", "nic#1", "nic#2"}},
      {{"n", "n#1", "n", "n#1"}, {"n", "n#1", "n#2", "n#1#1"}},
      {{"a", "b", "a", "b", "a"}, {"a", "b", "a#1", "b#1", "a#2"}},
  };
  for (const Row& r : rows) {
    FakePerfData data;
    std::vector<std::pair<std::string, std::int64_t>> instances;
    for (const std::string& n : r.own) instances.push_back({n, 1});
    for (int i = 0; i < 3; ++i) data.blocks.push_back(BuildBlock(NetworkBlock(0, 1, instances)));
    CPerfCounter c(data);
    ASSERT_TRUE(c.Open("Network Interface", "Bytes Total/sec"));
    EXPECT_EQ(Names(c), r.unique);
    EXPECT_EQ(Names(c), r.unique);  // numbering starts afresh with every block
  }
}

TEST(PerfCounter, SamplesFollowTheUniqueNames) {
  // Two instances of one name that change places take their samples with them.
  FakePerfData data;
  data.blocks.push_back(BuildBlock(NetworkBlock(0, 1, {{"x", 100}, {"x", 1000}})));
  data.blocks.push_back(BuildBlock(NetworkBlock(0, 1, {{"x", 100}, {"x", 1000}})));
  data.blocks.push_back(BuildBlock(NetworkBlock(1, 1, {{"x", 1010}, {"x", 110}})));
  CPerfCounter c(data);
  ASSERT_TRUE(c.Open("Network Interface", "Bytes Total/sec"));
  EXPECT_EQ(Rates(c), (std::vector<std::uint64_t>{0, 0}));
  EXPECT_EQ(Rates(c), (std::vector<std::uint64_t>{910, 0}));  // x#1 went backwards: 110 < 1000
}

TEST(PerfCounter, WideNamesAreConverted) {
  FakePerfData data;
  TestBlock block = ProcessorBlock(0, {1});
  block.objects[0].instances[0].wide = u"CPU \u30E1\u30E2";  // メモ
  data.blocks.push_back(BuildBlock(block));
  data.blocks.push_back(BuildBlock(block));
  CPerfCounter c(data);
  ASSERT_TRUE(c.Open("Processor", "% Processor Time"));
#ifdef _WIN32
  const std::string memo = "CPU \x83\x81\x83\x82";
#else
  const std::string memo = "CPU \xE3\x83\xA1\xE3\x83\xA2";
#endif
  EXPECT_EQ(Names(c), std::vector<std::string>{memo});
}

TEST(PerfCounter, QueryRefusesBlocksWithoutWhatItWatches) {
  struct Row {
    const char* name;
    TestBlock block;
  };
  TestBlock no_instances = NetworkBlock(0, 1, {});
  TestBlock no_instances_flag = NetworkBlock(0, 1, {{"a", 1}});
  no_instances_flag.objects[0].override_instance_count = true;
  no_instances_flag.objects[0].instance_count = -1;  // PERF_NO_INSTANCES
  TestBlock other_counter = NetworkBlock(0, 1, {{"a", 1}});
  other_counter.objects[0].counters[0].index = 999;
  TestBlock other_object = NetworkBlock(0, 1, {{"a", 1}});
  other_object.objects[0].index = 999;
  const Row rows[] = {{"no instances", no_instances},
                      {"PERF_NO_INSTANCES", no_instances_flag},
                      {"counter missing", other_counter},
                      {"object missing", other_object}};
  for (const Row& r : rows) {
    FakePerfData data;
    data.blocks.push_back(BuildBlock(r.block));
    CPerfCounter c(data);
    EXPECT_FALSE(c.Open("Network Interface", "Bytes Total/sec")) << r.name;
    // Without a good block the per-instance operations give nothing and make no sample.
    EXPECT_EQ(c.GetRate(), 0u);
    EXPECT_EQ(c.GetInstanceName(), "");
    EXPECT_EQ(c.sample_count(), 0u);
  }
}

TEST(PerfCounter, OpenFailsOnlyWhenTheNameTableCannotBeLoaded) {
  FakePerfData data;
  data.names_loadable = false;
  CPerfCounter c(data);
  EXPECT_FALSE(c.Open("Processor", "% Processor Time"));
  EXPECT_TRUE(data.requested.empty());
  // An unknown name is index 0, which goes into the query like any other.
  FakePerfData unknown;
  TestBlock block = NetworkBlock(0, 1, {{"a", 1}});
  block.objects[0].index = 0;
  unknown.blocks.push_back(BuildBlock(block));
  CPerfCounter d(unknown);
  EXPECT_TRUE(d.Open("No Such Object", "Bytes Total/sec"));
  EXPECT_EQ(unknown.requested, std::vector<std::int32_t>{0});
}

TEST(PerfCounter, ObjectFoundAmongOthers) {
  TestBlock block = NetworkBlock(10, 1, {{"a", 5}});
  block.objects.insert(
      block.objects.begin(),
      TestObject{77, 1252, {{kBytesTotal, PERF_COUNTER_BULK_COUNT}}, {{"z", {}, {9}}}});
  FakePerfData data;
  data.blocks.push_back(BuildBlock(block));
  CPerfCounter c(data);
  ASSERT_TRUE(c.Open("Network Interface", "Bytes Total/sec"));
  EXPECT_EQ(c.GetInstanceName(), "a");
}

// Damaged blocks: every length, offset and count is checked against the bytes read.
TEST(PerfCounter, DamagedBlocksAreRefusedWithoutReadingOutside) {
  const std::vector<unsigned char> good =
      BuildBlock(NetworkBlock(1, 1, {{"eth0", 1}, {"eth1", 2}, {"lo", 3}}));
  const std::size_t object = testing::kBlockHeaderLength;
  const std::size_t definition = object + testing::kObjectHeaderLength;
  const std::size_t instance = definition + testing::kCounterDefinitionLength;
  struct Row {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  };
  const Row rows[] = {
      {"object count in the billions, none matching", 28, 0xFFFFFFFF},
      {"first object past the end", 24, 0x7FFFFFF0},
      {"object length 0", object, 0},
      {"object length past the end", object, 0x10000},
      {"counter count in the billions", object + 32, 0xFFFFFFFF},
      {"counter definitions past the end", object + 8, 0xFFFFFF00},
      {"counter definition length 0", definition, 0},
      {"counter value past the object", definition + 36, 0x1000},
      {"instance count in the billions", object + 40, 0x7FFFFFFF},
      {"instances past the end", object + 4, 0xFFFFFFF0},
      {"instance length 0", instance, 0},
      {"instance name past its definition", instance + 16, 0x400},
      {"counter block length 0", instance + 32, 0},
      {"counter block length past the end", instance + 32, 0xFFFFFFFF},
  };
  for (const Row& r : rows) {
    std::vector<unsigned char> bad = good;
    if (std::string(r.name) == "object count in the billions, none matching") {
      testing::Put32(bad, object + 12, 12345);  // the one object is not the watched one
    }
    if (std::string(r.name) == "counter count in the billions") {
      testing::Put32(bad, definition + 4, 12345);  // the one counter is not the watched one
    }
    testing::Put32(bad, r.at, r.value);
    FakePerfData data;
    data.blocks.push_back(bad);
    CPerfCounter c(data);
    EXPECT_FALSE(c.Open("Network Interface", "Bytes Total/sec")) << r.name;
  }
  // Every truncation of a good block is refused.
  for (std::size_t length = 0; length < good.size(); ++length) {
    FakePerfData data;
    data.blocks.push_back(std::vector<unsigned char>(good.begin(), good.begin() + length));
    CPerfCounter c(data);
    EXPECT_FALSE(c.Open("Network Interface", "Bytes Total/sec")) << length;
  }
  FakePerfData data;
  data.blocks.push_back(good);
  CPerfCounter c(data);
  EXPECT_TRUE(c.Open("Network Interface", "Bytes Total/sec"));
}

TEST(CounterNames, ParseAndFind) {
  using namespace std::string_literals;
  const std::string text =
      "1\0"
      "1847\0"
      "2\0System\0"
      "6\0% Processor Time\0"
      "238\0Processor\0"
      "240\0Processor\0"
      "9999\0Too High\0"
      "-5\0Negative\0"
      "x7\0NoDigits\0"
      "4\0First\0"
      "4\0Second\0"
      " 12\0Spaced\0"
      "\0"
      "13\0After The End\0"s;
  const CounterNames names(text, 1000);
  struct Row {
    const char* name;
    std::uint32_t index;
  };
  const Row rows[] = {
      {"Processor", 238}, {"processor", 238}, {"% PROCESSOR TIME", 6}, {"Too High", 0},
      {"Negative", 0},    {"NoDigits", 0},    {"System", 2},           {"First", 0},
      {"Second", 4},      {"Spaced", 12},     {"After The End", 0},    {"Missing", 0},
  };
  for (const Row& r : rows) EXPECT_EQ(names.FindCounterIndex(r.name), r.index) << r.name;
  // "NoDigits" sits at index 0: a lookup that finds it cannot tell it from "not found".
  EXPECT_EQ(names.size(), 8u);

  // With every index in range, negative and oversized ones are still skipped, not wrapped.
  const CounterNames all(
      "-5\0Negative\0"
      "4294967298\0Wrapped\0"
      "99999999999999999999\0Huge\0"
      "4294967295\0Largest\0"
      "-0\0Zero\0"s,
      0xFFFFFFFFu);
  EXPECT_EQ(all.FindCounterIndex("Negative"), 0u);
  EXPECT_EQ(all.FindCounterIndex("Wrapped"), 0u);
  EXPECT_EQ(all.FindCounterIndex("Huge"), 0u);
  EXPECT_EQ(all.FindCounterIndex("Largest"), 0xFFFFFFFFu);
  EXPECT_EQ(all.size(), 2u);  // "Largest" and "Zero"
}

TEST(CounterNames, TextWithoutItsEndIsReadSafely) {
  using namespace std::string_literals;
  const std::string cases[] = {
      ""s,
      "\0"s,
      "5"s,
      "5\0"s,
      "5\0Name"s,
      "5\0Name\0"
      "6"s,
      "\0"
      "5\0Name\0"s,
  };
  for (const std::string& t : cases) {
    const CounterNames names(std::string(t.begin(), t.end()), 100);
    const bool has_name = t == "5\0Name"s || t == "5\0Name\0"
                                                  "6"s;
    EXPECT_EQ(names.FindCounterIndex("Name"), has_name ? 5u : 0u);
    EXPECT_EQ(names.size(), has_name ? 1u : 0u) << "an index without a name makes an entry";
  }
}

TEST(LoadSampling, NetworkSumLeavesOutLoopbacks) {
  FakePerfData data;
  data.blocks.push_back(BuildBlock(
      NetworkBlock(0, 1, {{"eth0", 1}, {"Loopback", 1}, {"Loopback", 1}, {"my loopback", 1}})));
  data.blocks.push_back(BuildBlock(
      NetworkBlock(1, 1, {{"eth0", 1}, {"Loopback", 1}, {"Loopback", 1}, {"my loopback", 1}})));
  data.blocks.push_back(BuildBlock(NetworkBlock(
      2, 1, {{"eth0", 101}, {"Loopback", 901}, {"Loopback", 901}, {"my loopback", 11}})));
  NetworkLoad load(data);
  ASSERT_TRUE(load.Open());
  EXPECT_EQ(load.Sample(), 0u);
  EXPECT_EQ(load.Sample(), 110u);          // "Loopback#1" is left out too; lower case is counted
  EXPECT_EQ(load.Sample(), std::nullopt);  // no block: no sample
}

TEST(LoadSampling, ProcessorTakesTheBusiestReadingFrom0To100) {
  struct Row {
    std::vector<std::int32_t> percents;
    std::uint32_t sample;
  };
  const Row rows[] = {{{37, 250, 64}, 64}, {{-3, 12}, 12}, {{-1, 101}, 0}, {{100, 0}, 100}};
  for (const Row& r : rows) {
    // Idle counts that give the wanted percentages over an interval of 1000.
    std::vector<std::int64_t> before, after;
    for (std::int32_t p : r.percents) {
      before.push_back(10000);
      after.push_back(10000 + (100 - p) * 10);
    }
    FakePerfData data;
    data.blocks.push_back(BuildBlock(ProcessorBlock(0, before)));
    data.blocks.push_back(BuildBlock(ProcessorBlock(0, before)));
    data.blocks.push_back(BuildBlock(ProcessorBlock(1000, after)));
    ProcessorLoad load(data);
    ASSERT_TRUE(load.Open());
    load.Sample();  // every instance gets its first sample
    EXPECT_EQ(load.Sample(), r.sample);
  }
}

}  // namespace
}  // namespace dozerin
