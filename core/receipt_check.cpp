#include "core/receipt_check.h"

#include <sys/mman.h>
#include <unistd.h>

#include "base/child.h"
#include "base/io.h"
#include "base/unique_fd.h"
#include "core/log_lines.h"
#include "plist/plist_file.h"

namespace tavo {

ReceiptCheck::ReceiptCheck(std::string packageTool, SystemLog& log,
                         const std::atomic<bool>& cancelled)
    : packageTool_(std::move(packageTool)), log_(log), cancelled_(cancelled) {}

bool ReceiptCheck::recpExists(const std::string& identifier) {
  std::optional<int> status = filesStatus(identifier);
  return status && *status == 0;
}

bool ReceiptCheck::receiptGone(const std::string& identifier) {
  std::optional<int> status = filesStatus(identifier);
  return status && *status == 1;  // the tool's answer for a receipt it does not hold
}

std::optional<PlistDict> ReceiptCheck::exportReceipt(const std::string& identifier) {
  if (packageTool_.empty() || identifier.find('\0') != std::string::npos) return std::nullopt;
  // Into a memory file, which cannot fill up while the tool writes.
  UniqueFd out(::memfd_create("receipt", MFD_CLOEXEC));
  std::string error, bytes;
  Child tool = Child::start({.argv = {packageTool_, "--export", identifier}, .out = out.get()}, &error);
  if (!tool.started()) {
    log_.line(loglines::kReceiptToolNotStarted + error);
    return std::nullopt;
  }
  if (tool.wait() != 0 || ::lseek(out.get(), 0, SEEK_SET) != 0 || !readAll(out.get(), bytes, 64u << 20))
    return std::nullopt;
  PlistFile file = parsePlist(bytes);
  if (file.state != PlistFile::State::Ok) return std::nullopt;
  return std::move(file.dict);
}

std::optional<int> ReceiptCheck::filesStatus(const std::string& identifier) {
  if (packageTool_.empty() || identifier.find('\0') != std::string::npos || cancelled_)
    return std::nullopt;
  // The tool's streams go nowhere: its output must never mix with ours
  // (tavo-scan prints a JSON document there), and it must not wait for input.
  std::string error;
  Child tool = Child::start({.argv = {packageTool_, "--files", identifier}}, &error);
  if (!tool.started()) {
    log_.line(loglines::kReceiptToolNotStarted + error);
    return std::nullopt;
  }
  return tool.waitUnless(cancelled_);
}

}  // namespace tavo
