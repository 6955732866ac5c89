// The application object: start-up and shutdown, the settings store over the INI file beside the
// executable, and the activity log. One instance for the whole run of the program.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/activity_log.h"
#include "app/paths.h"
#include "control/keep_awake.h"
#include "settings/settings_store.h"

namespace dozerin {

class CMainApp {
 public:
  CMainApp();
  ~CMainApp();
  CMainApp(const CMainApp&) = delete;
  CMainApp& operator=(const CMainApp&) = delete;

  // What --keep-awake asked for; taken by InitInstance.
  void SetKeepAwake(KeepAwakeRequest request) { keep_awake_ = std::move(request); }
  // Start-up: true to enter the message loop, false to end the program with start_exit_code().
  bool InitInstance();
  int start_exit_code() const { return start_exit_code_; }
  // Runs the message loop; returns the exit code.
  int Run();
  // Shutdown; returns the process exit code.
  int ExitInstance(int exit_code);

  // Settings store over the INI path set at start-up.
  std::uint32_t ReadInt(std::string_view section, std::string_view key, std::int32_t def) const {
    return store_.ReadInt(section, key, def);
  }
  std::string ReadText(std::string_view section, std::string_view key, std::string_view def) const {
    return store_.ReadText(section, key, def);
  }
  bool WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
    return store_.WriteInt(section, key, value);
  }
  bool WriteText(std::string_view section, std::string_view key,
                 std::optional<std::string_view> text) {
    return store_.WriteText(section, key, text);
  }
  std::vector<std::string> ReadList(std::string_view section) const {
    return store_.ReadList(section);
  }
  bool WriteList(std::string_view section, const std::vector<std::string>& entries) {
    return store_.WriteList(section, entries);
  }
  const SettingsStore& store() const { return store_; }
  SettingsStore& store() { return store_; }

  // One log entry, only when logging is on. A failure is returned, never thrown.
  FileError WriteLog(std::string_view message) const { return log_.Write(message); }
  bool logging_on() const { return log_.enabled(); }
  const std::string& log_path() const { return log_.path(); }
  // The side files and base name chosen at start-up.
  const SidePaths& paths() const { return paths_; }

  // Shows the file error of a failed log write, naming the log file. While one such message is on
  // screen, further failures are not shown again (the handlers still end early).
  void ReportLogFailure(FileError error);

 private:
  SettingsStore store_;
  ActivityLog log_;
  SidePaths paths_;
  struct Platform;
  std::unique_ptr<Platform> platform_;  // handles of the platform layer
  KeepAwakeRequest keep_awake_;
  int start_exit_code_ = 0;
  bool reporting_failure_ = false;
};

// The one application object.
CMainApp& App();

}  // namespace dozerin
