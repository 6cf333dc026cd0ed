#include "core/receipt_check.h"

#include "base/child.h"
#include "core/log_lines.h"

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
