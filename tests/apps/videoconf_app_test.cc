// The videoconf program end to end: a short call whose snapshots show the
// other side's pictures, and the console of a running peer over NATS.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <zlib.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "process/nats_server.h"
#include "support/temp_dir.h"

namespace {

using vc_process::ChildProcess;
using vc_process::RunProgram;

constexpr char kProgram[] = VIDEOCONF_PROGRAM;
// What a call or a peer may take at most, setup and teardown included.
constexpr int kRunMs = 90000;

// Decodes the program's own PNGs (one IDAT, filter 0, 8-bit RGB) into
// luma values, top-down.
std::vector<int> ReadPngLuma(const std::string& path, int* width, int* height) {
  const std::string file = vc_test::ReadFile(path);
  if (file.size() < 33 || file.compare(12, 4, "IHDR") != 0)
    return {};
  auto big32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(file[at])) << 24 |
           static_cast<unsigned char>(file[at + 1]) << 16 |
           static_cast<unsigned char>(file[at + 2]) << 8 | static_cast<unsigned char>(file[at + 3]);
  };
  *width = static_cast<int>(big32(16));
  *height = static_cast<int>(big32(20));
  const std::size_t idat = file.find("IDAT");
  std::vector<Bytef> raw(static_cast<std::size_t>(*height) * (1 + 3 * *width));
  uLongf raw_size = raw.size();
  if (idat == std::string::npos ||
      uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(file.data() + idat + 4),
                 big32(idat - 4)) != Z_OK)
    return {};
  std::vector<int> luma;
  for (int y = 0; y < *height; ++y) {
    const Bytef* row = raw.data() + static_cast<std::size_t>(y) * (1 + 3 * *width) + 1;
    for (int x = 0; x < *width; ++x)
      luma.push_back((row[3 * x] * 77 + row[3 * x + 1] * 150 + row[3 * x + 2] * 29) >> 8);
  }
  return luma;
}

// Below the stamp rows, the virtual camera shows a white ball on black.
struct Picture {
  double dark = 0;   // share of pixels below luma 40
  double light = 0;  // share above 200
};
Picture Describe(const std::string& path) {
  int width = 0;
  int height = 0;
  const std::vector<int> luma = ReadPngLuma(path, &width, &height);
  Picture picture;
  int counted = 0;
  for (int y = height / 6; y < height; ++y) {
    for (int x = 0; x < width; ++x, ++counted) {
      picture.dark += luma[static_cast<std::size_t>(y) * width + x] < 40;
      picture.light += luma[static_cast<std::size_t>(y) * width + x] > 200;
    }
  }
  if (counted > 0) {
    picture.dark /= counted;
    picture.light /= counted;
  }
  return picture;
}

TEST(VideoconfProgram, FiveSecondCallShowsEachSideThePicturesOfTheOther) {
  vc_test::TempDir out;
  const vc_process::ProgramRun run = RunProgram(
      {kProgram, "call", "--seconds", "5", "--mode", "normal", "--out", out.path().string()},
      {.merge_stderr = true, .env = {}}, kRunMs);
  const std::string& output = run.output;
  EXPECT_EQ(run.exit_code, 0) << output;
  EXPECT_NE(output.find("video flowed both ways"), std::string::npos) << output;
  const std::regex summary(
      R"((A|B): summary: .* received (\d+) frames; .*p50 (\d+) ms, p95 (\d+) ms over (\d+) stamped)");
  int summaries = 0;
  for (std::sregex_iterator it(output.begin(), output.end(), summary), end; it != end; ++it) {
    ++summaries;
    EXPECT_GT(std::stoi((*it)[2]), 20) << (*it)[0];
    EXPECT_GT(std::stoi((*it)[5]), 20) << "capture times unreadable: " << (*it)[0];
    EXPECT_LE(std::stoi((*it)[3]), std::stoi((*it)[4])) << (*it)[0];
  }
  EXPECT_EQ(summaries, 2) << output;
  for (const auto& [viewer, sender] : {std::pair{"A", "B"}, std::pair{"B", "A"}}) {
    const Picture shown = Describe((out.path() / (std::string(viewer) + "-remote.png")).string());
    const Picture sent = Describe((out.path() / (std::string(sender) + "-self.png")).string());
    EXPECT_GT(shown.dark, 0.8) << viewer;
    EXPECT_GT(shown.light, 0.005) << viewer << " shows no ball";
    EXPECT_NEAR(shown.dark, sent.dark, 0.05) << viewer;
    EXPECT_NEAR(shown.light, sent.light, 0.05) << viewer;
  }
  EXPECT_FALSE(vc_test::ReadFile(out.path() / "A-video_log.txt").empty());
}

