#pragma once
// The polkit authorisation over a fake polkit, with pkexec and the programs
// faked: rights are tested and requested as the application does against
// polkit, pkexec asks as pkexec would, every call is recorded, and nothing is
// ever started.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/authorization.h"
#include "tests/support/capturing_log.h"
#include "tests/support/fake_polkit.h"

namespace tavo::testing {

class FakeAuthorization final : public Authorization {
 public:
  FakeAuthorization() : FakeAuthorization(std::make_unique<FakePolkit>()) {}

  /// The polkit the rights come from: its policy (none installed at first),
  /// the password prompts it shows and how they are answered.
  FakePolkit& polkit;
  /// What the authorisation itself logged.
  CapturingLog log;
  /// What a started program writes on its stream before it ends.
  std::string programOutput = "moved\n";
  /// When not empty, what it writes instead, each text after its delay: a
  /// program that takes its time.
  std::vector<std::pair<std::chrono::milliseconds, std::string>> programScript;
  /// False makes every start fail.
  bool canStart = true;
  /// The exit status of a program that ran, by program; 0 when not named.
  std::map<std::string, int> exitStatus;
  /// Every call, in order: "test P", "create", "request P", "run P A B...",
  /// "release".
  std::vector<std::string> calls;
  /// The program and arguments of every pkexec started, kept apart so that
  /// an argument holding a space is still one argument.
  std::vector<std::vector<std::string>> started;

  std::unique_ptr<AuthorizationRef> create() override {
    calls.push_back("create");
    return polkitAuthorization_->create();
  }
  bool testRight(const AuthorizationRef* ref, const std::string& program) override {
    calls.push_back("test " + program);
    return polkitAuthorization_->testRight(ref, program);
  }
  bool requestRight(AuthorizationRef& ref, const std::string& program,
                    RightsPurpose purpose = RightsPurpose::Removal) override {
    calls.push_back("request " + program);
    return polkitAuthorization_->requestRight(ref, program, purpose);
  }
  std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef&, const std::string& program,
                                             const std::vector<std::string>& args,
                                             bool withStream) override {
    std::string call = "run " + program;
    for (const auto& a : args) call += " " + a;
    calls.push_back(call + (withStream ? " (stream)" : ""));
    started.push_back({program});
    started.back().insert(started.back().end(), args.begin(), args.end());
    if (!canStart) return nullptr;
    // pkexec refusing ends it before the program starts: it writes nothing.
    bool allowed = polkit.pkexecAllows(program);
    Process::Script script;
    if (allowed) script = programScript;
    if (allowed && script.empty()) script.push_back({std::chrono::milliseconds(0), programOutput});
    const auto status = exitStatus.find(program);
    return std::make_unique<Process>(std::move(script), withStream,
                                     !allowed ? -1 : status == exitStatus.end() ? 0 : status->second);
  }
  void release(std::unique_ptr<AuthorizationRef> ref) override {
    calls.push_back("release");
    polkitAuthorization_->release(std::move(ref));
  }

 private:
  explicit FakeAuthorization(std::unique_ptr<FakePolkit> fake)
      : polkit(*fake), polkitAuthorization_(makePolkitAuthorization(std::move(fake), log)) {}

  class Process final : public PrivilegedProcess {
   public:
    using Script = std::vector<std::pair<std::chrono::milliseconds, std::string>>;
    Process(Script script, bool withStream, int status) : status_(status) {
      if (!withStream) return;
      int pair[2];
      ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
      stream_ = pair[0];
      writer_ = std::thread([end = pair[1], script = std::move(script)] {
        for (const auto& [delay, text] : script) {
          std::this_thread::sleep_for(delay);
          [[maybe_unused]] ssize_t n = ::write(end, text.data(), text.size());
        }
        ::close(end);
      });
    }
    ~Process() override {
      closeStream();
      if (writer_.joinable()) writer_.join();
    }
    int stream() const override { return stream_; }
    void closeStream() override {
      if (stream_ >= 0) ::close(stream_);
      stream_ = -1;
    }
    int wait() override { return status_; }

   private:
    int stream_ = -1;
    int status_;
    std::thread writer_;
  };

  std::unique_ptr<Authorization> polkitAuthorization_;
};

}  // namespace tavo::testing
