// The folder lister and the folder expansion of the controller.

#include "core/folder_lister.h"

#include <set>

#include "base/utf8.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "core/log_lines.h"

namespace tavo {
namespace {

// "*.*" matches everything; otherwise the text after the first "*", or the
// whole pattern when it has none.
std::string matchTextOf(const std::string& pattern) {
  if (pattern == "*.*") return "";
  std::size_t star = pattern.find('*');
  return star == std::string::npos ? pattern : pattern.substr(star + 1);
}

// Names that are not UTF-8 are reported for the folders at even depths from
// two: the second of the two levels that each pass of a breadth-first walk
// takes. The found set is sorted, so this is the only place where the order
// of the walk could show.
bool logsNameFailures(std::size_t folderDepth) {
  return folderDepth >= 2 && folderDepth % 2 == 0;
}

}  // namespace

FolderLister::FolderLister(SystemLog& log, const std::atomic<bool>& cancelled)
    : log_(log), cancelled_(cancelled) {}

void FolderLister::FileLister(const std::string& path, const std::string& Ext,
                             std::vector<std::string>& FilesArray, bool SeeBundleAsFile) {
  std::optional<std::string> resolved = resolveFolderPath(path);
  if (!resolved) return;
  FolderWalk walk;
  if (int rc = walk.open(*resolved); rc != 0) {
    log_.line(loglines::kOpenIteratorError + std::to_string(rc));
    return;
  }
  const std::string matchText = matchTextOf(Ext);
  std::set<std::string> found;  // std::string orders by unsigned byte value
  // Paths are built from the raw names, so an entry is found again whatever
  // its name's encoding, and no length limit cuts it.
  walk.walk(
      [&](const FolderWalk::Entry& entry) {
        std::string_view name = entry.name();
        if (!isValidUtf8(name)) {
          name = {};
          if (logsNameFailures(entry.depth)) log_.line(loglines::kNameNotUtf8);
        }
        bool matches = name.find(matchText) != std::string_view::npos;
        bool isFolder = entry.kind == EntryKind::Folder;
        if (isFolder && !(SeeBundleAsFile && matches)) return true;
        if (matches) found.emplace(entry.path);
        return false;
      },
      &cancelled_);
  while (!found.empty()) FilesArray.push_back(std::move(found.extract(found.begin()).value()));
}

void FolderLister::listnadd(const std::string& path, Product& toProduct) {
  std::vector<std::string> entries;
  FileLister(path, ".*", entries, true);
  for (std::string& entry : entries) {
    if (cancelled_) return;
    bool isFolder = false;
    if (!fileExistsAtPath(entry, &isFolder)) continue;  // gone since it was listed
    if (!isFolder) {
      toProduct.addPath(std::move(entry));
      continue;
    }
    toProduct.addPath(entry);
    // Each file's path is made once, straight into the product.
    subpathsAtPath(
        entry,
        [&](const Subpath& sub) {
          if (sub.exists && !sub.isDirectory) toProduct.addPath(std::string(sub.path));
        },
        &cancelled_);
  }
  bool isFolder = false;
  if (!fileExistsAtPath(path, &isFolder)) return;
  toProduct.addPath(path);
  if (isFolder) toProduct.addDir(path);
}

}  // namespace tavo
