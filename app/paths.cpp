#include "app/paths.h"

#include "app/text.h"

namespace dozerin {
namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

}  // namespace

SidePaths DeriveSidePaths(std::string_view exe_path) {
  // Walk whole characters: in code page 932 a trail byte can equal '\\'.
  std::size_t name_start = 0;
  std::size_t last_dot = std::string_view::npos;
  for (std::size_t pos = 0; pos < exe_path.size(); pos += text::CharSize(exe_path, pos)) {
    const char c = exe_path[pos];
    if (text::CharSize(exe_path, pos) != 1) continue;
    if (IsSeparator(c)) {
      name_start = pos + 1;
      last_dot = std::string_view::npos;
    } else if (c == '.') {
      last_dot = pos;
    }
  }
  const std::size_t stem_end = last_dot == std::string_view::npos ? exe_path.size() : last_dot;
  const std::string_view stem = exe_path.substr(0, stem_end);
  SidePaths paths;
  paths.ini = std::string(stem) + ".ini";
  paths.log = std::string(stem) + ".log";
  paths.base_name = std::string(exe_path.substr(name_start, stem_end - name_start));
  return paths;
}

SidePaths ChooseUserPaths(const SidePaths& beside, bool ini_beside, bool folder_writable,
                          std::string_view config_home, std::string_view state_home,
                          std::string_view home) {
  if (ini_beside || folder_writable) return beside;
  const std::string config =
      config_home.empty() ? std::string(home) + "/.config" : std::string(config_home);
  const std::string state =
      state_home.empty() ? std::string(home) + "/.local/state" : std::string(state_home);
  SidePaths paths = beside;
  paths.ini = config + "/dozerin/" + beside.base_name + ".ini";
  paths.log = state + "/dozerin/" + beside.base_name + ".log";
  return paths;
}

std::string_view WithoutDeletedMark(std::string_view link_target) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (link_target.size() > kDeleted.size() &&
      link_target.substr(link_target.size() - kDeleted.size()) == kDeleted) {
    link_target.remove_suffix(kDeleted.size());
  }
  return link_target;
}

std::string BusName(std::string_view base_name) {
  std::string name = "org.dozerin.Dozerin";
  if (base_name == "dozerin") return name;
  // Each element of a bus name is ASCII letters, digits and '_', not starting with a digit, and
  // the whole name at most 255 bytes.
  name += '.';
  if (base_name.empty() || (base_name[0] >= '0' && base_name[0] <= '9')) name += '_';
  for (const char c : base_name.substr(0, 200)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name += plain ? c : '_';
  }
  return name;
}

}  // namespace dozerin
