// One instance per user and executable name: a lock file that the running instance holds for
// its whole life.
#pragma once

#include <string>
#include <vector>

namespace dozerin {

class InstanceLock {
 public:
  enum class Outcome {
    kTaken,    // this process is the instance
    kRunning,  // another instance holds the lock
    kNone,     // no place would do: the program runs without one
  };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Tries each lock file in turn until one is taken or found held. A file that cannot be made or
  // opened, a link, or a file or folder that another user owns is passed over: it must never
  // make the program believe another instance runs. *tried, when given, receives why each
  // passed-over place would not do.
  Outcome Take(const std::vector<std::string>& paths, std::string* tried = nullptr);
  // Lets the lock go before the end of the process.
  void Release();

 private:
  int fd_ = -1;
};

// Where the lock may be kept: $XDG_RUNTIME_DIR when it is set, else (and after it) a folder of
// the user's own in /tmp.
std::vector<std::string> InstanceLockPaths(const std::string& runtime_dir,
                                           const std::string& base_name, unsigned uid);

}  // namespace dozerin
