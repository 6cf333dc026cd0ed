#pragma once
#include <string>

#include "core/product.h"

namespace tavo {

/// What the summary shows with no product selected.
inline constexpr const char* kNothingToUninstall = "There is nothing to uninstall";

/// The plain-text summary of a product: its receipts, preference values,
/// preference files and paths, each list under its heading and each entry
/// on a line of its own; an empty list shows nothing, heading included.
std::string summaryText(const Product& product);

}  // namespace tavo
