#pragma once
// polkit's textual authentication agent, for a program run on a terminal
// (over SSH, say) with no desktop agent to ask for the password.

#include "base/child.h"
#include "base/system_log.h"

namespace tavo {

class TerminalAuthenticationAgent {
 public:
  /// Starts pkttyagent for this process on its terminal and waits until it is
  /// registered. Does nothing as root (nothing is asked) or without a
  /// terminal on standard input; a failure is logged, and polkit then
  /// refuses what it would have asked for.
  explicit TerminalAuthenticationAgent(SystemLog& log);
  /// Ends the agent.
  ~TerminalAuthenticationAgent();
  TerminalAuthenticationAgent(const TerminalAuthenticationAgent&) = delete;
  TerminalAuthenticationAgent& operator=(const TerminalAuthenticationAgent&) = delete;

 private:
  Child agent_;
};

}  // namespace tavo
