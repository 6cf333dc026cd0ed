#include "platform/user_folders.h"

#include <cstdlib>

namespace tavo {
namespace {

// The variable's value when it names an absolute path, else nullptr.
const char* absoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? value : nullptr;
}

}  // namespace

std::string homeTrashFolder(const std::string& home) {
  if (const char* data = absoluteVariable("XDG_DATA_HOME")) return std::string(data) + "/Trash";
  return defaultHomeTrashFolder(home);
}

std::string defaultHomeTrashFolder(const std::string& home) { return home + "/.local/share/Trash"; }

std::string removalRecordsFolder(const std::string& home) {
  const char* data = absoluteVariable("XDG_DATA_HOME");
  return data ? std::string(data) + "/TAVO_Uninstaller/removals" : defaultRemovalRecordsFolder(home);
}

std::string defaultRemovalRecordsFolder(const std::string& home) {
  return home + "/.local/share/TAVO_Uninstaller/removals";
}

std::string privateFolder(const std::string& home) {
  if (const char* runtime = absoluteVariable("XDG_RUNTIME_DIR"))
    return std::string(runtime) + "/TAVO_Uninstaller";
  return home + "/.cache/TAVO_Uninstaller";
}

}  // namespace tavo
