#pragma once
// The machine's login accounts, as an administrator means "every user".

#include <string>
#include <vector>

#include "base/home.h"

namespace tavo {

/// Every account of the password database whose uid lies between UID_MIN
/// and UID_MAX of `loginDefs` (1000 and 60000 where it does not say) and
/// whose home folder exists, is a folder and belongs to it; in the
/// database's order, each uid once.
std::vector<UserIds> loginAccounts(const std::string& loginDefs = "/etc/login.defs");

}  // namespace tavo
