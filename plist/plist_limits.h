#pragma once
// Bounds shared by the property-list readers and writers, so that no file,
// however made, can exhaust the stack or the memory of a process that reads
// it (keyscrub reads as root).

#include <cstddef>

namespace tavo::plist {

/// Containers nested deeper than this make a file unreadable and a value
/// unwritable; the codec recurses once per level.
constexpr int kMaxDepth = 512;

/// What one binary file may expand to once read. A binary file can name one object
/// from many places, so its values can outgrow the file without bound (a
/// chain of arrays each naming the next twice doubles at every level). A file
/// laid out by the platform's writer shares only scalars, so it expands to
/// one value per object reference: fewer values than it has bytes. Shared
/// text and data get a generous allowance of their own.
class ReadBudget {
 public:
  explicit ReadBudget(std::size_t fileBytes)
      : values_(allowance(fileBytes, 2, 1024, kMaxValues)),
        payload_(allowance(fileBytes, 64, std::size_t{16} << 20, kMaxPayload)) {}

  /// Charges one value holding `payloadBytes` of text or data; false once
  /// either allowance is spent.
  bool charge(std::size_t payloadBytes) {
    if (values_ == 0 || payloadBytes > payload_) return false;
    --values_;
    payload_ -= payloadBytes;
    return true;
  }

 private:
  static constexpr std::size_t kMaxValues = std::size_t{8} << 20;
  static constexpr std::size_t kMaxPayload = std::size_t{256} << 20;

  // `perByte` for each byte of the file plus `base`, at most `cap`.
  static constexpr std::size_t allowance(std::size_t fileBytes, std::size_t perByte, std::size_t base,
                                         std::size_t cap) {
    return fileBytes < (cap - base) / perByte ? fileBytes * perByte + base : cap;
  }

  std::size_t values_;
  std::size_t payload_;
};

}  // namespace tavo::plist
