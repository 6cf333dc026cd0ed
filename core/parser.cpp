// The description-file parser of the controller.
//
// Choices of this build where the file format leaves them open:
// - Files are read in name order (the bundle lists them sorted).
// - A byte above 0x7F anywhere makes a file undecodable: it has no lines.
// - A directive line whose argument or domain cannot be cut out (no ")$"
//   after the token, no "com." at least six characters before it) is
//   skipped silently, as every other failed check.
// - An entry whose body runs to the end of the file is closed there and kept
//   by the usual rule; one log line names the file.
// - Paths of any length are used whole.

#include <algorithm>

#include "core/description_file.h"
#include "core/uninstaller.h"
#include "platform/file_system.h"
#include "platform/tilde.h"

namespace tavo {
namespace {

constexpr const char* kPlayerDomain = "com.Korvelin.TAVO Player";
constexpr const char* kPresetsFolder = "/Presets/com.Stavek.Tavo/";

bool isKept(const Product& product) {
  return !product.paths().empty() || !product.prefFiles().empty() ||
         !product.prefVars().empty() || !product.recps().empty();
}

bool holds(const Product::List& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

void Uninstaller::parse() {
  _products.emplace();
  for (const std::string& configPath : _configPaths) {
    if (_cancelled) return;
    parseFile(configPath);
  }
}

void Uninstaller::parseFile(const std::string& configPath) {
  SystemLog& log = _collaborators.log;
  log.line("ConfigPath: " + configPath);
  std::vector<std::string> lines;
  if (!readDescriptionLines(configPath, lines)) return;
  const std::size_t n = lines.size();
  for (std::size_t b = 0; b + 2 < n;) {
    auto product = std::make_unique<Product>();
    product->setName(lines[b]);
    product->setVendor(lines[b + 1]);
    if (lines[b + 2] != "-") {
      log.line("manque la liste de trucs à effacer");
      return;
    }
    std::size_t i = b + 3;
    for (; i < n && lines[i] != "-" && !_cancelled; ++i) parseBodyLine(lines[i], *product);
    if (i == n) log.line("No closing \"-\" at the end of " + configPath);
    if (isKept(*product)) _products->push_back(std::move(product));
    b = i + 1;
  }
}

void Uninstaller::parseBodyLine(const std::string& line, Product& product) {
  BodyLine body = classifyBodyLine(line);
  switch (body.kind) {
    case BodyLine::Kind::Comment:
    case BodyLine::Kind::Malformed:
      return;
    case BodyLine::Kind::Path:
      parsePathLine(body.domain, body.argument, product);
      return;
    case BodyLine::Kind::Var:
      if (prefExists(body.domain, body.argument))
        product.addPrefVar(body.domain + "::" + body.argument);
      return;
    case BodyLine::Kind::Pkg:
      if (recpExists(body.argument)) product.addRecp(body.argument);
      return;
    case BodyLine::Kind::Plist: {
      std::string path = expandTildeInPath(body.argument);
      if (fileExistsAtPath(path)) product.addPrefFile(path);
      return;
    }
    case BodyLine::Kind::Ens:
      parseEnsLine(body.argument, product);
      return;
    case BodyLine::Kind::PlainPath:
      parsePlainPathLine(line, product);
      return;
  }
}

// A folder from a top-level preference string; failing that, the first
// bank's path cut after the product's name, and its sample folder unless the
// product already holds it. Values are used as stored: no tilde expansion.
void Uninstaller::parsePathLine(const std::string& domain, const std::string& key,
                                Product& product) {
  SystemLog& log = _collaborators.log;
  std::string value;
  if (readConfigStringValue(domain, key, value)) {
    log.line("Y Pref: " + domain + ", Key: " + key + ", Value: " + value);
    listnadd(value, product);
    return;
  }
  if (read1stBankPath(domain, value)) {
    std::string name = product.name().value_or("");
    std::size_t at = name.empty() ? std::string::npos : value.find(name);
    if (at != std::string::npos) {
      std::string base = value.substr(0, at + name.size());
      log.line("base_dir from bank_path: " + base);
      listnadd(base, product);
    }
  }
  if (!read1stBankSamplePath(domain, value)) return;
  log.line("sample_dir: " + value);
  if (holds(product.paths(), value)) return;
  log.line("Add sample_dir");
  listnadd(value, product);
}

void Uninstaller::parseEnsLine(const std::string& presetName, Product& product) {
  std::string baseDir;
  if (!readConfigStringValue(kPlayerDomain, "base_dir", baseDir)) return;
  std::string path = expandTildeInPath(baseDir + kPresetsFolder + presetName);
  bool isFolder = false;
  if (fileExistsAtPath(path, &isFolder) && isFolder) listnadd(path, product);
}

void Uninstaller::parsePlainPathLine(const std::string& line, Product& product) {
  std::string path = expandTildeInPath(line);
  bool isFolder = false;
  if (!fileExistsAtPath(path, &isFolder)) return;
  if (isFolder) {
    listnadd(path, product);
    return;
  }
  product.addPath(path);
  product.addDir(std::move(path));
}

}  // namespace tavo
