// Helpers shared by the tests: scratch folders and whole-file reads and writes.
#pragma once

#include <string>

namespace dozerin::testing {

// A fresh, empty folder, removed with its contents when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // path() joined with name by the platform's separator.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
void RemoveFile(const std::string& path);

// True for the Windows build running under Wine rather than on Windows.
bool UnderWine();

}  // namespace dozerin::testing
