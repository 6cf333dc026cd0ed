#include "platform/bundle.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "base/path.h"
#include "platform/file_system.h"

namespace tavo {
namespace {

// A name's extension is the text after its last dot; a leading dot (".txt")
// starts a hidden name, not an extension.
std::string extensionOf(const std::string& name) {
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return "";
  return name.substr(dot + 1);
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> existing(std::string path) {
  if (!fileExistsAtPath(path)) return std::nullopt;
  return path;
}

}  // namespace

Bundle::Bundle(std::string bundlePath) : bundlePath_(std::move(bundlePath)) {
  while (bundlePath_.size() > 1 && bundlePath_.back() == '/') bundlePath_.pop_back();
}

std::optional<Bundle> Bundle::mainBundle() {
  std::string exe(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < exe.size()) {
      exe.resize(static_cast<std::size_t>(n));
      break;
    }
    exe.resize(exe.size() * 2);
  }
  return Bundle(parentPath(parentPath(parentPath(exe))));
}

std::string Bundle::resourcePath() const { return bundlePath_ + "/Contents/Resources"; }

std::string Bundle::applicationName() const {
  std::size_t start = bundlePath_.find_last_of('/') + 1;  // npos + 1 == 0
  std::size_t length = bundlePath_.size() - start;
  // A name too short to carry the extension is the whole name.
  return length < 4 ? bundlePath_.substr(start) : bundlePath_.substr(start, length - 4);
}

std::optional<std::string> Bundle::pathForResource(const std::string& name,
                                                   const std::string& type) const {
  std::string file = type.empty() ? name : name + "." + type;
  return existing(resourcePath() + "/" + file);
}

std::vector<std::string> Bundle::pathsForResourcesOfType(const std::string& type,
                                                         const std::string& inDirectory) const {
  std::string folder = resourcePath();
  if (!inDirectory.empty()) folder += "/" + inDirectory;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  std::vector<std::string> names;
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || extensionOf(name) != type) continue;
    // Only regular files: a folder or a pipe named like a resource is none.
    if (isRegularFile(folder + "/" + name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  for (std::string& name : names) name = folder + "/" + name;
  return names;
}

std::optional<std::string> Bundle::pathForAuxiliaryExecutable(const std::string& name) const {
  return existing(bundlePath_ + "/Contents/MacOS/" + name);
}

}  // namespace tavo
