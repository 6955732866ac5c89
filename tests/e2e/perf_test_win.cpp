// End-to-end tests of the load triggers: the real dozerin.exe reads the system's performance data,
// which Wine collects from the test provider testperf.dll registered here; the test steers its
// counters through shared memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "control/vocabulary.h"
#include "tests/e2e/driver_win.h"
#include "tests/e2e/test_perf_shared.h"

namespace dozerin::e2e {
namespace {

using namespace std::chrono_literals;

constexpr char kService[] = "System\\CurrentControlSet\\Services\\DozerinTestPerf";
constexpr char kPerflib[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";

void SetString(HKEY key, const char* name, const std::string& value, DWORD type = REG_SZ) {
  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.data()),
                 static_cast<DWORD>(value.size() + 1));
}

// testperf.dll registered as the performance extension of a service, and the shared block that
// steers it; gone again with the object.
//
// Wine's English name table cannot be extended: its Perflib\009 key is a predefined handle that
// always yields the same two names. Once "Last Counter" exists the table loads, every English name
// the program looks up gives index 0 (a name not in the table), which opening a reader accepts;
// so the provider serves the object under test, and only that one, under index 0.
class PerfProvider {
 public:
  enum Served { kNetwork, kProcessor, kDisk };
  explicit PerfProvider(Served served = kNetwork) {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(TestPerfSteering), kTestPerfMapping);
    s_ = static_cast<TestPerfSteering*>(
        MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TestPerfSteering)));
    s_->network_object = s_->network_counter = served == kNetwork ? 0 : kNotServed;
    s_->processor_object = s_->processor_counter = served == kProcessor ? 0 : kNotServed;
    s_->disk_object = s_->disk_counter = served == kDisk ? 0 : kNotServed;
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kService) + "\\Performance").c_str(), 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    SetString(key, "Library", BesideDriver("testperf.dll"));
    SetString(key, "Open", "OpenPerf");
    SetString(key, "Collect", "CollectPerf");
    SetString(key, "Close", "ClosePerf");
    SetString(key, "Object List", "510 238");
    RegCloseKey(key);
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPerflib, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const DWORD last = 1847;
    RegSetValueExA(key, "Last Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&last),
                   sizeof last);
    RegCloseKey(key);
  }
  ~PerfProvider() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kService);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerflib, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "Last Counter");
      RegCloseKey(key);
    }
    UnmapViewOfFile(s_);
    CloseHandle(mapping_);
  }
  PerfProvider(const PerfProvider&) = delete;
  PerfProvider& operator=(const PerfProvider&) = delete;

  TestPerfSteering* operator->() { return s_; }
  // Waits until the provider has served n more collections.
  bool CollectionsGoOn(LONG n, std::chrono::milliseconds timeout = 10s) {
    const LONG start = s_->collections;
    return WaitUntil([&] { return s_->collections >= start + n; }, timeout);
  }

 private:
  HANDLE mapping_ = nullptr;
  TestPerfSteering* s_ = nullptr;
};

struct Running {
  explicit Running(const std::string& ini) : inst(ini), p(inst.exe()), w(p.WaitForWindow()) {}
  ~Running() {
    PostMessageA(w, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_EQ(p.WaitForExit(), 0u);
  }
  bool Busy() {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(w, WM_POWERBROADCAST, kPbtQuerySuspend, 0, SMTO_NORMAL, 5000, &answer);
    return answer == kBroadcastQueryDeny;
  }
  int Count(const std::string& line) {
    int n = 0;
    for (const std::string& l : EventLines(inst.log())) n += l == line;
    return n;
  }
  Installation inst;
  Program p;
  HWND w;
};

// On Windows itself the program reads the system's own counters, which no test steers.
class LoadTriggers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) {
      GTEST_SKIP() << "steered counters exist under Wine only";
    }
  }
};

constexpr LONG kThreshold = 102400;  // 100 KB/s
const std::string kNetworkIni = "[GENERAL]\r\nLog=1\r\nNetworkTraffic=102400\r\n";

