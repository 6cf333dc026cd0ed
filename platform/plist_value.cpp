#include "platform/plist_value.h"

#include <algorithm>

namespace tavo {

const PlistValue* PlistDict::find(const std::string& key) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.first == key; });
  return it == entries_.end() ? nullptr : &it->second;
}

PlistValue* PlistDict::find(const std::string& key) {
  return const_cast<PlistValue*>(std::as_const(*this).find(key));
}

void PlistDict::set(const std::string& key, PlistValue value) {
  if (PlistValue* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(key, std::move(value));
}

bool PlistDict::remove(const std::string& key) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

bool PlistDict::operator==(const PlistDict& other) const { return entries_ == other.entries_; }

PlistValue::PlistValue(const PlistValue& other) : v_(other.v_) {
  if (auto* d = std::get_if<std::shared_ptr<PlistDict>>(&v_)) *d = std::make_shared<PlistDict>(**d);
  if (auto* a = std::get_if<std::shared_ptr<PlistArray>>(&v_))
    *a = std::make_shared<PlistArray>(**a);
}

PlistValue& PlistValue::operator=(const PlistValue& other) {
  if (this != &other) *this = PlistValue(other);
  return *this;
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

const std::string* PlistValue::string() const { return std::get_if<std::string>(&v_); }

bool PlistValue::operator==(const PlistValue& other) const {
  if (kind() != other.kind()) return false;
  if (dict()) return *dict() == *other.dict();
  if (array()) return *array() == *other.array();
  return v_ == other.v_;
}

}  // namespace tavo
