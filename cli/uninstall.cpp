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

}  // namespace

bool parseUninstallArguments(const std::vector<std::string>& args, UninstallOptions& options,
                             std::string& error) {
  bool named = false;
  for (const std::string& arg : args) {
    if (arg == "--list") options.list = true;
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
  if (options.list == named) {
    error = options.list ? "--list takes no product name" : "no product named";
    return false;
  }
  return true;
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
  bool remove = answer == "r" || answer == "remove" || answer == "y" || answer == "yes";
  return remove ? kFirstButtonReturn : kSecondButtonReturn;
}

void TerminalAlert::showInformation(const std::string& messageText,
                                    const std::string& informativeText) {
  out_ << messageText << "\n" << informativeText << std::flush;
}

int runUninstall(const UninstallOptions& options, RemovalSession& session, std::ostream& out,
                 std::ostream& err) {
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
