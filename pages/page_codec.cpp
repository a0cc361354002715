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

bool IsPngPath(const QString& path) {
  return FileExtension(path).toUpper() == u".PNG";
}

float SaveDpi(float dpi) {
  // Written as "not at least", so that NaN also becomes the minimum.
  return dpi >= MinimumSaveDpi ? dpi : MinimumSaveDpi;
}

// size bytes of unspecified content, or false without the memory: a page
// file can take a gigabyte, which the machine may not have to spare, and
// QByteArray itself would throw.
bool AllocateBytes(QByteArray& bytes, qint64 size) {
  if (size == 0) {
    bytes.clear();
    return true;
  }
  const auto taken = QTypedArrayData<char>::allocate(size);
  if (taken.first == nullptr)
    return false;
  QByteArray::DataPointer data(taken, size);
  data.data()[size] = '\0';  // the room for it is part of every allocation
  bytes = QByteArray(std::move(data));
  return true;
}

// Reads the whole file (or its first limit bytes), and what it was when it
// was read. Only regular files: a pipe or a device put in a page's place
// could block the program forever, so nothing else is even opened for reading
// without O_NONBLOCK. A file too large for any page is not read.
Result ReadWholeFile(const QString& path, QByteArray& bytes, std::optional<FileIdentity>& identity,
                     qint64 limit = -1) {
  if (path.isEmpty())
    return Result::FromReadError(ENOENT);
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return Result::FromReadError(errno);
  struct Closer {
    int Fd;
    ~Closer() { (void)::close(Fd); }  // only read from: nothing to lose
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0)
    return Result::FromReadError(errno);
  if (S_ISDIR(info.st_mode))
    return Result::FromReadError(EISDIR);
  if (!S_ISREG(info.st_mode))
    return Result::Failed(Reason::NotAFile);
  // No page of the largest allowed size needs more: larger files are not
  // read into memory at all.
  if (limit < 0 && std::uint64_t(info.st_size) > codecs::MaxPageFileBytes)
    return Result::Failed(Reason::ImageTooLarge);
  identity = IdentityOfStat(info);
  const qint64 wanted = limit < 0 ? qint64(info.st_size) : std::min<qint64>(limit, info.st_size);
  if (!AllocateBytes(bytes, wanted))
    return Result::Failed(Reason::OutOfMemory);
  qint64 got = 0;
  while (got < wanted) {
    const ssize_t n = ::read(fd, bytes.data() + got, std::size_t(wanted - got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return Result::FromReadError(errno);
    if (n == 0)
      break;  // the file shrank meanwhile: what was read is what it holds
    got += n;
  }
  bytes.resize(got);
  return {};
}

// Whether raster, lying at cut in its source's pixels, is made of whole blocks
// of the source's JPEG file.
bool CanCopyBlocks(const PageRaster& raster, const PageSource& source,
                   const std::optional<Rect>& cut) {
  return cut && source.Jpeg && !source.Turned && !source.Bytes.isEmpty() &&
         cut->Width() == raster.Width() && cut->Height() == raster.Height() && cut->Left >= 0 &&
         cut->Top >= 0 && cut->Left % source.Jpeg->McuWidth() == 0 &&
         cut->Top % source.Jpeg->McuHeight() == 0;
}

Result Decode(const QByteArray& bytes, PageRaster& raster, codecs::DecodeContext& context) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  const auto size = std::size_t(bytes.size());
  // The content decides, not the extension: a PNG saved as .jpg still loads.
  if (codecs::LooksLikeJpeg(data, size))
    return codecs::DecodeJpeg(data, size, raster, context);
  if (codecs::LooksLikePng(data, size))
    return codecs::DecodePng(data, size, raster, context);
  return Result::Failed(Reason::DamagedImage);  // neither: not an image, or its start is lost
}

// A page stored turned: its pixels, resolution and coding are turned
// upright, and only then are its rows handed on.
Result StandUpright(PageRaster& raster, codecs::DecodeContext& context,
                    const ReadOptions& options) {
  const int orientation = context.Orientation;
  if (!codecs::TurnUpright(raster, orientation))
    return Result::Failed(Reason::OutOfMemory);
  if (codecs::SwapsAxes(orientation)) {
    std::swap(context.Resolution.X, context.Resolution.Y);
    if (context.Jpeg) {
      // The page is coded as its source would have been, had it been stored
      // upright: horizontal and vertical frequencies change places.
      for (JpegCoding::Component& component : context.Jpeg->Components)
        std::swap(component.H, component.V);
      for (auto& table : context.Jpeg->Tables) {
        for (int row = 0; row < 8; ++row) {
          for (int column = row + 1; column < 8; ++column)
            std::swap(table[std::size_t(row * 8 + column)], table[std::size_t(column * 8 + row)]);
        }
      }
    }
  }
  if (!options.RowsDecoded)
    return {};
  constexpr int RowBatch = 16;
  for (int first = 0; first < raster.Height() && !context.Cancelled(); first += RowBatch)
    options.RowsDecoded(raster, first, std::min(RowBatch, raster.Height() - first),
                        context.Bitonal);
  return {};
}

}  // namespace

