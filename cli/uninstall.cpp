#include "cli/uninstall.h"

#include <algorithm>
#include <cctype>

#include "core/summary.h"
#include "cli/scan_report.h"

namespace tavo {
namespace {

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::size_t> productsNamed(const ProductList& products, const std::string& name) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < products.size(); ++i)
    if (products[i]->name() == name) found.push_back(i);
  return found;
}

std::string keptJson(const std::vector<KeptEntry>& kept) {
  std::string out = "[";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += ", ";
    out += "{\"path\": " + jsonString(kept[i].path) + ", \"reason\": " + jsonString(kept[i].reason) + "}";
  }
  return out + "]";
}

// The preference values gone for the user and for all users.
std::vector<std::string> valuesGone(const std::vector<DeletedValue>& deleted) {
  std::vector<std::string> gone;
  for (const DeletedValue& value : deleted) {
    if (value.scope != PrefUser::Any) continue;
    bool forUser = std::any_of(deleted.begin(), deleted.end(), [&](const DeletedValue& v) {
      return v.scope == PrefUser::Current && v.domain == value.domain && v.keyPath == value.keyPath;
    });
    if (forUser) gone.push_back(value.domain + "::" + value.keyPath);
  }
  return gone;
}

std::string removalJson(const Product& product, const RemovalOutcome& outcome) {
  std::string out = "{\"name\": " + jsonString(product.name().value_or("")) +
                    ", \"vendor\": " + jsonString(product.vendor().value_or("")) +
                    ", \"removed\": " + (outcome.removed ? "true" : "false");
  if (!outcome.confirmed) return out + ", \"skipped\": true}";
  std::vector<std::string> moved;
  for (const MovedItem& item : outcome.moved) moved.push_back(item.path);
  return out + ", \"moved\": " + jsonArray(moved) +
         ", \"forgotten\": " + jsonArray(outcome.forgotten) +
         ", \"deleted\": " + jsonArray(valuesGone(outcome.deleted)) +
         ", \"kept\": " + keptJson(outcome.kept) + "}";
}

std::string recordJson(const RemovalRecord& record) {
  return "{\"id\": " + jsonString(record.id) + ", \"time\": " + jsonString(recordTimeText(record.time)) +
         ", \"product\": " + jsonString(record.product) + ", \"vendor\": " + jsonString(record.vendor) +
         ", \"items\": " + std::to_string(record.count(RecordStep::Kind::Moved)) +
         ", \"receipts\": " + std::to_string(record.count(RecordStep::Kind::Forgot)) +
         ", \"values\": " + std::to_string(record.count(RecordStep::Kind::Deleted)) + ", \"undone\": " +
         (record.undone ? jsonString(recordTimeText(*record.undone)) : std::string("null")) + "}";
}

std::string recordText(const RemovalRecord& record) {
  return record.id + "  " + recordTimeText(record.time) + "  " + record.product + "  items " +
         std::to_string(record.count(RecordStep::Kind::Moved)) + ", receipts " +
         std::to_string(record.count(RecordStep::Kind::Forgot)) + ", values " +
         std::to_string(record.count(RecordStep::Kind::Deleted)) +
         (record.undone ? ", undone " + recordTimeText(*record.undone) : std::string()) + "\n";
}

int history(RemovalSession& session, bool json, std::ostream& out) {
  std::string documents;
  for (const RemovalRecord& record : session.records()) {
    if (!json) out << recordText(record);
    documents += (documents.empty() ? "" : ", ") + recordJson(record);
  }
  if (json) out << "{\"removals\": [" << documents << "]}\n";
  return kUninstallRemoved;
}

int undo(const UninstallOptions& options, RemovalSession& session, std::ostream& out,
         std::ostream& err) {
  std::vector<RemovalRecord> records = session.records();
  auto chosen = std::find_if(records.begin(), records.end(), [&](const RemovalRecord& r) {
    return options.name.empty() ? !r.undone : r.id == options.name;
  });
  if (chosen == records.end()) {
    err << "tavo-uninstall: " << (options.name.empty() ? std::string("no removal left to undo")
                                                         : "no removal recorded as " + options.name)
        << "\n";
    return options.name.empty() ? kUninstallNotRemoved : kUninstallUsageError;
  }
  const bool undoneBefore = chosen->undone.has_value();
  UndoOutcome outcome = session.undo(*chosen);
  if (undoneBefore) err << "tavo-uninstall: " << outcome.failed.front().message << "\n";
  if (outcome.complete && !options.json) out << "The removal of " << chosen->product << " is undone.\n";
  if (options.json) {
    std::string failed;
    for (const FailedStep& f : outcome.failed)
      failed += (failed.empty() ? "" : ", ") + std::string("{\"what\": ") + jsonString(f.step) +
                ", \"why\": " + jsonString(f.message) + "}";
    out << "{\"undo\": {\"id\": " << jsonString(chosen->id) << ", \"product\": " << jsonString(chosen->product)
        << ", \"undone\": " << (outcome.complete ? "true" : "false")
        << ", \"skipped\": " << (outcome.confirmed || undoneBefore ? "false" : "true")
        << ", \"restored\": " << jsonArray(outcome.restored) << ", \"failed\": [" << failed << "]}}\n";
  }
  return outcome.complete ? kUninstallRemoved : kUninstallNotRemoved;
}

}  // namespace

