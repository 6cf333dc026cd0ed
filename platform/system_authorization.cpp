#include <unistd.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "base/child.h"
#include "platform/authorization.h"
#include "platform/log_lines.h"
#include "platform/polkit.h"

namespace tavo {
namespace {

constexpr const char* kSafePath = "/usr/sbin:/usr/bin:/sbin:/bin";
// The actions a request asks under, by purpose.
constexpr const char* kRemoveAction = "org.tavo.uninstaller.remove";
constexpr const char* kUndoAction = "org.tavo.uninstaller.undo";
// pkexec's own answers: the dialog was dismissed, or the user is not allowed.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

class ChildRef final : public AuthorizationRef {};

class ChildPrivilegedProcess final : public PrivilegedProcess {
 public:
  ChildPrivilegedProcess(Child child, bool throughPkexec)
      : child_(std::move(child)), throughPkexec_(throughPkexec) {}
  int stream() const override { return child_.stream(); }
  void closeStream() override { child_.closeStream(); }
  int wait() override {
    int status = child_.wait();
    // pkexec refusing is the right being refused, not the program failing.
    if (throughPkexec_ && (status == kPkexecDismissed || status == kPkexecNotAuthorized))
      return -1;
    return status;
  }

 private:
  Child child_;
  bool throughPkexec_;
};

std::unique_ptr<PrivilegedProcess> start(std::vector<std::string> argv,
                                         std::vector<std::string> env, bool withStream,
                                         bool throughPkexec, SystemLog& log) {
  std::string error;
  Child child = Child::start({.argv = std::move(argv), .environment = std::move(env),
                              .socket = withStream, .err = kInheritStream},
                             &error);
  if (!child.started()) {
    log.line(loglines::kAuthorization + error);
    return nullptr;
  }
  return std::make_unique<ChildPrivilegedProcess>(std::move(child), throughPkexec);
}

// Already root: every right is held and programs start as plain children.
class RootAuthorization final : public Authorization {
 public:
  RootAuthorization(std::vector<std::string> env, SystemLog& log)
      : env_(std::move(env)), log_(log) {}
  std::unique_ptr<AuthorizationRef> create() override { return std::make_unique<ChildRef>(); }
  bool testRight(const AuthorizationRef*, const std::string&) override { return true; }
  bool requestRight(AuthorizationRef&, const std::string&, RightsPurpose) override { return true; }
  std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef&, const std::string& program,
                                             const std::vector<std::string>& args,
                                             bool withStream) override {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(std::move(argv), env_, withStream, false, log_);
  }
  void release(std::unique_ptr<AuthorizationRef>) override {}

 private:
  std::vector<std::string> env_;
  SystemLog& log_;
};

// The action whose exec path is `program`, as pkexec finds it; null when none.
const PolkitAction* actionNaming(const std::vector<PolkitAction>& actions,
                                 const std::string& program) {
  for (const PolkitAction& action : actions)
    if (action.execPath == program) return &action;
  return nullptr;
}

// The action whose grant covers `actionId`: `preferred` when it does, else
// the first by name that does; null when none.
const PolkitAction* actionImplying(const std::vector<PolkitAction>& actions,
                                   const std::string& actionId, const std::string& preferred) {
  const PolkitAction* found = nullptr;
  for (const PolkitAction& action : actions) {
    if (std::find(action.implies.begin(), action.implies.end(), actionId) == action.implies.end())
      continue;
    if (action.id == preferred) return &action;
    if (!found || action.id < found->id) found = &action;
  }
  return found;
}

// Rights through polkit: a helper's right is its action, the one whose exec
// path names it and which pkexec checks for this process. The request asks
// for the action implying it, the removal's or the undo's, so that one
// granted request covers every helper run for as long as polkit keeps the grant.
class PolkitAuthorization final : public Authorization {
 public:
  PolkitAuthorization(std::unique_ptr<Polkit> polkit, SystemLog& log, std::string pkexec)
      : polkit_(std::move(polkit)), log_(log), pkexec_(std::move(pkexec)) {}

  std::unique_ptr<AuthorizationRef> create() override { return std::make_unique<ChildRef>(); }

  bool testRight(const AuthorizationRef* ref, const std::string& program) override {
    if (!ref) return false;  // nothing was ever requested
    auto actions = listActions();
    const PolkitAction* helper = actions ? actionNaming(*actions, program) : nullptr;
    return helper && ask(helper->id, false) == PolkitAnswer::Granted;
  }

  bool requestRight(AuthorizationRef&, const std::string& program, RightsPurpose purpose) override {
    auto actions = listActions();
    if (!actions) return false;
    const PolkitAction* helper = actionNaming(*actions, program);
    if (!helper) {
      // A build run from its folder: asking polkit now would only add a
      // second question to pkexec's own.
      log_.line(loglines::kAuthorization + program + loglines::kPkexecAsksAlone);
      return true;
    }
    const PolkitAction* work = actionImplying(
        *actions, helper->id, purpose == RightsPurpose::Undo ? kUndoAction : kRemoveAction);
    return ask(work ? work->id : helper->id, true) == PolkitAnswer::Granted;
  }

  std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef&, const std::string& program,
                                             const std::vector<std::string>& args,
                                             bool withStream) override {
    // pkexec as a direct child, so that its parent, whose grant polkit kept,
    // is the subject it checks.
    std::vector<std::string> argv{pkexec_, program};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(std::move(argv), {}, withStream, true, log_);
  }

  void release(std::unique_ptr<AuthorizationRef>) override {}

 private:
  std::optional<std::vector<PolkitAction>> listActions() {
    std::string error;
    auto actions = polkit_->actions(error);
    if (!actions) log_.line(loglines::kAuthorization + error);
    return actions;
  }

  // A refusal is the user's or a rule's answer and goes unlogged; polkit
  // failing, or finding nobody to ask, is logged.
  PolkitAnswer ask(const std::string& actionId, bool interactive) {
    std::string error;
    PolkitAnswer answer = polkit_->check(actionId, interactive, error);
    if (answer == PolkitAnswer::Failed) log_.line(loglines::kAuthorization + error);
    if (answer == PolkitAnswer::NoAgent)
      log_.line(std::string(loglines::kAuthorization) + loglines::kNoAuthenticationAgent +
                actionId);
    return answer;
  }

  std::unique_ptr<Polkit> polkit_;
  SystemLog& log_;
  std::string pkexec_;
};

}  // namespace

std::unique_ptr<Authorization> makeRootAuthorization(std::vector<std::string> environment,
                                                     SystemLog& log) {
  return std::make_unique<RootAuthorization>(std::move(environment), log);
}

std::unique_ptr<Authorization> makePolkitAuthorization(std::unique_ptr<Polkit> polkit,
                                                       SystemLog& log, std::string pkexec) {
  return std::make_unique<PolkitAuthorization>(std::move(polkit), log, std::move(pkexec));
}

std::unique_ptr<Authorization> makeSystemAuthorization(SystemLog& log) {
  if (::geteuid() == 0) return makeRootAuthorization({std::string("PATH=") + kSafePath}, log);
  return makePolkitAuthorization(makeSystemPolkit(), log);
}

}  // namespace tavo