TEST(VideoconfProgram, ConsoleOfARunningPeerAnswersAndTakesALogLevel) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_NE(server, nullptr);
  vc_test::TempDir out;
  const std::string key = "test-console-key-0f3a9c";
  const vc_process::StartOptions options{
      .merge_stderr = true, .env = {{"KSN_NATS_URL", server->url()}, {"KSN_CONSOLE_KEY", key}}};
  std::string error;
  auto peer = ChildProcess::Start(
      {kProgram, "peer", "--cid", "new", "--seconds", "60", "--out", out.path().string()}, options,
      &error);
  ASSERT_NE(peer, nullptr) << error;
  const std::string first = peer->WaitLine("cid ", kRunMs);
  ASSERT_EQ(first.rfind("cid ", 0), 0u) << first;
  const std::string cid = first.substr(4);

  auto ctl = [&](std::vector<std::string> words, const std::string& with_key) {
    words.insert(words.begin(), {kProgram, "ctl"});
    vc_process::StartOptions keyed = options;
    keyed.env = {{"KSN_NATS_URL", server->url()}, {"KSN_CONSOLE_KEY", with_key}};
    return RunProgram(words, keyed, kRunMs);
  };
  vc_process::ProgramRun reply = ctl({"get", "help"}, key);
  EXPECT_EQ(reply.exit_code, 0) << reply.output;
  EXPECT_NE(reply.output.find("session_list"), std::string::npos) << reply.output;
  reply = ctl({"get", "session_list"}, key);
  EXPECT_NE(reply.output.find(cid), std::string::npos) << reply.output;
  reply = ctl({"get", "session_list"}, "another-key-of-16+");
  EXPECT_EQ(reply.exit_code, 2) << reply.output;
  EXPECT_EQ(reply.output.find(cid), std::string::npos) << reply.output;
  reply = ctl({"set", "log_level", "6"}, key);
  EXPECT_EQ(reply.exit_code, 0) << reply.output;
  reply = ctl({"get", "log_level"}, key);
  EXPECT_NE(reply.output.find(": 6"), std::string::npos) << reply.output;

  // Asked to stop, the peer tears down and exits by itself: no video
  // arrived, so 4, and no crash.
  peer->Signal(SIGTERM);
  const std::optional<int> status = peer->Wait(kRunMs);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 4) << vc_process::DescribeExit(*status);
}

// Only a command that needs the network hears why there is none.
TEST(VideoconfProgram, DevicesSaysNothingAboutTheNetworkAndPeerSaysWhyItHasNone) {
  const vc_process::StartOptions nowhere{.merge_stderr = true,
                                         .env = {{"KSN_NATS_URL", "nats://127.0.0.1:1"}}};
  vc_process::ProgramRun run = RunProgram({kProgram, "devices"}, nowhere, kRunMs);
  EXPECT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(run.output.find("NATS"), std::string::npos) << run.output;
  vc_test::TempDir out;
  run =
      RunProgram({kProgram, "peer", "--cid", "new", "--seconds", "1", "--out", out.path().string()},
                 nowhere, kRunMs);
  EXPECT_NE(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("ksn: no NATS server reachable at nats://127.0.0.1:1"),
            std::string::npos)
      << run.output;
}

TEST(VideoconfProgram, X11WindowsOfACallShowVideoOnTheScreen) {
  // Xvfb picks a free display and writes its number.
  std::string error;
  auto xvfb = ChildProcess::Start(
      {"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {}, &error);
  ASSERT_NE(xvfb, nullptr) << error;
  const std::string display = ":" + xvfb->WaitLine("", 30000);
  ASSERT_NE(display, ":") << "Xvfb did not start";
  vc_test::TempDir out;
  auto call = ChildProcess::Start(
      {kProgram, "call", "--x11", "--seconds", "6", "--out", out.path().string()},
      {.merge_stderr = true, .env = {{"DISPLAY", display}}}, &error);
  ASSERT_NE(call, nullptr) << error;
  // Once both peers receive, all four windows show video.
  std::set<std::string> receiving;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunMs);
  while (receiving.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    const std::string line = call->WaitLine(" received ", 1000);
    if (std::regex_search(line, std::regex(R"(received [1-9])")))
      receiving.insert(line.substr(0, 1));
  }
  ASSERT_EQ(receiving.size(), 2u);
  const std::string screen =
      RunProgram({"ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size", "1024x768", "-i",
                  display, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"},
                 {}, kRunMs)
          .output;
  ASSERT_EQ(screen.size(), 1024u * 768u);
  // Peer A's preview and remote window side by side at the top, B's 300 pixels lower.
  for (const int top : {0, 300}) {
    for (const int left : {0, 360}) {
      int light = 0;
      int dark = 0;
      for (int y = top + 48; y < top + 288; ++y) {
        for (int x = left; x < left + 352; ++x) {
          const auto luma = static_cast<unsigned char>(screen[y * 1024 + x]);
          light += luma > 200;
          dark += luma < 40;
        }
      }
      EXPECT_GT(light, 300) << "no ball in the window at " << left << "," << top;
      EXPECT_GT(dark, 352 * 240 * 8 / 10) << "not the test picture at " << left << "," << top;
    }
  }
  const std::optional<int> status = call->Wait(kRunMs);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << vc_process::DescribeExit(*status);
}

}  // namespace
