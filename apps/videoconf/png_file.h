// Snapshots as PNG files (8-bit RGB, zlib-compressed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace videoconf_app {

// Writes width x height top-down 0x00RRGGBB pixels to `path`. False with
// `error` set when the picture is empty or the file cannot be written.
bool WritePng(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
              int height, std::string* error);

}  // namespace videoconf_app
