// PNG decoding and encoding with libpng, over bytes in memory.
//
// libpng reports fatal errors by longjmp to the one function that called
// setjmp, after its error function has noted the reason the message stands
// for. Those functions hold only plain C data in their own frame: the libpng
// objects and every buffer live in the caller's frame (PngReader, PngWriter),
// whose destructor always destroys them, so a longjmp never skips a C++
// destructor. Buffers are taken without throwing: no memory is a reason like
// the others.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "codecs.h"

namespace pagetrim::codecs {

namespace {

constexpr double MetresPerInch = 0.0254;

// Why a reader or writer stopped; libpng's error pointer.
struct PngErrors {
  Reason Why = Reason::None;
  // The reason of a message that says nothing of memory or limits: a
  // damaged file when reading, a refusal when writing.
  Reason Otherwise;
  // libpng warns that a size is beyond the limits set, then fails with a
  // message that says only that the header is invalid.
  bool BeyondLimits = false;
};

PngErrors& ErrorsOf(png_structp png) {
  return *static_cast<PngErrors*>(png_get_error_ptr(png));
}

bool Mentions(std::string_view message, std::string_view word) {
  return message.find(word) != std::string_view::npos;
}

// libpng says what stopped it only in words: its limits ("exceeds user
// limit", "chunk data is too large", "Row has too many bytes to allocate in
// memory") and memory ("Out of memory", "Insufficient memory ...").
Reason ReasonOfMessage(std::string_view message, const PngErrors& errors) {
  if (errors.BeyondLimits || Mentions(message, "limit") || Mentions(message, "too large") ||
      Mentions(message, "too many bytes")) {
    return Reason::ImageTooLarge;
  }
  if (Mentions(message, "emory"))  // Memory or memory
    return Reason::OutOfMemory;
  return errors.Otherwise;
}

[[noreturn]] void FailPng(png_structp png, png_const_charp message) {
  PngErrors& errors = ErrorsOf(png);
  if (errors.Why == Reason::None)
    errors.Why = ReasonOfMessage(message != nullptr ? message : "", errors);
  png_longjmp(png, 1);
}

// Stops with a reason of the program's own.
[[noreturn]] void FailPng(png_structp png, Reason why) {
  ErrorsOf(png).Why = why;
  png_error(png, "stopped");
}

// Warnings (bad ancillary chunks and the like) keep the picture and stay off
// stderr; only a size beyond the limits is noted, for the error that follows.
void NoteWarning(png_structp png, png_const_charp message) {
  if (message != nullptr && Mentions(message, "exceeds user limit"))
    ErrorsOf(png).BeyondLimits = true;
}

// ---- Decoding ---------------------------------------------------------------

struct PngReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  PngErrors Errors{Reason::None, Reason::DamagedImage};
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::size_t Offset = 0;
  std::unique_ptr<png_bytep[]> RowPointers;
  std::unique_ptr<std::uint8_t[]> Rgba;  // only for pictures with transparency

  ~PngReader() {
    if (Png != nullptr)
      png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr);
  }
};

void ReadFromMemory(png_structp png, png_bytep out, std::size_t count) {
  auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
  if (reader->Size - reader->Offset < count)
    FailPng(png, Reason::DamagedImage);  // cut short
  std::memcpy(out, reader->Data + reader->Offset, count);
  reader->Offset += count;
}

// Dots per inch from dots per metre. pHYs can only hold whole dots per metre,
// so a 300 dpi page is stored as 11811 (299.9994 dpi); when a whole dpi value
// maps back to the same count, that is what the page was written at.
float DpiFromPpm(png_uint_32 ppm) {
  const double dpi = double(ppm) * MetresPerInch;
  const double whole = std::round(dpi);
  if (whole > 0 && std::round(whole / MetresPerInch) == double(ppm))
    return float(whole);
  return float(dpi);
}

// Composes BGRA rows onto white into the raster's BGR row.
void BlendOntoWhite(const std::uint8_t* src, std::uint8_t* dest, png_uint_32 width) {
  for (png_uint_32 x = 0; x < width; ++x, src += 4, dest += 3) {
    const unsigned alpha = src[3];
    const unsigned white = 255 * (255 - alpha) + 127;
    dest[0] = std::uint8_t((src[0] * alpha + white) / 255);
    dest[1] = std::uint8_t((src[1] * alpha + white) / 255);
    dest[2] = std::uint8_t((src[2] * alpha + white) / 255);
  }
}

