// The codec library's encode and decode per frame, beside libavcodec and
// libswscale driven directly with the same settings (the codec's old path);
// and each picture conversion alone, by libswscale (what the codec used) and
// by libyuv (what it uses now).
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "external/ivcodec.h"
#include "moving_picture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The module's two streams, and a VGA camera at its full size.
struct Setting {
  int width, height, rate;
  std::uint32_t bitrate;
};
constexpr Setting kSettings[] = {
    {176, 144, 20, 49000}, {352, 288, 15, 100000}, {640, 480, 15, 400000}};
void Sizes(benchmark::internal::Benchmark* b) {
  b->DenseRange(0, 2);
}
// The setting of a run, named by its picture size.
const Setting& Use(benchmark::State& state) {
  const Setting& s = kSettings[state.range(0)];
  state.SetLabel(std::to_string(s.width) + "x" + std::to_string(s.height));
  return s;
}

// One key-frame interval of the moving picture: a loop over it stays a valid
// stream.
std::vector<Bytes> Pictures(const Setting& s) {
  std::vector<Bytes> pictures;
  for (int t = 0; t < 2 * s.rate; ++t)
    pictures.push_back(vcodec_test::MovingPicture(s.width, s.height, t));
  return pictures;
}

std::unique_ptr<IVCodec> Opened(const Setting& s) {
  std::unique_ptr<IVCodec> codec(IVCodec_Creater());
  codec->open(s.width, s.height, static_cast<float>(s.rate), s.bitrate, 32);
  return codec;
}

std::vector<Bytes> Stream(const Setting& s) {
  auto codec = Opened(s);
  std::vector<Bytes> packets;
  for (const Bytes& picture : Pictures(s)) {
    Bytes out(picture.size());
    std::uint32_t length = 0;
    std::uint8_t key = 0;
    codec->encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                  &key);
    out.resize(length);
    packets.push_back(out);
  }
  return packets;
}

void Check(int error) {
  if (error < 0)
    throw std::runtime_error("libav failure");
}

// libavcodec and libswscale as their documentation shows them, with the
// settings the codec library uses.
struct DirectEncoder {
  explicit DirectEncoder(const Setting& s) : s(s) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    ctx = avcodec_alloc_context3(codec);
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->framerate = {s.rate, 1};
    ctx->time_base = {1, s.rate};
    ctx->gop_size = 2 * s.rate;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    ctx->bit_rate = s.bitrate;
    ctx->rc_max_rate = s.bitrate;
    ctx->rc_buffer_size = static_cast<int>(s.bitrate);
    ctx->rc_initial_buffer_occupancy = ctx->rc_buffer_size * 3 / 4;
    Check(avcodec_open2(ctx, codec, nullptr));
    frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = s.width;
    frame->height = s.height;
    Check(av_frame_get_buffer(frame, 0));
    pkt = av_packet_alloc();
    sws = sws_getContext(s.width, s.height, AV_PIX_FMT_BGRA, s.width, s.height, AV_PIX_FMT_YUV420P,
                         SWS_BILINEAR, nullptr, nullptr, nullptr);
  }
  ~DirectEncoder() {
    sws_freeContext(sws);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
  }
  std::uint32_t Encode(const Bytes& picture, std::uint8_t* out) {
    Check(av_frame_make_writable(frame));
    const int stride = s.width * 4;
    const std::uint8_t* top = picture.data() + (s.height - 1) * stride;
    const int negative = -stride;
    sws_scale(sws, &top, &negative, 0, s.height, frame->data, frame->linesize);
    frame->pts = pts++;
    Check(avcodec_send_frame(ctx, frame));
    Check(avcodec_receive_packet(ctx, pkt));
    const auto length = static_cast<std::uint32_t>(pkt->size);
    std::memcpy(out, pkt->data, length);
    av_packet_unref(pkt);
    return length;
  }
  Setting s;
  AVCodecContext* ctx;
  AVFrame* frame;
  AVPacket* pkt;
  SwsContext* sws;
  std::int64_t pts = 0;
};

struct DirectDecoder {
  explicit DirectDecoder(const Setting& s) : s(s) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    Check(avcodec_open2(ctx, codec, nullptr));
    frame = av_frame_alloc();
    pkt = av_packet_alloc();
    sws = sws_getContext(s.width, s.height, AV_PIX_FMT_YUV420P, s.width, s.height, AV_PIX_FMT_BGRA,
                         SWS_BILINEAR, nullptr, nullptr, nullptr);
    input.resize(65536 + AV_INPUT_BUFFER_PADDING_SIZE);
  }
  ~DirectDecoder() {
    sws_freeContext(sws);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
  }
  bool Decode(const Bytes& packet, std::uint8_t* picture) {
    std::memcpy(input.data(), packet.data(), packet.size());
    pkt->data = input.data();
    pkt->size = static_cast<int>(packet.size());
    Check(avcodec_send_packet(ctx, pkt));
    if (avcodec_receive_frame(ctx, frame) < 0)
      return false;
    const int stride = s.width * 4;
    std::uint8_t* top = picture + (s.height - 1) * stride;
    const int negative = -stride;
    sws_scale(sws, frame->data, frame->linesize, 0, s.height, &top, &negative);
    av_frame_unref(frame);
    return true;
  }
  Setting s;
  AVCodecContext* ctx;
  AVFrame* frame;
  AVPacket* pkt;
  SwsContext* sws;
  Bytes input;
};

