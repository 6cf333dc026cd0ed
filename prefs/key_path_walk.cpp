#include "prefs/key_path_walk.h"

namespace tavo {
namespace {

// The dictionary in which the last name is looked up, or nullptr when a
// value that is not a dictionary stops the walk first.
PlistDict* lastDictionary(PlistValue& topValue, const std::vector<std::string>& names) {
  PlistValue* node = &topValue;
  for (std::size_t i = 1; i + 1 < names.size(); ++i) {
    PlistDict* dict = node->dict();
    if (!dict) return nullptr;
    if (PlistValue* member = dict->find(names[i])) node = member;
  }
  return node->dict();
}

}  // namespace

const PlistValue* lenientKeyPathFind(const PlistValue& topValue,
                                     const std::vector<std::string>& names) {
  if (names.size() < 2) return nullptr;
  // The walk never changes the value; the cast only lets both walks share one path.
  PlistDict* dict = lastDictionary(const_cast<PlistValue&>(topValue), names);
  return dict ? dict->find(names.back()) : nullptr;
}

bool lenientKeyPathExists(const PlistValue& topValue, const std::vector<std::string>& names) {
  return lenientKeyPathFind(topValue, names) != nullptr;
}

bool lenientKeyPathRemove(PlistValue& topValue, const std::vector<std::string>& names,
                          PlistValue* removed) {
  if (names.size() < 2) return false;
  PlistDict* dict = lastDictionary(topValue, names);
  const PlistValue* entry = dict ? dict->find(names.back()) : nullptr;
  if (!entry) return false;
  if (removed) *removed = *entry;
  return dict->remove(names.back());
}

std::optional<std::size_t> lenientKeyPathPosition(const PlistValue& topValue,
                                                  const std::vector<std::string>& names) {
  if (names.size() < 2) return std::nullopt;
  const PlistDict* dict = lastDictionary(const_cast<PlistValue&>(topValue), names);
  return dict ? dict->position(names.back()) : std::nullopt;
}

bool lenientKeyPathInsert(PlistValue& topValue, const std::vector<std::string>& names,
                          PlistValue value, std::size_t position) {
  if (names.size() < 2) return false;
  PlistDict* dict = lastDictionary(topValue, names);
  return dict && dict->insert(position, names.back(), std::move(value));
}

}  // namespace tavo
