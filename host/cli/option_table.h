// kelvamor-host's options, one row each: the parser, --help and the man page are made
// from this table.
#pragma once

#include <string>
#include <vector>

namespace host {

struct OptionRow {
  std::vector<std::string> names;  // "o", "output": one letter for -o, words for --output
  std::string value;               // the value's name in help; empty for a switch
  std::string help;                // one sentence or two
};

std::vector<OptionRow> OptionTable();

// The actions as --action names them: "soften, soften-more, ... or canyonize".
std::string ActionList();
// The program's description for --help, with the exit statuses and the settings table.
std::string ProgramDescription();

}  // namespace host
