#include "command_line.h"

#include <cerrno>
#include <cstdlib>

namespace videoconf_app {

std::string CommandLine::Get(const std::string& name, const std::string& fallback) const {
  const auto it = options.find(name);
  return it == options.end() ? fallback : it->second;
}

bool ParseCommandLine(const std::vector<std::string>& args, const CommandSyntax& syntax,
                      CommandLine* line, std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
      line->words.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2);
    std::string value;
    const std::size_t equals = name.find('=');
    const bool inline_value = equals != std::string::npos;
    if (inline_value) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (syntax.flags.count(name) != 0 && !inline_value) {
      line->options[name] = "";
    } else if (syntax.valued.count(name) != 0) {
      if (!inline_value) {
        if (i + 1 >= args.size()) {
          *error = "option --" + name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      line->options[name] = value;
    } else {
      *error = "unknown option --" + name + " for 'videoconf " + line->command +
               "'; run 'videoconf help' for the options";
      return false;
    }
  }
  return true;
}

bool ParseCount(const std::string& text, long low, long high, long* value) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

}  // namespace videoconf_app