// Deflate shrinks data at most about 1032 times, so a file smaller than its
// picture's rows over that cannot hold them: it declares a picture its data
// cannot fill, and reading it would only allocate a page for nothing.
constexpr std::uint64_t MaxDeflateRatio = 1040;

void ReadProfile(png_structp png, png_infop info, DecodeContext& context) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && profile != nullptr) {
    context.IccProfile = QByteArray(reinterpret_cast<const char*>(profile), int(length));
    if (CheckIccProfile(context.IccProfile) == ProfileSpace::None)
      context.IccProfile.clear();
  }
}

// Reason::None once the page is decoded.
Reason RunDecode(PngReader& reader, PageRaster& raster, DecodeContext& context) {
  png_structp png = reader.Png;
  png_infop info = reader.Info;
  if (setjmp(png_jmpbuf(png)))
    return reader.Errors.Why;

  png_set_read_fn(png, &reader, ReadFromMemory);
  png_set_user_limits(png, MaxSide, MaxSide);
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  if (!SizeAllowed(width, height))
    return Reason::ImageTooLarge;
  const std::uint64_t rawBytes = std::uint64_t(height) * (png_get_rowbytes(png, info) + 1);
  if (std::uint64_t(reader.Size) * MaxDeflateRatio < rawBytes)
    return Reason::DamagedImage;

  png_uint_32 ppmX = 0;
  png_uint_32 ppmY = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  if (png_get_pHYs(png, info, &ppmX, &ppmY, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    context.Resolution = {DpiFromPpm(ppmX), DpiFromPpm(ppmY)};
  }
  ReadProfile(png, info, context);
  // An eXIf chunk before the picture data may say the page is stored turned.
  png_uint_32 exifSize = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifSize, &exif) != 0 && exif != nullptr)
    context.Orientation = ReadExif(exif, exifSize).Orientation;

  // Gray pages stay one byte per pixel; everything else becomes 8-bit BGR,
  // with an alpha channel when the file has transparency (alpha channel or
  // tRNS). No gamma or colour profile is applied.
  const bool gray =
      colourType == PNG_COLOR_TYPE_GRAY && png_get_valid(png, info, PNG_INFO_tRNS) == 0;
  context.Bitonal = gray && bitDepth == 1;
  png_set_expand(png);
  png_set_scale_16(png);
  if (!gray) {
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if ((gray ? channels != 1 : channels != 3 && channels != 4) ||
      png_get_rowbytes(png, info) != std::size_t(width) * std::size_t(channels)) {
    return Reason::UnreadableImage;
  }

  if (!raster.TryResetForOverwrite(int(width), int(height),
                                   gray ? PixelFormat::Gray8 : PixelFormat::Bgr24)) {
    return Reason::OutOfMemory;
  }
  const auto rowsDone = [&](png_uint_32 first, png_uint_32 count) {
    if (context.Cancelled())
      FailPng(png, Reason::Cancelled);
    context.DeliverRows(int(first), int(count));
  };
  // Interlaced passes revisit every row, so a picture with alpha is kept
  // whole until the last pass.
  if (passes != 1) {
    reader.RowPointers.reset(new (std::nothrow) png_bytep[height]);
    if (reader.RowPointers == nullptr)
      return Reason::OutOfMemory;
  }
  if (channels == 4) {
    reader.Rgba.reset(new (std::nothrow)
                          std::uint8_t[std::size_t(width) * 4 * (passes == 1 ? 1 : height)]);
    if (reader.Rgba == nullptr)
      return Reason::OutOfMemory;
  }
  if (channels != 4) {
    if (passes == 1) {
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, raster.Row(int(y)), nullptr);
        rowsDone(y, 1);
      }
    } else {
      for (png_uint_32 y = 0; y < height; ++y)
        reader.RowPointers[y] = raster.Row(int(y));
      png_read_image(png, reader.RowPointers.get());
      rowsDone(0, height);
    }
  } else if (passes == 1) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, reader.Rgba.get(), nullptr);
      BlendOntoWhite(reader.Rgba.get(), raster.Row(int(y)), width);
      rowsDone(y, 1);
    }
  } else {
    const std::size_t rowBytes = std::size_t(width) * 4;
    for (png_uint_32 y = 0; y < height; ++y) {
      reader.RowPointers[y] = reader.Rgba.get() + rowBytes * y;
    }
    png_read_image(png, reader.RowPointers.get());
    for (png_uint_32 y = 0; y < height; ++y) {
      BlendOntoWhite(reader.RowPointers[y], raster.Row(int(y)), width);
    }
    rowsDone(0, height);
  }
  // png_read_end is skipped on purpose: every row is in place, and the chunks
  // after the picture data carry nothing this program uses.
  return Reason::None;
}

