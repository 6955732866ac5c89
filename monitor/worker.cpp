#include "monitor/worker.h"

#include <cstdlib>

#include "app/text.h"
#include "control/vocabulary.h"
#include "control/why_awake.h"
#include "monitor/load_average.h"
#include "settings/settings_store.h"

namespace dozerin {
namespace {

// The cursor must get further than this from the last anchor, along either axis, to count.
constexpr std::int64_t kMouseSlackPixels = 20;

std::vector<std::string> UpperList(std::vector<std::string> list) {
  for (std::string& s : list) s = text::ToUpper(s);
  return list;
}

}  // namespace

WorkerSettings ReadWorkerIntegers(const SettingsStore& store) {
  WorkerSettings s;
  s.network_traffic = store.ReadInt(settings::kNetworkTraffic);
  s.cpu_usage = store.ReadInt(settings::kCpuUsage);
  s.mouse_cap = store.ReadInt(settings::kMouseCap);
  s.network_ave_time = static_cast<std::int32_t>(store.ReadInt(settings::kNetworkAveTime));
  s.cpu_ave_time = static_cast<std::int32_t>(store.ReadInt(settings::kCpuAveTime));
  // KB/s in the file.
  s.disk_traffic = std::uint64_t{store.ReadInt(settings::kDiskTraffic)} * 1024;
  s.disk_ave_time = static_cast<std::int32_t>(store.ReadInt(settings::kDiskAveTime));
  return s;
}

void ReadWorkerLists(const SettingsStore& store, WorkerSettings* s) {
  s->window_patterns_as_written = store.ReadList(settings::kWindow);
  s->window_patterns = UpperList(s->window_patterns_as_written);
  s->process_names = UpperList(store.ReadList(settings::kProcess));
  for (const std::string& entry : store.ReadList(settings::kConnection)) {
    if (const std::optional<std::uint16_t> port = ParsePortEntry(entry)) {
      s->remote_ports.push_back(*port);
    }
  }
}

int Observer::OpenReaders() {
  if (settings_.network_traffic != 0 && !network_.Open()) return IDS_PERF_INIT_NETWORK;
  if (settings_.cpu_usage != 0 && !processor_.Open()) return IDS_PERF_INIT_PROCESSOR;
  disk_failed_ = settings_.disk_traffic != 0 && disk_ != nullptr && !disk_->Open();
  if (disk_failed_) disk_ = nullptr;
  return 0;
}

void Observer::Pass() {
  if (settings_.network_traffic != 0) {
    if (const auto sample = network_.Sample()) {
      network_average_ = PushAndAverage(*sample, network_window_, settings_.network_ave_time);
    }
  }
  if (settings_.cpu_usage != 0) {
    if (const auto sample = processor_.Sample()) {
      processor_average_ = PushAndAverage(*sample, processor_window_, settings_.cpu_ave_time);
    }
  }
  const bool disk = settings_.disk_traffic != 0 && disk_ != nullptr;
  if (disk) {
    if (const auto sample = disk_->Sample()) {
      disk_average_ = PushAndAverage(*sample, disk_window_, settings_.disk_ave_time);
    }
  }
  if (settings_.network_traffic != 0 && network_average_ > settings_.network_traffic) {
    platform_.Explain("network " + FormatRate(network_average_));
    platform_.Post(SET_BUSY | SET_MARGIN, KIND_NETWORK);
    return;
  }
  if (settings_.cpu_usage != 0 && processor_average_ > settings_.cpu_usage) {
    platform_.Explain("processor " + std::to_string(processor_average_) + " %");
    platform_.Post(SET_BUSY | SET_MARGIN, KIND_CPU);
    return;
  }
  if (disk && disk_average_ > settings_.disk_traffic) {
    platform_.Explain("disk " + FormatRate(disk_average_));
    platform_.Post(SET_BUSY | SET_MARGIN, KIND_DISK);
    return;
  }
  if (settings_.mouse_cap != 0) CheckMouse();
  std::string process;
  if (!settings_.process_names.empty() &&
      sources_.WatchedProcessRunning(settings_.process_names, &process)) {
    platform_.Explain("process " + process);
    platform_.Post(SET_BUSY, KIND_PROCESS);
    return;
  }
  std::size_t pattern = 0;
  if (!settings_.window_patterns.empty() &&
      sources_.WatchedWindowExists(settings_.window_patterns, &pattern)) {
    const std::vector<std::string>& written = settings_.window_patterns_as_written;
    platform_.Explain("window " + (pattern < written.size() ? written[pattern]
                                                            : settings_.window_patterns[pattern]));
    platform_.Post(SET_BUSY, KIND_WINDOW);
    return;
  }
  if (!settings_.remote_ports.empty()) {
    if (const auto remote = sources_.RemoteConnection(settings_.remote_ports)) {
      platform_.Explain("remote :" + std::to_string(remote->port) + " from " + remote->peer);
      platform_.Post(SET_BUSY, KIND_REMOTE);
      return;
    }
  }
  platform_.Post(SET_IDLE, 0);
}

void Observer::CheckMouse() {
  if (const std::optional<bool> active = sources_.UserWasActive()) {
    if (*active) {
      platform_.Explain("mouse");
      platform_.Post(SET_MARGIN, KIND_MOUSE);
    }
    return;
  }
  std::int32_t x = 0;
  std::int32_t y = 0;
  if (!sources_.ReadCursor(&x, &y)) return;
  if (anchor_x_ == -1 && anchor_y_ == -1) {
    anchor_x_ = x;
    anchor_y_ = y;
    return;
  }
  const std::int64_t dx = std::llabs(static_cast<std::int64_t>(x) - anchor_x_);
  const std::int64_t dy = std::llabs(static_cast<std::int64_t>(y) - anchor_y_);
  if (dx > kMouseSlackPixels || dy > kMouseSlackPixels) {
    platform_.Explain("mouse");
    platform_.Post(SET_MARGIN, KIND_MOUSE);
    anchor_x_ = x;
    anchor_y_ = y;
  }
}

void RunWorker(const SettingsStore& store, WorkerPlatform& platform, ActivitySources& sources,
               LoadProbe& network, LoadProbe& processor, LoadProbe* disk) {
  Observer observer(platform, sources, network, processor, disk);
  WorkerSettings settings = ReadWorkerIntegers(store);
  observer.SetSettings(settings);
  if (const int message = observer.OpenReaders(); message != 0) {
    platform.ShowError(message);
    return;  // ends without any report until the worker is started again
  }
  // The disk check is the one a failed reader switches off on its own; the others go on.
  if (observer.disk_failed()) platform.ShowError(IDS_PERF_INIT_DISK);
  ReadWorkerLists(store, &settings);
  observer.SetSettings(std::move(settings));

  if (!platform.Running()) return;
  for (;;) {
    observer.Pass();
    if (!platform.Running()) return;
    platform.WaitForWakeUp();
    if (!platform.Running()) return;
  }
}

}  // namespace dozerin
