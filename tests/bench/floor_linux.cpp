// The least a once-a-second check can cost, for tools/bench-floor to hold the resident program
// against: once a second it lists /proc, reads /proc/stat and /proc/net/dev and asks the X server
// for the pointer, and nothing else. With "--windows N" it instead makes N titled top-level
// windows on $DISPLAY and keeps them until it is ended, as the benchmark's desktop.
#include <dirent.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/bench/titled_windows.h"

namespace {

std::size_t Slurp(const char* path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str().size();
}

}  // namespace

int main(int argc, char** argv) {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x) != 0) return 1;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  if (argc == 3 && std::strcmp(argv[1], "--windows") == 0) {
    if (dozerin::MakeTitledWindows(std::atoi(argv[2])) == nullptr) return 1;
    std::puts("made");
    std::fflush(stdout);
    pause();  // the windows last as long as their connection
  }
  for (;;) {
    std::size_t seen = 0;
    if (DIR* proc = opendir("/proc")) {
      while (const dirent* entry = readdir(proc)) seen += entry->d_name[0] != '.';
      closedir(proc);
    }
    seen += Slurp("/proc/stat") + Slurp("/proc/net/dev");
    std::free(xcb_query_pointer_reply(x, xcb_query_pointer(x, screen->root), nullptr));
    if (seen == 0) return 2;  // keeps the reads from being left out
    sleep(1);
  }
}
