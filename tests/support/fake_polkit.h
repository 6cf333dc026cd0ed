#pragma once
// polkit as it answers one process: registered actions, a grant kept per
// action (auth_admin_keep) until the test expires it, implied actions, rules
// that refuse, and a password prompt whenever an interactive check finds
// nothing granted, answered on script and counted.

#include <algorithm>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/polkit.h"

namespace tavo::testing {

class FakePolkit final : public Polkit {
 public:
  static constexpr const char* kRemoveAction = "org.tavo.uninstaller.remove";
  static constexpr const char* kUndoAction = "org.tavo.uninstaller.undo";
  /// pkexec's own action for a program no action names: auth_admin, never kept.
  static constexpr const char* kExecAction = "org.freedesktop.policykit.exec";

  /// The registered actions besides pkexec's own.
  std::vector<PolkitAction> installed;
  /// Whether each password typed is right, in order; once used up, right.
  std::deque<bool> answers;
  /// The action of every password prompt shown, in order.
  std::vector<std::string> prompts;
  /// Actions a rule refuses outright.
  std::set<std::string> refusedByRule;
  /// False: every call fails, as when polkitd cannot be reached.
  bool reachable = true;
  /// False: no authentication agent runs for the process.
  bool agent = true;

  /// The shipped policy's shape for these helper paths: an action naming
  /// each, all implied by the undo action and, last, the removal action.
  void installPolicy(const std::vector<std::string>& helpers) {
    PolkitAction removal{kRemoveAction, "", {}};
    for (const std::string& helper : helpers) {
      std::string id = "org.tavo.uninstaller." + helper.substr(helper.rfind('/') + 1);
      installed.push_back({id, helper, {}});
      removal.implies.push_back(id);
    }
    installed.push_back({kUndoAction, "", removal.implies});
    installed.push_back(removal);
  }

  /// Forgets every kept grant, as polkit does after a few minutes.
  void expireKeep() { kept_.clear(); }

  std::optional<std::vector<PolkitAction>> actions(std::string& error) override {
    if (!reachable) {
      error = "cannot reach polkit: no system bus";
      return std::nullopt;
    }
    std::vector<PolkitAction> all = installed;
    all.push_back({kExecAction, "", {}});
    return all;
  }

  PolkitAnswer check(const std::string& actionId, bool interactive, std::string& error) override {
    if (!reachable || !registered(actionId)) {
      error = "polkit did not answer for " + actionId;
      return PolkitAnswer::Failed;
    }
    if (refusedByRule.count(actionId)) return PolkitAnswer::Refused;
    if (granted(actionId)) return PolkitAnswer::Granted;
    if (!interactive) return PolkitAnswer::Refused;
    if (!agent) return PolkitAnswer::NoAgent;
    prompts.push_back(actionId);
    bool right = answers.empty() || answers.front();
    if (!answers.empty()) answers.pop_front();
    if (!right) return PolkitAnswer::Refused;
    if (actionId != kExecAction) kept_.insert(actionId);
    return PolkitAnswer::Granted;
  }

  /// What pkexec decides before running `program` for the process: the
  /// action naming the program, else its own, asking when needed.
  bool pkexecAllows(const std::string& program) {
    auto named = std::find_if(installed.begin(), installed.end(),
                              [&](const PolkitAction& a) { return a.execPath == program; });
    std::string ignored;
    return check(named != installed.end() ? named->id : kExecAction, true, ignored) ==
           PolkitAnswer::Granted;
  }

 private:
  bool registered(const std::string& actionId) const {
    return actionId == kExecAction ||
           std::any_of(installed.begin(), installed.end(),
                       [&](const PolkitAction& a) { return a.id == actionId; });
  }
  // Kept itself, or implied by a kept action (one level, as polkit does).
  bool granted(const std::string& actionId) const {
    if (kept_.count(actionId)) return true;
    return std::any_of(installed.begin(), installed.end(), [&](const PolkitAction& a) {
      return kept_.count(a.id) &&
             std::find(a.implies.begin(), a.implies.end(), actionId) != a.implies.end();
    });
  }

  std::set<std::string> kept_;
};

}  // namespace tavo::testing
