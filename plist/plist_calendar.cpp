#include "plist/plist_calendar.h"

#include <cmath>
#include <cstdint>

namespace tavo::plist {
namespace {

// Days from 1970-01-01 to y-m-d, and back (H. Hinnant's algorithms).
constexpr std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

constexpr Civil civilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2), month, doy - (153 * mp + 2) / 5 + 1};
}

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kDays2001 = daysFromCivil(2001, 1, 1);
constexpr std::int64_t kFirst = (daysFromCivil(1, 1, 1) - kDays2001) * kSecondsPerDay;
constexpr std::int64_t kLast = (daysFromCivil(9999, 12, 31) - kDays2001) * kSecondsPerDay + kSecondsPerDay - 1;
static_assert(civilFromDays(kDays2001).year == 2001);

unsigned daysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool readDigits(std::string_view text, std::size_t& at, std::size_t count, unsigned& value) {
  if (text.size() - at < count) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i, ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
  }
  return true;
}

void appendPadded(std::int64_t value, int width, std::string& out) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out += digits;
}

}  // namespace

bool parseIsoDate(std::string_view text, double& secondsSince2001) {
  std::size_t at = 0;
  unsigned year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  if (!readDigits(text, at, 4, year)) return false;
  const std::pair<char, unsigned*> parts[] = {
      {'-', &month}, {'-', &day}, {'T', &hour}, {':', &minute}, {':', &second}};
  for (const auto& [separator, value] : parts) {
    if (at >= text.size() || text[at] != separator) break;
    ++at;
    if (!readDigits(text, at, 2, *value)) return false;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return false;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59)
    return false;
  std::int64_t days = daysFromCivil(year, month, day) - kDays2001;
  secondsSince2001 = static_cast<double>(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
  return true;
}

bool formatIsoDate(double secondsSince2001, std::string& out) {
  // Checked before any conversion: NaN fails both comparisons.
  if (!(secondsSince2001 >= static_cast<double>(kFirst) && secondsSince2001 <= static_cast<double>(kLast)))
    return false;
  if (std::floor(secondsSince2001) != secondsSince2001) return false;
  if (secondsSince2001 == 0 && std::signbit(secondsSince2001)) return false;  // would read back as +0
  const auto t = static_cast<std::int64_t>(secondsSince2001);
  const std::int64_t days = (t >= 0 ? t : t - (kSecondsPerDay - 1)) / kSecondsPerDay;
  const std::int64_t inDay = t - days * kSecondsPerDay;
  const Civil date = civilFromDays(days + kDays2001);
  appendPadded(date.year, 4, out);
  out += '-';
  appendPadded(date.month, 2, out);
  out += '-';
  appendPadded(date.day, 2, out);
  out += 'T';
  appendPadded(inDay / 3600, 2, out);
  out += ':';
  appendPadded(inDay / 60 % 60, 2, out);
  out += ':';
  appendPadded(inDay % 60, 2, out);
  out += 'Z';
  return true;
}

}  // namespace tavo::plist
