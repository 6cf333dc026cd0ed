#pragma once
// Reading and writing property-list files in the binary and XML formats,
// with our own codec: every value is read exactly and written back exactly,
// or the file is left alone with a reason.

#include <string>

#include "plist/plist_value.h"

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
  std::string problem;  // why it is Unreadable, in a few words for the log
};

/// Parses bytes; anything but a dictionary at the top level is Unreadable,
/// with the reason in `problem`. A pure function of the bytes.
PlistFile parsePlist(const std::string& bytes);

/// Reads the file at `path` (following links) and parses it. A missing file
/// is Missing; one that is not a regular file, cannot be read or is larger
/// than 64 MB is Unreadable.
PlistFile readPlistFile(const std::string& path);

/// Serialises a dictionary; false, with the reason in `problem` when given,
/// when the format cannot hold one of its values exactly.
bool serializePlist(const PlistDict& dict, PlistFormat format, std::string& bytes,
                    std::string* problem = nullptr);

/// Writes `dict` to `path` in place (no locking, no atomic replace), for
/// tools and tests that lay out files; false, with `problem` when given, when
/// it cannot be encoded or written.
bool writePlistFile(const std::string& path, const PlistDict& dict, PlistFormat format,
                    std::string* problem = nullptr);

}  // namespace tavo
