#pragma once
// How tavo-scan prints the products that a scan found.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/product.h"

namespace tavo {

/// `text` as a JSON string with its quotes. Quotes, backslashes and control
/// characters are escaped; well-formed UTF-8 passes through as it is; a byte
/// that is not part of well-formed UTF-8 (a file name is only bytes) becomes
/// U+FFFD, so that the document is always valid JSON.
std::string jsonString(std::string_view text);

/// A list of strings as a JSON array.
std::string jsonArray(const std::vector<std::string>& list);

/// {"products": [{"name": ..., "vendor": ..., "paths": [...], "dirs": [...],
/// "prefVars": [...], "prefFiles": [...], "recps": [...]}, ...]} on one line,
/// in list order; a missing name or vendor is null.
std::string productsJson(const ProductList& products);

/// One block per product: name, vendor, then each list with its entries.
std::string productsText(const ProductList& products);

/// The same documents written to `fd` in pieces as they are made, so that a
/// scan of many files is never held a second time as text. False when a
/// write fails (errno says why).
bool writeProductsJson(int fd, const ProductList& products);
bool writeProductsText(int fd, const ProductList& products);

}  // namespace tavo
