// The regions callers own. Handles are checked against this table, so that a
// stale, foreign or already given-away HRGN is refused instead of used.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "region.h"

namespace plat::internal {

class RegionTable {
 public:
  static RegionTable& Instance();

  HRGN Add(std::unique_ptr<Region> region);
  // Removes a region from the table and hands it over; null when unknown.
  std::unique_ptr<Region> Take(HRGN handle);

  // Runs `fn(find)` under the table's lock; find(handle) is the region or null.
  template <typename Fn>
  auto With(Fn&& fn) {
    std::lock_guard lock(mutex_);
    return fn([this](HRGN handle) { return FindLocked(handle); });
  }

 private:
  Region* FindLocked(HRGN handle);

  std::mutex mutex_;
  std::map<HRGN, std::unique_ptr<Region>> regions_;
};

}  // namespace plat::internal
