// dozerin --while COMMAND: the command runs as this process's child with the terminal's signals
// left to it, and this process ends with its exit code once it has ended.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace dozerin {

// Starts the command, found on PATH like a shell finds it, with this process's standard streams
// and default signal dispositions. Its pid, or -1 with errno set when it could not be started.
pid_t StartCommand(const std::vector<std::string>& command);

// Waits for the command to end. Ctrl-C and Ctrl-\ reach it from the terminal and leave this
// process running; SIGTERM and SIGHUP sent to this process are passed on to it. Its exit code, or
// 128 plus the signal that ended it, as a shell gives them.
int WaitForCommand(pid_t pid);

// The signal handling of WaitForCommand, for a caller that waits for the command in its own way.
void PassSignalsTo(pid_t pid);
// The exit code of a command that waitpid says has ended, as WaitForCommand gives it.
int ExitCodeOf(int status);

}  // namespace dozerin
