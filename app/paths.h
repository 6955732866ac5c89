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

// Where the Linux program keeps its files: beside the executable when that folder already holds
// the INI file or may be written (a portable copy), else the INI file in
// $XDG_CONFIG_HOME/dozerin/ and the log in $XDG_STATE_HOME/dozerin/ (by default ~/.config and
// ~/.local/state), named after the executable all the same.
SidePaths ChooseUserPaths(const SidePaths& beside, bool ini_beside, bool folder_writable,
                          std::string_view config_home, std::string_view state_home,
                          std::string_view home);

// Full path of the running executable, however long; empty when it cannot be read.
std::string ExecutablePath();

// A /proc/<pid>/exe link target without the " (deleted)" the kernel adds once the file has been
// replaced while it runs ("/usr/bin/vlc (deleted)"): the new file is at the old path.
std::string_view WithoutDeletedMark(std::string_view link_target);

// The session-bus name of the running instance of the executable with this base name: the one
// named "dozerin" is org.dozerin.Dozerin, a copy of another name adds that name, made safe for a
// bus name ("dozerin 2" is org.dozerin.Dozerin.dozerin_2), so a later start reaches its own copy.
std::string BusName(std::string_view base_name);

}  // namespace dozerin
