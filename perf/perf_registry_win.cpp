#include "perf/perf_registry_win.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace dozerin {
namespace {

constexpr char kPerflib[] = "software\\microsoft\\windows nt\\currentversion\\perflib";
constexpr char kPerflib009[] = "software\\microsoft\\windows nt\\currentversion\\perflib\\009";
// A block starts at this size; a block or a name table larger than the limit is not read.
constexpr std::size_t kFirstBlockBytes = 51200;
constexpr std::size_t kMaxValueBytes = 64u << 20;

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  LONG Open(HKEY parent, const char* path) {
    return RegOpenKeyExA(parent, path, 0, KEY_READ, &key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

LONG ReadRegistryValue(HKEY key, const char* value_name, std::vector<unsigned char>* buffer,
                       DWORD* length_read, int* queries) {
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer->size());
    if (queries != nullptr) ++*queries;
    const LONG result = RegQueryValueExA(key, value_name, nullptr, nullptr, buffer->data(), &size);
    *length_read = size < buffer->size() ? size : static_cast<DWORD>(buffer->size());
    if (result != ERROR_MORE_DATA) return result;
    // Grows by half again each time: a large block takes a few reads, not thousands.
    const std::size_t grown = buffer->size() + std::max<std::size_t>(1024, buffer->size() / 2);
    if (grown > kMaxValueBytes) return ERROR_NOT_ENOUGH_MEMORY;
    buffer->assign(grown, 0);
  }
}

LONG LoadCounterNames(HKEY machine_key, HKEY performance_key, std::optional<CounterNames>* names) {
  names->reset();
  RegKey perflib;
  if (LONG e = perflib.Open(machine_key, kPerflib); e != ERROR_SUCCESS) return e;
  DWORD last_counter = 0;
  DWORD size = sizeof last_counter;
  if (LONG e = RegQueryValueExA(perflib.get(), "Last Counter", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&last_counter), &size);
      e != ERROR_SUCCESS) {
    return e;
  }
  // With a "Version" value the names come from the performance key, else from the 009 subkey.
  DWORD version = 0;
  size = sizeof version;
  const bool has_version =
      RegQueryValueExA(perflib.get(), "Version", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&version), &size) == ERROR_SUCCESS;
  RegKey subkey;
  HKEY source = performance_key;
  const char* value_name = "Counter 009";
  if (!has_version) {
    if (LONG e = subkey.Open(machine_key, kPerflib009); e != ERROR_SUCCESS) return e;
    source = subkey.get();
    value_name = "Counters";
  }
  DWORD text_size = 0;
  if (LONG e = RegQueryValueExA(source, value_name, nullptr, nullptr, nullptr, &text_size);
      e != ERROR_SUCCESS) {
    return e;
  }
  if (text_size > kMaxValueBytes) return ERROR_NOT_ENOUGH_MEMORY;
  std::string text(text_size, '\0');
  DWORD read = text_size;
  if (LONG e = RegQueryValueExA(source, value_name, nullptr, nullptr,
                                reinterpret_cast<BYTE*>(text.data()), &read);
      e != ERROR_SUCCESS) {
    return e;
  }
  text.resize(read < text_size ? read : text_size);  // only the bytes the read returned
  names->emplace(std::move(text), last_counter);
  return ERROR_SUCCESS;
}

std::int32_t GetCounterIndex(std::string_view name) {
  std::optional<CounterNames> names;
  if (LoadCounterNames(HKEY_LOCAL_MACHINE, HKEY_PERFORMANCE_DATA, &names) != ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<std::int32_t>(names->FindCounterIndex(name));
}

RegistryPerfData::~RegistryPerfData() {
  if (key_ == HKEY_PERFORMANCE_DATA) RegCloseKey(HKEY_PERFORMANCE_DATA);
}

std::int32_t RegistryPerfData::GetCounterIndex(std::string_view name) {
  return dozerin::GetCounterIndex(name);
}

bool RegistryPerfData::ReadObjectBlock(std::int32_t object_index,
                                       std::vector<unsigned char>* block) {
  char value_name[16];
  std::snprintf(value_name, sizeof value_name, "%ld", static_cast<long>(object_index));
  std::size_t& size = sizes_[object_index];
  block->assign(std::max(size, kFirstBlockBytes), 0);
  DWORD length = 0;
  last_queries_ = 0;
  if (ReadRegistryValue(key_, value_name, block, &length, &last_queries_) != ERROR_SUCCESS) {
    return false;
  }
  size = block->size();
  block->resize(length);  // only the bytes the read returned are decoded
  return true;
}

}  // namespace dozerin
