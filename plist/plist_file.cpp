#include "plist/plist_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "plist/plist_binary.h"
#include "plist/plist_xml.h"

namespace tavo {
namespace {

// A preferences file larger than this is not read; it is left untouched.
constexpr std::size_t kMaxFileBytes = 64u << 20;

PlistFile unreadable(std::string problem, PlistFormat format = PlistFormat::Binary) {
  PlistFile file;
  file.state = PlistFile::State::Unreadable;
  file.format = format;
  file.problem = std::move(problem);
  return file;
}

// Reads at most `limit` + 1 bytes, so that a file that grows while read is
// still caught by the size check.
bool readAtMost(int fd, std::size_t limit, std::string& bytes) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > limit) return true;
  }
}

}  // namespace

PlistFile parsePlist(const std::string& bytes) {
  PlistFile file;
  file.state = PlistFile::State::Ok;
  if (bytes.empty()) return file;
  if (bytes.size() > kMaxFileBytes) return unreadable("larger than 64 MB");
  const PlistFormat format = plist::looksBinary(bytes) ? PlistFormat::Binary : PlistFormat::Xml;
  PlistValue top;
  std::string problem;
  bool ok = format == PlistFormat::Binary ? plist::parseBinary(bytes, top, problem)
                                          : plist::parseXml(bytes, top, problem);
  if (!ok) return unreadable(problem, format);
  if (!top.dict()) return unreadable("the top level is not a dictionary", format);
  file.format = format;
  file.dict = std::move(*top.dict());
  return file;
}

PlistFile readPlistFile(const std::string& path) {
  // Non-blocking, so that a FIFO put in place of the file cannot hang us.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return PlistFile();
    return unreadable(std::string("cannot be opened: ") + std::strerror(errno));
  }
  struct stat st {};
  std::string bytes;
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  bool small = regular && static_cast<std::uint64_t>(st.st_size) <= kMaxFileBytes;
  bool read = small && readAtMost(fd, kMaxFileBytes, bytes);
  int error = errno;
  ::close(fd);
  if (!regular) return unreadable("not a regular file");
  if (!small) return unreadable("larger than 64 MB");
  if (!read) return unreadable(std::string("cannot be read: ") + std::strerror(error));
  return parsePlist(bytes);
}

bool serializePlist(const PlistDict& dict, PlistFormat format, std::string& bytes,
                    std::string* problem) {
  const PlistValue top{PlistDict(dict)};
  std::string why;
  bool ok = format == PlistFormat::Binary ? plist::serializeBinary(top, bytes, why)
                                          : plist::serializeXml(top, bytes, why);
  if (!ok && problem) *problem = why;
  return ok;
}

bool writePlistFile(const std::string& path, const PlistDict& dict, PlistFormat format,
                    std::string* problem) {
  std::string bytes;
  if (!serializePlist(dict, format, bytes, problem)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (out.flush()) return true;
  if (problem) *problem = "cannot write " + path;
  return false;
}

}  // namespace tavo
