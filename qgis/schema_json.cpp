// Writes the settings schema as JSON for the QGIS provider, which runs in QGIS's own
// process and so reads the schema from a file, not from the module or the extension.
//   schema_json OUTPUT
#include <cstdio>
#include <string>

#include "rovandel/settings_schema.h"

namespace schema = settings_schema;

namespace {

std::string Number(double v) {
  if (v >= schema::kAnyFinite || v <= -schema::kAnyFinite) return "null";  // unbounded
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string json = "{\n  \"name\": \"" + std::string(schema::kDisplayName) + "\",\n";
  json += "  \"settings\": [\n";
  for (size_t i = 0; i < schema::kSettings.size(); ++i) {
    const schema::Setting& s = schema::kSettings[i];
    const char* kind = s.kind == schema::Kind::kInteger ? "int"
                       : s.kind == schema::Kind::kFloat ? "float"
                                                        : "bool";
    json += "    {\"key\": \"" + std::string(s.key) + "\", \"python_name\": \"" +
            schema::kPythonNames[i] + "\", \"kind\": \"" + kind +
            "\", \"default\": " + Number(s.defaultValue) + ", \"minimum\": " + Number(s.minimum) +
            ", \"maximum\": " + Number(s.maximum) +
            ", \"above_minimum\": " + (s.aboveMinimum ? "true" : "false") + ", \"meaning\": \"" +
            s.meaning + "\"}" + (i + 1 < schema::kSettings.size() ? ",\n" : "\n");
  }
  json += "  ],\n  \"noise_types\": [";
  for (size_t i = 0; i < schema::kNoiseTypeNames.size(); ++i) {
    std::string name = schema::kNoiseTypeNames[i];
    name[0] = static_cast<char>(name[0] - 'a' + 'A');  // as the dialog lists them
    json += (i ? ", \"" : "\"") + name + "\"";
  }
  json += "],\n  \"actions\": [\n";
  for (size_t i = 0; i < schema::kActions.size(); ++i) {
    const schema::ActionRow& a = schema::kActions[i];
    std::string keys;
    for (const int k : a.settings)
      if (k >= 0)
        keys += (keys.empty() ? "\"" : ", \"") +
                std::string(schema::kSettings[static_cast<size_t>(k)].key) + "\"";
    json += "    {\"name\": \"" + std::string(a.name) + "\", \"python_name\": \"" + a.pythonName +
            "\", \"title\": \"" + a.title + "\", \"settings\": [" + keys + "]}" +
            (i + 1 < schema::kActions.size() ? ",\n" : "\n");
  }
  json += "  ]\n}\n";
  std::FILE* out = std::fopen(argv[1], "w");
  if (!out) return 1;
  const bool written = std::fputs(json.c_str(), out) >= 0;
  return std::fclose(out) == 0 && written ? 0 : 1;
}
