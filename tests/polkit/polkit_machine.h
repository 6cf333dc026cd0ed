#pragma once
// The throwaway root made into a machine where polkit really asks: the build
// installed, so that its policy is polkit's; a system bus and polkitd; a plain
// administrator (group "sudo") with a known password; and the driver and a
// copy of the build's bundle where that user can run them. Everything lives
// and dies with the throwaway root.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/child.h"
#include "tests/support/test_user.h"

namespace tavo::testing {

/// Runs a set-up command as root; "" when it exited 0, else what it said.
inline std::string must(const std::string& program, std::vector<std::string> args) {
  ToolRun run = runTool(program, std::move(args), {kRootPath});
  if (run.status == 0) return "";
  std::string said = run.err.empty() ? run.out : run.err;
  while (!said.empty() && said.back() == '\n') said.pop_back();
  return program + " failed (status " + std::to_string(run.status) + "): " + said;
}

/// Calls `ready` every 100 ms until it is true or `seconds` have passed.
template <typename Ready>
bool waitUntil(Ready ready, int seconds = 10) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

class PolkitMachine {
 public:
  /// What the set-up needs from the build.
  struct Build {
    std::string folder;           // what `cmake --install` installs
    std::string bundle;           // the bundle as built
    std::string installedBundle;  // where the install puts it
    std::string driver;           // removal-driver
  };

  /// Where the copies for the plain user go.
  static constexpr const char* kOwnFolder = "/opt/tavo-polkit-test";

  PolkitMachine() = default;
  PolkitMachine(const PolkitMachine&) = delete;
  PolkitMachine& operator=(const PolkitMachine&) = delete;
  ~PolkitMachine() {
    polkitd_.terminate();
    bus_.terminate();
  }

  /// Sets the machine up; "" when it is ready, else why not, in one line.
  std::string start(const Build& build) {
    for (const char* tool :
         {"/usr/bin/dbus-daemon", "/usr/bin/pkexec", "/usr/bin/pkttyagent", "/usr/bin/pkaction",
          "/usr/bin/setpriv", "/usr/sbin/useradd"})
      if (::access(tool, X_OK) != 0) return std::string("no ") + tool;
    if (readFile("/proc/self/status").find("NoNewPrivs:\t1") != std::string::npos)
      return "no_new_privs is set: pkexec and polkit's password helper cannot gain root";
    if (std::string why = must("/usr/bin/cmake", {"--install", build.folder}); !why.empty())
      return why;
    std::filesystem::create_directories(kOwnFolder);
    if (std::string why = must("/bin/cp", {"-a", build.bundle, build.driver, kOwnFolder});
        !why.empty())
      return why;
    builtBundle_ =
        std::string(kOwnFolder) + "/" + std::filesystem::path(build.bundle).filename().string();
    driver_ =
        std::string(kOwnFolder) + "/" + std::filesystem::path(build.driver).filename().string();
    installedBundle_ = build.installedBundle;
    if (std::string why = addAdmin(); !why.empty()) return why;
    return startBus();
  }

  const TestUser& admin() const { return admin_; }
  /// The bundle at the install prefix, whose helpers the policy names.
  const std::string& installedBundle() const { return installedBundle_; }
  /// A copy of the build's bundle: helpers no installed action names.
  const std::string& builtBundle() const { return builtBundle_; }
  const std::string& driver() const { return driver_; }

 private:
  // crypt(3) SHA-512 of the password, so that no tool is needed to set it.
  static constexpr const char* kPasswordHash =
      "$6$tavotestsalt$"
      "Ugkfnns5T85W5jGhLVqzh0lei1lWCu2nObsciVLIVZ0sdcEo5zyUrH4Sxo1Xp6IqGwrl3RQAFVWLwulrjbbCJ1";

  std::string addAdmin() {
    auto admin = makeUser("tavo-admin", "/home/tavo-admin",
                          {"--groups", "sudo", "--password", kPasswordHash, "--shell", "/bin/sh"});
    if (!admin) return "useradd failed";
    admin_ = *admin;
    admin_.password = "correct horse";
    return "";
  }

  // The bus, then polkitd on it, started here so that its messages are kept
  // (were a request to come first, the bus would start one of its own, which
  // serves as well). pkaction knowing our actions means polkitd runs and has
  // read the installed policy.
  std::string startBus() {
    std::filesystem::create_directories("/run/dbus");
    std::string error;
    bus_ = Child::start({.argv = {"/usr/bin/dbus-daemon", "--system", "--nofork", "--nopidfile"},
                         .environment = std::vector<std::string>{kRootPath}},
                        &error);
    if (!bus_.started()) return "dbus-daemon did not start: " + error;
    if (!waitUntil([] { return exists("/run/dbus/system_bus_socket"); }))
      return "dbus-daemon made no system bus socket";
    std::string polkitd = ::access("/usr/libexec/polkitd", X_OK) == 0
                              ? "/usr/libexec/polkitd"
                              : "/usr/lib/polkit-1/polkitd";
    UniqueFd log(::open("/tmp/polkitd.log", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    polkitd_ = Child::start({.argv = {polkitd, "--no-debug"},
                             .environment = std::vector<std::string>{kRootPath},
                             .out = log.get(),
                             .err = log.get()},
                            &error);
    if (!polkitd_.started()) return "polkitd did not start: " + error;
    std::string why;
    bool known = waitUntil([&] {
      why = must("/usr/bin/pkaction", {"--action-id", "org.tavo.uninstaller.sweeper"});
      return why.empty();
    });
    if (known) return "";
    std::string said = readFile("/tmp/polkitd.log");
    std::replace(said.begin(), said.end(), '\n', ' ');
    return "polkitd did not answer or does not know the installed policy: " + why + "; " + said;
  }

  Child bus_, polkitd_;
  TestUser admin_;
  std::string installedBundle_, builtBundle_, driver_;
};

}  // namespace tavo::testing