Reason RunReadSize(PngReader& reader, DeclaredSize& declared) {
  png_structp png = reader.Png;
  png_infop info = reader.Info;
  if (setjmp(png_jmpbuf(png)))
    return reader.Errors.Why;
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_read_info(png, info);
  declared.Width = int(png_get_image_width(png, info));
  declared.Height = int(png_get_image_height(png, info));
  const int colourType = png_get_color_type(png, info);
  declared.Channels =
      colourType == PNG_COLOR_TYPE_GRAY && png_get_valid(png, info, PNG_INFO_tRNS) == 0 ? 1 : 3;
  declared.Components = png_get_channels(png, info);
  return Reason::None;
}

// ---- Encoding ---------------------------------------------------------------

enum class PngLayout { Bitonal, Gray, Colour };

// One pass: colour as soon as a row holds a non-gray pixel; otherwise bitonal
// when every value is 0 or 255.
// A gray row is bitonal when every byte is 0 or 255; written without an
// early exit inside the row, so that the loop vectorises.
bool RowIsBitonal(const std::uint8_t* p, std::size_t count) {
  unsigned middle = 0;
  for (std::size_t i = 0; i < count; ++i)
    middle |= unsigned(std::uint8_t(p[i] + 1) > 1);
  return middle == 0;
}

PngLayout Classify(const PageRaster& raster) {
  const std::size_t bpp = std::size_t(raster.BytesPerPixel());
  const bool colour = raster.Format() == PixelFormat::Bgr24;
  if (!colour) {
    for (int y = 0; y < raster.Height(); ++y) {
      if (!RowIsBitonal(raster.Row(y), raster.RowBytes()))
        return PngLayout::Gray;
    }
    return PngLayout::Bitonal;
  }
  unsigned middle = 0;
  for (int y = 0; y < raster.Height(); ++y) {
    const std::uint8_t* p = raster.Row(y);
    const std::uint8_t* end = p + raster.RowBytes();
    unsigned difference = 0;
    for (; p != end; p += bpp) {
      if (colour)
        difference |= unsigned(p[0] ^ p[1]) | unsigned(p[1] ^ p[2]);
      // 0 and 255 wrap to 1 and 0; every other value lands at 2 or above.
      middle |= unsigned(std::uint8_t(p[0] + 1) > 1);
    }
    if (difference != 0)
      return PngLayout::Colour;
  }
  return middle != 0 ? PngLayout::Gray : PngLayout::Bitonal;
}

struct PngWriter {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  PngErrors Errors{Reason::None, Reason::CannotEncode};
  EncodedBytes* Out = nullptr;
  std::unique_ptr<std::uint8_t[]> Row;  // one packed row for the gray layouts

  ~PngWriter() {
    if (Png != nullptr)
      png_destroy_write_struct(&Png, Info != nullptr ? &Info : nullptr);
  }
};

void WriteToMemory(png_structp png, png_bytep data, std::size_t count) {
  auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
  if (!writer->Out->Append(data, count))
    FailPng(png, Reason::OutOfMemory);
}

void FlushNothing(png_structp) {}

png_uint_32 PpmFromDpi(float dpi) {
  // pHYs values are limited to 31 bits.
  return png_uint_32(std::lround(std::min(double(dpi) / MetresPerInch, 2147483647.0)));
}

