#pragma once
// An authorisation that grants or refuses on script and records every call.

#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/authorization.h"

namespace tavo::testing {

class FakeAuthorization final : public Authorization {
 public:
  /// Answers of the interactive requests, in order; once used up, grant.
  std::deque<bool> requestAnswers;
  /// What a started program writes on its stream before it ends.
  std::string programOutput = "moved\n";
  /// False makes every start fail.
  bool canStart = true;
  /// Every call, in order: "test P", "create", "request P", "run P A B...",
  /// "release".
  std::vector<std::string> calls;
  /// The program and arguments of every start, kept apart so that an
  /// argument holding a space is still one argument.
  std::vector<std::vector<std::string>> started;

  std::unique_ptr<AuthorizationRef> create() override {
    calls.push_back("create");
    return std::make_unique<AuthorizationRef>();
  }
  bool testRight(const AuthorizationRef* ref, const std::string& program) override {
    calls.push_back("test " + program);
    return ref && granted_.count(ref);
  }
  bool requestRight(AuthorizationRef& ref, const std::string& program) override {
    calls.push_back("request " + program);
    bool yes = requestAnswers.empty() || requestAnswers.front();
    if (!requestAnswers.empty()) requestAnswers.pop_front();
    if (yes) granted_.insert(&ref);
    return yes;
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
    return std::make_unique<Process>(withStream ? programOutput : std::string(), withStream);
  }
  void release(std::unique_ptr<AuthorizationRef> ref) override {
    calls.push_back("release");
    granted_.erase(ref.get());
  }

  /// Forgets every grant, as the system does once its grant has expired.
  void expireGrants() { granted_.clear(); }

 private:
  class Process final : public PrivilegedProcess {
   public:
    Process(const std::string& output, bool withStream) {
      if (!withStream) return;
      int pair[2];
      ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
      [[maybe_unused]] ssize_t n = ::write(pair[1], output.data(), output.size());
      ::close(pair[1]);
      stream_ = pair[0];
    }
    ~Process() override { closeStream(); }
    int stream() const override { return stream_; }
    void closeStream() override {
      if (stream_ >= 0) ::close(stream_);
      stream_ = -1;
    }
    int wait() override { return 0; }

   private:
    int stream_ = -1;
  };

  std::set<const AuthorizationRef*> granted_;
};

}  // namespace tavo::testing
