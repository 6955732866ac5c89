#include "monitor/watch_sources_linux.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

#include "app/paths.h"
#include "monitor/proc_loads.h"

namespace dozerin {
namespace {

// A window list longer than this is read only so far: another program could make any number of
// windows.
constexpr std::uint32_t kMaxWindows = 65536;
// Titles are read up to this many 32-bit units.
constexpr std::uint32_t kMaxTitleUnits = 1 << 18;

class Dir {
 public:
  explicit Dir(const std::string& path) : d_(opendir(path.c_str())) {}
  ~Dir() {
    if (d_ != nullptr) closedir(d_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  DIR* get() const { return d_; }

 private:
  DIR* d_;
};

}  // namespace

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string ProcProcesses::NameOf(const std::string& pid_dir) const {
  char target[4096];
  const ssize_t n = readlink((pid_dir + "/exe").c_str(), target, sizeof target);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof target) {
    return std::string(
        BaseName(WithoutDeletedMark(std::string_view(target, static_cast<std::size_t>(n)))));
  }
  if (const auto cmdline = ReadWholeFile(pid_dir + "/cmdline", 4096)) {
    const std::string_view first(cmdline->c_str());  // up to its NUL
    if (!first.empty()) return std::string(BaseName(first));
  }
  // Kernel threads and ended processes have neither: stat gives "pid (name) state ...", where
  // the name may hold any byte and the state follows the last ')'. An ended process that waits
  // for its parent ("Z") or is being taken away ("X") does not count as running.
  if (const auto stat = ReadWholeFile(pid_dir + "/stat", 4096)) {
    const std::size_t open = stat->find('(');
    const std::size_t close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open ||
        close + 2 >= stat->size()) {
      return {};
    }
    const char state = (*stat)[close + 2];
    if (state == 'Z' || state == 'X') return {};
    return stat->substr(open + 1, close - open - 1);
  }
  return {};
}

std::string ProcProcesses::StampOf(const std::string& pid_dir) {
  const auto stat = ReadWholeFile(pid_dir + "/stat", 4096);
  if (!stat) return {};
  const std::size_t open = stat->find('(');
  const std::size_t close = stat->rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  // After the name: state, then the fields up to the start time, the 22nd of the line.
  std::size_t field = close + 1;
  for (int n = 0; n < 19 && field != std::string::npos; ++n) field = stat->find(' ', field + 1);
  const std::string start = field == std::string::npos
                                ? std::string()
                                : stat->substr(field + 1, stat->find(' ', field + 1) - field - 1);
  return stat->substr(open + 1, close - open - 1) + ' ' + start;
}

std::optional<long> ProcProcesses::ReadLastPid(const std::string& proc) {
  if (!last_pid_usable_) {
    // Its last pid is of the namespace of whoever reads it.
    char self[32];
    const ssize_t n = readlink((proc + "/self").c_str(), self, sizeof self);
    last_pid_usable_ = n > 0 && std::string(self, static_cast<std::size_t>(n)) ==
                                    std::to_string(static_cast<long>(getpid()));
  }
  if (!*last_pid_usable_) return std::nullopt;
  // "0.42 0.30 0.25 2/815 40231": tasks running now, of all tasks; then the last pid.
  const std::optional<std::string> load = ReadWholeFile(proc + "/loadavg", 256);
  const std::size_t space = load ? load->find(' ', load->find('/')) : std::string::npos;
  if (space == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const long last_pid = std::strtol(load->c_str() + space + 1, &end, 10);
  if (end == load->c_str() + space + 1 || last_pid <= 0) return std::nullopt;
  return last_pid;
}

void ProcProcesses::VisitKnown(const std::string& proc, long first_new, long last_new,
                               const std::function<bool(std::string_view)>& visit) {
  const auto dir = [&proc](long pid) { return proc + "/" + std::to_string(pid); };
  for (long pid = first_new; pid <= last_new; ++pid) {
    // A thread's pid can be looked into too; it stands for its process until the next listing.
    Known met = Meet(dir(pid));
    if (!met.name.empty()) names_.insert_or_assign(pid, std::move(met));
  }
  bool found = false;
  for (auto& [pid, known] : names_) {
    known.pass = pass_;
    if (found) continue;
    const bool fresh = Fresh(known);
    if (fresh && known.first != pass_) known.name = NameOf(dir(pid));
    found = !known.name.empty() && visit(known.name);
    if (found && !fresh) {
      // Met at a listing long ago: it may have ended since.
      known.name = NameOf(dir(pid));
      found = !known.name.empty() && visit(known.name);
    }
    known.matched = found;
  }
}

bool ProcProcesses::ForEachProcessName(const std::function<bool(std::string_view name)>& visit) {
  const std::string proc = root_ + "/proc";
  const std::optional<long> last_pid = ReadLastPid(proc);
  // Without the listing while pids are handed out in turn and few of them: then the listing would
  // hold the processes met so far and those begun since. It is read again every minute or so, to
  // forget the processes that ended.
  if (last_pid && last_pid_ && complete_ && pass_ - listed_ < kListingPasses &&
      *last_pid >= *last_pid_ && *last_pid - *last_pid_ <= kMostNewPids) {
    ++pass_;
    VisitKnown(proc, *last_pid_ + 1, *last_pid, visit);
    last_pid_ = last_pid;
    return true;
  }
  Dir dir(proc);
  if (dir.get() == nullptr) return false;
  ++pass_;
  const std::optional<long> before = std::exchange(last_pid_, last_pid);
  listed_ = pass_;
  complete_ = true;
  // About once a minute the settled processes are checked for an exec, or for a pid given to a
  // new process: one read of stat each.
  const bool stamp = pass_ - stamped_ >= kListingPasses || stamped_ == 0;
  if (stamp) stamped_ = pass_;
  bool found = false;
  long newest = 0;  // of the processes not met before
  // The whole listing is read even after a hit, so that ended processes are always forgotten;
  // only processes not met before, young ones and matched ones are looked into. A pid is not
  // given to a new process while the old one is listed, and the kernel hands out pids in turn, so
  // a pid seen in two listings a pass apart is the same process, though maybe another program.
  for (const dirent* entry = readdir(dir.get()); entry != nullptr; entry = readdir(dir.get())) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
    auto it = names_.find(pid);
    if (it == names_.end()) {
      newest = std::max(newest, pid);
      if (found) {
        complete_ = false;  // looked into at the next pass that needs it
        continue;
      }
      it = names_.emplace(pid, Meet(proc + "/" + entry->d_name)).first;
    } else if (stamp && !Fresh(it->second) &&
               StampOf(proc + "/" + entry->d_name) != it->second.stamp) {
      it->second = Meet(proc + "/" + entry->d_name);  // young again: a launcher may exec once more
    } else if (!found && Fresh(it->second)) {
      it->second.name = NameOf(proc + "/" + entry->d_name);
    }
    Known& known = it->second;
    known.pass = pass_;
    if (!found) {
      found = !known.name.empty() && visit(known.name);
      known.matched = found;
    }
  }
  for (auto it = names_.begin(); it != names_.end();) {
    it = it->second.pass == pass_ ? std::next(it) : names_.erase(it);
  }
  // A stand-in /proc/loadavg (some containers have one) whose last pid lags behind the processes
  // begun since the last pass is not relied on again. After a wrap the pids begin low again.
  if (last_pid && before && *last_pid >= *before && newest > *last_pid + kMostNewPids) {
    last_pid_usable_ = false;
  }
  return true;
}

namespace {

// Where a window manager frames its clients and keeps no client list, the windows are walked again
// after this many passes even when no event said so: a client's WM_STATE set under a frame after
// the walk tells nothing to the root.
constexpr std::uint64_t kRewalkPasses = 5;

// A window manager's frame holds its client a level or two down; no deeper is searched, and no
// more than this many windows of one frame.
constexpr int kMaxFrameDepth = 3;
constexpr std::size_t kMaxFrameWindows = 64;

// The ICCCM way to the client windows when the window manager keeps no client list: a top-level
// that carries WM_STATE is a client; one that does not (a frame) stands for its topmost
// descendant that does, and for itself when none does (no window manager at all). Each level's
// requests are all sent before the first reply is awaited.
std::vector<xcb_window_t> ClientWindows(xcb_connection_t* x, xcb_atom_t wm_state,
                                        std::vector<xcb_window_t> tops) {
  if (wm_state == XCB_ATOM_NONE) return tops;
  std::vector<std::vector<xcb_window_t>> candidates(tops.size());
  for (std::size_t i = 0; i < tops.size(); ++i) candidates[i] = {tops[i]};
  for (int depth = 0; depth < kMaxFrameDepth; ++depth) {
    std::vector<std::vector<xcb_get_property_cookie_t>> asked(tops.size());
    for (std::size_t i = 0; i < tops.size(); ++i) {
      for (xcb_window_t w : candidates[i]) {
        asked[i].push_back(xcb_get_property(x, 0, w, wm_state, wm_state, 0, 0));
      }
    }
    for (std::size_t i = 0; i < tops.size(); ++i) {
      bool found = false;
      for (std::size_t k = 0; k < asked[i].size(); ++k) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(x, asked[i][k], nullptr);
        if (reply != nullptr && reply->type == wm_state && !found) {
          tops[i] = candidates[i][k];
          found = true;
        }
        std::free(reply);
      }
      if (found) candidates[i].clear();
    }
    std::vector<std::vector<xcb_query_tree_cookie_t>> trees(tops.size());
    for (std::size_t i = 0; i < tops.size(); ++i) {
      for (xcb_window_t w : candidates[i]) trees[i].push_back(xcb_query_tree(x, w));
    }
    for (std::size_t i = 0; i < tops.size(); ++i) {
      std::vector<xcb_window_t> below;
      for (xcb_query_tree_cookie_t cookie : trees[i]) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x, cookie, nullptr);
        if (tree == nullptr) continue;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        // Children come bottom to top; the topmost client is the one shown.
        for (int c = xcb_query_tree_children_length(tree) - 1;
             c >= 0 && below.size() < kMaxFrameWindows; --c) {
          below.push_back(children[c]);
        }
        std::free(tree);
      }
      candidates[i] = std::move(below);
    }
  }
  return tops;
}

