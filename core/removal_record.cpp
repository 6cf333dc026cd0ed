#include "core/removal_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "base/as_user.h"
#include "base/io.h"
#include "base/path.h"
#include "base/unique_fd.h"
#include "core/log_lines.h"
#include "plist/plist_file.h"

namespace tavo {
namespace {

constexpr std::size_t kMaxRecordBytes = 64u << 20;
constexpr const char* kSuffix = ".plist";
constexpr double kUnixAt2001 = 978307200;  // seconds from 1970-01-01 to 2001-01-01 UTC

const char* kindName(RecordStep::Kind kind) {
  switch (kind) {
    case RecordStep::Kind::Moved: return "moved";
    case RecordStep::Kind::Forgot: return "forgot";
    case RecordStep::Kind::Deleted: return "deleted";
  }
  return "";
}

PlistValue encodeStep(const RecordStep& step) {
  PlistDict out;
  out.set("Kind", kindName(step.kind));
  switch (step.kind) {
    case RecordStep::Kind::Moved:
      out.set("Path", step.path);
      out.set("TrashItem", step.trashItem);
      out.set("Info", step.infoName);
      break;
    case RecordStep::Kind::Forgot:
      out.set("Identifier", step.identifier);
      if (step.receipt) out.set("Receipt", *step.receipt);
      break;
    case RecordStep::Kind::Deleted:
      out.set("Domain", step.domain);
      out.set("KeyPath", step.keyPath);
      out.set("Scope", step.scope == PrefUser::Any ? "all users" : "user");
      out.set("Value", step.value);
      if (step.position) out.set("Position", PlistInteger::fromUnsigned(*step.position));
      break;
  }
  if (step.restored) out.set("Restored", true);
  return out;
}

PlistDict encode(const RemovalRecord& record) {
  PlistDict out;
  out.set("Product", record.product);
  out.set("Vendor", record.vendor);
  out.set("Time", PlistDate{record.time});
  if (record.undone) out.set("Undone", PlistDate{*record.undone});
  PlistArray steps;
  for (const RecordStep& step : record.steps) steps.push_back(encodeStep(step));
  out.set("Steps", std::move(steps));
  return out;
}

// The member `key` of `dict` when it is a string, else nullptr.
const std::string* text(const PlistDict& dict, const char* key) {
  const PlistValue* value = dict.find(key);
  return value ? value->string() : nullptr;
}

std::optional<RecordStep> decodeStep(const PlistValue& value) {
  const PlistDict* dict = value.dict();
  const std::string* kind = dict ? text(*dict, "Kind") : nullptr;
  if (!kind) return std::nullopt;
  RecordStep step;
  const PlistValue* restored = dict->find("Restored");
  step.restored = restored && restored->boolean() && *restored->boolean();
  if (*kind == "moved") {
    const std::string *path = text(*dict, "Path"), *item = text(*dict, "TrashItem"), *info = text(*dict, "Info");
    if (!path || !item || !info) return std::nullopt;
    step.path = *path;
    step.trashItem = *item;
    step.infoName = *info;
    return step;
  }
  if (*kind == "forgot") {
    const std::string* id = text(*dict, "Identifier");
    const PlistValue* receipt = dict->find("Receipt");
    if (!id || (receipt && !receipt->dict())) return std::nullopt;
    step.kind = RecordStep::Kind::Forgot;
    step.identifier = *id;
    if (receipt) step.receipt = *receipt->dict();
    return step;
  }
  const std::string *domain = text(*dict, "Domain"), *keyPath = text(*dict, "KeyPath"),
                    *scope = text(*dict, "Scope");
  const PlistValue *removed = dict->find("Value"), *position = dict->find("Position");
  if (*kind != "deleted" || !domain || !keyPath || !scope || !removed ||
      (*scope != "user" && *scope != "all users") || (position && !position->integer())) {
    return std::nullopt;
  }
  if (position) step.position = position->integer()->asUint64();
  step.kind = RecordStep::Kind::Deleted;
  step.domain = *domain;
  step.keyPath = *keyPath;
  step.scope = *scope == "user" ? PrefUser::Current : PrefUser::Any;
  step.value = *removed;
  return step;
}

std::optional<RemovalRecord> decode(const PlistDict& dict, const std::string& id, SystemLog& log) {
  const std::string *product = text(dict, "Product"), *vendor = text(dict, "Vendor");
  const PlistValue *time = dict.find("Time"), *undone = dict.find("Undone"), *steps = dict.find("Steps");
  if (!product || !time || !time->date() || !std::isfinite(time->date()->secondsSince2001) ||
      (undone && !undone->date()) || !steps || !steps->array()) {
    return std::nullopt;
  }
  RemovalRecord record{id, *product, vendor ? *vendor : "", time->date()->secondsSince2001, std::nullopt, {}};
  if (undone) record.undone = undone->date()->secondsSince2001;
  for (std::size_t i = 0; i < steps->array()->size(); ++i) {
    if (std::optional<RecordStep> step = decodeStep((*steps->array())[i])) {
      record.steps.push_back(std::move(*step));
    } else {
      log.line(loglines::kRecordStepPassedOver + id + ": " + std::to_string(i + 1));
    }
  }
  return record;
}

bool failed(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

// As the user the records are kept for, for the scope.
class AsOwner {
 public:
  explicit AsOwner(const RecordFolder& folder) {
    if (folder.owner && folder.owner->uid != ::geteuid()) as_.emplace(*folder.owner);
  }
  bool ok() const { return !as_ || as_->ok(); }

 private:
  std::optional<AsUser> as_;
};

UniqueFd openRecords(const RecordFolder& folder, bool create, std::string& error) {
  if (create) {
    std::string reached;
    for (const std::string& part : splitPath(folder.path)) {
      reached = joinPath(reached.empty() ? "/" : reached, part);
      ::mkdir(reached.c_str(), 0700);
    }
  }
  UniqueFd fd(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) failed(error, "cannot open " + folder.path);
  return fd;
}

std::string idFor(double time) {
  std::time_t unix = static_cast<std::time_t>(time + kUnixAt2001);
  std::tm local{};
  char text[32];
  if (!::localtime_r(&unix, &local) || std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local) == 0) {
    return "removal";
  }
  return text;
}

// Takes a free name for a new record by creating its file.
bool reserveId(int folderFd, const RecordFolder& folder, RemovalRecord& record, std::string& error) {
  const std::string base = idFor(record.time);
  for (int n = 1; n < 1000; ++n) {
    const std::string id = n == 1 ? base : base + "-" + std::to_string(n);
    UniqueFd fd(::openat(folderFd, (id + kSuffix).c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.valid()) {
      record.id = id;
      return true;
    }
    if (errno != EEXIST) return failed(error, "cannot create a record in " + folder.path);
  }
  error = "no free name left for a record in " + folder.path;
  return false;
}

std::optional<RemovalRecord> readRecord(int folderFd, const std::string& name, SystemLog& log) {
  const std::string id = name.substr(0, name.size() - std::strlen(kSuffix));
  UniqueFd fd(::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  std::string bytes;
  PlistFile file;
  if (fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
      readAll(fd.get(), bytes, kMaxRecordBytes)) {
    file = parsePlist(bytes);
  }
  std::optional<RemovalRecord> record;
  if (file.state == PlistFile::State::Ok) record = decode(file.dict, id, log);
  if (!record) log.line(loglines::kRecordPassedOver + name);
  return record;
}

}  // namespace

std::size_t RemovalRecord::count(RecordStep::Kind kind) const {
  return static_cast<std::size_t>(
      std::count_if(steps.begin(), steps.end(), [&](const RecordStep& s) { return s.kind == kind; }));
}

double recordTimeNow() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count() - kUnixAt2001;
}

std::string recordTimeText(double time) {
  std::time_t unix = static_cast<std::time_t>(std::floor(time + kUnixAt2001));
  std::tm local{};
  char text[32];
  if (!std::isfinite(time) || !::localtime_r(&unix, &local) ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    return "?";
  }
  return text;
}

bool saveRecord(const RecordFolder& folder, RemovalRecord& record, std::string& error) {
  AsOwner as(folder);
  if (!as.ok()) {
    error = "cannot act as the user the records are kept for";
    return false;
  }
  UniqueFd fd = openRecords(folder, true, error);
  if (!fd.valid() || (record.id.empty() && !reserveId(fd.get(), folder, record, error))) return false;
  std::string bytes, problem;
  if (!serializePlist(encode(record), PlistFormat::Binary, bytes, &problem)) {
    error = "cannot encode the record: " + problem;
    return false;
  }
  // Whole or not at all: written aside, then renamed over the last version.
  const std::string writing = "." + record.id + ".writing", name = record.id + kSuffix;
  ::unlinkat(fd.get(), writing.c_str(), 0);
  UniqueFd out(::openat(fd.get(), writing.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  bool written = out.valid() && writeAll(out.get(), bytes) &&
                 ::fsync(out.get()) == 0 && out.close() &&
                 ::renameat(fd.get(), writing.c_str(), fd.get(), name.c_str()) == 0;
  if (!written) {
    failed(error, "cannot write " + joinPath(folder.path, name));
    ::unlinkat(fd.get(), writing.c_str(), 0);
  }
  return written;
}

void removeRecord(const RecordFolder& folder, const std::string& id) {
  AsOwner as(folder);
  std::string error;
  UniqueFd fd = as.ok() ? openRecords(folder, false, error) : UniqueFd();
  if (fd.valid() && !id.empty()) ::unlinkat(fd.get(), (id + kSuffix).c_str(), 0);
}

std::vector<RemovalRecord> listRecords(const RecordFolder& folder, SystemLog& log) {
  std::vector<RemovalRecord> records;
  AsOwner as(folder);
  std::string error;
  UniqueFd fd = as.ok() ? openRecords(folder, false, error) : UniqueFd();
  const int listed = fd.valid() ? ::dup(fd.get()) : -1;
  DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (!dir) {
    if (listed >= 0) ::close(listed);
    return records;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name[0] != '.' && name.size() > std::strlen(kSuffix) && name.ends_with(kSuffix)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());  // so that the log says the same on every run
  for (const std::string& name : names) {
    if (std::optional<RemovalRecord> record = readRecord(fd.get(), name, log)) records.push_back(std::move(*record));
  }
  std::sort(records.begin(), records.end(), [](const RemovalRecord& a, const RemovalRecord& b) {
    return a.time != b.time ? a.time > b.time : a.id > b.id;
  });
  return records;
}

}  // namespace tavo
