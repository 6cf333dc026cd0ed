#pragma once
// A property-list value in a type of our own, able to hold exactly whatever
// a binary or XML property list holds, so that a file read and written back
// keeps every value it had.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tavo {

class PlistValue;

/// An integer in [-2^63, 2^64-1], the range both file formats hold.
class PlistInteger {
 public:
  // Implicit, so that a plain integer stands for one.
  constexpr PlistInteger(std::int64_t value = 0)
      : bits_(static_cast<std::uint64_t>(value)), aboveInt64_(false) {}
  /// Any unsigned 64-bit value, including those of 2^63 and above.
  static constexpr PlistInteger fromUnsigned(std::uint64_t value) {
    PlistInteger i;
    i.bits_ = value;
    i.aboveInt64_ = value > static_cast<std::uint64_t>(INT64_MAX);
    return i;
  }

  /// The value, or nullopt when it is 2^63 or more.
  std::optional<std::int64_t> asInt64() const;
  /// The value, or nullopt when it is negative.
  std::optional<std::uint64_t> asUint64() const;
  bool isNegative() const { return !aboveInt64_ && static_cast<std::int64_t>(bits_) < 0; }
  /// The value modulo 2^64 (its two's-complement bits).
  std::uint64_t bits() const { return bits_; }
  /// The value in decimal, with a "-" when negative.
  std::string toString() const;

  bool operator==(const PlistInteger&) const = default;

 private:
  std::uint64_t bits_;
  bool aboveInt64_;  // bits_ are then read unsigned
};

/// A dictionary keeps its keys in file order; a key appears at most once.
/// Keys are byte strings (NUL allowed). Lookups go through an index, so a
/// dictionary of n keys loads in O(n log n). Loading a file that names a key
/// twice keeps the key at its first position with the last value.
class PlistDict {
 public:
  using Entry = std::pair<std::string, PlistValue>;

  /// The member named `key`, or nullptr when it is absent.
  const PlistValue* find(const std::string& key) const;
  PlistValue* find(const std::string& key);
  /// Replaces the member's value (the key keeps its place), or appends a new
  /// member at the end.
  void set(const std::string& key, PlistValue value);
  /// As set(); a new key is marked as read from a binary ASCII-typed object
  /// holding bytes above 0x7F, so that it is written back as one.
  void setWithRawAsciiKey(const std::string& key, PlistValue value);
  /// Adds a new member at `position` (at the end when that is past it);
  /// false, changing nothing, when the key is present.
  bool insert(std::size_t position, const std::string& key, PlistValue value);
  /// Removes the member; false when it was absent.
  bool remove(const std::string& key);
  /// The member's place in file order, or nullopt when it is absent.
  std::optional<std::size_t> position(const std::string& key) const;
  /// True when the key exists and was set with setWithRawAsciiKey().
  bool isRawAsciiKey(const std::string& key) const;

  /// The members in file order.
  const std::vector<Entry>& entries() const { return entries_; }
  /// The number of members.
  std::size_t size() const;
  /// True when there is no member.
  bool empty() const;
  /// Same keys in the same order (and of the same binary form), same values.
  bool operator==(const PlistDict& other) const;

 private:
  struct Slot {
    std::size_t position;
    bool rawAscii;
    bool operator==(const Slot&) const = default;
  };
  void put(const std::string& key, PlistValue value, bool rawAscii);

  std::vector<Entry> entries_;
  std::map<std::string, Slot> index_;  // ordered: no hash an input could flood
};

/// Seconds since 2001-01-01 00:00:00 UTC, the reference date of property
/// lists, kept as the exact double a binary file stores (NaN included).
struct PlistDate {
  double secondsSince2001 = 0;
  /// Bit for bit, so that NaN equals itself and -0 differs from 0.
  bool operator==(const PlistDate& other) const;
};

struct PlistUid {
  std::uint64_t value = 0;  // keyed-archive references in binary files
  bool operator==(const PlistUid&) const = default;
};

