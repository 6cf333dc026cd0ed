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

ReceiptCheck::ScanListing::ScanListing(ReceiptCheck& check) : check_(check) {
  check_.listing_ = Listing::NotAsked;
  check_.listed_.clear();
}

ReceiptCheck::ScanListing::~ScanListing() {
  check_.listing_ = Listing::None;
  check_.listed_.clear();
}

bool ReceiptCheck::recpExists(const std::string& identifier) {
  if (listing_ == Listing::NotAsked) list();
  if (listing_ == Listing::Listed) return listed_.count(identifier) != 0;
  if (listing_ == Listing::NoAnswer) return false;
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

// The tool's streams go nowhere: its output must never mix with ours
// (tavo-scan prints a JSON document there), and it must not wait for input.
std::optional<int> ReceiptCheck::filesStatus(const std::string& identifier) {
  if (packageTool_.empty() || identifier.find('\0') != std::string::npos || cancelled_)
    return std::nullopt;
  std::string error;
  Child tool = Child::start({.argv = {packageTool_, "--files", identifier}}, &error);
  if (!tool.started()) {
    log_.line(loglines::kReceiptToolNotStarted + error);
    return std::nullopt;
  }
  return tool.waitUnless(cancelled_);
}

// The listing goes to a memory file, which never fills up as a pipe would
// while the tool is awaited.
void ReceiptCheck::list() {
  listing_ = Listing::NoAnswer;
  if (packageTool_.empty() || cancelled_) return;
  UniqueFd out(::memfd_create("pkgutil --pkgs", MFD_CLOEXEC));
  if (!out.valid()) {
    listing_ = Listing::PerIdentifier;
    return;
  }
  std::string error;
  Child tool = Child::start({.argv = {packageTool_, "--pkgs"}, .out = out.get()}, &error);
  if (!tool.started()) {
    log_.line(loglines::kReceiptToolNotStarted + error);
    return;
  }
  std::optional<int> status = tool.waitUnless(cancelled_);
  if (!status) return;  // cancelled: the scan stops
  std::string text;
  if (*status != 0 || ::lseek(out.get(), 0, SEEK_SET) != 0 || !readAll(out.get(), text)) {
    listing_ = Listing::PerIdentifier;
    return;
  }
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) listed_.emplace(text, start, end - start);
    start = end + 1;
  }
  listing_ = Listing::Listed;
}

}  // namespace tavo
