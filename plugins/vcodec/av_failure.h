// How a failure of the FFmpeg libraries leaves the codec: as
// std::runtime_error, which the module's encode path and session catch.
#pragma once

#include <string>

namespace vcodec {

// "<what>: <libavutil's text for error>".
[[noreturn]] void ThrowAvError(const std::string& what, int error);
[[noreturn]] void ThrowFailure(const std::string& what);

}  // namespace vcodec
