#pragma once
// The date text of XML property lists, YYYY-MM-DDTHH:MM:SSZ in UTC on the
// proleptic Gregorian calendar, converted with integer arithmetic only (no
// time_t, so no range but the format's own).

#include <string>
#include <string_view>

namespace tavo::plist {

/// The seconds since 2001-01-01T00:00:00Z that `text` names. Trailing parts
/// may be left out ("2004-05Z"); false for any other form, an impossible
/// date or time, or a year outside 1 to 9999.
bool parseIsoDate(std::string_view text, double& secondsSince2001);

/// Appends the text of a date; false when it is not a whole second between
/// years 1 and 9999 (fractions, NaN, infinities and -0 included).
bool formatIsoDate(double secondsSince2001, std::string& out);

}  // namespace tavo::plist
