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

bool lenientKeyPathInsert(PlistValue& topValue, const std::vector<std::string>& names,
                          PlistValue value) {
  if (names.size() < 2) return false;
  PlistDict* dict = lastDictionary(topValue, names);
  if (!dict || dict->find(names.back())) return false;
  dict->set(names.back(), std::move(value));
  return true;
}

}  // namespace tavo