// A text property, or nothing when it is missing or not of the type asked for (a _NET_WM_NAME
// that some tool set as STRING is left for WM_NAME to answer).
std::optional<std::string> TextOf(xcb_connection_t* x, xcb_get_property_cookie_t cookie,
                                  xcb_atom_t type = XCB_ATOM_ANY) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(x, cookie, nullptr);
  if (reply == nullptr) return std::nullopt;
  std::optional<std::string> text;
  if (reply->type != XCB_NONE && reply->format == 8 &&
      (type == XCB_ATOM_ANY || reply->type == type)) {
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply));
    text.emplace(bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  }
  std::free(reply);
  return text;
}

}  // namespace

struct X11Desktop::Connection {
  xcb_connection_t* xcb = nullptr;
  xcb_window_t root = 0;
  xcb_ewmh_connection_t ewmh{};
  bool ewmh_ready = false;
  xcb_atom_t wm_state = XCB_ATOM_NONE;

  // The windows as last read, front to back, and what each shows; kept current from the
  // server's events, so that a pass with nothing changed sends no request.
  struct Known {
    TopLevelWindow shown;
    bool stale = true;  // its title or class changed since it was read
  };
  std::vector<xcb_window_t> order;
  std::unordered_map<xcb_window_t, Known> known;
  bool list_stale = true;
  bool client_list = false;  // the list is the window manager's _NET_CLIENT_LIST
  bool framed = false;       // without one, a window manager puts clients in frames
  bool lost = false;         // a display that answered once has gone
  std::uint64_t passes_since_walk = 0;

