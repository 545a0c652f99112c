// Pictures of the landscape as files.
#pragma once

#include <QImage>
#include <memory>
#include <string>

#include "host/model/landscape.h"

namespace host {

class FileReplacement;

// A picture encoded in full into a temporary beside its target, not yet in place: a
// run commits it with its other outputs once every one is complete. With the
// landscape's georeference (a picture a pixel a cell), a world file (".pgw" for ".png")
// and a ".png.aux.xml" with the coordinate system go beside it, so that it lies where
// the heights lie in a GIS. Throws Error naming the file when it cannot be encoded or
// written.
class PendingPicture {
 public:
  PendingPicture(const std::string& path, const QImage& image, const Georeference& geo = {});
  ~PendingPicture();
  PendingPicture(PendingPicture&&) noexcept;
  void Commit();

 private:
  std::unique_ptr<FileReplacement> file_;
};

// Saves a picture in the format its extension names, replacing the file as a whole.
void SavePicture(const std::string& path, const QImage& image);
// Whether SavePicture knows the format of `path` by its extension.
bool IsPictureFormat(const std::string& path);

}  // namespace host
