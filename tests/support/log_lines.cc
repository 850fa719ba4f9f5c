#include "support/log_lines.h"

#include <fstream>

#include "support/temp_dir.h"

namespace vc_test {

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<std::string> ReadLogMessages(const std::filesystem::path& path, std::size_t from,
                                         std::size_t* next) {
  const std::string text = ReadFile(path);
  std::vector<std::string> messages;
  std::size_t index = 0;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2, ++index) {
    if (index < from)
      continue;
    const std::string line = text.substr(start, end - start);
    const std::size_t marker = line.find("<<<<");
    messages.push_back(marker == std::string::npos ? line : line.substr(marker + 4));
  }
  if (next != nullptr)
    *next = index;
  return messages;
}

}  // namespace vc_test
