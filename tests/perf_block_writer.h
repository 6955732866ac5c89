// Builds performance data blocks in the published layout, for tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dozerin::testing {

struct TestInstance {
  std::string name;                  // 8-bit name (objects with a code page)
  std::u16string wide;               // UTF-16LE name (objects with code page 0)
  std::vector<std::int64_t> values;  // one per counter
};

struct TestCounter {
  std::uint32_t index;
  std::uint32_t type;
};

struct TestObject {
  std::uint32_t index;
  std::uint32_t code_page = 1252;
  std::vector<TestCounter> counters;
  std::vector<TestInstance> instances;
  bool override_instance_count = false;
  std::int32_t instance_count = 0;
};

struct TestBlock {
  std::int64_t perf_time = 0, perf_freq = 0, perf_time_100ns = 0;
  std::vector<TestObject> objects;
};

inline void Put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Put64(std::vector<unsigned char>& b, std::size_t at, std::int64_t v) {
  for (int i = 0; i < 8; ++i)
    b[at + i] = static_cast<unsigned char>(static_cast<std::uint64_t>(v) >> (8 * i));
}

// Offsets of the block's fields, for tests that damage a block on purpose.
constexpr std::size_t kBlockHeaderLength = 80;
constexpr std::size_t kObjectHeaderLength = 48;
constexpr std::size_t kCounterDefinitionLength = 40;

inline std::vector<unsigned char> BuildBlock(const TestBlock& block) {
  std::vector<unsigned char> b(kBlockHeaderLength, 0);
  b[0] = 'P', b[1] = 0, b[2] = 'E', b[3] = 0, b[4] = 'R', b[5] = 0, b[6] = 'F', b[7] = 0;
  Put32(b, 24, kBlockHeaderLength);
  Put32(b, 28, static_cast<std::uint32_t>(block.objects.size()));
  Put64(b, 56, block.perf_time);
  Put64(b, 64, block.perf_freq);
  Put64(b, 72, block.perf_time_100ns);
  for (const TestObject& o : block.objects) {
    const std::size_t object = b.size();
    const std::size_t definition_length =
        kObjectHeaderLength + kCounterDefinitionLength * o.counters.size();
    b.resize(object + definition_length, 0);
    Put32(b, object + 4, static_cast<std::uint32_t>(definition_length));
    Put32(b, object + 8, kObjectHeaderLength);
    Put32(b, object + 12, o.index);
    Put32(b, object + 32, static_cast<std::uint32_t>(o.counters.size()));
    Put32(b, object + 40,
          static_cast<std::uint32_t>(o.override_instance_count
                                         ? o.instance_count
                                         : static_cast<std::int32_t>(o.instances.size())));
    Put32(b, object + 44, o.code_page);
    for (std::size_t c = 0; c < o.counters.size(); ++c) {
      const std::size_t d = object + kObjectHeaderLength + kCounterDefinitionLength * c;
      Put32(b, d, kCounterDefinitionLength);
      Put32(b, d + 4, o.counters[c].index);
      Put32(b, d + 28, o.counters[c].type);
      Put32(b, d + 32, 8);
      Put32(b, d + 36, static_cast<std::uint32_t>(8 + 8 * c));
    }
    for (const TestInstance& in : o.instances) {
      std::vector<unsigned char> name;
      if (o.code_page == 0) {
        for (char16_t ch : in.wide) {
          name.push_back(static_cast<unsigned char>(ch & 0xFF));
          name.push_back(static_cast<unsigned char>(ch >> 8));
        }
        name.push_back(0);
        name.push_back(0);
      } else {
        name.assign(in.name.begin(), in.name.end());
        name.push_back(0);
      }
      while (name.size() % 8 != 0) name.push_back(0);
      const std::size_t instance = b.size();
      const std::size_t instance_length = 24 + name.size();
      b.resize(instance + instance_length, 0);
      Put32(b, instance, static_cast<std::uint32_t>(instance_length));
      Put32(b, instance + 16, 24);
      Put32(b, instance + 20, static_cast<std::uint32_t>(name.size()));
      std::memcpy(b.data() + instance + 24, name.data(), name.size());
      const std::size_t counters = b.size();
      const std::size_t counters_length = 8 + 8 * o.counters.size();
      b.resize(counters + counters_length, 0);
      Put32(b, counters, static_cast<std::uint32_t>(counters_length));
      for (std::size_t c = 0; c < o.counters.size(); ++c) {
        Put64(b, counters + 8 + 8 * c, c < in.values.size() ? in.values[c] : 0);
      }
    }
    Put32(b, object, static_cast<std::uint32_t>(b.size() - object));
  }
  Put32(b, 8, static_cast<std::uint32_t>(b.size()));  // TotalByteLength of the block
  return b;
}

}  // namespace dozerin::testing