// One row of 0 and 255 as 1-bit gray: a set bit is white, and the first
// pixel is the high bit. Gray rows are packed eight pixels at a time.
void PackBitonalRow(const std::uint8_t* src, std::size_t bpp, png_uint_32 width,
                    std::uint8_t* row) {
  png_uint_32 x = 0;
  if (bpp == 1) {
    for (; x + 8 <= width; x += 8) {
      std::uint64_t eight;
      std::memcpy(&eight, src + x, 8);
      // The high bit of each byte, the first byte's landing highest.
      eight = __builtin_bswap64(eight) & 0x8080808080808080ull;
      row[x >> 3] = std::uint8_t((eight * 0x0002040810204081ull) >> 56);
    }
  }
  std::memset(row + (x >> 3), 0, (std::size_t(width) + 7) / 8 - (x >> 3));
  for (; x < width; ++x)
    row[x >> 3] |= std::uint8_t((src[std::size_t(x) * bpp] & 0x80u) >> (x & 7));
}

// How zlib and the row filters are set for one page.
struct Compression {
  int Level;
  int Strategy;
  int Filters;
};

// 1-bit pages are mostly long runs of white, which zlib's longer searches
// shorten by a fifth against its default level; they are small, so this
// costs tens of milliseconds. Their rows are not filtered, as libpng leaves
// them by default: no filter helps 1-bit rows.
constexpr Compression BitonalCompression{8, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE};
// 8-bit pages differ: on grainy scans, filtered rows hold hardly any
// repeated strings, and run-length coding beats zlib's searches at a
// fraction of the time; smooth pictures suit level 3, and regular patterns
// libpng's defaults (level 6, and matches of filtered rows kept long), which
// most programs write. The three compete on a sample of each page.
constexpr Compression EightBitCompressions[] = {{6, Z_RLE, PNG_ALL_FILTERS},
                                                {3, Z_DEFAULT_STRATEGY, PNG_ALL_FILTERS},
                                                {6, Z_FILTERED, PNG_ALL_FILTERS}};

// Reason::None once the whole file is in the writer's output.
Reason RunEncode(PngWriter& writer, const PageRaster& raster, PngLayout layout, float dpiX,
                 float dpiY, const QByteArray& profile, Compression compression) {
  png_structp png = writer.Png;
  png_infop info = writer.Info;
  if (setjmp(png_jmpbuf(png)))
    return writer.Errors.Why;

  const png_uint_32 width = png_uint_32(raster.Width());
  const png_uint_32 height = png_uint_32(raster.Height());
  png_set_write_fn(png, &writer, WriteToMemory, FlushNothing);
  const int bitDepth = layout == PngLayout::Bitonal ? 1 : 8;
  const int colourType = layout == PngLayout::Colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  png_set_IHDR(png, info, width, height, bitDepth, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, PpmFromDpi(dpiX), PpmFromDpi(dpiY), PNG_RESOLUTION_METER);
  if (!profile.isEmpty()) {
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                 reinterpret_cast<png_const_bytep>(profile.constData()),
                 png_uint_32(profile.size()));
  }
  png_set_compression_level(png, compression.Level);
  png_set_compression_strategy(png, compression.Strategy);
  png_set_compression_mem_level(png, 9);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, compression.Filters);
  png_write_info(png, info);

  const std::size_t bpp = std::size_t(raster.BytesPerPixel());
  if (layout == PngLayout::Colour) {
    png_set_bgr(png);
    for (png_uint_32 y = 0; y < height; ++y)
      png_write_row(png, raster.Row(int(y)));
  } else if (layout == PngLayout::Gray && bpp == 1) {
    for (png_uint_32 y = 0; y < height; ++y)
      png_write_row(png, raster.Row(int(y)));
  } else if (layout == PngLayout::Gray) {
    std::uint8_t* row = writer.Row.get();
    for (png_uint_32 y = 0; y < height; ++y) {
      const std::uint8_t* src = raster.Row(int(y));
      for (png_uint_32 x = 0; x < width; ++x)
        row[x] = src[std::size_t(x) * bpp];
      png_write_row(png, row);
    }
  } else {
    std::uint8_t* row = writer.Row.get();
    for (png_uint_32 y = 0; y < height; ++y) {
      PackBitonalRow(raster.Row(int(y)), bpp, width, row);
      png_write_row(png, row);
    }
  }
  png_write_end(png, info);
  return Reason::None;
}

// libpng's structures fail to be made only for want of memory.
Reason StartReader(PngReader& reader, const std::uint8_t* data, std::size_t size) {
  reader.Data = data;
  reader.Size = size;
  reader.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader.Errors, FailPng, NoteWarning);
  if (reader.Png == nullptr)
    return Reason::OutOfMemory;
  reader.Info = png_create_info_struct(reader.Png);
  return reader.Info != nullptr ? Reason::None : Reason::OutOfMemory;
}

