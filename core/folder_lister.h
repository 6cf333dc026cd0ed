#pragma once
// Folder expansion: a folder named by a description file, or found in the
// player's preferences, is recorded with what it holds.

#include <atomic>
#include <string>
#include <vector>

#include "core/product.h"
#include "base/system_log.h"

namespace tavo {

class FolderLister {
 public:
  /// A walk stops early once `cancelled` is set. Both references must
  /// outlive the lister.
  FolderLister(SystemLog& log, const std::atomic<bool>& cancelled);

  /// Adds the folder's immediate entries, each immediate folder followed by
  /// the files below it, then the folder itself to `paths`, and the folder
  /// to `dirs`. A path that does not exist adds nothing; a file, only itself
  /// to `paths`.
  void listnadd(const std::string& path, Product& toProduct);

  /// Appends to `FilesArray`, in ascending byte order, the absolute paths of
  /// the entries below `path` whose names contain the text taken from `Ext`,
  /// at any depth. With `SeeBundleAsFile` a matching folder is one
  /// entry not descended into; without it no folder is listed. The paths lie
  /// under the folder's resolved location. Appends nothing when the folder
  /// cannot be resolved or opened.
  void FileLister(const std::string& path, const std::string& Ext,
                  std::vector<std::string>& FilesArray, bool SeeBundleAsFile);

 private:
  SystemLog& log_;
  const std::atomic<bool>& cancelled_;
};

}  // namespace tavo
