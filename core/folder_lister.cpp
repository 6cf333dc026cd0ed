// The folder lister and the folder expansion of the controller.

#include "core/folder_lister.h"

#include <set>

#include "base/path.h"
#include "base/utf8.h"
#include "platform/file_system.h"
#include "platform/folder_catalog.h"
#include "platform/log_lines.h"

namespace tavo {
namespace {

// "*.*" matches everything; otherwise the text after the first "*", or the
// whole pattern when it has none.
std::string matchTextOf(const std::string& pattern) {
  if (pattern == "*.*") return "";
  std::size_t star = pattern.find('*');
  return star == std::string::npos ? pattern : pattern.substr(star + 1);
}

// One breadth-first walk: the found set and the rules applied to each entry.
class ListerWalk {
 public:
  ListerWalk(SystemLog& log, std::string matchText, bool seeBundleAsFile)
      : log_(log), matchText_(std::move(matchText)), seeBundleAsFile_(seeBundleAsFile) {}

  // Lists an opened folder, queueing the folders to descend into on `below`.
  // Paths are built from the folder's path and the entry's raw name, so an
  // entry is found again whatever its name's encoding, and no length limit
  // cuts it.
  void list(const std::string& folder, FolderCatalog& catalog, std::vector<std::string>& below,
            bool logNameFailures) {
    FolderCatalog::Entry entry;
    while (catalog.next(entry)) {
      std::string name = entry.name;
      if (!isValidUtf8(name)) {
        name.clear();
        if (logNameFailures) log_.line(loglines::kNameNotUtf8);
      }
      bool matches = name.find(matchText_) != std::string::npos;
      std::string full = joinPath(folder, entry.name);
      if (!entry.isFolder) {
        if (matches) found_.insert(std::move(full));
      } else if (seeBundleAsFile_ && matches) {
        found_.insert(std::move(full));
      } else {
        below.push_back(std::move(full));
      }
    }
  }

  // Lists every folder of one level; one that cannot be opened (gone,
  // unreadable) is passed over.
  void listLevel(std::vector<std::string>& level, std::vector<std::string>& below,
                 bool logNameFailures) {
    for (const std::string& folder : level) {
      FolderCatalog catalog;
      if (catalog.open(folder) == 0) list(folder, catalog, below, logNameFailures);
    }
    level.clear();
  }

  const std::set<std::string>& found() const { return found_; }

 private:
  SystemLog& log_;
  std::string matchText_;
  bool seeBundleAsFile_;
  std::set<std::string> found_;  // std::string orders by unsigned byte value
};

}  // namespace

FolderLister::FolderLister(SystemLog& log, const std::atomic<bool>& cancelled)
    : log_(log), cancelled_(cancelled) {}

void FolderLister::FileLister(const std::string& path, const std::string& Ext,
                             std::vector<std::string>& FilesArray, bool SeeBundleAsFile) {
  std::optional<std::string> resolved = resolveFolderPath(path);
  if (!resolved) return;
  FolderCatalog catalog;
  if (int rc = catalog.open(*resolved); rc != 0) {
    log_.line(loglines::kOpenIteratorError + std::to_string(rc));
    return;
  }
  ListerWalk walk(log_, matchTextOf(Ext), SeeBundleAsFile);
  std::vector<std::string> first;
  std::vector<std::string> second;
  walk.list(*resolved, catalog, first, false);
  // Two levels per pass, alternating between the two lists;
  // only folders of the second list report names that are not UTF-8.
  while ((!first.empty() || !second.empty()) && !cancelled_) {
    walk.listLevel(first, second, false);
    walk.listLevel(second, first, true);
  }
  FilesArray.insert(FilesArray.end(), walk.found().begin(), walk.found().end());
}

void FolderLister::listnadd(const std::string& path, Product& toProduct) {
  std::vector<std::string> entries;
  FileLister(path, ".*", entries, true);
  for (const std::string& entry : entries) {
    if (cancelled_) return;
    bool isFolder = false;
    if (!fileExistsAtPath(entry, &isFolder)) continue;  // gone since it was listed
    toProduct.addPath(entry);
    if (!isFolder) continue;
    for (const Subpath& sub : subpathsAtPath(entry, &cancelled_)) {
      if (sub.exists && !sub.isDirectory) toProduct.addPath(entry + "/" + sub.path);
    }
  }
  bool isFolder = false;
  if (!fileExistsAtPath(path, &isFolder)) return;
  toProduct.addPath(path);
  if (isFolder) toProduct.addDir(path);
}

}  // namespace tavo
