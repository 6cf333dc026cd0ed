#pragma once
// The description-file parser: reads every product description file, tests
// each trace it names against the machine, and keeps a record of each
// product of which at least one trace exists.

#include <atomic>
#include <string>
#include <vector>

#include "core/folder_lister.h"
#include "core/product.h"
#include "core/receipt_check.h"
#include "core/scan_relay.h"
#include "platform/file_system.h"
#include "prefs/prefs_store.h"
#include "base/system_log.h"

namespace tavo {

/// What the parser tests traces with; none of it is owned.
struct ParserCollaborators {
  PrefsStore& store;
  SystemLog& log;
  FolderLister& lister;
  ReceiptCheck& receipts;
  const std::atomic<bool>& cancelled;
};

class DescriptionParser {
 public:
  explicit DescriptionParser(ParserCollaborators collaborators);

  /// The products found by reading `configPaths` in turn. A file that cannot
  /// be read or decoded adds nothing, with a log line; a malformed line is
  /// skipped; nothing stops the scan. Once cancelled it stops quietly and
  /// keeps nothing of the entry it was reading. `relay`, when given, is told
  /// the name of each product as its entry is read.
  ProductList parse(const std::vector<std::string>& configPaths, ScanRelay* relay = nullptr);

 private:
  void parseFile(const std::string& configPath, ProductList& products);
  void parseBodyLine(const std::string& line, Product& product);
  void parsePathLine(const std::string& domain, const std::string& key, Product& product);
  void parseEnsLine(const std::string& presetName, Product& product);
  void parsePlainPathLine(const std::string& line, Product& product);

  ParserCollaborators c_;
  ScanRelay* relay_ = nullptr;  // during a parse only
  ExistenceProbe* probe_ = nullptr;  // during a parse only
};

}  // namespace tavo
