#pragma once
// Reading and writing property-list files in the binary and XML formats.

#include <string>

#include "platform/plist_value.h"

namespace tavo {

enum class PlistFormat { Binary, Xml };

/// What reading a preferences file found.
struct PlistFile {
  enum class State {
    Missing,     // no file: an empty domain that may be created
    Ok,          // a dictionary at the top level (an empty file counts as one)
    Unreadable,  // anything else: never to be overwritten
  };
  State state = State::Missing;
  PlistFormat format = PlistFormat::Binary;
  PlistDict dict;
};

/// Parses bytes; anything but a dictionary at the top level is Unreadable.
PlistFile parsePlist(const std::string& bytes);

/// Reads the file at `path` (following links) and parses it.
PlistFile readPlistFile(const std::string& path);

/// Serialises a dictionary; false when libplist could not produce it.
bool serializePlist(const PlistDict& dict, PlistFormat format, std::string& bytes);

/// Writes `dict` to `path` in place (no locking, no atomic replace), for
/// tools and tests that lay out files.
bool writePlistFile(const std::string& path, const PlistDict& dict, PlistFormat format);

}  // namespace tavo