using PlistData = std::vector<std::uint8_t>;
using PlistArray = std::vector<PlistValue>;

class PlistValue {
 public:
  enum class Kind { Dict, Array, String, Integer, Real, Boolean, Date, Data, Uid };

  PlistValue() : v_(std::string()) {}
  PlistValue(PlistDict d) : v_(std::make_shared<PlistDict>(std::move(d))) {}
  PlistValue(PlistArray a) : v_(std::make_shared<PlistArray>(std::move(a))) {}
  PlistValue(std::string s) : v_(std::move(s)) {}
  PlistValue(const char* s) : v_(std::string(s)) {}
  PlistValue(PlistInteger i) : v_(i) {}
  PlistValue(std::int64_t i) : v_(PlistInteger(i)) {}
  PlistValue(int i) : v_(PlistInteger(i)) {}
  PlistValue(double r) : v_(r) {}
  PlistValue(bool b) : v_(b) {}
  PlistValue(PlistDate d) : v_(d) {}
  PlistValue(PlistData d) : v_(std::move(d)) {}
  PlistValue(PlistUid u) : v_(u) {}
  /// A string read from a binary ASCII-typed object. Bytes above 0x7F make
  /// it differ from the same bytes read as UTF-8 text, and it is written
  /// back as the same ASCII-typed object; without them it is plain text.
  static PlistValue rawAscii(std::string bytes);

  // Containers are held through shared pointers so the type can nest; copies
  // are deep so that a copy is independent of what it was taken from.
  PlistValue(const PlistValue& other);
  PlistValue& operator=(const PlistValue& other);
  PlistValue(PlistValue&&) noexcept = default;
  PlistValue& operator=(PlistValue&&) noexcept = default;

  /// What the value holds; raw ASCII-typed bytes are a String.
  Kind kind() const;
  /// True for a dictionary.
  bool isDict() const { return kind() == Kind::Dict; }
  /// True for a string, raw ASCII-typed bytes included.
  bool isString() const { return kind() == Kind::String; }
  /// True for a string that holds raw bytes of an ASCII-typed object.
  bool isRawAscii() const { return std::holds_alternative<RawAscii>(v_); }

  /// The dictionary, or nullptr when this is not one.
  const PlistDict* dict() const;
  PlistDict* dict();
  /// The array, or nullptr when this is not one.
  const PlistArray* array() const;
  /// The string's bytes, or nullptr when this is not a string.
  const std::string* string() const;
  /// The integer, or nullptr when this is not one.
  const PlistInteger* integer() const { return std::get_if<PlistInteger>(&v_); }
  /// The real number, or nullptr when this is not one.
  const double* real() const { return std::get_if<double>(&v_); }
  /// The boolean, or nullptr when this is not one.
  const bool* boolean() const { return std::get_if<bool>(&v_); }
  /// The date, or nullptr when this is not one.
  const PlistDate* date() const { return std::get_if<PlistDate>(&v_); }
  /// The data, or nullptr when this is not data.
  const PlistData* data() const { return std::get_if<PlistData>(&v_); }
  /// The UID, or nullptr when this is not one.
  const PlistUid* uid() const { return std::get_if<PlistUid>(&v_); }

  /// Same kind and same value; reals compare bit for bit.
  bool operator==(const PlistValue& other) const;

 private:
  struct RawAscii {
    std::string bytes;
    bool operator==(const RawAscii&) const = default;
  };

  std::variant<std::shared_ptr<PlistDict>, std::shared_ptr<PlistArray>, std::string,
               PlistInteger, double, bool, PlistDate, PlistData, PlistUid, RawAscii>
      v_;
};

// Defined once PlistValue is complete: the members' size is needed (clang
// instantiates the vector's size() where it is written).
inline std::size_t PlistDict::size() const { return entries_.size(); }
inline bool PlistDict::empty() const { return entries_.empty(); }

/// True when `a` and `b` have the same bits (NaN equals itself, -0 is not 0).
bool sameDouble(double a, double b);

}  // namespace tavo
