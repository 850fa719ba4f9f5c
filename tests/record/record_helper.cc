// Records test frames in a process of its own, for the cases that end a
// process or fill its disk: record_helper path width height frames
// [file size limit]. Frames < 0 records (slowly) until killed. Prints the
// number of frames the writer took.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "record/avi_file.h"
#include "test_frames.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    return 2;
  }
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  const int frames = std::atoi(argv[4]);
  if (argc > 5) {
    // A disk that is full at this size: writes past it fail with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{std::strtoull(argv[5], nullptr, 10), std::strtoull(argv[5], nullptr, 10)};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  int taken = 0;
  {
    CAVIFile avi(argv[1], width, height, 1 << 30);
    for (int n = 0; frames < 0 || n < frames; ++n) {
      const auto frame = TestFrame(width, height, n);
      const bool more = avi.WriteFrame(frame.data(), width, height);
      taken = avi.frame_count();
      if (!more) {
        break;
      }
      if (frames < 0) {
        usleep(2000);
      }
    }
  }
  std::printf("%d\n", taken);
  return 0;
}
