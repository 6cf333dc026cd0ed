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

std::string nameOf(const Product& product) { return product.name().value_or(""); }

std::string joined(const std::vector<std::string>& list, const char* between) {
  std::string out;
  for (const std::string& item : list) out += (out.empty() ? "" : between) + item;
  return out;
}

// What a removal would do with the product: move, keep, and delete in the
// user's preferences; with `machineToo`, also forget and delete for all users.
std::string planText(const Product& product, const RemovalPreview& preview, bool machineToo) {
  std::string text = nameOf(product) + " (" + product.vendor().value_or("") + ")\n";
  for (const std::string& path : preview.moves) text += "  would move: " + path + "\n";
  for (const KeptEntry& kept : preview.kept) text += "  would keep: " + kept.path + ": " + kept.reason + "\n";
  if (machineToo)
    for (const std::string& receipt : product.recps()) text += "  would forget: " + receipt + "\n";
  for (const std::string& value : product.prefVars())
    text += "  would delete: " + value + (machineToo ? " (for the user and for all users)\n" : "\n");
  return text;
}

std::string planJson(const Product& product, const RemovalPreview& preview, bool machineToo) {
  return "{\"name\": " + jsonString(nameOf(product)) +
         ", \"vendor\": " + jsonString(product.vendor().value_or("")) +
         ", \"moves\": " + jsonArray(preview.moves) + ", \"kept\": " + keptJson(preview.kept) +
         (machineToo ? ", \"forgets\": " + jsonArray(product.recps()) : std::string()) +
         ", \"deletes\": " + jsonArray(product.prefVars()) + "}";
}

// The values an outcome took from `scope`: those that held one.
std::vector<std::string> valuesTaken(const RemovalOutcome& outcome, PrefUser scope) {
  std::vector<std::string> taken;
  for (const DeletedValue& value : outcome.deleted)
    if (value.scope == scope && value.removed) taken.push_back(value.domain + "::" + value.keyPath);
  return taken;
}

std::string failedJson(const std::vector<FailedStep>& failed) {
  std::string out = "[";
  for (const FailedStep& step : failed)
    out += std::string(out.size() > 1 ? ", " : "") + "{\"step\": " + jsonString(step.step) +
           ", \"message\": " + jsonString(step.message) + "}";
  return out + "]";
}

std::string movedJson(const std::vector<MovedItem>& moved) {
  std::string out = "[";
  for (const MovedItem& item : moved)
    out += std::string(out.size() > 1 ? ", " : "") + "{\"path\": " + jsonString(item.path) +
           ", \"where\": " + jsonString(item.trashPath) + ", \"info\": " + jsonString(item.infoName) +
           (item.copied.empty() ? "" : ", \"copied\": " + jsonString(item.copied)) + "}";
  return out + "]";
}

// One product's outcome in one user's space.
std::string userOutcomeJson(const Product& product, const RemovalOutcome& outcome) {
  std::string out = "{\"name\": " + jsonString(nameOf(product)) +
                    ", \"vendor\": " + jsonString(product.vendor().value_or("")) +
                    ", \"removed\": " + (outcome.removed ? "true" : "false");
  if (!outcome.confirmed) return out + ", \"skipped\": true}";
  return out + ", \"moved\": " + movedJson(outcome.moved) + ", \"kept\": " + keptJson(outcome.kept) +
         ", \"deleted\": " + jsonArray(valuesTaken(outcome, PrefUser::Current)) +
         ", \"failed\": " + failedJson(outcome.failed) + "}";
}

