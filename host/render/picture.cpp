#include "host/render/picture.h"

#include <QBuffer>
#include <QImageWriter>
#include <array>
#include <cstdio>
#include <cstring>

#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/io/formats.h"

namespace host {

namespace {

// The format name Qt knows a picture by: its extension without the dot.
std::string PictureFormat(const std::string& path) {
  const std::string ext = Extension(path);
  return ext.empty() ? ext : ext.substr(1);
}

// ".pgw" for ".png", ".jgw" for ".jpg": the first and last letter of the extension and w.
std::string WorldFileEnding(const std::string& ext) {
  return ext.size() < 3 ? ext + "w" : std::string(".") + ext[1] + ext.back() + "w";
}

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The world file: pixel size and rotation, then the centre of the top-left pixel.
std::string WorldFile(const std::array<double, 6>& t) {
  char text[256];
  std::snprintf(text, sizeof text, "%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n", t[1], t[4], t[2],
                t[5], t[0] + 0.5 * t[1] + 0.5 * t[2], t[3] + 0.5 * t[4] + 0.5 * t[5]);
  return text;
}

}  // namespace

bool IsPictureFormat(const std::string& path) {
  const std::string format = PictureFormat(path);
  return !format.empty() &&
         QImageWriter::supportedImageFormats().contains(QByteArray::fromStdString(format));
}

PendingPicture::PendingPicture(const std::string& path, const QImage& image,
                               const Georeference& geo) {
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
  if (const int error =
          WriteAll(file_->Descriptor(), encoded.constData(), static_cast<size_t>(encoded.size())))
    throw Error(path, std::string("the picture cannot be written (") + std::strerror(error) + ")");
  // Old side files go when the new picture has none to say.
  const std::string ext = Extension(path);
  file_->DescribedBy({WorldFileEnding(ext), ext + ".aux.xml"});
  try {
    if (geo.geoTransform) file_->WriteSideFile(WorldFileEnding(ext), WorldFile(*geo.geoTransform));
    if (geo.geoTransform && !geo.projection.empty())
      file_->WriteSideFile(ext + ".aux.xml", "<PAMDataset>\n  <SRS>" + XmlEscaped(geo.projection) +
                                                 "</SRS>\n</PAMDataset>\n");
  } catch (const std::exception& e) {
    throw Error(path, e.what());
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
