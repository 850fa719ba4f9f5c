#include "frame_watch.h"

#include <algorithm>
#include <cmath>

#include "capture/capture_time_stamp.h"
#include "plat/gdi.h"

namespace videoconf_app {
namespace {

// Light or dark, by the green-weighted sum of the colour bytes.
bool IsLight(std::uint32_t pixel) {
  const unsigned r = (pixel >> 16) & 0xFFu;
  const unsigned g = (pixel >> 8) & 0xFFu;
  const unsigned b = pixel & 0xFFu;
  return (r * 77 + g * 150 + b * 29) >> 8 >= 128;
}

}  // namespace

bool FrameWatch::Look(std::int64_t now_ms) {
  if (!plat::ReadWindowPixels(window_, &pixels_, &width_, &height_) || width_ <= 0 ||
      height_ <= 0) {
    return false;
  }
  const std::optional<std::uint32_t> stamp = ReadStamp();
  const std::uint64_t hash = stamp ? (std::uint64_t{1} << 63) | *stamp : SampleHash();
  if (hash == last_hash_ || hash == 0) {
    return false;
  }
  last_hash_ = hash;
  ++frames_;
  if (stamp) {
    const auto delay = static_cast<std::int32_t>(static_cast<std::uint32_t>(now_ms) - *stamp);
    // A stamp from a clock far off (another machine) tells nothing.
    if (delay >= 0 && delay < 10000) {
      latencies_ms_.push_back(delay);
    }
  }
  return true;
}

std::optional<std::uint32_t> FrameWatch::ReadStamp() const {
  std::uint64_t bits = 0;
  for (int i = 0; i < capture_stamp::kBits; ++i) {
    const capture_stamp::Block block = capture_stamp::BlockOf(i, width_, height_);
    // The middle of the block: scaling and the codec blur only its edges.
    const int x = block.x + block.width / 2;
    const int y = block.y + block.height / 2;
    if (IsLight(pixels_[static_cast<std::size_t>(y) * width_ + x])) {
      bits |= std::uint64_t{1} << i;
    }
  }
  std::uint32_t ms = 0;
  if (!capture_stamp::ReadStampBits(bits, &ms)) {
    return std::nullopt;
  }
  return ms;
}

std::uint64_t FrameWatch::SampleHash() const {
  std::uint64_t hash = 1469598103934665603ull;
  bool any = false;
  for (std::size_t i = 0; i < pixels_.size(); i += 61) {
    any = any || pixels_[i] != 0;
    hash = (hash ^ pixels_[i]) * 1099511628211ull;
  }
  return any ? hash & ~(std::uint64_t{1} << 63) : 0;
}

double Percentile(std::vector<double> values, double percent) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(percent / 100.0 * values.size()));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace videoconf_app
