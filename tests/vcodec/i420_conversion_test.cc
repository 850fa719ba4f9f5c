// The codec's conversions through libyuv against libswscale, which made the
// codec's pictures before: luma within 1, chroma within what the two
// libraries' chroma filters differ by, on a real picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "i420_conversion.h"
#include "moving_picture.h"

namespace {

constexpr int kW = 352, kH = 288, kStride = 4 * kW;

struct I420 {
  I420() { av_image_alloc(data, linesize, kW, kH, AV_PIX_FMT_YUV420P, 64); }
  ~I420() { av_freep(&data[0]); }
  int MaxDiff(const I420& other, int p) const {  // in plane p
    const int w = p == 0 ? kW : kW / 2, h = p == 0 ? kH : kH / 2;
    int most = 0;
    for (int i = 0; i < w * h; ++i)
      most = std::max(most, std::abs(data[p][i / w * linesize[p] + i % w] -
                                     other.data[p][i / w * other.linesize[p] + i % w]));
    return most;
  }
  std::uint8_t* data[4];
  int linesize[4];
};

// libswscale as the codec drove it: bilinear, bottom-up rows upwards from the top.
void Swscale(AVPixelFormat from, const std::uint8_t* const* src, const int* src_stride,
             AVPixelFormat to, std::uint8_t* const* dst, const int* dst_stride) {
  SwsContext* sws =
      sws_getContext(kW, kH, from, kW, kH, to, SWS_BILINEAR, nullptr, nullptr, nullptr);
  ASSERT_EQ(sws_scale(sws, src, src_stride, 0, kH, dst, dst_stride), kH);
  sws_freeContext(sws);
}

TEST(I420Conversion, GivesThePicturesLibswscaleGave) {
  const std::vector<std::uint8_t> bgra = vcodec_test::MovingPicture(kW, kH, 7);
  const std::uint8_t* top = bgra.data() + (kH - 1) * kStride;
  const int up = -kStride;
  I420 ours, theirs;
  ASSERT_TRUE(vcodec::BgraToI420(bgra.data(), kW, kH, {ours.data, ours.linesize}));
  Swscale(AV_PIX_FMT_BGRA, &top, &up, AV_PIX_FMT_YUV420P, theirs.data, theirs.linesize);
  EXPECT_LE(ours.MaxDiff(theirs, 0), 1);
  // A 2x2 box against a bilinear filter: they part only at the square's
  // hard edges (12 and 4 at most on this picture).
  EXPECT_LE(ours.MaxDiff(theirs, 1), 16) << "U";
  EXPECT_LE(ours.MaxDiff(theirs, 2), 16) << "V";

  // And back from the same planes: nearest against bilinear chroma, close
  // to each other and as close to the original (41.4 and 40.3 dB).
  std::vector<std::uint8_t> back(bgra.size()), before(bgra.size());
  ASSERT_TRUE(vcodec::I420ToBgra({theirs.data, theirs.linesize}, kW, kH, back.data()));
  std::uint8_t* before_top = before.data() + (kH - 1) * kStride;
  Swscale(AV_PIX_FMT_YUV420P, theirs.data, theirs.linesize, AV_PIX_FMT_BGRA, &before_top, &up);
  EXPECT_GE(vcodec_test::Psnr(before, back.data(), kW, kH), 42.0);
  EXPECT_GE(vcodec_test::Psnr(bgra, back.data(), kW, kH),
            vcodec_test::Psnr(bgra, before.data(), kW, kH) - 0.5);
}

}  // namespace
