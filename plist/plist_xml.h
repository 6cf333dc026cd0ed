#pragma once
// The XML property-list format, UTF-8 only.

#include <string>
#include <string_view>

#include "plist/plist_value.h"

namespace tavo::plist {

/// Reads the top value of an XML property list: prolog, DOCTYPE, comments,
/// processing instructions, CDATA, the five named entities and character
/// references. False, with a short reason in `problem`, for anything
/// malformed, text that is not UTF-8, characters XML 1.0 excludes or nesting
/// past the limit; so whatever it reads can be written back.
bool parseXml(std::string_view text, PlistValue& top, std::string& problem);

/// Writes `top` in the platform's layout (declaration, DOCTYPE, tab
/// indentation). False, with `problem`, for a value XML cannot hold exactly:
/// text with NUL or other characters XML 1.0 excludes, text that is not
/// UTF-8, raw ASCII-typed bytes, a date that is not a whole second in years
/// 1 to 9999, a NaN other than the plain one, a UID, nesting past the limit.
bool serializeXml(const PlistValue& top, std::string& text, std::string& problem);

}  // namespace tavo::plist
