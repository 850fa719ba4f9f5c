#include "frame_watch.h"

#include <algorithm>
#include <cmath>

#include "capture/capture_time_stamp.h"
#include "plat/gdi.h"
#include "plat/window.h"

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
  // Reading back costs; a window nobody painted shows what it showed.
  const std::uint64_t paints = plat::GetWindowPaintCount(window_);
  if (paints == paints_seen_) {
    return false;
  }
  paints_seen_ = paints;
  if (!ReadRows()) {
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

bool FrameWatch::ReadRows() {
  static_assert(capture_stamp::kBits == kStampRows * capture_stamp::kColumns);
  plat::RECT client;
  if (!plat::GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0) {
    return false;
  }
  width_ = client.right;
  height_ = client.bottom;
  rows_.resize(static_cast<std::size_t>(kRowsRead) * width_);
  for (int r = 0; r < kRowsRead; ++r) {
    int y = (2 * (r - kStampRows) + 1) * height_ / (2 * kSampleRows);
    if (r < kStampRows) {
      // The middle of the blocks: scaling and the codec blur only their edges.
      const capture_stamp::Block block =
          capture_stamp::BlockOf(r * capture_stamp::kColumns, width_, height_);
      y = block.y + block.height / 2;
    }
    if (!plat::ReadWindowRows(window_, y, 1, rows_.data() + static_cast<std::size_t>(r) * width_,
                              width_)) {
      return false;  // resized between the two calls: the next paint tells
    }
  }
  return true;
}

std::optional<std::uint32_t> FrameWatch::ReadStamp() const {
  std::uint64_t bits = 0;
  for (int i = 0; i < capture_stamp::kBits; ++i) {
    const capture_stamp::Block block = capture_stamp::BlockOf(i, width_, height_);
    const std::size_t row = static_cast<std::size_t>(i / capture_stamp::kColumns);
    if (IsLight(rows_[row * width_ + block.x + block.width / 2])) {
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
  for (const std::uint32_t pixel : rows_) {
    any = any || pixel != 0;
    hash = (hash ^ pixel) * 1099511628211ull;
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
