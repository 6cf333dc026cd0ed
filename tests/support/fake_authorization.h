#pragma once
// An authorisation that grants or refuses on script and records every call.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <thread>
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
  /// When not empty, what it writes instead, each text after its delay: a
  /// program that takes its time.
  std::vector<std::pair<std::chrono::milliseconds, std::string>> programScript;
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
    if (!withStream) return std::make_unique<Process>();
    auto script = programScript;
    if (script.empty()) script.push_back({std::chrono::milliseconds(0), programOutput});
    return std::make_unique<Process>(std::move(script));
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
    using Script = std::vector<std::pair<std::chrono::milliseconds, std::string>>;
    Process() = default;
    explicit Process(Script script) {
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
    int wait() override { return 0; }

   private:
    int stream_ = -1;
    std::thread writer_;
  };

  std::set<const AuthorizationRef*> granted_;
};

}  // namespace tavo::testing
