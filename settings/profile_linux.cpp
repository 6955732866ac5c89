// The INI file on Linux: our own engine over the file's bytes. Every operation holds one lock
// (a lock on the file's folder, which keeps out other threads and other processes alike); a write
// goes to a temporary file in the same folder, is flushed to disk and renamed over the old file,
// so the file is never seen half-written and a failed write leaves it as it was.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "settings/ini_document.h"
#include "settings/settings_store.h"

namespace dozerin::profile {
namespace {

// A file larger than this is not taken in; reads see defaults and writes are refused, so a
// runaway file can neither exhaust memory nor be cut short by a save.
constexpr off_t kMaxFileBytes = 256 << 20;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Reset() {
    int rc = 0;
    if (fd_ >= 0) rc = close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// The path operations work on: a symbolic link is followed, so that a save replaces the file it
// points to rather than the link.
std::string ResolvedPath(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(path.c_str(), nullptr);
    if (real != nullptr) {
      std::string resolved(real);
      free(real);
      return resolved;
    }
  }
  return path;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Holds flock() on the folder for one operation. Each operation opens the folder anew, so two
// threads of one process exclude each other just as two processes do.
class FolderLock {
 public:
  FolderLock(const std::string& folder, int operation)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_.valid()) {
      while (flock(fd_.get(), operation) != 0 && errno == EINTR) {
      }
    }
  }

 private:
  Fd fd_;  // closing it releases the lock
};

enum class ReadResult { kOk, kMissing, kFailed };

ReadResult ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
    return ReadResult::kFailed;
  }
  bytes->reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    if (bytes->size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kMaxFileBytes)) {
      return ReadResult::kFailed;
    }
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
  return ReadResult::kOk;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Stores bytes as path's new content: temporary file, flush, rename. The old file keeps its
// permission bits.
bool ReplaceFile(const std::string& path, const std::string& folder, const std::string& bytes) {
  // A fresh name beside the file; created with 0666 so that the umask applies to a new file.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  Fd fd;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    fd = Fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.valid() && errno != EEXIST) return false;
  }
  if (!fd.valid()) return false;
  struct Cleanup {
    const std::string& name;
    bool armed = true;
    ~Cleanup() {
      if (armed) unlink(name.c_str());
    }
  } cleanup{temp};

  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && fchmod(fd.get(), st.st_mode & 07777) != 0) return false;
  if (!WriteAll(fd.get(), bytes) || fsync(fd.get()) != 0 || fd.Reset() != 0) return false;
  if (rename(temp.c_str(), path.c_str()) != 0) return false;
  cleanup.armed = false;
  Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) fsync(dir.get());  // makes the rename itself durable; best effort
  return true;
}

// Reads the document under a shared lock; a missing or unreadable file reads as empty.
ini::Document Load(const std::string& path) {
  const std::string real = ResolvedPath(path);
  FolderLock lock(FolderOf(real), LOCK_SH);
  std::string bytes;
  if (ReadWholeFile(real, &bytes) != ReadResult::kOk) bytes.clear();
  return ini::Document(std::move(bytes));
}

}  // namespace

std::string ReadText(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view default_text) {
  const std::optional<std::string> value = Load(path).Get(section, key);
  if (value) return *value;
  return std::string(default_text.substr(0, ini::kMaxValueBytes));
}

std::uint32_t ReadInt(const std::string& path, std::string_view section, std::string_view key,
                      std::int32_t default_value) {
  const std::optional<std::string> value = Load(path).Get(section, key);
  return ParseProfileInt(value ? *value : std::string(), default_value);
}

std::vector<Entry> ReadSection(const std::string& path, std::string_view section) {
  std::vector<Entry> entries;
  for (ini::KeyValue& kv : Load(path).Section(section)) {
    entries.push_back({std::move(kv.key), std::move(kv.value)});
  }
  return entries;
}

bool Write(const std::string& path, std::string_view section, std::string_view key,
           std::optional<std::string_view> value) {
  const std::string real = ResolvedPath(path);
  const std::string folder = FolderOf(real);
  FolderLock lock(folder, LOCK_EX);
  std::string bytes;
  const ReadResult read = ReadWholeFile(real, &bytes);
  if (read == ReadResult::kFailed) return false;  // never replace a file we could not read
  if (read == ReadResult::kMissing && !value) return true;  // nothing to delete, nothing created
  ini::Document doc(std::move(bytes));
  const bool changed = value ? doc.Set(section, key, *value) : doc.Remove(section, key);
  if (!changed && read == ReadResult::kOk) return true;
  return ReplaceFile(real, folder, doc.bytes());
}

}  // namespace dozerin::profile
