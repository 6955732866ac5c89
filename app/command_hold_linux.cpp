#include "app/command_hold_linux.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace dozerin {
namespace {

volatile sig_atomic_t g_command = 0;

void PassOn(int signal) {
  if (g_command > 0) kill(static_cast<pid_t>(g_command), signal);
}

}  // namespace

pid_t StartCommand(const std::vector<std::string>& command) {
  if (command.empty()) {
    errno = ENOENT;
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return pid;
}

void PassSignalsTo(pid_t pid) {
  g_command = pid;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, nullptr);
  sigaction(SIGQUIT, &ignore, nullptr);
  struct sigaction pass_on = {};
  pass_on.sa_handler = PassOn;
  sigemptyset(&pass_on.sa_mask);
  pass_on.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &pass_on, nullptr);
  sigaction(SIGHUP, &pass_on, nullptr);
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

int WaitForCommand(pid_t pid) {
  PassSignalsTo(pid);
  int status = 0;
  pid_t ended = -1;
  do {
    ended = waitpid(pid, &status, 0);
  } while (ended < 0 && errno == EINTR);
  g_command = 0;
  return ended == pid ? ExitCodeOf(status) : 127;
}

}  // namespace dozerin