std::string userOutcomeText(const Product& product, const RemovalOutcome& outcome) {
  if (!outcome.confirmed) return nameOf(product) + " skipped\n";
  std::string text = nameOf(product) + (outcome.removed ? " removed\n" : " not removed\n");
  for (const MovedItem& item : outcome.moved) text += "  moved: " + item.path + " -> " + item.trashPath + "\n";
  for (const KeptEntry& kept : outcome.kept) text += "  kept: " + kept.path + ": " + kept.reason + "\n";
  for (const std::string& value : valuesTaken(outcome, PrefUser::Current)) text += "  deleted: " + value + "\n";
  for (const FailedStep& step : outcome.failed) text += "  failed: " + step.step + ": " + step.message + "\n";
  return text;
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

// Whether the product found in the space of the user whose home is `home`
// holds anything of theirs: an entry in their home or a value in their own
// preferences. What the machine holds (a system folder, a receipt, a value
// for all users) every user's scan finds alike, and makes nobody a holder.
bool heldIn(const Product& product, const std::string& home) {
  const std::string prefix = home + "/";
  for (const Product::List* list : {&product.dirs(), &product.prefFiles()})
    for (const std::string& path : *list)
      if (path.compare(0, prefix.size(), prefix) == 0) return true;
  return !product.prefVars().empty();  // the scan finds the user's own values only
}

void addOnce(std::vector<std::string>& to, const Product::List& from) {
  for (const std::string& item : from)
    if (std::find(to.begin(), to.end(), item) == to.end()) to.push_back(item);
}

// Whether the description files name a product so, whatever the scan finds.
class NameWatch final : public ScanRelay {
 public:
  explicit NameWatch(const std::string& name) : name_(name) {}
  void scanningProduct(const std::string& name) override { named_ = named_ || name == name_; }
  void scanFinished() override {}
  bool named() const { return named_; }

 private:
  const std::string& name_;
  bool named_ = false;
};

// One account's share of a removal for several users.
struct Share {
  const AccountSession* account;
  std::vector<const Product*> products;  // those of the name it holds
  std::vector<RemovalPreview> previews;
  std::vector<RemovalOutcome> outcomes;
};

std::string accountJson(const Share& share, const std::string& products) {
  return "{\"name\": " + jsonString(share.account->name) + ", \"home\": " +
         jsonString(share.account->home) + ", \"products\": [" + products + "]}";
}

std::string accountHeading(const AccountSession& account) {
  return account.name + " (" + account.home + "): ";
}

// The products of every account's scan, listed under the account.
int listAccounts(const std::vector<Share>& shares, bool json, std::ostream& out) {
  std::string documents;
  for (const Share& share : shares) {
    const ProductList& products = *share.account->session->products();
    if (!json) {
      out << "== " << accountHeading(*share.account) << products.size() << " products ==\n"
          << productsText(products);
      continue;
    }
    const std::string document = productsJson(products);  // {"products": [...]}\n
    documents += std::string(documents.empty() ? "" : ", ") + "{\"name\": " +
                 jsonString(share.account->name) + ", \"home\": " + jsonString(share.account->home) +
                 ", " + document.substr(1, document.size() - 3) + "}";
  }
  if (json) out << "{\"users\": [" << documents << "]}\n";
  return kUninstallRemoved;
}

// What the removal would do in each account's space, then once for the machine.
void planText(const std::string& name, const std::vector<Share>& shares,
              const Product::List& receipts, const Product::List& values, std::ostream& out) {
  bool held = false;
  for (const Share& share : shares) {
    out << accountHeading(*share.account);
    if (share.products.empty()) out << "\"" << name << "\" is not installed\n";
    for (std::size_t i = 0; i < share.products.size(); ++i)
      out << (i ? "  " : "") << planText(*share.products[i], share.previews[i], false);
    held = held || !share.products.empty();
  }
  if (held) out << "machine-wide:" << (receipts.empty() && values.empty() ? " nothing\n" : "\n");
  for (const std::string& receipt : receipts) out << "  would forget: " << receipt << "\n";
  for (const std::string& value : values) out << "  would delete for all users: " << value << "\n";
}

std::string planJson(const std::vector<Share>& shares, const Product::List& receipts,
                     const Product::List& values) {
  std::string documents;
  for (const Share& share : shares) {
    std::string products;
    for (std::size_t i = 0; i < share.products.size(); ++i)
      products += (i ? ", " : "") + planJson(*share.products[i], share.previews[i], false);
    documents += (documents.empty() ? "" : ", ") + accountJson(share, products);
  }
  return "{\"dryRun\": true, \"users\": [" + documents + "], \"machine\": {\"forgets\": " +
         jsonArray(receipts) + ", \"deletes\": " + jsonArray(values) + "}}\n";
}

// The steps in each holder's space, in turn, unless `go` is false or a
// privileged run could not be made; `progress`: a line per holder on `err`.
// Whether the removal may go on to the machine-wide steps.
bool removeFromUserSpaces(std::vector<Share>& shares, bool go, bool progress, std::ostream& err) {
  bool stopped = !go;
  for (Share& share : shares) {
    std::size_t moved = 0, kept = 0, failed = 0;
    for (std::size_t i = 0; i < share.products.size(); ++i) {
      RemovalOutcome outcome;  // not confirmed: skipped
      if (!stopped) outcome = share.account->session->removeUserTraces(*share.products[i], share.previews[i]);
      stopped = stopped || outcome.stopped;
      moved += outcome.moved.size();
      kept += outcome.kept.size();
      failed += outcome.failed.size();
      share.outcomes.push_back(std::move(outcome));
    }
    if (progress && go && !share.products.empty())
      err << share.account->name << ": " << moved << " moved, " << kept << " kept"
          << (failed ? ", " + std::to_string(failed) + " failed" : std::string()) << "\n" << std::flush;
  }
  return !stopped;
}

std::string machineJson(const std::optional<RemovalOutcome>& machine) {
  if (!machine) return "null";
  if (!machine->confirmed) return "{\"removed\": false, \"skipped\": true}";
  return std::string("{\"removed\": ") + (machine->removed ? "true" : "false") +
         ", \"forgotten\": " + jsonArray(machine->forgotten) +
         ", \"deleted\": " + jsonArray(valuesTaken(*machine, PrefUser::Any)) +
         ", \"failed\": " + failedJson(machine->failed) + "}";
}

std::string machineText(const RemovalOutcome& machine) {
  std::string text = std::string("machine-wide: ") +
                     (!machine.confirmed ? "skipped" : machine.removed ? "removed" : "not removed") + "\n";
  for (const std::string& receipt : machine.forgotten) text += "  forgot: " + receipt + "\n";
  for (const std::string& value : valuesTaken(machine, PrefUser::Any))
    text += "  deleted for all users: " + value + "\n";
  for (const FailedStep& step : machine.failed) text += "  failed: " + step.step + ": " + step.message + "\n";
  return text;
}

// Each account's outcome, then the machine's; the exit status.
int report(const std::string& name, const std::vector<Share>& shares,
           const std::optional<RemovalOutcome>& machine, bool json, std::ostream& out) {
  int status = machine && !machine->removed ? kUninstallNotRemoved : kUninstallRemoved;
  std::string documents;
  for (const Share& share : shares) {
    std::string products;
    if (!json) out << accountHeading(*share.account);
    if (share.products.empty() && !json) out << "\"" << name << "\" is not installed\n";
    for (std::size_t i = 0; i < share.products.size(); ++i) {
      if (!share.outcomes[i].removed) status = kUninstallNotRemoved;
      if (json)
        products += (i ? ", " : "") + userOutcomeJson(*share.products[i], share.outcomes[i]);
      else
        out << (i ? "  " : "") << userOutcomeText(*share.products[i], share.outcomes[i]);
    }
    if (json) documents += (documents.empty() ? "" : ", ") + accountJson(share, products);
  }
  if (json)
    out << "{\"users\": [" << documents << "], \"machine\": " << machineJson(machine) << "}\n";
  else if (machine)
    out << machineText(*machine);
  return status;
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

// The records as text, or the JSON array of them.
std::string recordsOf(RemovalSession& session, bool json) {
  std::string documents;
  for (const RemovalRecord& record : session.records())
    documents += json ? (documents.empty() ? "" : ", ") + recordJson(record) : recordText(record);
  return documents;
}

int history(RemovalSession& session, bool json, std::ostream& out) {
  out << (json ? "{\"removals\": [" + recordsOf(session, true) + "]}\n" : recordsOf(session, false));
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
  if (options.json)
    out << "{\"undo\": {\"id\": " << jsonString(chosen->id) << ", \"product\": " << jsonString(chosen->product)
        << ", \"undone\": " << (outcome.complete ? "true" : "false")
        << ", \"skipped\": " << (outcome.confirmed || undoneBefore ? "false" : "true")
        << ", \"restored\": " << jsonArray(outcome.restored) << ", \"failed\": " << failedJson(outcome.failed)
        << "}}\n";
  return outcome.complete ? kUninstallRemoved : kUninstallNotRemoved;
}

}  // namespace

bool parseUninstallArguments(const std::vector<std::string>& args, UninstallOptions& options,
                             std::string& error) {
  bool named = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--list") options.list = true;
    else if (arg == "--history") options.history = true;
    else if (arg == "--undo") options.undo = true;
    else if (arg == "--json") options.json = true;
    else if (arg == "--yes") options.yes = true;
    else if (arg == "--all") options.all = true;
    else if (arg == "--dry-run") options.dryRun = true;
    else if (arg == "--verbose") options.verbose = true;
    else if (arg == "--all-users") options.allUsers = true;
    else if (arg == "--user") {
      if (i + 1 == args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
        error = "--user needs a user name";
        return false;
      }
      options.users.push_back(args[++i]);
    } else if (!arg.empty() && arg[0] == '-') {
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
  if ((options.all || options.dryRun) && modes > 0) {
    error = std::string(options.all ? "--all" : "--dry-run") + " goes with a product name";
    return false;
  }
  if (options.allUsers && !options.users.empty()) {
    error = "--all-users or --user, not both";
    return false;
  }
  if (options.undo && (options.allUsers || options.users.size() > 1)) {
    error = "--undo acts for one user at a time";
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
  if (options.dryRun) {
    std::string documents;
    for (std::size_t i : chosen) {
      RemovalPreview preview = session.preview(*products[i]);
      if (options.json)
        documents += (documents.empty() ? "" : ", ") + planJson(*products[i], preview, true);
      else
        out << planText(*products[i], preview, true);
    }
    if (options.json) out << "{\"dryRun\": true, \"removals\": [" << documents << "]}\n";
    return kUninstallRemoved;
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

namespace tavo {

int historyForAccounts(const std::vector<AccountSession>& accounts, bool json, std::ostream& out) {
  std::string documents;
  for (const AccountSession& account : accounts) {
    if (!json) out << "== " << account.name << " (" << account.home << ") ==\n" << recordsOf(*account.session, false);
    documents += (documents.empty() ? "" : ", ") + std::string("{\"name\": ") + jsonString(account.name) +
                 ", \"home\": " + jsonString(account.home) + ", \"removals\": [" +
                 recordsOf(*account.session, true) + "]}";
  }
  if (json) out << "{\"users\": [" << documents << "]}\n";
  return kUninstallRemoved;
}

int runForAccounts(const UninstallOptions& options, const std::vector<AccountSession>& accounts,
                   Alert& confirm, std::ostream& out, std::ostream& err, bool progress) {
  std::vector<Share> shares;
  NameWatch known(options.name);
  for (const AccountSession& account : accounts) {
    const ProductList& products = account.session->scan(&known);
    shares.push_back({&account, {}, {}, {}});
    std::vector<std::size_t> named = options.list ? std::vector<std::size_t>() : productsNamed(products, options.name);
    if (named.size() > 1 && !options.all) {
      err << "tavo-uninstall: " << named.size() << " products are named \"" << options.name
          << "\" for " << account.name << "; give --all to remove every one\n";
      return kUninstallUsageError;
    }
    for (std::size_t i : named)
      if (heldIn(*products[i], account.home)) shares.back().products.push_back(products[i].get());
  }
  if (options.list) return listAccounts(shares, options.json, out);
  // A name no description knows is a mistake; a product installed nowhere is not.
  if (!known.named() && !accounts.empty()) {
    err << "tavo-uninstall: no product is named \"" << options.name << "\"\n";
    return kUninstallUsageError;
  }
  // Every account decided before anything changes; the machine's part once.
  std::vector<std::string> holders, receipts, values;
  for (Share& share : shares) {
    if (!share.products.empty()) holders.push_back(share.account->name);
    for (const Product* product : share.products) {
      share.previews.push_back(share.account->session->preview(*product));
      addOnce(receipts, product->recps());
      addOnce(values, product->prefVars());
    }
  }
  if (options.dryRun && options.json) {
    out << planJson(shares, receipts, values);
    return kUninstallRemoved;
  }
  if (options.dryRun || !holders.empty())
    planText(options.name, shares, receipts, values, options.json && !options.dryRun ? err : out);
  if (options.dryRun) return kUninstallRemoved;

  std::optional<RemovalOutcome> machine;  // none when no account holds the product
  if (!holders.empty()) {
    const bool go = confirm.runModal("You are about to remove this product:",
                                     options.name + "\n\nFor " + joined(holders, ", "), "Remove",
                                     "Skip") != Alert::kSecondButtonReturn;
    machine.emplace();  // not confirmed: skipped
    if (removeFromUserSpaces(shares, go, progress && holders.size() > 1, err)) {
      const Share& first = *std::find_if(shares.begin(), shares.end(),
                                         [](const Share& s) { return !s.products.empty(); });
      machine = first.account->session->removeMachineTraces(receipts, values);
    }
  }
  return report(options.name, shares, machine, options.json, out);
}

}  // namespace tavo
