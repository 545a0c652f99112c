#include "host/io/formats.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace host {

std::string Extension(std::string_view path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext;
}

const Format& FormatOf(FormatId id) {
  for (const Format& format : kFormats)
    if (format.id == id) return format;
  return kFormats[0];
}

const Format* FindFormat(std::string_view path) {
  const std::string ext = Extension(path);
  for (const Format& format : kFormats)
    for (const char* known : format.extensions)
      if (known && ext == known) return &format;
  return nullptr;
}

bool IsHeightmapFormat(std::string_view path) {
  const Format* format = FindFormat(path);
  return format && format->writable;
}

std::string WritableExtensions() {
  std::vector<std::string> names;
  for (const Format& format : kFormats)
    if (format.writable) names.push_back(format.extensions[0]);
  std::string text;
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return text;
}

std::string GeoTiffDefaultsText() {
  std::string text;
  for (const auto& [name, value] : kGeoTiffDefaults)
    text += std::string(text.empty() ? "" : ", ") + name + "=" + value;
  return text;
}

}  // namespace host
