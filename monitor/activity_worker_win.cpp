#include "monitor/activity_worker_win.h"

#include <winsock2.h>
// winsock2.h before windows.h, which would bring the old winsock in.
#include <windows.h>
// windows.h before these, which rely on its types.
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <memory>

#include "control/vocabulary.h"
#include "monitor/load_sampling.h"
#include "monitor/watch_sources_win.h"
#include "monitor/worker.h"
#include "perf/perf_registry_win.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

class Win32WorkerPlatform : public WorkerPlatform {
 public:
  explicit Win32WorkerPlatform(WorkerControl& control) : control_(control) {}
  void Post(std::uint32_t requests, std::uint32_t kinds) override {
    control_.PostReport(WM_ACTIVITY_EVENT, requests, kinds);
  }
  bool Running() const override { return control_.run.load() != 0; }
  void WaitForWakeUp() override { control_.WaitForWakeUp(); }
  void Explain(std::string_view why) override { control_.SetReason(why); }
  void ShowError(int string_id) override {
    // The main window shows it: a box on this thread would hold up every stop of the worker, and
    // a suspend waits for that stop.
    control_.Post(WM_WORKER_ERROR, static_cast<WPARAM>(string_id), 0);
  }

 private:
  WorkerControl& control_;
};

// The system's TCP connections of one address family (MIB_TCPTABLE_OWNER_PID or its IPv6
// sibling); empty when they cannot be read.
std::vector<unsigned char> TcpTable(ULONG family) {
  std::vector<unsigned char> table;
  ULONG size = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD result = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE,
                                             family, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    if (result == NO_ERROR) return table;
    if (result != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > (64u << 20)) break;
    table.resize(size);  // connections may come meanwhile: asked again with the new size
  }
  return {};
}

// The rows of a table read above, as many as its count says and its bytes hold.
template <typename Table, typename Row>
std::vector<Row> Rows(const std::vector<unsigned char>& bytes) {
  std::vector<Row> rows;
  const std::size_t header = offsetof(Table, table);
  if (bytes.size() < header) return rows;
  const auto* table = reinterpret_cast<const Table*>(bytes.data());
  const std::size_t fit = (bytes.size() - header) / sizeof(Row);
  rows.assign(table->table, table->table + std::min<std::size_t>(table->dwNumEntries, fit));
  return rows;
}

class Win32Sources : public WatchSources {
 public:
  Win32Sources() : WatchSources(processes_, windows_) {}
  std::optional<Connection> RemoteConnection(const std::vector<std::uint16_t>& ports) override {
    auto watched = [&](DWORD state, DWORD local_port) {
      return state == MIB_TCP_STATE_ESTAB &&
             std::find(ports.begin(), ports.end(), ntohs(static_cast<u_short>(local_port))) !=
                 ports.end();
    };
    auto dotted = [](const unsigned char* a) {
      return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
             std::to_string(a[3]);
    };
    for (const MIB_TCPROW_OWNER_PID& r :
         Rows<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>(TcpTable(AF_INET))) {
      if (!watched(r.dwState, r.dwLocalPort)) continue;
      return Connection{ntohs(static_cast<u_short>(r.dwLocalPort)),
                        dotted(reinterpret_cast<const unsigned char*>(&r.dwRemoteAddr))};
    }
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    for (const MIB_TCP6ROW_OWNER_PID& r :
         Rows<MIB_TCP6TABLE_OWNER_PID, MIB_TCP6ROW_OWNER_PID>(TcpTable(AF_INET6))) {
      if (!watched(r.dwState, r.dwLocalPort)) continue;
      char peer[INET6_ADDRSTRLEN] = {};
      InetNtopA(AF_INET6, r.ucRemoteAddr, peer, sizeof peer);
      // An IPv4 peer of a dual-stack socket is named as IPv4, as on Linux.
      const bool mapped = std::equal(kMapped, kMapped + 12, r.ucRemoteAddr);
      return Connection{ntohs(static_cast<u_short>(r.dwLocalPort)),
                        mapped ? dotted(r.ucRemoteAddr + 12) : std::string(peer)};
    }
    return std::nullopt;
  }
  bool ReadCursor(std::int32_t* x, std::int32_t* y) override {
    POINT p;
    if (!GetCursorPos(&p)) return false;
    *x = p.x;
    *y = p.y;
    return true;
  }

 private:
  ToolhelpProcesses processes_;
  DesktopWindows windows_;
};

// Everything the worker owns; made on its thread and gone when it ends.
struct WorkThreadObject {
  WorkThreadObject(const SettingsStore& s, WorkerControl& control) : store(s), platform(control) {}
  SettingsStore store;  // a copy: the worker never touches the main thread's objects
  Win32WorkerPlatform platform;
  Win32Sources sources;
  RegistryPerfData perf_data;
  NetworkLoad network{perf_data};
  ProcessorLoad processor{perf_data};
  DiskLoad disk{perf_data};
};

}  // namespace

WorkerThread StartWorkThreadObject(HWND target, const SettingsStore& store) {
  return WorkerThread::Start(target, [store](WorkerControl& control) {
    const auto self = std::make_unique<WorkThreadObject>(store, control);
    RunWorker(self->store, self->platform, self->sources, self->network, self->processor,
              &self->disk);
  });
}

}  // namespace dozerin
