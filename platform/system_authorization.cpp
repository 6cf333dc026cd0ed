#include <polkit/polkit.h>
#include <unistd.h>

#include <utility>

#include "base/child.h"
#include "platform/authorization.h"
#include "platform/log_lines.h"

namespace tavo {
namespace {

constexpr const char* kPkexec = "/usr/bin/pkexec";
constexpr const char* kSafePath = "/usr/sbin:/usr/bin:/sbin:/bin";
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
  bool requestRight(AuthorizationRef&, const std::string&) override { return true; }
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

// Each helper has a polkit action whose exec path is the helper; the action
// is named after the program's file name.
std::string actionFor(const std::string& program) {
  auto slash = program.rfind('/');
  return "org.tavo.uninstaller." + program.substr(slash == std::string::npos ? 0 : slash + 1);
}

class PolkitAuthorization final : public Authorization {
 public:
  explicit PolkitAuthorization(SystemLog& log) : log_(log) {}

  std::unique_ptr<AuthorizationRef> create() override { return std::make_unique<ChildRef>(); }

  bool testRight(const AuthorizationRef* ref, const std::string& program) override {
    return ref && check(program, POLKIT_CHECK_AUTHORIZATION_FLAGS_NONE) == Answer::Granted;
  }

  bool requestRight(AuthorizationRef&, const std::string& program) override {
    // Without our installed actions (a program run from its build folder)
    // polkit cannot be asked beforehand; pkexec then asks by itself.
    Answer answer = check(program, POLKIT_CHECK_AUTHORIZATION_FLAGS_ALLOW_USER_INTERACTION);
    return answer != Answer::Refused;
  }

  std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef&, const std::string& program,
                                             const std::vector<std::string>& args,
                                             bool withStream) override {
    // pkexec as a direct child, so that its parent, whose grant polkit kept,
    // is the subject it checks.
    std::vector<std::string> argv{kPkexec, program};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(std::move(argv), {}, withStream, true, log_);
  }

  void release(std::unique_ptr<AuthorizationRef>) override {}

 private:
  enum class Answer { Granted, Refused, UnknownAction };

  // Logs polkit's own message for a failed call, then forgets it.
  void logError(const char* what, GError*& error) {
    if (error) log_.line(std::string(loglines::kAuthorization) + what + ": " + error->message);
    g_clear_error(&error);
  }

  // Asks polkit whether this process may run the helper's action.
  Answer check(const std::string& program, PolkitCheckAuthorizationFlags flags) {
    GError* error = nullptr;
    PolkitAuthority* authority = polkit_authority_get_sync(nullptr, &error);
    if (!authority) {
      logError("cannot reach polkit", error);
      return Answer::Refused;
    }
    PolkitSubject* subject = polkit_unix_process_new_for_owner(::getpid(), 0, ::getuid());
    PolkitAuthorizationResult* result = polkit_authority_check_authorization_sync(
        authority, subject, actionFor(program).c_str(), nullptr, flags, nullptr, &error);
    Answer answer = Answer::Refused;
    if (result && polkit_authorization_result_get_is_authorized(result))
      answer = Answer::Granted;
    else if (!result && actionUnknown(authority, program))
      answer = Answer::UnknownAction;
    logError("polkit did not answer", error);
    if (result) g_object_unref(result);
    g_object_unref(subject);
    g_object_unref(authority);
    return answer;
  }

  bool actionUnknown(PolkitAuthority* authority, const std::string& program) {
    GError* error = nullptr;
    GList* actions = polkit_authority_enumerate_actions_sync(authority, nullptr, &error);
    if (!actions) {  // polkit itself did not answer
      logError("cannot list polkit's actions", error);
      return false;
    }
    bool known = false;
    std::string wanted = actionFor(program);
    for (GList* a = actions; a; a = a->next)
      if (wanted == polkit_action_description_get_action_id(POLKIT_ACTION_DESCRIPTION(a->data)))
        known = true;
    g_list_free_full(actions, g_object_unref);
    return !known;
  }

  SystemLog& log_;
};

}  // namespace

std::unique_ptr<Authorization> makeRootAuthorization(std::vector<std::string> environment,
                                                     SystemLog& log) {
  return std::make_unique<RootAuthorization>(std::move(environment), log);
}

std::unique_ptr<Authorization> makeSystemAuthorization(SystemLog& log) {
  if (::geteuid() == 0) return makeRootAuthorization({std::string("PATH=") + kSafePath}, log);
  return std::make_unique<PolkitAuthorization>(log);
}

}  // namespace tavo
