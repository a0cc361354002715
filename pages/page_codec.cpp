// LoadPage and SavePage: reading page files whole, choosing the codec, and
// replacing a page file atomically after keeping its original.
#include "page_codec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codecs.h"
#include "original_store.h"
#include "page_path.h"

namespace pagetrim {

EncodedBytes::EncodedBytes(EncodedBytes&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.size_ = other.capacity_ = 0;
}

EncodedBytes& EncodedBytes::operator=(EncodedBytes&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  return *this;
}

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

namespace {

// 2^28 pixels of 16-bit RGBA stored without compression, and room for
// everything else a file may carry.
constexpr std::uint64_t MaxPageFileBytes = codecs::MaxPixels * 8 + (std::uint64_t(64) << 20);

bool IsPngPath(const QString& path) {
  return FileExtension(path).toUpper() == u".PNG";
}

float SaveDpi(float dpi) {
  // Written as "not at least", so that NaN also becomes the minimum.
  return dpi >= MinimumSaveDpi ? dpi : MinimumSaveDpi;
}

// Reads the whole file (or its first limit bytes), and what it was when it
// was read. Only regular files: a pipe or a device put in a page's place
// could block the program forever, so nothing else is even opened for reading
// without O_NONBLOCK.
bool ReadWholeFile(const QString& path, QByteArray& bytes, std::optional<FileIdentity>& identity,
                   qint64 limit = -1) {
  if (path.isEmpty())
    return false;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct Closer {
    int Fd;
    ~Closer() { ::close(Fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  // No page of the largest allowed size needs more: larger files are not
  // read into memory at all.
  if (limit < 0 && std::uint64_t(info.st_size) > MaxPageFileBytes)
    return false;
  identity = FileIdentity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino),
                          std::int64_t(info.st_size),
                          std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
  const qint64 wanted = limit < 0 ? qint64(info.st_size) : std::min<qint64>(limit, info.st_size);
  bytes.resize(wanted);
  qint64 got = 0;
  while (got < wanted) {
    const ssize_t n = ::read(fd, bytes.data() + got, std::size_t(wanted - got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;  // the file shrank meanwhile: what was read is what it holds
    got += n;
  }
  bytes.resize(got);
  return true;
}

bool Decode(const QByteArray& bytes, PageRaster& raster, codecs::DecodeContext& context) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  const auto size = std::size_t(bytes.size());
  // The content decides, not the extension: a PNG saved as .jpg still loads.
  if (codecs::LooksLikeJpeg(data, size))
    return codecs::DecodeJpeg(data, size, raster, context);
  if (codecs::LooksLikePng(data, size))
    return codecs::DecodePng(data, size, raster, context);
  return false;
}

}  // namespace

PageFileInfo ReadPageFile(const QString& path, PageRaster& raster, const ReadOptions& options) {
  PageFileInfo info;
  QByteArray bytes;
  codecs::DecodeContext context;
  context.Cancel = options.Cancel;
  if (options.RowsDecoded) {
    context.RowsDecoded = [&](int first, int count) {
      options.RowsDecoded(raster, first, count, context.Bitonal);
    };
  }
  bool decoded = false;
  try {
    decoded = !context.Cancelled() && ReadWholeFile(path, bytes, info.Identity) &&
              Decode(bytes, raster, context);
  } catch (const std::bad_alloc&) {
    decoded = false;  // a page too large for this machine is as good as damaged
  }
  if (!decoded || context.Cancelled()) {
    raster = PageRaster();
    PageFileInfo refused;
    refused.Identity = info.Identity;
    return refused;
  }
  info.Decoded = true;
  info.Bitonal = context.Bitonal;
  info.Resolution = context.Resolution;
  info.IccProfile = context.IccProfile;
  return info;
}

PageResolution LoadPage(const QString& path, PageRaster& raster) {
  return ReadPageFile(path, raster).Resolution;
}

std::optional<PageSize> ReadPageSize(const QString& path) {
  // Headers sit at the start, unless a large profile or EXIF block comes first.
  for (const qint64 limit : {qint64(64) << 10, qint64(-1)}) {
    QByteArray bytes;
    std::optional<FileIdentity> identity;
    if (!ReadWholeFile(path, bytes, identity, limit))
      return std::nullopt;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto size = std::size_t(bytes.size());
    codecs::DeclaredSize declared;
    if ((codecs::LooksLikeJpeg(data, size) && codecs::ReadJpegSize(data, size, declared)) ||
        (codecs::LooksLikePng(data, size) && codecs::ReadPngSize(data, size, declared))) {
      return PageSize{declared.Width,       declared.Height,
                      declared.Channels,    declared.Components,
                      declared.Progressive, qint64(identity ? identity->Size : 0)};
    }
    if (limit < 0 || bytes.size() < limit)
      break;
  }
  return std::nullopt;
}

EncodedPage EncodePage(const QString& path, const PageRaster& raster, float resolutionX,
                       float resolutionY, const QByteArray& iccProfile, bool bitonal) {
  EncodedPage page;
  if (raster.IsEmpty()) {
    page.FailureReason = QStringLiteral("空の画像は保存できません");
    return page;
  }
  const float dpiX = SaveDpi(resolutionX);
  const float dpiY = SaveDpi(resolutionY);
  try {
    page.Ok = IsPngPath(path)
                  ? codecs::EncodePng(raster, dpiX, dpiY, iccProfile, page.Bytes, bitonal)
                  : codecs::EncodeJpeg(raster, dpiX, dpiY, iccProfile, page.Bytes);
  } catch (const std::bad_alloc&) {
    page.Ok = false;
  }
  if (!page.Ok)
    page.FailureReason = QStringLiteral("メモリが足りないため画像を変換できません");
  return page;
}

SaveResult WritePage(const QString& path, const EncodedPage& page, const SaveOptions& options) {
  SaveResult result;
  if (!page.Ok) {
    result.Reason = page.FailureReason;
    return result;
  }
  if (options.ReadAs) {
    if (const FileResult unchanged = CheckUnchanged(path, *options.ReadAs); !unchanged.Ok) {
      result.Reason = unchanged.Reason;
      return result;
    }
  }
  if (const FileResult writable = CheckWritable(path); !writable.Ok) {
    result.Reason = writable.Reason;
    return result;
  }
  if (options.KeepOriginal) {
    // Safety comes first: a page whose original cannot be kept is not touched.
    if (const FileResult kept = KeepOriginal(path); !kept.Ok) {
      result.Reason = kept.Reason;
      return result;
    }
  }
  FileIdentity identity;
  const FileResult written = ReplaceFileContents(
      path, reinterpret_cast<const char*>(page.Bytes.Data()), page.Bytes.Size(), &identity);
  if (!written.Ok) {
    result.Reason = written.Reason;
    return result;
  }
  if (options.KeepOriginal)
    RecordWrittenPage(path, identity);
  result.Outcome = SaveOutcome::Written;
  result.Identity = identity;
  return result;
}

SaveResult SavePage(const QString& path, const PageRaster& raster, float resolutionX,
                    float resolutionY, const SaveOptions& options) {
  // The whole file is encoded before the page file is touched, so an encoder
  // failure cannot leave a half-written page.
  return WritePage(path, EncodePage(path, raster, resolutionX, resolutionY, options.IccProfile),
                   options);
}

}  // namespace pagetrim