bool parseUninstallArguments(const std::vector<std::string>& args, UninstallOptions& options,
                             std::string& error) {
  bool named = false;
  for (const std::string& arg : args) {
    if (arg == "--list") options.list = true;
    else if (arg == "--history") options.history = true;
    else if (arg == "--undo") options.undo = true;
    else if (arg == "--json") options.json = true;
    else if (arg == "--yes") options.yes = true;
    else if (arg == "--all") options.all = true;
    else if (!arg.empty() && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else if (named) {
      error = "one product name at a time (quote a name with spaces)";
      return false;
    } else {
      options.name = arg;
      named = true;
    }
  }
  const int modes = options.list + options.history + options.undo;
  if (modes > 1) {
    error = "one of --list, --history and --undo at a time";
    return false;
  }
  if (options.all && modes > 0) {
    error = "--all goes with a product name";
    return false;
  }
  if (options.undo || (modes == 1) != named) return true;
  error = options.list ? "--list takes no product name"
          : options.history ? "--history takes no product name" : "no product named";
  return false;
}

int TerminalAlert::runModal(const std::string& messageText, const std::string& informativeText,
                            const std::string& firstButton, const std::string& secondButton) {
  out_ << messageText << "\n" << informativeText << "\n";
  if (yes_) return kFirstButtonReturn;
  out_ << firstButton << " or " << secondButton << "? [" << lowered(firstButton.substr(0, 1)) << "/"
       << secondButton.substr(0, 1) << "] " << std::flush;
  std::string answer;
  if (!std::getline(in_, answer)) return kSecondButtonReturn;
  answer = lowered(answer);
  const std::string first = lowered(firstButton);
  bool chosen = answer == first.substr(0, 1) || answer == first || answer == "y" || answer == "yes";
  return chosen ? kFirstButtonReturn : kSecondButtonReturn;
}

void TerminalAlert::showInformation(const std::string& messageText,
                                    const std::string& informativeText) {
  out_ << messageText << "\n" << informativeText << std::flush;
}

int runUninstall(const UninstallOptions& options, RemovalSession& session, std::ostream& out,
                 std::ostream& err) {
  if (options.history) return history(session, options.json, out);
  if (options.undo) return undo(options, session, out, err);
  const ProductList& products = session.scan();
  if (options.list) {
    out << (options.json ? productsJson(products) : productsText(products));
    return kUninstallRemoved;
  }
  std::vector<std::size_t> chosen = productsNamed(products, options.name);
  if (chosen.empty()) {
    err << "tavo-uninstall: no product named \"" << options.name << "\" was found\n";
    return kUninstallUsageError;
  }
  if (chosen.size() > 1 && !options.all) {
    err << "tavo-uninstall: " << chosen.size() << " products are named \"" << options.name
        << "\"; give --all to remove every one:\n";
    for (std::size_t i : chosen)
      err << "  " << options.name << " (" << products[i]->vendor().value_or("") << "), "
          << products[i]->paths().size() << " paths, first "
          << (products[i]->paths().empty() ? std::string("none") : products[i]->paths().front())
          << "\n";
    return kUninstallUsageError;
  }
  // The summary goes where the question goes: with --json, out of the document's way.
  std::ostream& talk = options.json ? err : out;
  int status = kUninstallRemoved;
  std::string documents;
  for (std::size_t i : chosen) {
    const Product& product = *products[i];
    talk << summaryText(product) << "\n";
    RemovalOutcome outcome = session.remove(product);
    if (!outcome.removed) status = kUninstallNotRemoved;
    if (!documents.empty()) documents += ", ";
    documents += removalJson(product, outcome);
  }
  if (options.json) out << "{\"removals\": [" << documents << "]}\n";
  return status;
}

}  // namespace tavo
