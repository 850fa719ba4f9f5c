// Records test frames in a process of its own, for a full disk and a killed
// process: record_helper path width height frames [file size limit]. Frames
// < 0 records slowly until killed. Prints the number of frames taken.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "record/avi_file.h"
#include "test_frames.h"

int main(int argc, char** argv) {
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), frames = std::atoi(argv[4]);
  if (argc > 5) {
    // A disk full at that size: writes past it fail with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{std::strtoull(argv[5], nullptr, 10), std::strtoull(argv[5], nullptr, 10)};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  int taken = 0;
  {
    CAVIFile avi(argv[1], width, height, 1 << 30);
    for (int n = 0; (frames < 0 || n < frames) &&
                    avi.WriteFrame(Pixels(TestFrame(width, height, n)), width, height);
         ++n) {
      usleep(frames < 0 ? 2000 : 0);
    }
    taken = avi.frame_count();
  }
  std::printf("%d\n", taken);
}
