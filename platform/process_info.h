#pragma once
// What the controller logs about the system at start-up.

#include <string>

namespace tavo {

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  /// The operating system's number in the platform's list of systems.
  virtual int operatingSystem() const = 0;
  /// The system's name ("Linux" here).
  virtual std::string operatingSystemName() const = 0;
  /// A human-readable version text; never fails, at worst it is empty.
  virtual std::string operatingSystemVersionString() const = 0;
};

/// The running system, read from uname(2) and /etc/os-release.
class SystemProcessInfo final : public ProcessInfo {
 public:
  /// The platform's list of systems has no entry for Linux; this number lies
  /// outside its range so that it is never mistaken for one of them.
  static constexpr int kLinuxOperatingSystem = 100;

  int operatingSystem() const override { return kLinuxOperatingSystem; }
  std::string operatingSystemName() const override;
  std::string operatingSystemVersionString() const override;
};

}  // namespace tavo
