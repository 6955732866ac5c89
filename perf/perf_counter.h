// Reads one counter of one performance object over all its instances, from performance data
// blocks in the system's published layout. Every length, offset and count of a block is checked
// against the bytes actually read: a truncated or inconsistent block is refused as a whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace dozerin {

inline constexpr std::uint32_t PERF_COUNTER_BULK_COUNT = 0x10410500;
inline constexpr std::uint32_t PERF_100NSEC_TIMER_INV = 0x21510500;

// Where the reader gets its title indices and its blocks.
class PerfDataSource {
 public:
  virtual ~PerfDataSource() = default;
  // Title index of an English name; 0 when unknown, -1 when the name table cannot be loaded.
  virtual std::int32_t GetCounterIndex(std::string_view name) = 0;
  // A fresh block for the object with this title index; false when it cannot be read.
  virtual bool ReadObjectBlock(std::int32_t object_index, std::vector<unsigned char>* block) = 0;
};

// The previous raw value and time stamp of one instance.
struct CPerfSample {
  std::int64_t previous_value = 0;  // 0: no previous sample
  std::int64_t previous_time = 0;
  std::uint64_t last_query = 0;  // the reader's query that last met this instance
};

// A sample whose instance has not been met for this many successful queries (about a minute of
// passes) is dropped: interfaces that come and go under new names (VPNs, USB adapters) would
// otherwise add samples for as long as the program runs.
inline constexpr std::uint64_t kForgetSampleAfterQueries = 60;

class CPerfCounter {
 public:
  explicit CPerfCounter(PerfDataSource& source) : source_(source) {}
  virtual ~CPerfCounter() = default;
  CPerfCounter(const CPerfCounter&) = delete;
  CPerfCounter& operator=(const CPerfCounter&) = delete;

  // Looks both names up and takes a first sample of the first instance.
  bool Open(std::string_view object_name, std::string_view counter_name);
  // Reads a fresh block; true when it holds the object, its counter and at least one instance,
  // all within the bytes read. The reader then stands on the first instance.
  bool Query();
  bool NextInstance();
  // The current instance's name, made unique within the block: name, name#1, name#2, ...
  std::string GetInstanceName();
  // Counts per second since this instance's previous sample; 0 when there is none or the count
  // went backwards, the largest value when it does not fit.
  std::uint64_t GetRate();
  // Busy percentage since this instance's previous sample (may lie outside 0 to 100).
  std::int32_t GetPercent();
  // The current instance's sample, found by its unique name or made new.
  CPerfSample* FindSample();

  std::size_t sample_count() const { return samples_.size(); }

 private:
  struct Instance {
    std::size_t definition;  // offset of its PERF_INSTANCE_DEFINITION
    std::size_t name;        // offset of its name
    std::size_t name_bytes;  // length of the name, without its terminator
    std::size_t value;       // offset of the counter's raw value
  };

  // How the current instance's raw value and the time stamp moved since its previous sample;
  // stores them as its new previous sample.
  struct Change {
    bool had_previous;
    double value;
    double time;
  };
  Change Advance(std::int64_t time);
  bool Decode();
  std::int64_t RawValue() const;
  std::string OwnName(const Instance& instance) const;

  PerfDataSource& source_;
  std::int32_t object_index_ = -1;
  std::int32_t counter_index_ = -1;
  std::vector<unsigned char> block_;
  bool valid_ = false;  // the last Query succeeded
  std::uint32_t counter_type_ = 0;
  bool utf16_names_ = false;
  std::int64_t perf_time_ = 0, perf_freq_ = 0, perf_time_100ns_ = 0;
  std::vector<Instance> instances_;
  std::size_t ordinal_ = 0;
  std::vector<std::string> instance_names_;  // unique names of instances 0, 1, ... so far
  std::unordered_set<std::string> taken_names_;
  std::unordered_map<std::string, int> last_repeat_;  // own name -> last repeat count given
  std::unordered_map<std::string, std::unique_ptr<CPerfSample>> samples_;
  std::uint64_t queries_ = 0;  // successful queries so far
};

}  // namespace dozerin
