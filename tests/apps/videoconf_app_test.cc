// The videoconf program end to end: a short call whose snapshots show the
// other side's pictures, and the console of a running peer over NATS.
#include <gtest/gtest.h>
#include <signal.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "nats_server.h"
#include "support/temp_dir.h"

namespace {

std::string Program() {
  return VIDEOCONF_PROGRAM;
}

// Runs a shell command; its stdout and stderr together, and its exit code.
std::string Shell(const std::string& command, int* code) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char chunk[4096];
  for (std::size_t n = 0; pipe != nullptr && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    output.append(chunk, n);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

// A process started through the shell, which says its pid and then becomes
// the program; its output is read line by line, and it is ended with the object.
class Started {
 public:
  explicit Started(const std::string& command)
      : pipe_(popen(("echo $$; exec " + command + " 2>&1").c_str(), "r")) {
    const std::string pid = Line();
    pid_ = std::atoi(pid.c_str());
  }
  ~Started() {
    if (pid_ > 0)
      kill(pid_, SIGTERM);
    if (pipe_ != nullptr)
      status_ = pclose(pipe_);
  }
  // The next line without its '\n'; empty at the end.
  std::string Line() {
    char line[4096] = {};
    if (pipe_ == nullptr || std::fgets(line, sizeof line, pipe_) == nullptr)
      return "";
    std::string text = line;
    if (!text.empty() && text.back() == '\n')
      text.pop_back();
    return text;
  }
  pid_t pid() const { return pid_; }
  // Waits for the end; true when it ended by itself with `code`.
  bool EndsWith(int code) {
    while (!Line().empty()) {
    }
    status_ = pclose(pipe_);
    pipe_ = nullptr;
    pid_ = 0;
    return WIFEXITED(status_) && WEXITSTATUS(status_) == code;
  }

 private:
  FILE* pipe_;
  pid_t pid_ = 0;
  int status_ = 0;
};

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
  int code = -1;
  const std::string output =
      Shell(Program() + " call --seconds 5 --mode normal --out " + out.path().string(), &code);
  EXPECT_EQ(code, 0) << output;
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
  auto server = ksn_test::NatsServer::Start();
  ASSERT_NE(server, nullptr);
  vc_test::TempDir out;
  const std::string outsider = "KSN_NATS_URL=" + server->url() + " ";
  const std::string env = outsider + "KSN_CONSOLE_KEY=test-console-key-0f3a9c ";
  Started peer("env " + env + Program() + " peer --cid new --seconds 60 --out " +
               out.path().string());
  const std::string first = peer.Line();
  ASSERT_EQ(first.rfind("cid ", 0), 0u) << first;
  const std::string cid = first.substr(4);

  int code = -1;
  std::string reply = Shell(env + Program() + " ctl get help", &code);
  EXPECT_EQ(code, 0) << reply;
  EXPECT_NE(reply.find("session_list"), std::string::npos) << reply;
  reply = Shell(env + Program() + " ctl get session_list", &code);
  EXPECT_NE(reply.find(cid), std::string::npos) << reply;
  reply =
      Shell(outsider + "KSN_CONSOLE_KEY=another-key-of-16+ " + Program() + " ctl get session_list",
            &code);
  EXPECT_EQ(code, 2) << reply;
  EXPECT_EQ(reply.find(cid), std::string::npos) << reply;
  reply = Shell(env + Program() + " ctl set log_level 6", &code);
  EXPECT_EQ(code, 0) << reply;
  reply = Shell(env + Program() + " ctl get log_level", &code);
  EXPECT_NE(reply.find(": 6"), std::string::npos) << reply;

  // Asked to stop, the peer tears down and exits by itself.
  kill(peer.pid(), SIGTERM);
  EXPECT_TRUE(peer.EndsWith(4)) << "no video arrived, so 4, and no crash";
}

// Only a command that needs the network hears why there is none.
TEST(VideoconfProgram, DevicesSaysNothingAboutTheNetworkAndPeerSaysWhyItHasNone) {
  const std::string nowhere = "KSN_NATS_URL=nats://127.0.0.1:1 ";
  int code = -1;
  std::string output = Shell(nowhere + Program() + " devices", &code);
  EXPECT_EQ(code, 0) << output;
  EXPECT_EQ(output.find("NATS"), std::string::npos) << output;
  vc_test::TempDir out;
  output = Shell(nowhere + Program() + " peer --cid new --seconds 1 --out " + out.path().string(),
                 &code);
  EXPECT_NE(code, 0) << output;
  EXPECT_NE(output.find("ksn: no NATS server reachable at nats://127.0.0.1:1"), std::string::npos)
      << output;
}

TEST(VideoconfProgram, X11WindowsOfACallShowVideoOnTheScreen) {
  // Xvfb picks a free display and writes its number.
  Started xvfb("Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp");
  const std::string display = ":" + xvfb.Line();
  ASSERT_NE(display, ":") << "Xvfb did not start";
  vc_test::TempDir out;
  Started call("env DISPLAY=" + display + " " + Program() + " call --x11 --seconds 6 --out " +
               out.path().string());
  // Once both peers receive, all four windows show video.
  std::set<std::string> receiving;
  for (std::string line = call.Line(); !line.empty() && receiving.size() < 2; line = call.Line()) {
    if (std::regex_search(line, std::regex(R"(received [1-9])")))
      receiving.insert(line.substr(0, 1));
  }
  ASSERT_EQ(receiving.size(), 2u);
  int code = -1;
  const std::string screen =
      Shell("ffmpeg -loglevel error -f x11grab -video_size 1024x768 -i " + display +
                " -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null",
            &code);
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
  EXPECT_TRUE(call.EndsWith(0));
}

}  // namespace
