#pragma once
// The text of product description files and the kinds of their body lines.

#include <string>
#include <string_view>
#include <vector>

namespace tavo {

/// The file's lines, split at every "\n" and at nothing else (a "\r" stays
/// on its line; a final line break gives a last, empty line). False, with
/// `lines` untouched and `why` saying why, when the file cannot be opened or
/// read, is not a regular file, or is not 7-bit ASCII: a single byte above
/// 0x7F makes the whole file undecodable, as the platform's ASCII decoding does.
bool readDescriptionLines(const std::string& path, std::vector<std::string>& lines,
                          std::string& why);

/// The lines of a description file's `bytes`, split as readDescriptionLines
/// does. False, with `lines` untouched and `why` saying why, when the bytes
/// are not 7-bit ASCII.
bool decodeDescriptionText(std::string_view bytes, std::vector<std::string>& lines,
                           std::string& why);

struct BodyLine {
  enum class Kind {
    Comment,    // "#" in the first column
    Path,       // "$_path(": a folder from a preference string or the first bank
    Var,        // "$_var(": a preference key path
    Pkg,        // "$_pkg(": a package receipt
    Plist,      // "$_plist(": a preference file
    Ens,        // "$_ens(": a preset folder of the player
    PlainPath,  // anything else, the empty line included
    Malformed,  // a directive whose argument or domain cannot be cut out
  };
  Kind kind = Kind::PlainPath;
  std::string domain;    // Path and Var: from the first "com." to six characters before the token
  std::string argument;  // directives: from after the token to the line's first ")$"
};

/// Sorts a body line into its kind. The first token in the order "$_path(",
/// "$_var(", "$_pkg(", "$_plist(", "$_ens(" wins wherever it stands.
BodyLine classifyBodyLine(const std::string& line);

}  // namespace tavo