int JpegCoding::McuWidth() const {
  int most = 1;
  for (int c = 0; c < ComponentCount; ++c)
    most = std::max(most, Components[std::size_t(c)].H);
  return 8 * most;
}

int JpegCoding::McuHeight() const {
  int most = 1;
  for (int c = 0; c < ComponentCount; ++c)
    most = std::max(most, Components[std::size_t(c)].V);
  return 8 * most;
}

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
  const auto cancelled = [&] {
    return context.Cancelled() ? Result::Failed(Reason::Cancelled) : Result{};
  };
  Result read = cancelled();
  if (read.Ok())
    read = ReadWholeFile(path, bytes, info.Identity);
  if (read.Ok())
    read = Decode(bytes, raster, context);
  if (read.Ok() && context.Orientation != 1)
    read = StandUpright(raster, context, options);
  if (read.Ok())
    read = cancelled();
  if (!read.Ok()) {
    raster = PageRaster();
    PageFileInfo refused;
    refused.Read = read;
    refused.Identity = info.Identity;
    return refused;
  }
  info.Read = read;
  info.Bitonal = context.Bitonal;
  info.Resolution = context.Resolution;
  info.Source.IccProfile = context.IccProfile;
  info.Source.Jpeg = context.Jpeg;
  info.Source.Turned = context.Orientation != 1;
  info.Source.Bitonal = context.Bitonal;
  // Kept only where its blocks may be copied: a JPEG page as stored.
  if (context.Jpeg && !info.Source.Turned)
    info.Source.Bytes = bytes;
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
    if (!ReadWholeFile(path, bytes, identity, limit).Ok())
      return std::nullopt;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto size = std::size_t(bytes.size());
    codecs::DeclaredSize declared;
    if ((codecs::LooksLikeJpeg(data, size) && codecs::ReadJpegSize(data, size, declared).Ok()) ||
        (codecs::LooksLikePng(data, size) && codecs::ReadPngSize(data, size, declared).Ok())) {
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
                       float resolutionY, const PageSource& source,
                       const std::optional<Rect>& cut) {
  EncodedPage page;
  if (raster.IsEmpty())
    return page;  // nothing to write: the page stays as it is
  const float dpiX = SaveDpi(resolutionX);
  const float dpiY = SaveDpi(resolutionY);
  const bool png = IsPngPath(path);
  Result coded;
  if (!png && CanCopyBlocks(raster, source, cut)) {
    // Falls back to coding the page when the copy fails.
    page.Copied =
        codecs::CopyJpegBlocks(reinterpret_cast<const std::uint8_t*>(source.Bytes.constData()),
                               std::size_t(source.Bytes.size()), *cut, dpiX, dpiY,
                               source.IccProfile, page.Bytes)
            .Ok();
  }
  if (!page.Copied) {
    coded = png ? codecs::EncodePng(raster, dpiX, dpiY, source.IccProfile, page.Bytes,
                                    source.Bitonal && cut.has_value())
                : codecs::EncodeJpeg(raster, dpiX, dpiY, source.IccProfile, page.Bytes,
                                     source.Jpeg ? &*source.Jpeg : nullptr);
  }
  static_cast<Result&>(page) = coded;
  return page;
}

