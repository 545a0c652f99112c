#include "host/render/picture.h"

#include <QImageWriter>

#include "host/io/error.h"
#include "host/io/formats.h"
#include "host/io/replace_file.h"

namespace host {

namespace {

// The format name Qt knows a picture by: its extension without the dot.
std::string PictureFormat(const std::string& path) {
  const std::string ext = Extension(path);
  return ext.empty() ? ext : ext.substr(1);
}

}  // namespace

bool IsPictureFormat(const std::string& path) {
  const std::string format = PictureFormat(path);
  return !format.empty() &&
         QImageWriter::supportedImageFormats().contains(QByteArray::fromStdString(format));
}

void SavePicture(const std::string& path, const QImage& image) {
  const std::string format = PictureFormat(path);
  FileReplacement file(path, "." + format);
  QImageWriter writer(QString::fromStdString(file.TemporaryPath()),
                      QByteArray::fromStdString(format));
  if (!writer.write(image))
    throw Error(path, "the picture cannot be written (" + writer.errorString().toStdString() + ")");
  file.Commit();
}

}  // namespace host
