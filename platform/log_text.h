#pragma once
// Texts put into log lines.

#include <optional>
#include <string>

namespace tavo {

/// The value, or "(null)" for a missing string, as the platform logs it.
inline std::string logText(const std::optional<std::string>& value) {
  return value ? *value : std::string("(null)");
}

}  // namespace tavo
