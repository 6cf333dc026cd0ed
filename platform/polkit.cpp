#include "platform/polkit.h"

#include <polkit/polkit.h>
#include <unistd.h>

namespace tavo {
namespace {

constexpr const char* kExecPathKey = "org.freedesktop.policykit.exec.path";
constexpr const char* kImplyKey = "org.freedesktop.policykit.imply";

// Takes polkit's message out of a failed call.
std::string messageOf(GError*& error, const char* fallback) {
  std::string message = error ? error->message : fallback;
  g_clear_error(&error);
  return message;
}

// The words of an annotation's value, as polkit splits it; none for no value.
std::vector<std::string> wordsOf(const char* value) {
  std::vector<std::string> words;
  if (!value) return words;
  gchar** tokens = g_strsplit(value, " ", 0);
  for (gchar** t = tokens; *t; ++t)
    if (**t) words.emplace_back(*t);
  g_strfreev(tokens);
  return words;
}

class SystemPolkit final : public Polkit {
 public:
  std::optional<std::vector<PolkitAction>> actions(std::string& error) override {
    GError* gerror = nullptr;
    PolkitAuthority* authority = polkit_authority_get_sync(nullptr, &gerror);
    if (!authority) {
      error = "cannot reach polkit: " + messageOf(gerror, "no answer");
      return std::nullopt;
    }
    GList* list = polkit_authority_enumerate_actions_sync(authority, nullptr, &gerror);
    g_object_unref(authority);
    if (gerror) {
      g_list_free_full(list, g_object_unref);
      error = "cannot list polkit's actions: " + messageOf(gerror, "no answer");
      return std::nullopt;
    }
    std::vector<PolkitAction> actions;
    for (GList* l = list; l; l = l->next) {
      auto* description = POLKIT_ACTION_DESCRIPTION(l->data);
      const char* execPath = polkit_action_description_get_annotation(description, kExecPathKey);
      actions.push_back(
          {polkit_action_description_get_action_id(description), execPath ? execPath : "",
           wordsOf(polkit_action_description_get_annotation(description, kImplyKey))});
    }
    g_list_free_full(list, g_object_unref);
    return actions;
  }

  PolkitAnswer check(const std::string& actionId, bool interactive, std::string& error) override {
    GError* gerror = nullptr;
    PolkitAuthority* authority = polkit_authority_get_sync(nullptr, &gerror);
    if (!authority) {
      error = "cannot reach polkit: " + messageOf(gerror, "no answer");
      return PolkitAnswer::Failed;
    }
    // This process, as pkexec names its parent when it checks the helper's action.
    PolkitSubject* subject = polkit_unix_process_new_for_owner(::getpid(), 0, ::getuid());
    auto flags = interactive ? POLKIT_CHECK_AUTHORIZATION_FLAGS_ALLOW_USER_INTERACTION
                             : POLKIT_CHECK_AUTHORIZATION_FLAGS_NONE;
    PolkitAuthorizationResult* result = polkit_authority_check_authorization_sync(
        authority, subject, actionId.c_str(), nullptr, flags, nullptr, &gerror);
    g_object_unref(subject);
    g_object_unref(authority);
    if (!result) {
      error = "polkit did not answer for " + actionId + ": " + messageOf(gerror, "no answer");
      return PolkitAnswer::Failed;
    }
    PolkitAnswer answer = PolkitAnswer::Refused;
    if (polkit_authorization_result_get_is_authorized(result))
      answer = PolkitAnswer::Granted;
    else if (interactive && polkit_authorization_result_get_is_challenge(result))
      answer = PolkitAnswer::NoAgent;  // allowed to ask, yet nobody asked
    g_object_unref(result);
    return answer;
  }
};

}  // namespace

std::unique_ptr<Polkit> makeSystemPolkit() { return std::make_unique<SystemPolkit>(); }

}  // namespace tavo
