#include "core/removal_preview.h"

#include <sys/stat.h>

namespace tavo {
namespace {

bool inside(const std::string& path, const std::string& folder) {
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          (folder == "/" || path[folder.size()] == '/'));
}

// The spellings under which the paths of other products may name what lies
// in `entry`: as written, and at `location` (where the check found it) when
// it is a folder of its own, not a link. The lister records paths under a
// folder's resolved location.
std::vector<std::string> spellingsOf(const std::string& entry, const std::string& location) {
  struct stat st;
  if (::lstat(location.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  std::vector<std::string> out{entry};
  if (location != entry) out.push_back(location);
  return out;
}

std::size_t countInside(const Product& other, const std::vector<std::string>& spellings) {
  std::size_t count = 0;
  for (const Product::List* list : {&other.paths(), &other.prefFiles()}) {
    for (const std::string& path : *list) {
      for (const std::string& folder : spellings) {
        if (inside(path, folder)) {
          ++count;
          break;
        }
      }
    }
  }
  return count;
}

std::string plural(std::size_t n, const char* one) {
  return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

}  // namespace

RemovalPreview previewRemoval(const Product& product, const std::vector<const Product*>& others,
                              const SafetyCheck& check) {
  RemovalPreview preview;
  for (const Product::List* list : {&product.dirs(), &product.prefFiles()}) {
    for (const std::string& entry : *list) {
      Judgement judged = check.judge(entry);
      if (judged.refusal) {
        preview.kept.push_back({entry, *judged.refusal});
        continue;
      }
      preview.moves.push_back(entry);
      std::vector<std::string> spellings = spellingsOf(entry, *judged.location);
      if (spellings.empty()) continue;
      for (const Product* other : others) {
        if (std::size_t n = countInside(*other, spellings))
          preview.shared.push_back({entry, other->name().value_or(""), n});
      }
    }
  }
  return preview;
}

std::string previewText(const RemovalPreview& preview) {
  std::string text;
  std::string folder;
  for (const SharedPaths& shared : preview.shared) {
    if (shared.movedFolder != folder) {
      folder = shared.movedFolder;
      if (!text.empty()) text += "\n";
      text += "Moving \"" + folder + "\" also moves paths listed for other products:\n";
    }
    text += "  " + shared.product + ": " + plural(shared.count, "path") + "\n";
  }
  if (!preview.kept.empty()) {
    if (!text.empty()) text += "\n";
    text += "These entries will be kept:\n" + keptText(preview.kept);
  }
  return text;
}

std::string keptText(const std::vector<KeptEntry>& kept) {
  std::string text;
  for (const KeptEntry& entry : kept) text += "  " + entry.path + ": " + entry.reason + "\n";
  return text;
}

}  // namespace tavo
