#pragma once
// Child processes started with an argument vector, never through a shell.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavo {

struct ChildProcess {
  pid_t pid = -1;
  int stream = -1;  // our end of the child's standard input and output, or -1
};

/// Starts `argv[0]` with `argv` and an empty environment except `env`. With
/// `withStream` the child's standard input and output are one end of a socket
/// pair whose other end is returned; otherwise they are /dev/null, as its
/// standard error is unless `keepStderr`. pid -1 when the program could not
/// be started (including a failed exec).
ChildProcess startChild(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        bool withStream, bool keepStderr);

/// Waits for the child; its exit status, or -1 for a signal or an error.
int waitChild(pid_t pid);

}  // namespace tavo
