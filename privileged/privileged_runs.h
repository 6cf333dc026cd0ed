#pragma once
// The runs made with administrator rights: the package tool, sweeper and
// keyscrub, each after making sure that the held authorisation reference
// carries the right to run that program.

#include <memory>
#include <string>
#include <vector>

#include "platform/authorization.h"
#include "platform/system_log.h"

namespace tavo {

/// The programs the privileged runs start and the Trash that removed items go to.
struct PrivilegedTools {
  std::string packageTool;  // the package tool beside the application
  std::string sweeper;      // the bundle's resource; empty when missing
  std::string keyscrub;     // the bundle's resource; empty when missing
  std::string trash;        // the current user's Trash folder
};

class PrivilegedRuns {
 public:
  PrivilegedRuns(Authorization& authorization, SystemLog& log, PrivilegedTools tools);
  /// Frees the held reference when one was ever created.
  virtual ~PrivilegedRuns();
  PrivilegedRuns(const PrivilegedRuns&) = delete;
  PrivilegedRuns& operator=(const PrivilegedRuns&) = delete;

  /// Each run below returns once its program has ended, so that the next
  /// run never overlaps it. True when the run was made: the right was granted
  /// and the program started and ran to its end, whatever it then reported.
  /// False when the right was refused or the program could not be started.

  /// The package tool with "--forget" and the identifier.
  bool forgetPkg(const std::string& identifier);
  /// The package tool with "--unlink" and the identifier.
  bool unlinkPkg(const std::string& identifier);
  /// sweeper with the Trash folder and `listPath`, read until it has ended.
  bool rmAdmin(const std::string& listPath);
  /// keyscrub with the domain and the key names; false at once, asking
  /// nobody, for an empty list of names.
  bool deleteAnyUserPrefKey(const std::string& domain,
                            const std::vector<std::string>& withKeyNames);

  const PrivilegedTools& tools() const { return tools_; }

 protected:
  std::unique_ptr<AuthorizationRef> _myAuthorizationRef;
  bool _freeAuth = false;

 private:
  enum class Right { AlreadyHeld, NewlyGranted, Refused };

  Right obtainRight(const std::string& program);
  bool runAndWait(const std::string& program, const std::vector<std::string>& args);
  void followSweeper(PrivilegedProcess& process, Right branch);

  Authorization& authorization_;
  SystemLog& log_;
  PrivilegedTools tools_;
};

}  // namespace tavo
