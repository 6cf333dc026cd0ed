#pragma once
// Child processes started with an argument vector, never through a shell.

#include <sys/resource.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

/// Where a standard stream of the child goes, besides a descriptor of ours.
inline constexpr int kNullStream = -1;     // /dev/null
inline constexpr int kInheritStream = -2;  // the same as this process's

struct ChildSpec {
  std::vector<std::string> argv = {};  // argv[0]: the program's path
  /// Exactly these "NAME=value" entries; nullopt: this process's environment.
  std::optional<std::vector<std::string>> environment = std::nullopt;
  /// Standard input and output on one end of a socket pair, whose other end
  /// is the child's stream(); `in` and `out` are then not used.
  bool socket = false;
  int in = kNullStream, out = kNullStream, err = kNullStream;
};

/// A started child; it is reaped at the latest when the object goes.
class Child {
 public:
  /// Starts what `request` describes. The child runs with no descriptor of
  /// ours but its three standard streams, an empty signal mask and SIGPIPE at
  /// its default. When
  /// it cannot be started (not spawned, or its program not run) started() is
  /// false and `error`, when given, says why.
  static Child start(const ChildSpec& request, std::string* error = nullptr);

  Child() = default;
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  /// Closes the stream and waits for the child to end.
  ~Child();

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  /// Our end of the socket pair, or -1.
  int stream() const { return stream_; }
  void closeStream();

  /// Blocks until the child has ended: its exit status, or -1 when a signal
  /// ended it or it cannot be waited for (also when it never started).
  /// `usage`, when given, receives what the child used (wait4); it is left
  /// as it was when there is nothing to wait for.
  int wait(rusage* usage = nullptr);
  /// The same, unless `cancel` becomes true first: the child is then ended
  /// (see terminate) and nullopt is returned.
  std::optional<int> waitUnless(const std::atomic<bool>& cancel,
                                std::chrono::milliseconds grace = std::chrono::seconds(1));
  /// Asks the child to end (SIGTERM), kills it when it has not ended after
  /// `grace` (SIGKILL), and reaps it.
  void terminate(std::chrono::milliseconds grace = std::chrono::seconds(1));

 /// The status when the child has ended within `timeout` (it is then
  /// reaped), else nullopt.
  std::optional<int> waitFor(std::chrono::milliseconds timeout);

 private:

  pid_t pid_ = -1;
  int stream_ = -1;
  int status_ = -1;
};

}  // namespace tavo
