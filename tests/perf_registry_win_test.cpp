// The registry side of the performance counters, against real registry keys: where the counter
// names come from, values that outgrow the first buffer, error codes passed through.
#include "perf/perf_registry_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace dozerin {
namespace {

constexpr char kRoot[] = "Software\\DozerinUnitTests";

// A scratch key under HKEY_CURRENT_USER, removed with everything below it.
class ScratchKey {
 public:
  ScratchKey() {
    RegCreateKeyExA(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
  }
  ~ScratchKey() {
    for (HKEY key : keys_) RegCloseKey(key);
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, kRoot);
  }
  HKEY Create(const char* path) {
    HKEY key = nullptr;
    RegCreateKeyExA(key_, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    keys_.push_back(key);
    return key;
  }
  HKEY get() const { return key_; }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

 private:
  HKEY key_ = nullptr;
  std::vector<HKEY> keys_;
};

void SetMultiString(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.data()),
                 static_cast<DWORD>(text.size()));
}

TEST(PerfRegistry, NamesComeFromThePerformanceKeyWithAVersionElseFromThe009Subkey) {
  using namespace std::string_literals;
  ScratchKey machine;
  HKEY performance = machine.Create("performance");
  SetMultiString(performance, "Counter 009", "7\0Other\0\0"s);
  std::optional<CounterNames> names;
  // Each missing piece gives the registry's own error code.
  EXPECT_EQ(LoadCounterNames(machine.get(), performance, &names), ERROR_FILE_NOT_FOUND);
  HKEY perflib = machine.Create("software\\microsoft\\windows nt\\currentversion\\perflib");
  EXPECT_EQ(LoadCounterNames(machine.get(), performance, &names), ERROR_FILE_NOT_FOUND);
  const DWORD last = 100;
  RegSetValueExA(perflib, "Last Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&last), 4);
  EXPECT_EQ(LoadCounterNames(machine.get(), performance, &names), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(names);

  HKEY english = machine.Create("software\\microsoft\\windows nt\\currentversion\\perflib\\009");
  SetMultiString(english, "Counters",
                 "2\0System\0"
                 "6\0% Processor Time\0"
                 "200\0Too High\0\0"s);
  ASSERT_EQ(LoadCounterNames(machine.get(), performance, &names), ERROR_SUCCESS);
  EXPECT_EQ(names->FindCounterIndex("% processor time"), 6u);
  EXPECT_EQ(names->FindCounterIndex("Too High"), 0u);

  const DWORD version = 1;
  RegSetValueExA(perflib, "Version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4);
  ASSERT_EQ(LoadCounterNames(machine.get(), performance, &names), ERROR_SUCCESS);
  EXPECT_EQ(names->FindCounterIndex("Other"), 7u);
  EXPECT_EQ(names->FindCounterIndex("System"), 0u);
}

TEST(PerfRegistry, AValueLargerThanTheFirstBufferIsReadWholeAndErrorsPassThrough) {
  ScratchKey scratch;
  HKEY key = scratch.Create("values");
  std::vector<unsigned char> big(200000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
  RegSetValueExA(key, "big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
  std::vector<unsigned char> buffer(51200);
  DWORD length = 0;
  ASSERT_EQ(ReadRegistryValue(key, "big", &buffer, &length), ERROR_SUCCESS);
  ASSERT_EQ(length, big.size());
  EXPECT_TRUE(std::equal(big.begin(), big.end(), buffer.begin()));
  EXPECT_EQ(ReadRegistryValue(key, "missing", &buffer, &length), ERROR_FILE_NOT_FOUND);
  // An object's next block is read at the size that held the last one: each read collects the
  // data afresh.
  RegSetValueExA(key, "238", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
  RegistryPerfData data(key);
  std::vector<unsigned char> block;
  ASSERT_TRUE(data.ReadObjectBlock(238, &block));
  EXPECT_EQ(block.size(), big.size());
  EXPECT_GT(data.last_queries(), 1);
  ASSERT_TRUE(data.ReadObjectBlock(238, &block));
  EXPECT_EQ(block.size(), big.size());
  EXPECT_EQ(data.last_queries(), 1);
}

}  // namespace
}  // namespace dozerin
