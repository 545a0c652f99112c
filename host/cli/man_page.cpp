// Writes kelvamor-host's man page: the prose of the template, with @VERSION@,
// @SYNOPSIS@ and @OPTIONS@ made from the option table that --help shows too.
// Usage: kelvamor_man TEMPLATE OUTPUT VERSION
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "host/cli/option_table.h"

namespace {

// Text as roff shows it literally: hyphens as minus signs, backslashes doubled.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  return out;
}

std::string Flag(const std::string& name) {
  return Roff(name.size() == 1 ? "-" + name : "--" + name);
}

std::string Synopsis() {
  std::string text = ".B kelvamor-host\n[\\fIheightmap\\fR]";
  for (const host::OptionRow& row : host::OptionTable()) {
    text += " [\\fB" + Flag(row.names.front()) + "\\fR";
    if (!row.value.empty()) text += " \\fI" + Roff(row.value) + "\\fR";
    text += "]";
  }
  return text + " [\\fB\\-\\-help\\fR] [\\fB\\-\\-version\\fR]";
}

std::string Options() {
  std::string text;
  for (const host::OptionRow& row : host::OptionTable()) {
    text += ".TP\n.B ";
    for (size_t i = 0; i < row.names.size(); ++i) text += (i ? ", " : "") + Flag(row.names[i]);
    if (!row.value.empty()) text += " \" \\fI" + Roff(row.value) + "\\fR\"";
    text += "\n" + Roff(row.help) + "\n";
  }
  text += ".TP\n.B \\-\\-help\nPrint the options and the plug-in's settings.\n";
  text += ".TP\n.B \\-\\-version\nPrint the version.";
  return text;
}

void Replace(std::string& text, const std::string& key, const std::string& value) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
    text.replace(at, key.size(), value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: kelvamor_man TEMPLATE OUTPUT VERSION\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string page = buffer.str();
  if (!in || page.empty()) {
    std::cerr << argv[1] << ": cannot be read\n";
    return 1;
  }
  Replace(page, "@VERSION@", argv[3]);
  Replace(page, "@SYNOPSIS@", Synopsis());
  Replace(page, "@OPTIONS@", Options());
  std::ofstream out(argv[2]);
  out << page;
  out.close();
  if (!out) {
    std::cerr << argv[2] << ": cannot be written\n";
    return 1;
  }
  return 0;
}
