// A performance extension DLL for the end-to-end tests: serves "Network Interface", "Processor" and
// "PhysicalDisk" objects whose counters follow the rates and loads that the driver sets in shared
// memory. The system loads it for every collection and unloads it afterwards, so everything it
// keeps lives in the shared block.
#include <windows.h>
// windows.h first: winperf.h relies on its types.
#include <winperf.h>

#include <cwchar>
#include <vector>

#include "tests/e2e/test_perf_shared.h"
#include "tests/perf_block_writer.h"

using dozerin::e2e::TestPerfSteering;
namespace e2e = dozerin::e2e;
namespace t = dozerin::testing;

namespace {

constexpr std::uint32_t kBulkCount = 0x10410500;
constexpr std::uint32_t kTimerInverse = 0x21510500;

// Whether the query asks for object index: "Global", or a list of indices that holds it.
bool Wanted(const wchar_t* query, LONG index) {
  if (index == e2e::kNotServed) return false;
  if (query == nullptr || query[0] == L'\0' || _wcsicmp(query, L"Global") == 0) return true;
  for (const wchar_t* p = query; *p != L'\0';) {
    if (*p < L'0' || *p > L'9') {
      ++p;
      continue;
    }
    LONG n = 0;
    for (; *p >= L'0' && *p <= L'9' && n < 100000; ++p) n = n * 10 + (*p - L'0');
    if (n == index) return true;
  }
  return false;
}

// Advances the counters by the time since the last collection at the steered rates and loads.
void Advance(TestPerfSteering* s) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const LONGLONG file_time = (static_cast<LONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  if (s->last_counter_time == 0) {
    for (LONGLONG& c : s->byte_counts) c = 1000;
    for (LONGLONG& c : s->idle_times) c = 1000;
    s->disk_bytes = 1000;
  } else {
    const double seconds =
        static_cast<double>(now.QuadPart - s->last_counter_time) / frequency.QuadPart;
    const LONGLONG elapsed = file_time - s->last_file_time;
    for (int i = 0; i < e2e::kAdapters; ++i) {
      s->byte_counts[i] += static_cast<LONGLONG>(s->bytes_per_second[i] * seconds) +
                           InterlockedExchange(&s->burst_bytes[i], 0);
    }
    for (int i = 0; i < e2e::kCpus; ++i)
      s->idle_times[i] += elapsed * (100 - s->busy_percent[i]) / 100;
    s->disk_bytes += static_cast<LONGLONG>(s->disk_bytes_per_second * seconds);
  }
  s->last_counter_time = now.QuadPart;
  s->last_file_time = file_time;
}

std::vector<unsigned char> Objects(const TestPerfSteering& s, const wchar_t* query, DWORD* count) {
  t::TestBlock block;
  if (Wanted(query, s.network_object)) {
    t::TestObject network{static_cast<std::uint32_t>(s.network_object),
                          0,
                          {{static_cast<std::uint32_t>(s.network_counter), kBulkCount}},
                          {}};
    const char16_t* names[e2e::kAdapters] = {u"MS TCP Loopback interface",
                                             u"Realtek PCIe GbE Family Controller",
                                             u"Intel[R] Wi-Fi 6 AX201 160MHz"};
    for (int i = 0; i < e2e::kAdapters; ++i) {
      network.instances.push_back({"", names[i], {s.byte_counts[i]}});
    }
    block.objects.push_back(network);
  }
  if (Wanted(query, s.processor_object)) {
    t::TestObject processor{static_cast<std::uint32_t>(s.processor_object),
                            0,
                            {{static_cast<std::uint32_t>(s.processor_counter), kTimerInverse}},
                            {}};
    const char16_t* names[e2e::kCpus] = {u"0", u"1", u"2", u"3", u"_Total"};
    for (int i = 0; i < e2e::kCpus; ++i) {
      processor.instances.push_back({"", names[i], {s.idle_times[i]}});
    }
    block.objects.push_back(processor);
  }
  if (Wanted(query, s.disk_object)) {
    // A busy disk 0 that is not counted by itself: only _Total is.
    block.objects.push_back({static_cast<std::uint32_t>(s.disk_object),
                             0,
                             {{static_cast<std::uint32_t>(s.disk_counter), kBulkCount}},
                             {{"", u"0 C:", {s.disk_bytes * 4}}, {"", u"_Total", {s.disk_bytes}}}});
  }
  *count = static_cast<DWORD>(block.objects.size());
  std::vector<unsigned char> bytes = t::BuildBlock(block);
  bytes.erase(bytes.begin(), bytes.begin() + t::kBlockHeaderLength);
  return bytes;
}

// How far before the given pointer the objects belong. Wine (8.0) hands the provider a pointer
// sizeof(PERF_DATA_BLOCK) bytes past the place where the block's HeaderLength says the first
// object starts; what a provider writes there is read by nobody. Under Wine the provider writes at
// the place the header names instead, so that the program reads its objects as it would read
// Windows' own.
std::size_t ObjectShift() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine ? sizeof(PERF_DATA_BLOCK) : 0;
}

// Spoils the first object in one of several ways, taking turns.
void Damage(std::vector<unsigned char>* b, LONG turn) {
  if (b->empty()) return;
  const std::size_t first_counter = t::kObjectHeaderLength;
  switch (turn % 4) {
    case 0:
      t::Put32(*b, 40, 0x7FFFFFFF);  // NumInstances
      break;
    case 1:
      t::Put32(*b, 4, 0xFFFFFFF0);  // DefinitionLength
      break;
    case 2:
      t::Put32(*b, first_counter + 36, 0x7FFFFFF0);  // CounterOffset
      break;
    default:
      t::Put32(*b, 0, 0xFFFFFFFF);  // TotalByteLength
      t::Put32(*b, 8, 0);           // HeaderLength
      break;
  }
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI OpenPerf(LPWSTR) {
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) DWORD WINAPI ClosePerf() {
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) DWORD WINAPI
    CollectPerf(LPWSTR query, LPVOID* data, LPDWORD size, LPDWORD count) {
  *count = 0;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, e2e::kTestPerfMapping);
  if (mapping == nullptr) {  // nobody steers: no objects
    *size = 0;
    return ERROR_SUCCESS;
  }
  auto* s = static_cast<TestPerfSteering*>(
      MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TestPerfSteering)));
  CloseHandle(mapping);
  if (s == nullptr) {
    *size = 0;
    return ERROR_SUCCESS;
  }
  const LONG turn = InterlockedIncrement(&s->collections);
  DWORD result = ERROR_SUCCESS;
  if (s->mode == e2e::kFail) {
    *size = 0;
    result = ERROR_ACCESS_DENIED;
  } else {
    Advance(s);
    DWORD objects = 0;
    std::vector<unsigned char> bytes = Objects(*s, query, &objects);
    if (s->mode == e2e::kDamaged) Damage(&bytes, turn);
    if (s->mode == e2e::kTruncated) bytes.resize(bytes.size() / 2);
    if (bytes.size() > *size) {
      *size = 0;
      result = ERROR_MORE_DATA;
    } else {
      std::memcpy(static_cast<unsigned char*>(*data) - ObjectShift(), bytes.data(), bytes.size());
      *data = static_cast<unsigned char*>(*data) + bytes.size();
      *size = static_cast<DWORD>(bytes.size());
      *count = objects;
    }
  }
  UnmapViewOfFile(s);
  return result;
}
