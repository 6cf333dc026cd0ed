#pragma once
// The texts of the log lines that the authorisation writes. People read
// these lines and scripts search for them, so each text stays exactly as it
// stands here: change one only on purpose.

namespace tavo::loglines {

inline constexpr const char* kAuthorization = "Authorization: ";
// After the helper's path, when no installed polkit action names it (a build
// run from its folder).
inline constexpr const char* kPkexecAsksAlone =
    " is named by no installed polkit action: pkexec will ask for a password on its own";
// Before the action's name, when a password was needed and nobody could ask.
inline constexpr const char* kNoAuthenticationAgent =
    "no polkit authentication agent is running to ask for a password for ";

}  // namespace tavo::loglines