TEST_F(LoadTriggers, TrafficOnAnAdapterKeepsAwakeTrafficOnLoopbackDoesNot) {
  PerfProvider perf;
  Running r(kNetworkIni + "NetworkAveTime=0\r\n");
  ASSERT_NE(r.w, nullptr);
  perf->bytes_per_second[0] = 10 << 20;  // loopback only
  ASSERT_TRUE(perf.CollectionsGoOn(4)) << "the worker does not read the counters";
  EXPECT_EQ(r.Count("Event KIND_NETWORK"), 0);
  EXPECT_FALSE(r.Busy());
  perf->bytes_per_second[2] = 1 << 20;
  ASSERT_TRUE(WaitForLogLine(r.inst.log(), "Event KIND_NETWORK"));
  EXPECT_TRUE(WaitUntil([&] { return r.Busy(); }));
  perf->bytes_per_second[2] = 0;
  EXPECT_TRUE(WaitUntil([&] { return !r.Busy(); }));
}

TEST_F(LoadTriggers, OneBusyCoreKeepsAwakeThoughTheTotalIsLow) {
  PerfProvider perf(PerfProvider::kProcessor);
  for (int i = 0; i < kCpus; ++i) perf->busy_percent[i] = 10;
  Running r("[GENERAL]\r\nLog=1\r\nCPUUsage=50\r\nCPUAveTime=0\r\n");
  ASSERT_NE(r.w, nullptr);
  ASSERT_TRUE(perf.CollectionsGoOn(3));
  EXPECT_EQ(r.Count("Event KIND_CPU"), 0);
  perf->busy_percent[2] = 90;
  perf->busy_percent[kCpus - 1] = 30;  // _Total
  ASSERT_TRUE(WaitForLogLine(r.inst.log(), "Event KIND_CPU"));
  EXPECT_TRUE(WaitUntil([&] { return r.Busy(); }));
}

TEST_F(LoadTriggers, DiskTransfersKeepAwake) {
  PerfProvider perf(PerfProvider::kDisk);
  Running r("[GENERAL]\r\nLog=1\r\nDiskTraffic=1024\r\nDiskAveTime=0\r\n");
  ASSERT_NE(r.w, nullptr);
  perf->disk_bytes_per_second = 256 << 10;  // a quarter of the threshold, four times on disk 0
  ASSERT_TRUE(perf.CollectionsGoOn(3));
  EXPECT_EQ(r.Count("Event KIND_DISK"), 0);
  perf->disk_bytes_per_second = 4 << 20;
  ASSERT_TRUE(WaitForLogLine(r.inst.log(), "Event KIND_DISK"));
  EXPECT_TRUE(WaitUntil([&] { return r.Busy(); }));
}

TEST_F(LoadTriggers, TheMovingAverageSmoothsASingleSpike) {
  // A burst of twice the threshold within one sample: alone it is above the threshold; averaged
  // with four quiet samples it is well below.
  const struct {
    const char* ave_time;
    bool reported;
  } cases[] = {{"0", true}, {"4", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ave_time);
    PerfProvider perf;
    Running r(kNetworkIni + "NetworkAveTime=" + c.ave_time + "\r\n");
    ASSERT_NE(r.w, nullptr);
    ASSERT_TRUE(perf.CollectionsGoOn(3));
    perf->burst_bytes[1] = 2 * kThreshold;
    ASSERT_TRUE(perf.CollectionsGoOn(5));
    EXPECT_EQ(r.Count("Event KIND_NETWORK") > 0, c.reported);
  }
}

TEST_F(LoadTriggers, ABrokenProviderNeitherCrashesNorStallsTheWorker) {
  PerfProvider perf;
  Running r(kNetworkIni + "NetworkAveTime=0\r\n");
  ASSERT_NE(r.w, nullptr);
  ASSERT_TRUE(perf.CollectionsGoOn(2));
  int reports = 0;
  for (LONG mode : {kDamaged, kTruncated, kFail}) {
    SCOPED_TRACE(mode);
    perf->mode = mode;
    perf->bytes_per_second[1] = 1 << 20;
    EXPECT_TRUE(perf.CollectionsGoOn(5)) << "the worker stalled";
    EXPECT_TRUE(r.p.Running());
    // Good data again: the worker reads it and reports.
    perf->mode = kServe;
    reports = r.Count("Event KIND_NETWORK");
    EXPECT_TRUE(WaitForLogLine(r.inst.log(), "Event KIND_NETWORK", reports + 1));
    perf->bytes_per_second[1] = 0;
    EXPECT_TRUE(WaitUntil([&] { return !r.Busy(); }));
  }
}

}  // namespace
}  // namespace dozerin::e2e
