#pragma once
// How much a removal frees: the items below the entries it moves and the
// room they take on disk.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tavo {

struct DiskUsage {
  std::uint64_t items = 0;  // files, folders and links, each counted once
  std::uint64_t bytes = 0;  // the blocks they take on disk
};

/// The items at and below `roots`, walked without following links, each
/// folder and each hard-linked file counted once however often it is
/// reached. Missing or unreadable parts count as far as they can be read.
/// Stops early, with what it has, once `cancelled` is set.
DiskUsage diskUsage(const std::vector<std::string>& roots, const std::atomic<bool>& cancelled);

/// "1,204 items, 3.2 GB": a thousands separator, and sizes in the
/// powers of 1000 that the desktop's file manager shows.
std::string usageText(const DiskUsage& usage);

}  // namespace tavo
