// Pictures of the landscape as files.
#pragma once

#include <QImage>
#include <memory>
#include <string>

namespace host {

class FileReplacement;

// A picture encoded in full into a temporary beside its target, not yet in place: a
// run commits it with its other outputs once every one is complete. Throws Error
// naming the file when it cannot be encoded or written.
class PendingPicture {
 public:
  PendingPicture(const std::string& path, const QImage& image);
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