EncodedPage CopyPageFile(const QString& path, const Rect& cut, PageFileInfo& info,
                         PageRaster* preview) {
  info = PageFileInfo();
  QByteArray bytes;
  if (const Result read = ReadWholeFile(path, bytes, info.Identity); !read.Ok()) {
    info.Read = read;
    return EncodedPage(read);
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  const auto size = std::size_t(bytes.size());
  codecs::DecodeContext context;
  const Result facts = codecs::LooksLikeJpeg(data, size)
                           ? codecs::ReadJpegFacts(data, size, context)
                           : Result::Failed(Reason::CannotEncode);
  // A page stored turned is not its file's blocks.
  if (!facts.Ok() || context.Orientation != 1)
    return EncodedPage(facts.Ok() ? Result::Failed(Reason::CannotEncode) : facts);
  info.Resolution = context.Resolution;
  info.Source.IccProfile = context.IccProfile;
  EncodedPage page{Result{}};
  const Result copied = codecs::CopyJpegBlocks(data, size, cut, SaveDpi(info.Resolution.X),
                                               SaveDpi(info.Resolution.Y), info.Source.IccProfile,
                                               page.Bytes, preview);
  if (!copied.Ok())
    return EncodedPage(copied);
  info.Read = Result{};
  page.Copied = true;
  return page;
}

bool WritesByCopyingBlocks(const QString& path, const PageRaster& raster, const PageSource& source,
                           const std::optional<Rect>& cut) {
  return !raster.IsEmpty() && !IsPngPath(path) && CanCopyBlocks(raster, source, cut);
}

EncodedPage EncodePage(const QString& path, const PageRaster& raster, float resolutionX,
                       float resolutionY, const QByteArray& iccProfile) {
  PageSource source;
  source.IccProfile = iccProfile;
  return EncodePage(path, raster, resolutionX, resolutionY, source);
}

SaveResult WritePage(const QString& path, const EncodedPage& page, const SaveOptions& options,
                     const QStringList& keepNext) {
  if (!page.Ok())
    return page;
  if (options.ReadAs) {
    if (const Result unchanged = CheckUnchanged(path, *options.ReadAs); !unchanged.Ok())
      return unchanged;
  }
  if (const Result writable = CheckWritable(path); !writable.Ok())
    return writable;
  if (options.KeepOriginal) {
    // Safety comes first: a page whose original cannot be kept is not touched.
    if (const Result kept = KeepOriginals(path, keepNext); !kept.Ok())
      return kept;
  }
  const char* bytes = reinterpret_cast<const char*>(page.Bytes.Data());
  const std::size_t size = page.Bytes.Size();
  BeforeRename mark;
  if (options.KeepOriginal) {
    mark = [&](int fd, const FileIdentity& written) {
      return MarkWrittenPage(path, fd, written, QByteArrayView(bytes, qsizetype(size)));
    };
  }
  FileIdentity identity;
  if (const Result written = ReplaceFileContents(path, bytes, size, &identity, mark);
      !written.Ok()) {
    return written;
  }
  // A save that no other follows (a single one, a batch's last page) is
  // durable when it is done, with the syncs put off before it. The pages
  // that follow are named only where originals are kept.
  if (options.KeepOriginal && keepNext.isEmpty())
    SyncDeferred();
  return {Result{}, identity};
}

SaveResult SavePage(const QString& path, const PageRaster& raster, float resolutionX,
                    float resolutionY, const SaveOptions& options) {
  // The whole file is encoded before the page file is touched, so an encoder
  // failure cannot leave a half-written page.
  return WritePage(path, EncodePage(path, raster, resolutionX, resolutionY, options.IccProfile),
                   options);
}

}  // namespace pagetrim
