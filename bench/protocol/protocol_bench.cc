// Building and reading video packets, beside memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "malloc_counter.h"
#include "protocol/cmd_packer.h"
#include "protocol/video_data.h"
#include "protocol/video_header.h"
#include "protocol/video_packet_builder.h"
#include "protocol/video_packet_reader.h"

namespace {

VIDEODATA::FrameInfo Info(std::uint32_t seq) {
  VIDEODATA::FrameInfo info;
  info.seq = seq;
  info.key_frame = seq % 30 == 0 ? 1 : 0;
  info.width = 352;
  info.height = 288;
  info.frame_rate = 15;
  info.bitrate = 100000;
  info.bit_count = 32;
  info.timestamp = 1700000000000 + seq * 66;
  return info;
}

std::vector<std::uint8_t> Payload(std::size_t n) {
  std::vector<std::uint8_t> p(n);
  for (std::size_t i = 0; i < n; ++i)
    p[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return p;
}

// 1 KB, 16 KB and the largest payload a packet carries (64 KB less one byte).
void PayloadSizes(benchmark::internal::Benchmark* b) {
  for (const int n : {1024, 16384, 65535})
    b->Arg(n);
}

// About 4 MB of packets of one payload size.
std::string Stream(std::size_t payload_length) {
  const auto payload = Payload(payload_length);
  std::string stream;
  for (std::uint32_t seq = 0; stream.size() < (4u << 20); ++seq) {
    sox::PackBuffer bb;
    const auto bytes = VIDEODATA::BuildVideoPacket(bb, Info(seq), payload.data(), payload.size());
    stream.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  return stream;
}

void BM_BuildVideoPacket(benchmark::State& state) {
  const auto payload = Payload(static_cast<std::size_t>(state.range(0)));
  std::uint32_t seq = 0;
  std::size_t packet_size = 0;
  const std::uint64_t before = bench::AllocationCount();
  for (auto _ : state) {
    sox::PackBuffer bb;  // fresh for every frame, as the encode path does
    const auto packet =
        VIDEODATA::BuildVideoPacket(bb, Info(seq++), payload.data(), payload.size());
    benchmark::DoNotOptimize(packet.data());
    packet_size = packet.size();
  }
  const std::uint64_t allocations = bench::AllocationCount() - before;
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(packet_size));
  state.counters["mallocs_per_packet"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BuildVideoPacket)->Apply(PayloadSizes);

// The record-by-record way: the payload copied into a DATA record, the
// buffer grown block by block. For comparison with the builder above; its
// string copy also shows that operator new is counted.
void BM_BuildVideoPacketThroughRecords(benchmark::State& state) {
  const auto payload = Payload(static_cast<std::size_t>(state.range(0)));
  std::uint32_t seq = 0;
  std::size_t packet_size = 0;
  const std::uint64_t before = bench::AllocationCount();
  for (auto _ : state) {
    sox::PackBuffer bb;
    VIDEODATA::DATA data;
    static_cast<VIDEODATA::FrameInfo&>(data) = Info(seq++);
    data.payload.assign(reinterpret_cast<const char*>(payload.data()), payload.size());
    VIDEODATA::HEADER header;
    header.command = 7;
    VIDEODATA::CMDPacker packer(bb, header);
    data.marshal(packer);
    packer.replace_uint32(0, packer.size());
    benchmark::DoNotOptimize(packer.data());
    packet_size = packer.size();
  }
  const std::uint64_t allocations = bench::AllocationCount() - before;
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(packet_size));
  state.counters["mallocs_per_packet"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BuildVideoPacketThroughRecords)->Apply(PayloadSizes);

// Cutting packets out of buffered bytes and reading each in place.
void BM_ReadVideoPackets(benchmark::State& state) {
  const std::string stream = Stream(static_cast<std::size_t>(state.range(0)));
  std::int64_t packets = 0;
  const std::uint64_t before = bench::AllocationCount();
  for (auto _ : state) {
    std::size_t at = 0;
    for (;;) {
      const char* front = stream.data() + at;
      const std::size_t left = stream.size() - at;
      if (VIDEODATA::FindWholePacket(front, left).state != VIDEODATA::FrontState::kWhole)
        break;
      const auto r = VIDEODATA::ReadWholePacket(front, left);
      benchmark::DoNotOptimize(r.video.payload);
      at += r.length;
      ++packets;
    }
  }
  const std::uint64_t allocations = bench::AllocationCount() - before;
  state.SetItemsProcessed(packets);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
  state.counters["mallocs_per_packet"] =
      static_cast<double>(allocations) / static_cast<double>(packets);
}
BENCHMARK(BM_ReadVideoPackets)->Apply(PayloadSizes);

// The same with the session's receive buffer: 32000-byte deliveries appended
// to a string, each packet erased from its front once read.
void BM_ReadVideoPacketsThroughReceiveBuffer(benchmark::State& state) {
  const std::string stream = Stream(static_cast<std::size_t>(state.range(0)));
  std::int64_t packets = 0;
  std::string buffer;
  buffer.reserve(1u << 20);
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += 32000) {
      buffer.append(stream, at, 32000);
      for (;;) {
        const auto front = VIDEODATA::FindWholePacket(buffer.data(), buffer.size());
        if (front.state != VIDEODATA::FrontState::kWhole)
          break;
        const auto r = VIDEODATA::ReadWholePacket(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(r.video.payload);
        buffer.erase(0, r.length);
        ++packets;
      }
    }
    buffer.clear();
  }
  state.SetItemsProcessed(packets);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_ReadVideoPacketsThroughReceiveBuffer)->Apply(PayloadSizes);

// The physical reference: copying one packet's bytes.
void BM_MemcpyPacket(benchmark::State& state) {
  const std::size_t size = 36 + static_cast<std::size_t>(state.range(0));
  const auto from = Payload(size);
  std::vector<std::uint8_t> to(size);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_MemcpyPacket)->Apply(PayloadSizes);

}  // namespace

BENCHMARK_MAIN();
