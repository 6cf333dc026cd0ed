#pragma once
// What the authorisation asks polkit, about this process: the registered
// actions, and whether the process may perform one of them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

/// A registered polkit action, as far as the authorisation cares.
struct PolkitAction {
  std::string id;
  std::string execPath;              // the program pkexec runs under it; "" when none
  std::vector<std::string> implies;  // the actions that a grant of this one covers
};

/// polkit's answer about this process and one action.
enum class PolkitAnswer {
  Granted,
  Refused,  // not authorised: a rule, a wrong password, a dismissed prompt, no grant kept
  NoAgent,  // a password is needed, but no authentication agent can ask for it
  Failed,   // polkit gave no answer
};

class Polkit {
 public:
  virtual ~Polkit() = default;
  /// Every registered action; nullopt, with `error` saying why, when polkit
  /// could not be asked.
  virtual std::optional<std::vector<PolkitAction>> actions(std::string& error) = 0;
  /// Whether this process may perform `actionId`; with `interactive`, an
  /// authentication agent may ask the user first. Failed, with `error`
  /// saying why, when polkit did not answer.
  virtual PolkitAnswer check(const std::string& actionId, bool interactive, std::string& error) = 0;
};

/// polkit on the system bus.
std::unique_ptr<Polkit> makeSystemPolkit();

}  // namespace tavo
