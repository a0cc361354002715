// PNG decoding and encoding with libpng, over bytes in memory.
//
// libpng reports fatal errors by longjmp to the one function that called
// setjmp. Those functions hold only plain C data in their own frame: the
// libpng objects and every buffer live in the caller's frame (PngReader,
// PngWriter), whose destructor always destroys them, so a longjmp never skips
// a C++ destructor.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "codecs.h"

namespace pagetrim::codecs {

namespace {

constexpr int PngCompressionLevel = 3;

constexpr double MetresPerInch = 0.0254;

[[noreturn]] void FailPng(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

// Warnings (bad ancillary chunks and the like) keep the picture and stay off stderr.
void IgnoreWarning(png_structp, png_const_charp) {}

// ---- Decoding ---------------------------------------------------------------

struct PngReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::size_t Offset = 0;
  std::vector<png_bytep> RowPointers;
  std::vector<std::uint8_t> Rgba;  // only for pictures with transparency

  ~PngReader() {
    if (Png != nullptr)
      png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr);
  }
};

void ReadFromMemory(png_structp png, png_bytep out, std::size_t count) {
  auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
  if (reader->Size - reader->Offset < count)
    png_error(png, "truncated");
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

bool RunDecode(PngReader& reader, PageRaster& raster, PageResolution& resolution) {
  png_structp png = reader.Png;
  png_infop info = reader.Info;
  if (setjmp(png_jmpbuf(png)))
    return false;

  png_set_read_fn(png, &reader, ReadFromMemory);
  png_set_user_limits(png, MaxSide, MaxSide);
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  if (!SizeAllowed(width, height))
    return false;

  png_uint_32 ppmX = 0;
  png_uint_32 ppmY = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  if (png_get_pHYs(png, info, &ppmX, &ppmY, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    resolution = {DpiFromPpm(ppmX), DpiFromPpm(ppmY)};
  }

  // Everything becomes 8-bit BGR, with an alpha channel when the file has
  // transparency (alpha channel or tRNS). No gamma or colour profile is applied.
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if ((channels != 3 && channels != 4) ||
      png_get_rowbytes(png, info) != std::size_t(width) * std::size_t(channels)) {
    return false;
  }

  raster.ResetForOverwrite(int(width), int(height));
  if (channels == 3) {
    if (passes == 1) {
      for (png_uint_32 y = 0; y < height; ++y)
        png_read_row(png, raster.Row(int(y)), nullptr);
    } else {
      reader.RowPointers.resize(height);
      for (png_uint_32 y = 0; y < height; ++y)
        reader.RowPointers[y] = raster.Row(int(y));
      png_read_image(png, reader.RowPointers.data());
    }
  } else if (passes == 1) {
    reader.Rgba.resize(std::size_t(width) * 4);
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, reader.Rgba.data(), nullptr);
      BlendOntoWhite(reader.Rgba.data(), raster.Row(int(y)), width);
    }
  } else {
    // Interlaced passes revisit every row, so the whole picture is kept with
    // its alpha until the last pass.
    const std::size_t rowBytes = std::size_t(width) * 4;
    reader.Rgba.resize(rowBytes * height);
    reader.RowPointers.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) {
      reader.RowPointers[y] = reader.Rgba.data() + rowBytes * y;
    }
    png_read_image(png, reader.RowPointers.data());
    for (png_uint_32 y = 0; y < height; ++y) {
      BlendOntoWhite(reader.RowPointers[y], raster.Row(int(y)), width);
    }
  }
  // png_read_end is skipped on purpose: every row is in place, and the chunks
  // after the picture data carry nothing this program uses.
  return true;
}

// ---- Encoding ---------------------------------------------------------------

enum class PngLayout { Bitonal, Gray, Colour };

