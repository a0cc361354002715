// LoadPage and SavePage: reading page files whole, choosing the codec, and
// replacing a page file atomically.
#include "page_codec.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codecs.h"
#include "page_files.h"

namespace pagetrim {

namespace codecs {

EncodedBytes::~EncodedBytes() {
  std::free(data_);
}

bool EncodedBytes::Reserve(std::size_t extra) {
  if (capacity_ - size_ >= extra)
    return true;
  if (extra > SIZE_MAX / 2 - size_)
    return false;
  std::size_t capacity = capacity_ * 2;
  if (capacity < size_ + extra)
    capacity = size_ + extra;
  void* grown = std::realloc(data_, capacity);
  if (grown == nullptr)
    return false;
  data_ = static_cast<std::uint8_t*>(grown);
  capacity_ = capacity;
  return true;
}

bool EncodedBytes::Append(const void* bytes, std::size_t count) {
  if (!Reserve(count))
    return false;
  if (count > 0)
    std::memcpy(data_ + size_, bytes, count);
  size_ += count;
  return true;
}

}  // namespace codecs

namespace {

bool IsPngPath(const QString& path) {
  return FileExtension(path).toUpper() == u".PNG";
}

float SaveDpi(float dpi) {
  // Written as "not at least", so that NaN also becomes the minimum.
  return dpi >= MinimumSaveDpi ? dpi : MinimumSaveDpi;
}

// QSaveFile renames its temporary file over the name it is given; given a
// symbolic link, that would replace the link by a plain file. Writing to the
// link's target keeps the link and updates what it points to.
QString WriteTarget(const QString& path) {
  const QFileInfo info(path);
  if (!info.isSymLink())
    return path;
  const QString canonical = info.canonicalFilePath();  // empty for a dangling link
  return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

bool Decode(const QString& path, PageRaster& raster, PageResolution& resolution) {
  if (path.isEmpty())
    return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  const QByteArray bytes = file.readAll();
  file.close();
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  const auto size = std::size_t(bytes.size());
  // The content decides, not the extension: a PNG saved as .jpg still loads.
  if (codecs::LooksLikeJpeg(data, size))
    return codecs::DecodeJpeg(data, size, raster, resolution);
  if (codecs::LooksLikePng(data, size))
    return codecs::DecodePng(data, size, raster, resolution);
  return false;
}

}  // namespace

PageResolution LoadPage(const QString& path, PageRaster& raster) {
  PageResolution resolution;
  bool decoded = false;
  try {
    decoded = Decode(path, raster, resolution);
  } catch (const std::bad_alloc&) {
    decoded = false;  // a page too large for this machine is as good as damaged
  }
  if (!decoded) {
    raster = PageRaster();
    return {};
  }
  return resolution;
}

SaveOutcome SavePage(const QString& path, const PageRaster& raster, float resolutionX,
                     float resolutionY) {
  if (raster.IsEmpty())
    return SaveOutcome::WriteFailed;
  const float dpiX = SaveDpi(resolutionX);
  const float dpiY = SaveDpi(resolutionY);

  // The whole file is encoded before the page file is touched, so an encoder
  // failure cannot leave a half-written page.
  codecs::EncodedBytes encoded;
  bool ok = false;
  try {
    ok = IsPngPath(path) ? codecs::EncodePng(raster, dpiX, dpiY, encoded)
                         : codecs::EncodeJpeg(raster, dpiX, dpiY, encoded);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok)
    return SaveOutcome::WriteFailed;

  // QSaveFile writes a temporary file beside the page and renames it over the
  // page only after every byte is written and flushed; on any failure the
  // temporary file is removed and the page is left as it was.
  QSaveFile file(WriteTarget(path));
  if (!file.open(QIODevice::WriteOnly))
    return SaveOutcome::WriteFailed;
  const auto size = qint64(encoded.Size());
  if (file.write(reinterpret_cast<const char*>(encoded.Data()), size) != size) {
    file.cancelWriting();
    return SaveOutcome::WriteFailed;
  }
  return file.commit() ? SaveOutcome::Written : SaveOutcome::WriteFailed;
}

}  // namespace pagetrim
