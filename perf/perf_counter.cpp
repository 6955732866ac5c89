#include "perf/perf_counter.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "app/text.h"

namespace dozerin {
namespace {

// Sizes of the parts of each structure that are read.
constexpr std::size_t kBlockHeader = 80;        // PERF_DATA_BLOCK up to PerfTime100nSec
constexpr std::size_t kObjectHeader = 48;       // PERF_OBJECT_TYPE up to CodePage
constexpr std::size_t kCounterDefinition = 40;  // PERF_COUNTER_DEFINITION up to CounterOffset
constexpr std::size_t kInstanceDefinition = 24;
constexpr std::size_t kCounterBlock = 4;

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::int64_t I64(const std::vector<unsigned char>& b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
  return static_cast<std::int64_t>(v);
}

// True when [at, at + length) lies within [begin, end).
bool Fits(std::uint64_t at, std::uint64_t length, std::uint64_t begin, std::uint64_t end) {
  return at >= begin && at <= end && length <= end - at;
}

// Truncates toward zero to 64 bits and keeps the low 32; a value outside the 64-bit range (or not
// a number) gives what the processor's conversion gives for it, the "indefinite" 0x8000...0000,
// whose low 32 bits are 0.
std::int32_t LowBitsOfTruncated(double value) {
  if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) return 0;
  const auto wide = static_cast<std::int64_t>(value);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

}  // namespace

bool CPerfCounter::Open(std::string_view object_name, std::string_view counter_name) {
  object_index_ = source_.GetCounterIndex(object_name);
  counter_index_ = source_.GetCounterIndex(counter_name);
  if (object_index_ == -1 || counter_index_ == -1) return false;
  if (!Query()) return false;
  if (counter_type_ == PERF_COUNTER_BULK_COUNT) {
    GetRate();
  } else if (counter_type_ == PERF_100NSEC_TIMER_INV) {
    GetPercent();
  }
  return true;
}

bool CPerfCounter::Query() {
  valid_ = false;
  instances_.clear();
  block_.clear();
  if (!source_.ReadObjectBlock(object_index_, &block_)) return false;
  if (!Decode()) return false;
  ordinal_ = 0;
  instance_names_.clear();
  taken_names_.clear();
  last_repeat_.clear();
  valid_ = true;
  ++queries_;
  for (auto it = samples_.begin(); it != samples_.end();) {
    it = queries_ - it->second->last_query > kForgetSampleAfterQueries ? samples_.erase(it)
                                                                       : std::next(it);
  }
  return true;
}

// Finds the object, its counter and every instance, checking each against the bytes read. Every
// walk moves forward by at least a structure's size per step, so none can go on for ever.
bool CPerfCounter::Decode() {
  const std::vector<unsigned char>& b = block_;
  const std::uint64_t size = b.size();
  if (size < kBlockHeader) return false;
  perf_time_ = I64(b, 56);
  perf_freq_ = I64(b, 64);
  perf_time_100ns_ = I64(b, 72);

  // The object.
  std::uint64_t object = U32(b, 24);
  std::uint64_t object_end = 0;
  bool found = false;
  for (std::uint32_t i = 0, n = U32(b, 28); i < n; ++i) {
    if (!Fits(object, kObjectHeader, 0, size)) return false;
    const std::uint32_t total = U32(b, object);
    if (total < kObjectHeader || !Fits(object, total, 0, size)) return false;
    if (U32(b, object + 12) == static_cast<std::uint32_t>(object_index_)) {
      object_end = object + total;
      found = true;
      break;
    }
    object += total;
  }
  if (!found) return false;
  const auto num_instances = static_cast<std::int32_t>(U32(b, object + 40));
  if (num_instances < 1) return false;
  utf16_names_ = U32(b, object + 44) == 0;

  // The counter.
  std::uint64_t definition = object + U32(b, object + 8);
  std::uint32_t value_offset = 0;
  found = false;
  for (std::uint32_t i = 0, n = U32(b, object + 32); i < n; ++i) {
    if (!Fits(definition, kCounterDefinition, object, object_end)) return false;
    const std::uint32_t length = U32(b, definition);
    if (length < kCounterDefinition) return false;
    if (U32(b, definition + 4) == static_cast<std::uint32_t>(counter_index_)) {
      counter_type_ = U32(b, definition + 28);
      value_offset = U32(b, definition + 36);
      found = true;
      break;
    }
    definition += length;
  }
  if (!found) return false;

  // The instances, each with its name and its counter block.
  std::uint64_t at = object + U32(b, object + 4);
  for (std::int32_t i = 0; i < num_instances; ++i) {
    if (!Fits(at, kInstanceDefinition, object, object_end)) return false;
    const std::uint32_t length = U32(b, at);
    if (length < kInstanceDefinition) return false;
    const std::uint64_t counters = at + length;
    if (!Fits(counters, kCounterBlock, object, object_end)) return false;
    const std::uint32_t counters_length = U32(b, counters);
    if (counters_length < kCounterBlock || !Fits(counters, counters_length, object, object_end)) {
      return false;
    }
    const std::uint64_t value = counters + value_offset;
    if (!Fits(value, 8, object, object_end)) return false;
    // The name runs to its terminator, which must lie within the instance's definition.
    const std::uint64_t name = at + U32(b, at + 16);
    if (!Fits(name, 0, at, counters)) return false;
    std::uint64_t end = name;
    if (utf16_names_) {
      while (end + 1 < counters && (b[end] != 0 || b[end + 1] != 0)) end += 2;
      if (end + 1 >= counters) return false;
    } else {
      while (end < counters && b[end] != 0) ++end;
      if (end >= counters) return false;
    }
    instances_.push_back({static_cast<std::size_t>(at), static_cast<std::size_t>(name),
                          static_cast<std::size_t>(end - name), static_cast<std::size_t>(value)});
    at = counters + counters_length;
  }
  return true;
}

bool CPerfCounter::NextInstance() {
  if (!valid_) return false;
  if (ordinal_ + 1 >= instances_.size()) return false;
  ++ordinal_;
  return true;
}

std::string CPerfCounter::OwnName(const Instance& instance) const {
  const unsigned char* p = block_.data() + instance.name;
  if (!utf16_names_) return std::string(reinterpret_cast<const char*>(p), instance.name_bytes);
  std::u16string wide(instance.name_bytes / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  }
  return text::FromUtf16(wide);
}

std::string CPerfCounter::GetInstanceName() {
  if (!valid_) return {};
  if (ordinal_ < instance_names_.size()) return instance_names_[ordinal_];
  // Names are made unique in instance order, so every earlier instance has its name already.
  while (instance_names_.size() <= ordinal_) {
    const std::string own = OwnName(instances_[instance_names_.size()]);
    // Candidates are own, own#1, own#2, ...: the first one not taken. Names are only ever added
    // within a block, so the search for a name can go on where its last search ended.
    auto [last, fresh] = last_repeat_.try_emplace(own, -1);
    int repeat = last->second + 1;
    std::string candidate = repeat == 0 ? own : own + "#" + std::to_string(repeat);
    while (taken_names_.count(candidate) != 0) {
      ++repeat;
      candidate = own + "#" + std::to_string(repeat);
    }
    last->second = repeat;
    taken_names_.insert(candidate);
    instance_names_.push_back(std::move(candidate));
  }
  return instance_names_[ordinal_];
}

CPerfSample* CPerfCounter::FindSample() {
  if (!valid_) return nullptr;
  auto& slot = samples_[GetInstanceName()];
  if (!slot) slot = std::make_unique<CPerfSample>();
  slot->last_query = queries_;
  return slot.get();
}

std::int64_t CPerfCounter::RawValue() const {
  return I64(block_, instances_[ordinal_].value);
}

CPerfCounter::Change CPerfCounter::Advance(std::int64_t time) {
  const std::int64_t x = RawValue();
  CPerfSample* sample = FindSample();
  Change change;
  change.had_previous = sample->previous_value != 0;
  // Differences in 64-bit two's complement, taken as signed, then as floating point.
  change.value = static_cast<double>(static_cast<std::int64_t>(
      static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(sample->previous_value)));
  change.time = static_cast<double>(static_cast<std::int64_t>(
      static_cast<std::uint64_t>(time) - static_cast<std::uint64_t>(sample->previous_time)));
  sample->previous_value = x;
  sample->previous_time = time;
  return change;
}

std::uint64_t CPerfCounter::GetRate() {
  if (!valid_) return 0;
  const Change c = Advance(perf_time_);
  const double seconds = c.time / static_cast<double>(perf_freq_);  // NaN for 0 / 0
  if (!c.had_previous || !(c.value > 0) || !(seconds > 0)) return 0;
  const double rate = c.value / seconds;
  // Truncated toward zero; 2^64 and beyond (or an infinite quotient) saturate.
  return rate < 18446744073709551616.0 ? static_cast<std::uint64_t>(rate)
                                       : std::numeric_limits<std::uint64_t>::max();
}

std::int32_t CPerfCounter::GetPercent() {
  if (!valid_) return 0;
  const Change c = Advance(perf_time_100ns_);
  if (!c.had_previous || !(c.value >= 0) || !(c.time > 0)) return 0;
  return LowBitsOfTruncated(100.0 - (c.value / c.time) * 100.0);
}

}  // namespace dozerin
