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

#include "core/description_parser.h"

#include <algorithm>

#include "base/as_user.h"
#include "safety/description_file.h"
#include "platform/file_system.h"
#include "core/log_lines.h"
#include "platform/tilde.h"
#include "prefs/key_path.h"

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

DescriptionParser::DescriptionParser(ParserCollaborators collaborators) : c_(collaborators) {}

ProductList DescriptionParser::parse(const std::vector<std::string>& configPaths,
                                     ScanRelay* relay) {
  relay_ = relay;
  // The scan asks the same things over and over (every library line reads
  // the player's preferences; each receipt line, the package database): each
  // is read once for the whole scan, and forgotten once it ends.
  ReceiptCheck::ScanListing receipts(c_.receipts);
  std::unique_ptr<PrefsReadHold> prefsRead = c_.store.holdReads();
  // Hundreds of libraries name paths in the same few folders.
  ExistenceProbe probe;
  probe_ = &probe;
  ProductList products;
  for (const std::string& configPath : configPaths) {
    if (c_.cancelled) break;
    parseFile(configPath, products);
  }
  relay_ = nullptr;
  probe_ = nullptr;
  return products;
}

void DescriptionParser::parseFile(const std::string& configPath, ProductList& products) {
  c_.log.line(loglines::kConfigPath + configPath);
  std::vector<std::string> lines;
  std::string why;
  bool read;
  {
    AsUser::Pause bundleFile;  // the bundle's own, read as this process whomever the scan is for
    read = readDescriptionLines(configPath, lines, why);
  }
  if (!read) {
    c_.log.line(loglines::kUnreadableDescription + configPath + ": " + why);
    return;
  }
  const std::size_t n = lines.size();
  for (std::size_t b = 0; b + 2 < n;) {
    if (relay_) relay_->scanningProduct(lines[b]);
    auto product = std::make_unique<Product>();
    product->setName(lines[b]);
    product->setVendor(lines[b + 1]);
    if (lines[b + 2] != "-") {
      c_.log.line(loglines::kNoOpeningSeparator);
      return;
    }
    std::size_t i = b + 3;
    for (; i < n && lines[i] != "-" && !c_.cancelled; ++i) parseBodyLine(lines[i], *product);
    // Half an entry is no product: a cancelled scan keeps nothing of it.
    if (c_.cancelled) return;
    if (i == n) c_.log.line(loglines::kNoClosingSeparator + configPath);
    if (isKept(*product)) products.push_back(std::move(product));
    b = i + 1;
  }
}

void DescriptionParser::parseBodyLine(const std::string& line, Product& product) {
  BodyLine body = classifyBodyLine(line);
  switch (body.kind) {
    case BodyLine::Kind::Comment:
    case BodyLine::Kind::Malformed:
      return;
    case BodyLine::Kind::Path:
      parsePathLine(body.domain, body.argument, product);
      return;
    case BodyLine::Kind::Var:
      if (prefs::prefExists(c_.store, body.domain, body.argument))
        product.addPrefVar(body.domain + "::" + body.argument);
      return;
    case BodyLine::Kind::Pkg:
      if (c_.receipts.recpExists(body.argument)) product.addRecp(body.argument);
      return;
    case BodyLine::Kind::Plist: {
      std::string path = expandTildeInPath(body.argument);
      if (probe_->exists(path)) product.addPrefFile(path);
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
void DescriptionParser::parsePathLine(const std::string& domain, const std::string& key,
                                Product& product) {
  SystemLog& log = c_.log;
  std::string value;
  if (prefs::readConfigStringValue(c_.store, domain, key, value)) {
    log.line(loglines::kPrefFound + domain + loglines::kPrefFoundKey + key +
             loglines::kPrefFoundValue + value);
    c_.lister.listnadd(value, product);
    return;
  }
  if (prefs::read1stBankPath(c_.store, domain, value)) {
    std::string name = product.name().value_or("");
    std::size_t at = name.empty() ? std::string::npos : value.find(name);
    if (at != std::string::npos) {
      std::string base = value.substr(0, at + name.size());
      log.line(loglines::kBaseDirFromBankPath + base);
      c_.lister.listnadd(base, product);
    }
  }
  if (!prefs::read1stBankSamplePath(c_.store, domain, value)) return;
  log.line(loglines::kSampleDir + value);
  if (holds(product.paths(), value)) return;
  log.line(loglines::kAddSampleDir);
  c_.lister.listnadd(value, product);
}

void DescriptionParser::parseEnsLine(const std::string& presetName, Product& product) {
  std::string baseDir;
  if (!prefs::readConfigStringValue(c_.store, kPlayerDomain, "base_dir", baseDir)) return;
  std::string path = expandTildeInPath(baseDir + kPresetsFolder + presetName);
  bool isFolder = false;
  if (probe_->exists(path, &isFolder) && isFolder) c_.lister.listnadd(path, product);
}

void DescriptionParser::parsePlainPathLine(const std::string& line, Product& product) {
  std::string path = expandTildeInPath(line);
  bool isFolder = false;
  if (!probe_->exists(path, &isFolder)) return;
  if (isFolder) {
    c_.lister.listnadd(path, product);
    return;
  }
  product.addPath(path);
  product.addDir(std::move(path));
}

}  // namespace tavo
