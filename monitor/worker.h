// The monitoring worker: reads its settings once when it starts, then runs one observation pass per
// wake-up and reports what it found to the main window. It never decides the inhibit state.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dozerin {

class SettingsStore;

// What the worker needs from the program: its reports, its wake-ups and the run flag.
class WorkerPlatform {
 public:
  virtual ~WorkerPlatform() = default;
  // Posts WM_ACTIVITY_EVENT to the target window; never waits, the result is not examined.
  virtual void Post(std::uint32_t requests, std::uint32_t kinds) = 0;
  virtual bool Running() const = 0;
  // Sleeps until the wake-up event is signalled, then resets it.
  virtual void WaitForWakeUp() = 0;
  // A message with a string-table text for the user, handed to the main thread; never waits for
  // the user.
  virtual void ShowError(int string_id) = 0;
  // The reason of the report that follows, in words a person reads ("process vlc"); a platform
  // that shows no reasons leaves it.
  virtual void Explain(std::string_view /*why*/) {}
};

// The things the worker observes.
class ActivitySources {
 public:
  virtual ~ActivitySources() = default;
  virtual bool ReadCursor(std::int32_t* x, std::int32_t* y) = 0;
  // Where no pointer position can be read (a Wayland session), whether the user was active since
  // the previous pass; nothing where the pointer tells.
  virtual std::optional<bool> UserWasActive() { return std::nullopt; }
  // names and patterns are upper-cased already. On a hit, *matched receives the process's name,
  // *which the position of the pattern that found a window.
  virtual bool WatchedProcessRunning(const std::vector<std::string>& names,
                                     std::string* matched) = 0;
  virtual bool WatchedWindowExists(const std::vector<std::string>& patterns,
                                   std::size_t* which) = 0;
  // An established incoming TCP connection to one of the local ports: its port and the peer's
  // address ("192.0.2.7"); nothing when there is none, or where connections are not read.
  struct Connection {
    std::uint16_t port = 0;
    std::string peer;
  };
  virtual std::optional<Connection> RemoteConnection(const std::vector<std::uint16_t>& /*ports*/) {
    return std::nullopt;
  }
};

// One load reading per pass: network bytes per second, or the busiest processor's percentage.
class LoadProbe {
 public:
  virtual ~LoadProbe() = default;
  virtual bool Open() = 0;
  // This pass's sample, or nothing when no fresh reading is available.
  virtual std::optional<std::uint64_t> Sample() = 0;
};

struct WorkerSettings {
  std::uint64_t network_traffic = 0;  // bytes per second; 0 switches the network check off
  std::uint32_t cpu_usage = 0;        // percent; 0 switches the processor check off
  std::uint32_t mouse_cap = 0;
  std::int32_t network_ave_time = 4;
  std::int32_t cpu_ave_time = 4;
  std::uint64_t disk_traffic = 0;  // bytes per second; 0 switches the disk check off
  std::int32_t disk_ave_time = 4;
  std::vector<std::string> window_patterns;             // upper-cased
  std::vector<std::string> window_patterns_as_written;  // the same as the user wrote them
  std::vector<std::string> process_names;               // upper-cased
  std::vector<std::uint16_t> remote_ports;              // 1 to 65535
};

// The worker's start-up reads: the GENERAL integers first; the lists (WINDOW, then PROCESS, every
// entry upper-cased, then CONNECTION, whose entries that are no port 1 to 65535 are left out) only
// once the readers are open.
WorkerSettings ReadWorkerIntegers(const SettingsStore& store);
void ReadWorkerLists(const SettingsStore& store, WorkerSettings* settings);

// The worker's monitoring state and one observation pass.
class Observer {
 public:
  // disk may be missing where the platform has no disk reader yet; the disk check is then off.
  Observer(WorkerPlatform& platform, ActivitySources& sources, LoadProbe& network,
           LoadProbe& processor, LoadProbe* disk = nullptr)
      : platform_(platform),
        sources_(sources),
        network_(network),
        processor_(processor),
        disk_(disk) {}

  void SetSettings(WorkerSettings settings) { settings_ = std::move(settings); }

  // Opens the readers whose threshold is set, network first. When the network or the processor
  // reader fails, returns the string id of the message to show (1000, 1004), else 0. A disk
  // reader that fails only switches the disk check off (see disk_failed).
  int OpenReaders();
  bool disk_failed() const { return disk_failed_; }

  // Samples the loads, tests them, watches the cursor, looks for watched processes and windows,
  // and posts one or two reports.
  void Pass();

 private:
  void CheckMouse();

  WorkerPlatform& platform_;
  ActivitySources& sources_;
  LoadProbe& network_;
  LoadProbe& processor_;
  LoadProbe* disk_;
  bool disk_failed_ = false;
  WorkerSettings settings_;
  std::deque<std::uint64_t> network_window_;
  std::deque<std::uint64_t> processor_window_;
  std::deque<std::uint64_t> disk_window_;
  std::uint64_t network_average_ = 0;
  std::uint64_t processor_average_ = 0;
  std::uint64_t disk_average_ = 0;
  std::int32_t anchor_x_ = -1;
  std::int32_t anchor_y_ = -1;
};

// The whole life of a worker: start-up, passes paced by the wake-up event, end on the run flag.
void RunWorker(const SettingsStore& store, WorkerPlatform& platform, ActivitySources& sources,
               LoadProbe& network, LoadProbe& processor, LoadProbe* disk = nullptr);

}  // namespace dozerin
