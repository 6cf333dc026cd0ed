#pragma once
// The binary property-list format ("bplist00"): a header, the objects, a
// table of their offsets and a trailer naming the top object.

#include <string>
#include <string_view>

#include "plist/plist_value.h"

namespace tavo::plist {

/// True when `bytes` start as a binary property list.
bool looksBinary(std::string_view bytes);

/// Reads the top value of a binary property list. False, with a short
/// reason in `problem`, for anything malformed: out-of-bounds, overlapping
/// or cyclic objects, nesting past the limit, more than the read budget.
bool parseBinary(std::string_view bytes, PlistValue& top, std::string& problem);

/// Encodes `top` as the platform's writer lays a file out: objects in depth-first
/// order (a dictionary's keys before its values), equal scalars stored once,
/// smallest widths. False, with `problem`, for a value the format cannot hold
/// (text that is not UTF-8, nesting past the limit).
bool serializeBinary(const PlistValue& top, std::string& bytes, std::string& problem);

}  // namespace tavo::plist
