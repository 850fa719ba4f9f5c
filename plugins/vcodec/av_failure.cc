#include "av_failure.h"

#include <stdexcept>

extern "C" {
#include <libavutil/error.h>
}

namespace vcodec {

void ThrowAvError(const std::string& what, int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  throw std::runtime_error(what + ": " + text);
}

void ThrowFailure(const std::string& what) {
  throw std::runtime_error(what);
}

}  // namespace vcodec
