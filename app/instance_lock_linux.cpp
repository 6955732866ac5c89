#include "app/instance_lock_linux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dozerin {
namespace {

// A folder we may keep the lock in: ours, not a link, and closed to everyone else.
bool PrivateFolder(const std::string& folder) {
  mkdir(folder.c_str(), 0700);
  struct stat st {};
  return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & 022) == 0;
}

}  // namespace

InstanceLock::~InstanceLock() {
  Release();
}

void InstanceLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

InstanceLock::Outcome InstanceLock::Take(const std::vector<std::string>& paths,
                                         std::string* tried) {
  for (const std::string& path : paths) {
    const std::string folder = path.substr(0, path.rfind('/'));
    auto pass_over = [&](const char* why) {
      if (tried != nullptr) *tried += path + ": " + why + "\n";
    };
    if (!folder.empty() && !PrivateFolder(folder)) {
      pass_over("the folder is missing, another user's, or open to others");
      continue;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      pass_over(std::strerror(errno));
      continue;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
      close(fd);
      pass_over("not a file of this user's");
      continue;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return Outcome::kTaken;
    }
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return Outcome::kRunning;
    pass_over(std::strerror(error));
  }
  return Outcome::kNone;
}

std::vector<std::string> InstanceLockPaths(const std::string& runtime_dir,
                                           const std::string& base_name, unsigned uid) {
  std::vector<std::string> paths;
  if (!runtime_dir.empty()) paths.push_back(runtime_dir + "/" + base_name + ".lock");
  paths.push_back("/tmp/dozerin-" + std::to_string(uid) + "/" + base_name + ".lock");
  return paths;
}

}  // namespace dozerin
