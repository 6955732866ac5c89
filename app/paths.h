// Where the program keeps its files: beside the executable, named after it.
#pragma once

#include <string>
#include <string_view>

namespace dozerin {

struct SidePaths {
  std::string ini;        // settings file: executable path without extension, then ".ini"
  std::string log;        // activity log: the same with ".log"
  std::string base_name;  // file name without folder and extension (names the single-instance lock)
};

// Splits the executable's full path into folder, base name and extension (the extension is the
// last dot of the file name onwards) and derives the side files. Paths of any length are handled;
// nothing is cut off.
SidePaths DeriveSidePaths(std::string_view exe_path);

// Full path of the running executable, however long; empty when it cannot be read.
std::string ExecutablePath();

}  // namespace dozerin
