#include "plist/plist_value.h"

#include <algorithm>

#include <bit>

namespace tavo {

std::optional<std::int64_t> PlistInteger::asInt64() const {
  if (aboveInt64_) return std::nullopt;
  return static_cast<std::int64_t>(bits_);
}

std::optional<std::uint64_t> PlistInteger::asUint64() const {
  if (isNegative()) return std::nullopt;
  return bits_;
}

std::string PlistInteger::toString() const {
  // The magnitude of a negative value, computed in unsigned arithmetic so
  // that -2^63 needs no special case.
  return isNegative() ? "-" + std::to_string(~bits_ + 1) : std::to_string(bits_);
}

const PlistValue* PlistDict::find(const std::string& key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second.position].second;
}

PlistValue* PlistDict::find(const std::string& key) {
  return const_cast<PlistValue*>(std::as_const(*this).find(key));
}

void PlistDict::put(const std::string& key, PlistValue value, bool rawAscii) {
  auto [it, added] = index_.try_emplace(key, Slot{entries_.size(), rawAscii});
  if (!added) {
    entries_[it->second.position].second = std::move(value);
    return;
  }
  entries_.emplace_back(key, std::move(value));
}

void PlistDict::set(const std::string& key, PlistValue value) { put(key, std::move(value), false); }

void PlistDict::setWithRawAsciiKey(const std::string& key, PlistValue value) {
  put(key, std::move(value), true);
}

bool PlistDict::insert(std::size_t position, const std::string& key, PlistValue value) {
  if (index_.count(key)) return false;
  position = std::min(position, entries_.size());
  for (auto& [name, slot] : index_)
    if (slot.position >= position) ++slot.position;
  index_.emplace(key, Slot{position, false});
  entries_.emplace(entries_.begin() + static_cast<std::ptrdiff_t>(position), key, std::move(value));
  return true;
}

std::optional<std::size_t> PlistDict::position(const std::string& key) const {
  auto it = index_.find(key);
  if (it == index_.end()) return std::nullopt;
  return it->second.position;
}

bool PlistDict::remove(const std::string& key) {
  auto it = index_.find(key);
  if (it == index_.end()) return false;
  std::size_t position = it->second.position;
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
  // A walk over the index, with no key compared: removals are rare, loads are not.
  for (auto& [name, slot] : index_)
    if (slot.position > position) --slot.position;
  return true;
}

bool PlistDict::isRawAsciiKey(const std::string& key) const {
  auto it = index_.find(key);
  return it != index_.end() && it->second.rawAscii;
}

bool PlistDict::operator==(const PlistDict& other) const {
  return entries_ == other.entries_ && index_ == other.index_;
}

bool sameDouble(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool PlistDate::operator==(const PlistDate& other) const {
  return sameDouble(secondsSince2001, other.secondsSince2001);
}

PlistValue PlistValue::rawAscii(std::string bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) {
      PlistValue v;
      v.v_ = RawAscii{std::move(bytes)};
      return v;
    }
  return PlistValue(std::move(bytes));
}

PlistValue::PlistValue(const PlistValue& other) : v_(other.v_) {
  if (auto* d = std::get_if<std::shared_ptr<PlistDict>>(&v_)) *d = std::make_shared<PlistDict>(**d);
  if (auto* a = std::get_if<std::shared_ptr<PlistArray>>(&v_))
    *a = std::make_shared<PlistArray>(**a);
}

PlistValue& PlistValue::operator=(const PlistValue& other) {
  if (this != &other) *this = PlistValue(other);
  return *this;
}

PlistValue::Kind PlistValue::kind() const {
  if (isRawAscii()) return Kind::String;
  return static_cast<Kind>(v_.index());
}

const PlistDict* PlistValue::dict() const {
  auto* d = std::get_if<std::shared_ptr<PlistDict>>(&v_);
  return d ? d->get() : nullptr;
}

PlistDict* PlistValue::dict() {
  auto* d = std::get_if<std::shared_ptr<PlistDict>>(&v_);
  return d ? d->get() : nullptr;
}

const PlistArray* PlistValue::array() const {
  auto* a = std::get_if<std::shared_ptr<PlistArray>>(&v_);
  return a ? a->get() : nullptr;
}

const std::string* PlistValue::string() const {
  if (auto* raw = std::get_if<RawAscii>(&v_)) return &raw->bytes;
  return std::get_if<std::string>(&v_);
}

bool PlistValue::operator==(const PlistValue& other) const {
  if (v_.index() != other.v_.index()) return false;
  if (dict()) return *dict() == *other.dict();
  if (array()) return *array() == *other.array();
  if (real()) return sameDouble(*real(), *other.real());
  return v_ == other.v_;
}

}  // namespace tavo
