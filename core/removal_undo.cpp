// The undo of a removal, from its record: the session's counterpart of
// remove(), with the same alert, helper wait and privileged runs.

#include <algorithm>

#include "base/path.h"
#include "core/list_file.h"
#include "core/log_lines.h"
#include "core/removal_session.h"
#include "core/user_scope.h"
#include "plist/plist_file.h"
#include "prefs/key_path.h"
#include "safety/description_file.h"
#include "safety/sweeper_lines.h"

namespace tavo {
namespace {

constexpr const char* kNotRun =
    "not run: the right was refused or the program could not be started";

std::string scopeText(PrefUser scope) {
  return scope == PrefUser::Any ? " for all users" : " for the user";
}

// What a step puts back, as the confirmation and the outcome name it.
std::string stepText(const RecordStep& step) {
  switch (step.kind) {
    case RecordStep::Kind::Moved: return step.path;
    case RecordStep::Kind::Forgot: return "receipt " + step.identifier;
    case RecordStep::Kind::Deleted: return step.domain + "::" + step.keyPath + scopeText(step.scope);
  }
  return "";
}

std::string linesOf(const std::vector<FailedStep>& failed) {
  std::string text;
  for (const FailedStep& f : failed) text += "  " + f.step + ": " + f.message + "\n";
  return text;
}

// The value as keyscrub's --restore and the package tool's --restore read it.
std::string encoded(const PlistDict& dict) {
  std::string bytes;
  serializePlist(dict, PlistFormat::Binary, bytes);
  return bytes;
}

}  // namespace

std::vector<RemovalRecord> RemovalSession::records() const {
  if (user_.records.path.empty()) return {};
  return listRecords(user_.records, setup_.log);
}

ProductClaims RemovalSession::describedBy(const std::string& name) const {
  ProductClaims claims;
  for (const std::string& path : configPaths_) {
    std::vector<std::string> lines;
    std::string why;
    if (readDescriptionLines(path, lines, why)) claimDescriptionLines(lines, claims, name);
  }
  return claims;
}

UndoOutcome RemovalSession::undo(RemovalRecord& record) {
  UndoOutcome out;
  if (record.undone) {
    out.failed.push_back({"undo", "this removal was undone on " + recordTimeText(*record.undone)});
    return out;
  }
  std::string comesBack;
  for (auto step = record.steps.rbegin(); step != record.steps.rend(); ++step)
    if (!step->restored) comesBack += "\n" + stepText(*step);
  const std::string informative = record.product + (comesBack.empty() ? "" : "\n" + comesBack);
  if (!setup_.alert || setup_.alert->runModal("You are about to undo the removal of this product:",
                                              informative, "Undo", "Skip") == Alert::kSecondButtonReturn)
    return out;
  out.confirmed = true;
  const ProductClaims named = describedBy(record.product);
  runs_.setPurpose(RightsPurpose::Undo);
  bool made = true;
  // The steps in the reverse order of the removal; neighbouring items in one run of sweeper.
  for (std::size_t end = record.steps.size(); made && end > 0;) {
    RecordStep& step = record.steps[end - 1];
    if (step.restored) {
      --end;
      continue;
    }
    if (step.kind != RecordStep::Kind::Moved) {
      made = step.kind == RecordStep::Kind::Forgot ? restoreReceipt(step, named, out)
                                                    : restoreValue(user_, step, named, out);
      --end;
    } else {
      std::vector<std::size_t> items;
      for (; end > 0 && record.steps[end - 1].kind == RecordStep::Kind::Moved; --end)
        if (!record.steps[end - 1].restored) items.push_back(end - 1);
      made = restoreItems(user_, record, items, out);
    }
    saveQuietly(user_, record);
  }
  runs_.setPurpose(RightsPurpose::Removal);
  if (made) {
    record.undone = recordTimeNow();
    saveQuietly(user_, record);
  }
  out.complete = out.failed.empty();
  if (!out.failed.empty())
    setup_.alert->showInformation("These could not be put back:", linesOf(out.failed));
  return out;
}

// sweeper --restore over pairs of lines: each item's path in its trash, then
// where it was.
bool RemovalSession::restoreItems(const UserSpace& user, RemovalRecord& record,
                                  const std::vector<std::size_t>& steps, UndoOutcome& out) {
  std::vector<std::string> pairs;
  for (std::size_t i : steps) {
    const RecordStep& step = record.steps[i];
    if (step.path.find('\n') == std::string::npos && step.trashItem.find('\n') == std::string::npos)
      pairs.insert(pairs.end(), {step.trashItem, step.path});
    else
      out.failed.push_back({step.path, "a path holding a line feed cannot be listed"});
  }
  if (pairs.empty()) return true;
  auto listFile = chooseListFile(setup_.bundle.pathForResource("listPath", "txt").value_or(""),
                                 user.privateFolder, setup_.log);
  if (!listFile || writeListFile(*listFile, pairs, {}, setup_.log) < 0) {
    out.failed.push_back({"list file", "no private place to write it"});
    return false;
  }
  SweeperRun run = runs_.restoreAdmin(user.trash, *listFile, pairs.size() / 2, sweeperFor());
  if (run.result == RunResult::NotRun) {
    out.failed.push_back({"sweeper --restore", kNotRun});
    return false;
  }
  std::vector<bool> said(record.steps.size(), false);
  for (const std::string& text : run.lines) {
    std::optional<sweeperlines::Line> line = sweeperlines::decode(text);
    if (!line || line->kind == sweeperlines::Kind::Copying) continue;
    if (line->kind == sweeperlines::Kind::Fatal) {
      out.failed.push_back({"sweeper --restore", line->detail});
      continue;
    }
    auto step = std::find_if(steps.begin(), steps.end(), [&](std::size_t i) {
      return !said[i] && record.steps[i].trashItem == line->path;
    });
    if (step == steps.end()) continue;  // about nothing it was asked
    RecordStep& item = record.steps[*step];
    said[*step] = true;
    if (line->kind == sweeperlines::Kind::Moved) {
      item.restored = true;
      out.restored.push_back(item.path);
    } else {
      out.failed.push_back({item.path, line->detail.empty() ? "not put back" : line->detail});
    }
  }
  for (std::size_t i : steps)
    if (!said[i] && record.steps[i].path.find('\n') == std::string::npos)
      out.failed.push_back({record.steps[i].path, "sweeper said nothing of it"});
  return true;
}

bool RemovalSession::restoreReceipt(RecordStep& step, const ProductClaims& named, UndoOutcome& out) {
  const std::string what = stepText(step);
  if (!named.receipts.count(step.identifier)) {
    out.failed.push_back({what, "the product's description does not name it"});
  } else if (!step.receipt) {
    out.failed.push_back({what, "it could not be read before it was forgotten"});
  } else if (receipts_.recpExists(step.identifier)) {
    out.failed.push_back({what, "there is a receipt of that name now"});
  } else {
    RunResult result = runs_.restorePkg(step.identifier, encoded(*step.receipt));
    if (result == RunResult::NotRun) {
      out.failed.push_back({"pkgutil --restore " + step.identifier, kNotRun});
      return false;
    }
    if (result == RunResult::Failed) {
      setup_.log.line(loglines::kStepFailedBefore + ("pkgutil --restore " + step.identifier) +
                      loglines::kStepFailedAfter);
      out.failed.push_back({what, "the package tool did not put it back"});
      return true;
    }
    step.restored = true;
    out.restored.push_back(what);
  }
  return true;
}

bool RemovalSession::restoreValue(const UserSpace& user, RecordStep& step, const ProductClaims& named,
                                  UndoOutcome& out) {
  const std::string what = stepText(step);
  const std::vector<std::string> names = prefs::splitKeyPath(step.keyPath);
  if (!named.values.count(step.domain + "::" + step.keyPath)) {
    out.failed.push_back({what, "the product's description does not name it"});
    return true;
  }
  if (step.scope == PrefUser::Current) {
    UserScope scope(setup_.actingFor, user.home);
    if (!scope.ok()) {
      out.failed.push_back({what, "it could not be put back as the user it belongs to"});
      return true;
    }
    switch (prefs::restorePrefKey(user.store, step.domain, names, PrefUser::Current, PrefHost::Any,
                                  step.value, step.position.value_or(SIZE_MAX))) {
      case prefs::KeyRestore::Restored:
        step.restored = true;
        out.restored.push_back(what);
        break;
      case prefs::KeyRestore::Occupied: out.failed.push_back({what, "a value is there now"}); break;
      case prefs::KeyRestore::NotReached:
        out.failed.push_back({what, "its key path cannot be reached"});
        break;
      case prefs::KeyRestore::WriteFailed:
        out.failed.push_back({what, "it could not be written back"});
        break;
    }
    return true;
  }
  if (prefs::prefValueAt(setup_.store, step.domain, names, PrefUser::Any, PrefHost::Current)) {
    out.failed.push_back({what, "a value is there now"});
    return true;
  }
  PlistDict value;
  value.set("Value", step.value);
  if (step.position) value.set("Position", PlistInteger::fromUnsigned(*step.position));
  RunResult result = runs_.restoreAnyUserPrefKey(step.domain, names, encoded(value));
  if (result == RunResult::NotRun) {
    out.failed.push_back({"keyscrub --restore for " + step.domain + "::" + step.keyPath, kNotRun});
    return false;
  }
  if (result == RunResult::Failed) {
    setup_.log.line(loglines::kStepFailedBefore + ("keyscrub --restore for " + step.domain + "::" +
                                                   step.keyPath) + loglines::kStepFailedAfter);
    out.failed.push_back({what, "keyscrub did not put it back"});
    return true;
  }
  step.restored = true;
  out.restored.push_back(what);
  return true;
}

}  // namespace tavo
