#pragma once
// The list file that tells sweeper what to move: UTF-8, one path per line,
// every line ended by a line feed.

#include <optional>
#include <string>
#include <vector>

#include "base/system_log.h"
#include "core/removal_preview.h"

namespace tavo {

/// Where the list file may be written: `bundleListFile` when this user is
/// not root and it and its folder belong to them and nobody else can write
/// either; otherwise listPath.txt in a folder private to the user
/// (`privateFolder`, made with mode 0700 when missing). nullopt when neither
/// can be had safely.
std::optional<std::string> chooseListFile(const std::string& bundleListFile,
                                          const std::string& privateFolder, SystemLog& log);

/// Writes the entries but those `kept` names to `path` (mode 0600, never
/// through a link), logging each one kept. The number of entries written; 0
/// writes nothing, and -1 means the file could not be written.
int writeListFile(const std::string& path, const std::vector<std::string>& entries,
                  const std::vector<KeptEntry>& kept, SystemLog& log);

}  // namespace tavo
