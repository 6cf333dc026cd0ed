#pragma once
// A property-list value in a type of our own, so that nothing outside the
// plist file code depends on libplist.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tavo {

class PlistValue;

/// A dictionary keeps its keys in file order; a key appears at most once.
class PlistDict {
 public:
  using Entry = std::pair<std::string, PlistValue>;

  /// The member named `key`, or nullptr when it is absent.
  const PlistValue* find(const std::string& key) const;
  PlistValue* find(const std::string& key);
  /// Replaces the member's value, or appends a new member at the end.
  void set(const std::string& key, PlistValue value);
  /// Removes the member; false when it was absent.
  bool remove(const std::string& key);

  const std::vector<Entry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  bool operator==(const PlistDict& other) const;

 private:
  std::vector<Entry> entries_;
};

struct PlistDate {
  double secondsSince2001 = 0;  // the reference date of property lists
  bool operator==(const PlistDate&) const = default;
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
  PlistValue(std::int64_t i) : v_(i) {}
  PlistValue(int i) : v_(std::int64_t{i}) {}
  PlistValue(double r) : v_(r) {}
  PlistValue(bool b) : v_(b) {}
  PlistValue(PlistDate d) : v_(d) {}
  PlistValue(PlistData d) : v_(std::move(d)) {}
  PlistValue(PlistUid u) : v_(u) {}

  // Containers are held through shared pointers so the type can nest; copies
  // are deep so that a copy is independent of what it was taken from.
  PlistValue(const PlistValue& other);
  PlistValue& operator=(const PlistValue& other);
  PlistValue(PlistValue&&) noexcept = default;
  PlistValue& operator=(PlistValue&&) noexcept = default;

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isDict() const { return kind() == Kind::Dict; }
  bool isString() const { return kind() == Kind::String; }

  /// The dictionary, or nullptr when this is not one.
  const PlistDict* dict() const;
  PlistDict* dict();
  const PlistArray* array() const;
  /// The string, or nullptr when this is not one.
  const std::string* string() const;
  const std::int64_t* integer() const { return std::get_if<std::int64_t>(&v_); }
  const double* real() const { return std::get_if<double>(&v_); }
  const bool* boolean() const { return std::get_if<bool>(&v_); }
  const PlistDate* date() const { return std::get_if<PlistDate>(&v_); }
  const PlistData* data() const { return std::get_if<PlistData>(&v_); }
  const PlistUid* uid() const { return std::get_if<PlistUid>(&v_); }

  bool operator==(const PlistValue& other) const;

 private:
  std::variant<std::shared_ptr<PlistDict>, std::shared_ptr<PlistArray>, std::string,
               std::int64_t, double, bool, PlistDate, PlistData, PlistUid>
      v_;
};

}  // namespace tavo
