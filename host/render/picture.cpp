#include "host/render/picture.h"

#include <unistd.h>

#include <QBuffer>
#include <QImageWriter>
#include <cerrno>
#include <cstring>

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

PendingPicture::PendingPicture(const std::string& path, const QImage& image) {
  if (image.isNull()) throw Error(path, "the picture is too large to be made");
  // Encoded in memory, then written with every write checked: an image writer that
  // buffers a file of its own can lose its last bytes on a full disk without a word.
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, QByteArray::fromStdString(PictureFormat(path)));
  if (!writer.write(image))
    throw Error(path, "the picture cannot be made (" + writer.errorString().toStdString() + ")");
  file_ = std::make_unique<FileReplacement>(path);
  for (qsizetype done = 0; done < encoded.size();) {
    const ssize_t n = ::write(file_->Descriptor(), encoded.constData() + done,
                              static_cast<size_t>(encoded.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw Error(path, std::string("the picture cannot be written (") +
                            std::strerror(n < 0 ? errno : ENOSPC) + ")");
    done += n;
  }
}

PendingPicture::~PendingPicture() = default;
PendingPicture::PendingPicture(PendingPicture&&) noexcept = default;

void PendingPicture::Commit() { file_->Commit(); }

void SavePicture(const std::string& path, const QImage& image) {
  PendingPicture picture(path, image);
  picture.Commit();
}

}  // namespace host