// One pass: colour as soon as a row holds a non-gray pixel; otherwise bitonal
// when every value is 0 or 255.
PngLayout Classify(const PageRaster& raster) {
  unsigned middle = 0;
  for (int y = 0; y < raster.Height(); ++y) {
    const std::uint8_t* p = raster.Row(y);
    const std::uint8_t* end = p + raster.RowBytes();
    unsigned difference = 0;
    for (; p != end; p += 3) {
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
  EncodedBytes* Out = nullptr;
  std::vector<std::uint8_t> Row;  // one packed row for the gray layouts

  ~PngWriter() {
    if (Png != nullptr)
      png_destroy_write_struct(&Png, Info != nullptr ? &Info : nullptr);
  }
};

void WriteToMemory(png_structp png, png_bytep data, std::size_t count) {
  auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
  if (!writer->Out->Append(data, count))
    png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

png_uint_32 PpmFromDpi(float dpi) {
  // pHYs values are limited to 31 bits.
  return png_uint_32(std::lround(std::min(double(dpi) / MetresPerInch, 2147483647.0)));
}

bool RunEncode(PngWriter& writer, const PageRaster& raster, PngLayout layout, float dpiX,
               float dpiY) {
  png_structp png = writer.Png;
  png_infop info = writer.Info;
  if (setjmp(png_jmpbuf(png)))
    return false;

  const png_uint_32 width = png_uint_32(raster.Width());
  const png_uint_32 height = png_uint_32(raster.Height());
  png_set_write_fn(png, &writer, WriteToMemory, FlushNothing);
  const int bitDepth = layout == PngLayout::Bitonal ? 1 : 8;
  const int colourType = layout == PngLayout::Colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  png_set_IHDR(png, info, width, height, bitDepth, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, PpmFromDpi(dpiX), PpmFromDpi(dpiY), PNG_RESOLUTION_METER);
  // zlib's default level spends 2.5 s on a noisy colour A4 page at 300 dpi;
  // level 3 takes 1 s for a file about a tenth larger. Bitonal pages, the
  // usual PNG scans, are small and quick at any level.
  png_set_compression_level(png, PngCompressionLevel);
  png_write_info(png, info);

  if (layout == PngLayout::Colour) {
    png_set_bgr(png);
    for (png_uint_32 y = 0; y < height; ++y)
      png_write_row(png, raster.Row(int(y)));
  } else if (layout == PngLayout::Gray) {
    std::uint8_t* row = writer.Row.data();
    for (png_uint_32 y = 0; y < height; ++y) {
      const std::uint8_t* src = raster.Row(int(y));
      for (png_uint_32 x = 0; x < width; ++x)
        row[x] = src[std::size_t(x) * 3];
      png_write_row(png, row);
    }
  } else {
    std::uint8_t* row = writer.Row.data();
    const std::size_t rowBytes = (std::size_t(width) + 7) / 8;
    for (png_uint_32 y = 0; y < height; ++y) {
      const std::uint8_t* src = raster.Row(int(y));
      std::memset(row, 0, rowBytes);
      // In 1-bit gray a set bit is white; the first pixel is the high bit.
      for (png_uint_32 x = 0; x < width; ++x) {
        row[x >> 3] |= std::uint8_t((src[std::size_t(x) * 3] & 0x80u) >> (x & 7));
      }
      png_write_row(png, row);
    }
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool LooksLikePng(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= sizeof(Signature) && std::memcmp(data, Signature, sizeof(Signature)) == 0;
}

bool DecodePng(const std::uint8_t* data, std::size_t size, PageRaster& raster,
               PageResolution& resolution) {
  PngReader reader;
  reader.Data = data;
  reader.Size = size;
  reader.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, FailPng, IgnoreWarning);
  if (reader.Png == nullptr)
    return false;
  reader.Info = png_create_info_struct(reader.Png);
  if (reader.Info == nullptr)
    return false;
  return RunDecode(reader, raster, resolution);
}

bool EncodePng(const PageRaster& raster, float dpiX, float dpiY, EncodedBytes& out) {
  const PngLayout layout = Classify(raster);
  PngWriter writer;
  writer.Out = &out;
  if (layout != PngLayout::Colour)
    writer.Row.resize(std::size_t(raster.Width()));
  writer.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, FailPng, IgnoreWarning);
  if (writer.Png == nullptr)
    return false;
  writer.Info = png_create_info_struct(writer.Png);
  if (writer.Info == nullptr)
    return false;
  return RunEncode(writer, raster, layout, dpiX, dpiY);
}

}  // namespace pagetrim::codecs