  ~Connection() {
    if (ewmh_ready) xcb_ewmh_connection_wipe(&ewmh);
    if (xcb != nullptr) xcb_disconnect(xcb);
  }

  void Open() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') return;
    int screen_number = 0;
    xcb = xcb_connect(display, &screen_number);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(xcb));
    if (xcb_connection_has_error(xcb) == 0) {
      for (int i = 0; i < screen_number && it.rem > 0; ++i) xcb_screen_next(&it);
    }
    if (xcb_connection_has_error(xcb) != 0 || it.rem == 0) {
      xcb_disconnect(xcb);
      xcb = nullptr;
      return;
    }
    root = it.data->root;
    // The client list and the root's children coming and going.
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(xcb, root, XCB_CW_EVENT_MASK, &mask);
    xcb_intern_atom_cookie_t* atoms = xcb_ewmh_init_atoms(xcb, &ewmh);
    ewmh_ready = atoms != nullptr && xcb_ewmh_init_atoms_replies(&ewmh, atoms, nullptr) != 0;
    if (xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(xcb, xcb_intern_atom(xcb, 0, 8, "WM_STATE"), nullptr)) {
      wm_state = atom->atom;
      std::free(atom);
    }
  }

  bool connected() const { return xcb != nullptr && xcb_connection_has_error(xcb) == 0; }

  // Takes in what the server said since the last pass; sends nothing.
  void Drain() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(xcb)) {
      switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
          const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(event);
          if (p->window == root) {
            if (ewmh_ready && p->atom == ewmh._NET_CLIENT_LIST) list_stale = true;
          } else if (p->atom == wm_state) {
            list_stale = list_stale || !client_list;
          } else if (p->atom == XCB_ATOM_WM_NAME || p->atom == XCB_ATOM_WM_CLASS ||
                     (ewmh_ready && p->atom == ewmh._NET_WM_NAME)) {
            if (auto it = known.find(p->window); it != known.end()) it->second.stale = true;
          }
          break;
        }
        case XCB_CREATE_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
          list_stale = list_stale || !client_list;
          break;
        default:  // errors for windows that went meanwhile, moves, and the like
          break;
      }
      std::free(event);
    }
  }

  // The window manager's list of client windows, else the root's children; a window met for the
  // first time is watched for its title's changes before its title is read.
  void ReadList() {
    std::vector<xcb_window_t> windows;
    client_list = false;
    framed = false;
    if (ewmh_ready) {
      xcb_ewmh_get_windows_reply_t list;
      if (xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, 0), &list,
                                         nullptr) != 0) {
        windows.assign(list.windows, list.windows + std::min(list.windows_len, kMaxWindows));
        xcb_ewmh_get_windows_reply_wipe(&list);
      }
      client_list = !windows.empty();
    }
    if (!client_list) {
      xcb_query_tree_reply_t* tree = xcb_query_tree_reply(xcb, xcb_query_tree(xcb, root), nullptr);
      if (tree != nullptr) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int n = xcb_query_tree_children_length(tree);
        // Children come bottom to top; the walk goes front to back.
        for (int i = n - 1; i >= 0 && windows.size() < kMaxWindows; --i) {
          windows.push_back(children[i]);
        }
        std::free(tree);
      }
      const std::vector<xcb_window_t> tops = windows;
      windows = ClientWindows(xcb, wm_state, std::move(windows));
      framed = windows != tops;
    }
    std::unordered_map<xcb_window_t, Known> kept;
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    for (xcb_window_t w : windows) {
      auto it = known.find(w);
      if (it != known.end()) {
        kept.emplace(w, std::move(it->second));
      } else if (kept.emplace(w, Known{}).second) {
        xcb_change_window_attributes(xcb, w, XCB_CW_EVENT_MASK, &mask);
      }
    }
    known = std::move(kept);
    order = std::move(windows);
    list_stale = false;
    passes_since_walk = 0;
  }

  // Reads the titles that changed. Each round sends every request before it awaits the first
  // reply, and asks only what the rounds before left open: _NET_WM_NAME (UTF-8), then WM_NAME
  // where that was missing, then WM_CLASS where there is still no title (a window with neither is
  // skipped by the search).
  void ReadStaleTitles() {
    std::vector<std::pair<xcb_window_t, Known*>> stale;
    for (auto& [w, k] : known) {
      if (k.stale) stale.emplace_back(w, &k);
    }
    if (stale.empty()) return;
    std::vector<bool> titled(stale.size(), false);
    for (auto& [w, k] : stale) k->shown = {}, k->stale = false;
    auto round = [&](auto wanted, auto request, auto take, xcb_atom_t type = XCB_ATOM_ANY) {
      std::vector<std::pair<std::size_t, xcb_get_property_cookie_t>> asked;
      for (std::size_t i = 0; i < stale.size(); ++i) {
        if (wanted(i)) asked.emplace_back(i, request(stale[i].first));
      }
      for (const auto& [i, cookie] : asked) take(*stale[i].second, i, TextOf(xcb, cookie, type));
    };
    if (ewmh_ready) {
      round([](std::size_t) { return true; },
            [&](xcb_window_t w) {
              return xcb_get_property(xcb, 0, w, ewmh._NET_WM_NAME, ewmh.UTF8_STRING, 0,
                                      kMaxTitleUnits);
            },
            [&](Known& k, std::size_t i, std::optional<std::string> t) {
              if (t) k.shown.title = std::move(*t), titled[i] = true;
            },
            ewmh.UTF8_STRING);
    }
    round([&](std::size_t i) { return !titled[i]; },
          [&](xcb_window_t w) {
            return xcb_get_property(xcb, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, kMaxTitleUnits);
          },
          [&](Known& k, std::size_t, std::optional<std::string> t) {
            if (t) k.shown.title = std::move(*t);
          });
    round([&](std::size_t i) { return stale[i].second->shown.title.empty(); },
          [&](xcb_window_t w) {
            return xcb_get_property(xcb, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64);
          },
          [&](Known& k, std::size_t, std::optional<std::string> klass) {
            // WM_CLASS holds the instance name and the class name, each ending in a NUL.
            if (!klass) return;
            const std::size_t nul = klass->find('\0');
            if (nul == std::string::npos) return;
            std::string cls = klass->substr(nul + 1);
            k.shown.class_name = cls.substr(0, cls.find('\0')).substr(0, 99);
          });
  }
};

