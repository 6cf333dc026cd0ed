#pragma once
// Administrator rights: testing a right without asking anybody, requesting it
// from the user, and starting a program with it.

#include <memory>
#include <string>
#include <vector>

#include "platform/polkit.h"
#include "base/system_log.h"

namespace tavo {

/// An authorisation reference: what a granted request is remembered on.
class AuthorizationRef {
 public:
  virtual ~AuthorizationRef() = default;
};

/// A program started with administrator rights.
class PrivilegedProcess {
 public:
  virtual ~PrivilegedProcess() = default;
  /// The program's standard input and output, when a stream was asked for;
  /// -1 otherwise. Owned by the process object.
  virtual int stream() const = 0;
  /// Closes the stream (the program then reads end of file).
  virtual void closeStream() = 0;
  /// Blocks until the program has ended; its exit status, or -1 when it was
  /// killed by a signal or cannot be waited for.
  virtual int wait() = 0;
};

/// What rights are requested for: polkit asks once under that work's own
/// action, whose grant covers every helper run it makes.
enum class RightsPurpose { Removal, Undo };

class Authorization {
 public:
  virtual ~Authorization() = default;
  /// A new, empty reference.
  virtual std::unique_ptr<AuthorizationRef> create() = 0;
  /// True when `ref` (which may be null) already holds the right to run
  /// `program` as administrator. Never interacts with the user.
  virtual bool testRight(const AuthorizationRef* ref, const std::string& program) = 0;
  /// Asks the user for an administrator's credentials so that `ref` holds the
  /// right to run `program`, for `purpose`; false when cancelled or refused.
  /// True without asking when the launch will ask by itself.
  virtual bool requestRight(AuthorizationRef& ref, const std::string& program,
                            RightsPurpose purpose = RightsPurpose::Removal) = 0;
  /// Starts `program` with `args` (the program's path not among them) as
  /// administrator; with `withStream`, connected to a stream on its standard
  /// input and output. Null when it could not be started.
  virtual std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef& ref,
                                                     const std::string& program,
                                                     const std::vector<std::string>& args,
                                                     bool withStream) = 0;
  /// Lets go of a reference; rights already granted stay with the system.
  virtual void release(std::unique_ptr<AuthorizationRef> ref) = 0;
};

/// Refuses every right and starts nothing: for read-only programs.
class NoAuthorization final : public Authorization {
 public:
  std::unique_ptr<AuthorizationRef> create() override { return std::make_unique<AuthorizationRef>(); }
  bool testRight(const AuthorizationRef*, const std::string&) override { return false; }
  bool requestRight(AuthorizationRef&, const std::string&, RightsPurpose = RightsPurpose::Removal) override {
    return false;
  }
  std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef&, const std::string&,
                                             const std::vector<std::string>&, bool) override {
    return nullptr;
  }
  void release(std::unique_ptr<AuthorizationRef>) override {}
};

/// The authorisation of this build: direct child processes when the process
/// already runs as root, polkit and pkexec otherwise. Failures to start a
/// program or to reach polkit are written to `log`, which must outlive it.
std::unique_ptr<Authorization> makeSystemAuthorization(SystemLog& log);

/// The branch for a process that is not root, over `polkit`: a program's
/// right is the action naming it, requested through the purpose's action
/// implying that one; programs start through `pkexec` as direct children.
std::unique_ptr<Authorization> makePolkitAuthorization(std::unique_ptr<Polkit> polkit,
                                                       SystemLog& log,
                                                       std::string pkexec = "/usr/bin/pkexec");

/// The root branch alone, starting programs with exactly `environment`.
std::unique_ptr<Authorization> makeRootAuthorization(std::vector<std::string> environment,
                                                     SystemLog& log);

}  // namespace tavo
