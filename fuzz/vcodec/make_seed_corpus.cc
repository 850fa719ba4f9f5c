// Writes the fuzzer's seed corpus: real streams of the codec, a key frame
// and a few predicted frames of the moving test picture at each size the
// fuzzer opens, in the fuzzer's input format. Run by hand:
//   make_vcodec_seed_corpus <corpus directory>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "external/ivcodec.h"
#include "fuzz_input.h"
#include "moving_picture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  for (std::uint8_t selector = 0; selector < std::size(vcodec_fuzz::kSizes); ++selector) {
    const auto [width, height] = vcodec_fuzz::SizeFor(selector);
    std::unique_ptr<IVCodec> codec(IVCodec_Creater());
    if (!codec || codec->open(width, height, 15.0f, 100000, 32) != 0)
      return 1;
    std::string input(1, static_cast<char>(selector));
    for (int t = 0; t < 4; ++t) {
      std::vector<std::uint8_t> picture = vcodec_test::MovingPicture(width, height, t * 3);
      std::vector<std::uint8_t> out(picture.size());
      std::uint32_t length = 0;
      std::uint8_t key = 0;
      codec->encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                    &key);
      input += static_cast<char>(length & 0xFF);
      input += static_cast<char>(length >> 8);
      input.append(reinterpret_cast<const char*>(out.data()), length);
    }
    const std::string path =
        std::string(argv[1]) + "/stream_" + std::to_string(width) + "x" + std::to_string(height);
    std::ofstream(path, std::ios::binary) << input;
  }
  return 0;
}
