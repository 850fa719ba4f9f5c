// Reading back what the module and the stand-in libraries write: the debug
// log's messages without their prefixes, and plain line files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace vc_test {

// Every line of a file ending in "\n", in order; none for a missing file.
std::vector<std::string> ReadLines(const std::filesystem::path& path);

// The debug log's messages (the text after the "<<<<" that ends a record's
// prefix; a whole line without it), one per "\r\n"-ended record. Reads on
// from record `from` and sets `*next`, when given, to the count read so far,
// so that a test can take only what came since its last look.
std::vector<std::string> ReadLogMessages(const std::filesystem::path& path, std::size_t from = 0,
                                         std::size_t* next = nullptr);

}  // namespace vc_test