void BM_Encode_Ours(benchmark::State& state) {
  const Setting& s = Use(state);
  const auto pictures = Pictures(s);
  auto codec = Opened(s);
  Bytes out(pictures[0].size());
  std::size_t i = 0;
  for (auto _ : state) {
    std::uint32_t length = 0;
    std::uint8_t key = 0;
    const Bytes& picture = pictures[i++ % pictures.size()];
    codec->encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                  &key);
    benchmark::DoNotOptimize(length);
  }
}

void BM_Encode_Direct(benchmark::State& state) {
  const Setting& s = Use(state);
  const auto pictures = Pictures(s);
  DirectEncoder encoder(s);
  Bytes out(pictures[0].size());
  std::size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(encoder.Encode(pictures[i++ % pictures.size()], out.data()));
}

void BM_Decode_Ours(benchmark::State& state) {
  const Setting& s = Use(state);
  const auto packets = Stream(s);
  auto codec = Opened(s);
  Bytes picture(static_cast<std::size_t>(s.width) * s.height * 4);
  std::size_t i = 0;
  for (auto _ : state) {
    const Bytes& p = packets[i++ % packets.size()];
    std::uint32_t length = 0;
    benchmark::DoNotOptimize(
        codec->decode(p.data(), static_cast<std::uint32_t>(p.size()), picture.data(), &length));
  }
}

void BM_Decode_Direct(benchmark::State& state) {
  const Setting& s = Use(state);
  const auto packets = Stream(s);
  DirectDecoder decoder(s);
  Bytes picture(static_cast<std::size_t>(s.width) * s.height * 4);
  std::size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(decoder.Decode(packets[i++ % packets.size()], picture.data()));
}

// The conversion inside every encode: bottom-up BGRA to I420.
void BM_BgraToI420_Swscale(benchmark::State& state) {
  const Setting& s = Use(state);
  const Bytes picture = vcodec_test::MovingPicture(s.width, s.height, 3);
  SwsContext* sws = sws_getContext(s.width, s.height, AV_PIX_FMT_BGRA, s.width, s.height,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  std::uint8_t* planes[4];
  int linesizes[4];
  Check(av_image_alloc(planes, linesizes, s.width, s.height, AV_PIX_FMT_YUV420P, 64));
  const int stride = s.width * 4;
  const std::uint8_t* top = picture.data() + (s.height - 1) * stride;
  const int negative = -stride;
  for (auto _ : state)
    benchmark::DoNotOptimize(sws_scale(sws, &top, &negative, 0, s.height, planes, linesizes));
  av_freep(&planes[0]);
  sws_freeContext(sws);
}

void BM_BgraToI420_Libyuv(benchmark::State& state) {
  const Setting& s = Use(state);
  const Bytes picture = vcodec_test::MovingPicture(s.width, s.height, 3);
  std::uint8_t* planes[4];
  int linesizes[4];
  Check(av_image_alloc(planes, linesizes, s.width, s.height, AV_PIX_FMT_YUV420P, 64));
  for (auto _ : state) {
    // A negative height reads the rows bottom-up.
    benchmark::DoNotOptimize(libyuv::ARGBToI420(picture.data(), s.width * 4, planes[0],
                                                linesizes[0], planes[1], linesizes[1], planes[2],
                                                linesizes[2], s.width, -s.height));
  }
  av_freep(&planes[0]);
}

// The conversion inside every decode: I420 to bottom-up BGRA.
void BM_I420ToBgra_Swscale(benchmark::State& state) {
  const Setting& s = Use(state);
  Bytes picture(static_cast<std::size_t>(s.width) * s.height * 4);
  SwsContext* sws = sws_getContext(s.width, s.height, AV_PIX_FMT_YUV420P, s.width, s.height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  std::uint8_t* planes[4];
  int linesizes[4];
  Check(av_image_alloc(planes, linesizes, s.width, s.height, AV_PIX_FMT_YUV420P, 64));
  std::memset(planes[0], 128, static_cast<std::size_t>(linesizes[0]) * s.height * 3 / 2);
  const int stride = s.width * 4;
  std::uint8_t* top = picture.data() + (s.height - 1) * stride;
  const int negative = -stride;
  for (auto _ : state)
    benchmark::DoNotOptimize(sws_scale(sws, planes, linesizes, 0, s.height, &top, &negative));
  av_freep(&planes[0]);
  sws_freeContext(sws);
}

void BM_I420ToBgra_Libyuv(benchmark::State& state) {
  const Setting& s = Use(state);
  Bytes picture(static_cast<std::size_t>(s.width) * s.height * 4);
  std::uint8_t* planes[4];
  int linesizes[4];
  Check(av_image_alloc(planes, linesizes, s.width, s.height, AV_PIX_FMT_YUV420P, 64));
  std::memset(planes[0], 128, static_cast<std::size_t>(linesizes[0]) * s.height * 3 / 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(libyuv::I420ToARGB(planes[0], linesizes[0], planes[1], linesizes[1],
                                                planes[2], linesizes[2], picture.data(),
                                                s.width * 4, s.width, -s.height));
  }
  av_freep(&planes[0]);
}

BENCHMARK(BM_Encode_Ours)->Apply(Sizes);
BENCHMARK(BM_Encode_Direct)->Apply(Sizes);
BENCHMARK(BM_Decode_Ours)->Apply(Sizes);
BENCHMARK(BM_Decode_Direct)->Apply(Sizes);
BENCHMARK(BM_BgraToI420_Swscale)->Apply(Sizes);
BENCHMARK(BM_BgraToI420_Libyuv)->Apply(Sizes);
BENCHMARK(BM_I420ToBgra_Swscale)->Apply(Sizes);
BENCHMARK(BM_I420ToBgra_Libyuv)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
