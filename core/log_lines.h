#pragma once
// The texts of the system log's lines that the scan, the removal and the
// application write, in one place. People read these lines and scripts
// search for them (log watchers, support notes, the tests), so each text
// stays exactly as it stands here: change one only on purpose.

#include <optional>
#include <string>

namespace tavo::loglines {

// The application shell, once launching has finished.
inline constexpr const char* kTest = "Test ";

// The controller's creation.
inline constexpr const char* kConfigPath = "ConfigPath: ";
inline constexpr const char* kOsNumber = "OS X : ";
inline constexpr const char* kOsName = "OS name : ";
inline constexpr const char* kOsVersion = "OS version : ";
inline constexpr const char* kOs105 = "10.5 !";
inline constexpr const char* kOs106 = "10.6 !";

// The scan, once the description files are read.
inline constexpr const char* kProductsFound = "Products found: ";

// The description-file parser.
inline constexpr const char* kNoOpeningSeparator = "manque la liste de trucs à effacer";
inline constexpr const char* kNoClosingSeparator = "No closing \"-\" at the end of ";
inline constexpr const char* kUnreadableDescription = "Cannot read the description file ";
inline constexpr const char* kPrefFound = "Y Pref: ";
inline constexpr const char* kPrefFoundKey = ", Key: ";
inline constexpr const char* kPrefFoundValue = ", Value: ";
inline constexpr const char* kBaseDirFromBankPath = "base_dir from bank_path: ";
inline constexpr const char* kSampleDir = "sample_dir: ";
inline constexpr const char* kAddSampleDir = "Add sample_dir";

// The folder lister.
inline constexpr const char* kOpenIteratorError = "FSOpenIterator error : ";
inline constexpr const char* kNameNotUtf8 = "D2 CFStringGetCString failed!!";

// The receipt test.
inline constexpr const char* kReceiptToolNotStarted = "Receipt test: ";

// The sweeper run: its launch failing and each second of its wait, when the
// right was already held and when it was newly granted; then each line
// sweeper reports, as received.
inline constexpr const char* kRmAdminErrorHeld = "rmAdmin: error ";
inline constexpr const char* kRmAdminErrorGranted = "rmAdmin:error ";
inline constexpr const char* kRmAdminTellHeld = "rmAdmin: Tell ";
inline constexpr const char* kRmAdminTellGranted = "rmAdmin:Tell ";
inline constexpr const char* kFromSweeper = "From sweeper: ";

// The removal: an entry the safety table keeps, a step whose program
// reported a failure ("Removal: WHAT reported a failure"), and a trace that
// was gone before the removal reached it, which counts as removed: a path, a
// receipt ("receipt ID") or a preference value ("ENTRY for the current user",
// "ENTRY for all users").
inline constexpr const char* kNotRemoving = "Not removing ";
inline constexpr const char* kStepFailedBefore = "Removal: ";
inline constexpr const char* kStepFailedAfter = " reported a failure";
inline constexpr const char* kAlreadyGone = "Already gone: ";
inline constexpr const char* kNotAPreferenceValue = "Not a preference value: ";
inline constexpr const char* kListFile = "List file: ";
// Root acting for a user could not take that user's file-system ids: nothing
// of that home is scanned or changed ("Cannot act as the user of HOME").
inline constexpr const char* kCannotActFor = "Cannot act as the user of ";

// The record of a removal, in the user's data folder: one that cannot be
// written (the removal then stops before anything changes), a record file
// or one of its steps (by its number) that cannot be read and is passed over.
inline constexpr const char* kRecordNotWritten = "Removal record: ";
inline constexpr const char* kRecordPassedOver = "Removal record passed over: ";
inline constexpr const char* kRecordStepPassedOver = "Removal record step passed over: ";

/// The value, or "(null)" for a missing string, as the platform logs it.
inline std::string text(const std::optional<std::string>& value) {
  return value ? *value : std::string("(null)");
}

}  // namespace tavo::loglines
