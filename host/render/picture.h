// Pictures of the landscape as files.
#pragma once

#include <QImage>
#include <string>

namespace host {

// Saves a picture in the format its extension names, replacing the file as a whole.
// Throws Error naming the file.
void SavePicture(const std::string& path, const QImage& image);
// Whether SavePicture knows the format of `path` by its extension.
bool IsPictureFormat(const std::string& path);

}  // namespace host