X11Desktop::X11Desktop() : c_(std::make_unique<Connection>()) {
  c_->Open();
}

X11Desktop::~X11Desktop() = default;

bool X11Desktop::connected() const {
  return c_->connected();
}

std::vector<TopLevelWindow> X11Desktop::TopLevelWindows() {
  std::vector<TopLevelWindow> out;
  if (!c_->connected() && (c_->xcb != nullptr || c_->lost)) {
    // The server went away (a restart): a new connection, tried at each pass until one answers,
    // reads everything once.
    c_ = std::make_unique<Connection>();
    c_->Open();
    c_->lost = !c_->connected();
  }
  if (!c_->connected()) return out;
  c_->Drain();
  if (c_->list_stale || (c_->framed && ++c_->passes_since_walk >= kRewalkPasses)) {
    c_->ReadList();
  }
  c_->ReadStaleTitles();
  out.reserve(c_->order.size());
  for (xcb_window_t w : c_->order) out.push_back(c_->known[w].shown);
  return out;
}

bool X11Desktop::ReadPointer(std::int32_t* px, std::int32_t* py) {
  if (!connected()) return false;
  xcb_query_pointer_reply_t* reply =
      xcb_query_pointer_reply(c_->xcb, xcb_query_pointer(c_->xcb, c_->root), nullptr);
  if (reply == nullptr) return false;
  *px = reply->root_x;
  *py = reply->root_y;
  std::free(reply);
  return true;
}

bool X11Available() {
  return X11Desktop().connected();
}

}  // namespace dozerin
