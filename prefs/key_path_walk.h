#pragma once
// The lenient walk along a preference key path, shared by every reader and
// writer that follows key paths: each name after the first is looked up in
// the dictionary reached so far, and an absent name is passed over (the next
// name is looked up in the same dictionary).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plist/plist_value.h"

namespace tavo {

/// The value the walk from `topValue` (the value of names[0]) finds at the
/// last name; nullptr when it finds none, and always for fewer than two names.
const PlistValue* lenientKeyPathFind(const PlistValue& topValue,
                                     const std::vector<std::string>& names);

/// True when lenientKeyPathFind() finds a value.
bool lenientKeyPathExists(const PlistValue& topValue, const std::vector<std::string>& names);

/// Removes the entry that the walk finds at the last name, keeping its value
/// in `removed` when given; false when the walk does not reach it (fewer than
/// two names, a non-dictionary on the way, or the last name absent).
bool lenientKeyPathRemove(PlistValue& topValue, const std::vector<std::string>& names,
                          PlistValue* removed = nullptr);

/// Where among its dictionary's members the walk finds the last name; nullopt
/// when it finds none.
std::optional<std::size_t> lenientKeyPathPosition(const PlistValue& topValue,
                                                  const std::vector<std::string>& names);

/// Puts `value` at the last name, at `position` among the members of the
/// dictionary the walk reaches, where lenientKeyPathRemove() took it from;
/// false, changing nothing, when the walk does not reach a dictionary or the
/// last name holds a value already.
bool lenientKeyPathInsert(PlistValue& topValue, const std::vector<std::string>& names,
                          PlistValue value, std::size_t position = SIZE_MAX);

}  // namespace tavo
