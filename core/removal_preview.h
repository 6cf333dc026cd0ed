#pragma once
// What a removal will do beyond the product's own traces, worked out before
// the user confirms it: the entries the safety table keeps, and the paths
// of other products that lie inside a folder the removal moves.

#include <string>
#include <vector>

#include "core/product.h"
#include "safety/path_safety.h"

namespace tavo {

/// An entry that stays where it is, and the safety table's reason.
struct KeptEntry {
  std::string path;
  std::string reason;
};

/// How many paths another product lists inside a folder the removal moves.
struct SharedPaths {
  std::string movedFolder;  // the entry of the product being removed
  std::string product;      // the other product's name
  std::size_t count = 0;
};

struct RemovalPreview {
  std::vector<std::string> moves;   // what goes to the Trash: dirs, then preference files
  std::vector<KeptEntry> kept;      // what the safety table keeps, in the same order
  std::vector<SharedPaths> shared;  // in the order of the moved entries, then of the products
};

/// What removing `product` moves, keeps and takes from `others` (the
/// products still listed besides it), each of its `dirs` and `prefFiles`
/// judged once by `check`, whose resolution also tells where a folder's
/// contents are listed; the others' `paths` and `prefFiles` are counted. A
/// moved entry that is a symbolic link takes nothing with it.
RemovalPreview previewRemoval(const Product& product, const std::vector<const Product*>& others,
                              const SafetyCheck& check);

/// The lines the confirmation adds under the product's name: which other
/// products' paths go too and which entries are kept; "" when there are none.
std::string previewText(const RemovalPreview& preview);

/// The kept entries, one line each with its reason.
std::string keptText(const std::vector<KeptEntry>& kept);

}  // namespace tavo
