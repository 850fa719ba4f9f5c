// The program's arguments: a subcommand, its positional words, and --name
// value options, checked against what each subcommand takes.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace videoconf_app {

struct CommandLine {
  std::string command;
  std::vector<std::string> words;
  std::map<std::string, std::string> options;  // flags map to ""

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback) const;
};

struct CommandSyntax {
  std::set<std::string> valued;  // options that take a value
  std::set<std::string> flags;   // options that do not
};

// False with a one-line `error` for an option the command does not take or
// one missing its value.
bool ParseCommandLine(const std::vector<std::string>& args, const CommandSyntax& syntax,
                      CommandLine* line, std::string* error);

// A whole decimal number in [low, high]; false otherwise.
bool ParseCount(const std::string& text, long low, long high, long* value);

}  // namespace videoconf_app