Reason EncodeAs(const PageRaster& raster, PngLayout layout, float dpiX, float dpiY,
                const QByteArray& profile, Compression compression, EncodedBytes& out) {
  PngWriter writer;
  writer.Out = &out;
  if (layout != PngLayout::Colour) {
    writer.Row.reset(new (std::nothrow) std::uint8_t[std::size_t(raster.Width())]);
    if (writer.Row == nullptr)
      return Reason::OutOfMemory;
  }
  writer.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer.Errors, FailPng, NoteWarning);
  if (writer.Png == nullptr)
    return Reason::OutOfMemory;
  writer.Info = png_create_info_struct(writer.Png);
  if (writer.Info == nullptr)
    return Reason::OutOfMemory;
  // A profile libpng finds fault with is left out, not the page.
  png_set_benign_errors(writer.Png, 1);
  return RunEncode(writer, raster, layout, dpiX, dpiY, profile, compression);
}

// The best of the settings for 8-bit pages, tried on eight bands of sixteen
// rows spread over the page: a few hundredths of the page's work each. None
// without the memory for the bands.
std::optional<Compression> ChooseCompression(const PageRaster& raster, PngLayout layout) {
  constexpr int Bands = 8;
  constexpr int BandRows = 16;
  PageRaster sample;
  if (raster.Height() <= Bands * BandRows) {
    sample = raster;
  } else {
    if (!sample.TryResetForOverwrite(raster.Width(), Bands * BandRows, raster.Format()))
      return std::nullopt;
    for (int band = 0; band < Bands; ++band) {
      const int top = int(std::int64_t(raster.Height() - BandRows) * band / (Bands - 1));
      for (int row = 0; row < BandRows; ++row) {
        std::memcpy(sample.Row(band * BandRows + row), raster.Row(top + row), raster.RowBytes());
      }
    }
  }
  Compression best = EightBitCompressions[1];
  std::size_t smallest = SIZE_MAX;
  for (const Compression& compression : EightBitCompressions) {
    EncodedBytes trial;
    if (EncodeAs(sample, layout, MinimumSaveDpi, MinimumSaveDpi, {}, compression, trial) ==
            Reason::None &&
        trial.Size() < smallest) {
      smallest = trial.Size();
      best = compression;
    }
  }
  return best;
}

}  // namespace

bool LooksLikePng(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= sizeof(Signature) && std::memcmp(data, Signature, sizeof(Signature)) == 0;
}

Result DecodePng(const std::uint8_t* data, std::size_t size, PageRaster& raster,
                 DecodeContext& context) {
  PngReader reader;
  Reason why = StartReader(reader, data, size);
  if (why == Reason::None)
    why = RunDecode(reader, raster, context);
  return Result{why};
}

Result ReadPngSize(const std::uint8_t* data, std::size_t size, DeclaredSize& declared) {
  PngReader reader;
  Reason why = StartReader(reader, data, size);
  if (why == Reason::None)
    why = RunReadSize(reader, declared);
  return Result{why};
}

Result EncodePng(const PageRaster& raster, float dpiX, float dpiY, const QByteArray& iccProfile,
                 EncodedBytes& out, bool bitonal) {
  // An RGB profile keeps the file in colour; a gray file takes only a gray one.
  const ProfileSpace space = CheckIccProfile(iccProfile);
  const PngLayout layout = space == ProfileSpace::Rgb && raster.Format() == PixelFormat::Bgr24
                               ? PngLayout::Colour
                           : bitonal ? PngLayout::Bitonal
                                     : Classify(raster);
  const bool fits =
      layout == PngLayout::Colour ? space == ProfileSpace::Rgb : space == ProfileSpace::Gray;
  const std::optional<Compression> compression =
      layout == PngLayout::Bitonal ? BitonalCompression : ChooseCompression(raster, layout);
  if (!compression)
    return Result::Failed(Reason::OutOfMemory);
  return Result{
      EncodeAs(raster, layout, dpiX, dpiY, fits ? iccProfile : QByteArray(), *compression, out)};
}

}  // namespace pagetrim::codecs
