#include <polkit/polkit.h>
#include <unistd.h>

#include <utility>

#include "platform/authorization.h"
#include "platform/child_process.h"

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
  ChildPrivilegedProcess(ChildProcess child, bool throughPkexec)
      : child_(child), throughPkexec_(throughPkexec) {}
  ~ChildPrivilegedProcess() override {
    closeStream();
    if (child_.pid > 0) waitChild(child_.pid);
  }
  int stream() const override { return child_.stream; }
  void closeStream() override {
    if (child_.stream >= 0) ::close(child_.stream);
    child_.stream = -1;
  }
  int wait() override {
    if (child_.pid <= 0) return status_;
    status_ = waitChild(child_.pid);
    child_.pid = -1;
    // pkexec refusing is the right being refused, not the program failing.
    if (throughPkexec_ && (status_ == kPkexecDismissed || status_ == kPkexecNotAuthorized))
      status_ = -1;
    return status_;
  }

 private:
  ChildProcess child_;
  bool throughPkexec_;
  int status_ = -1;
};

std::unique_ptr<PrivilegedProcess> start(std::vector<std::string> argv,
                                         const std::vector<std::string>& env, bool withStream,
                                         bool throughPkexec) {
  ChildProcess child = startChild(argv, env, withStream, true);
  if (child.pid < 0) return nullptr;
  return std::make_unique<ChildPrivilegedProcess>(child, throughPkexec);
}

// Already root: every right is held and programs start as plain children.
class RootAuthorization final : public Authorization {
 public:
  explicit RootAuthorization(std::vector<std::string> env) : env_(std::move(env)) {}
  std::unique_ptr<AuthorizationRef> create() override { return std::make_unique<ChildRef>(); }
  bool testRight(const AuthorizationRef*, const std::string&) override { return true; }
  bool requestRight(AuthorizationRef&, const std::string&) override { return true; }
  std::unique_ptr<PrivilegedProcess> execute(AuthorizationRef&, const std::string& program,
                                             const std::vector<std::string>& args,
                                             bool withStream) override {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(argv, env_, withStream, false);
  }
  void release(std::unique_ptr<AuthorizationRef>) override {}

 private:
  std::vector<std::string> env_;
};

// Each helper has a polkit action whose exec path is the helper; the action
// is named after the program's file name.
std::string actionFor(const std::string& program) {
  auto slash = program.rfind('/');
  return "org.tavo.uninstaller." + program.substr(slash == std::string::npos ? 0 : slash + 1);
}

class PolkitAuthorization final : public Authorization {
 public:
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
    return start(argv, {}, withStream, true);
  }

  void release(std::unique_ptr<AuthorizationRef>) override {}

 private:
  enum class Answer { Granted, Refused, UnknownAction };

  // Asks polkit whether this process may run the helper's action.
  static Answer check(const std::string& program, PolkitCheckAuthorizationFlags flags) {
    GError* error = nullptr;
    PolkitAuthority* authority = polkit_authority_get_sync(nullptr, &error);
    if (!authority) {
      g_clear_error(&error);
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
    g_clear_error(&error);
    if (result) g_object_unref(result);
    g_object_unref(subject);
    g_object_unref(authority);
    return answer;
  }

  static bool actionUnknown(PolkitAuthority* authority, const std::string& program) {
    GList* actions = polkit_authority_enumerate_actions_sync(authority, nullptr, nullptr);
    if (!actions) return false;  // polkit itself did not answer
    bool known = false;
    std::string wanted = actionFor(program);
    for (GList* a = actions; a; a = a->next)
      if (wanted == polkit_action_description_get_action_id(POLKIT_ACTION_DESCRIPTION(a->data)))
        known = true;
    g_list_free_full(actions, g_object_unref);
    return !known;
  }
};

}  // namespace

std::unique_ptr<Authorization> makeRootAuthorization(std::vector<std::string> environment) {
  return std::make_unique<RootAuthorization>(std::move(environment));
}

std::unique_ptr<Authorization> makeSystemAuthorization() {
  if (::geteuid() == 0) return makeRootAuthorization({std::string("PATH=") + kSafePath});
  return std::make_unique<PolkitAuthorization>();
}

}  // namespace tavo
