// EXIF: what a page file's EXIF block says about its resolution and the way
// its pixels are stored, and turning stored pixels upright.
#include <algorithm>
#include <cstring>

#include "codecs.h"

namespace pagetrim::codecs {

namespace {

// Reads the TIFF structure inside an EXIF block; every access is
// bounds-checked because the block comes straight from the file.
class TiffReader {
 public:
  TiffReader(const std::uint8_t* data, std::size_t size, bool littleEndian)
      : data_(data), size_(size), little_(littleEndian) {}

  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= size_ && size_ - offset >= count;
  }
  bool U16(std::size_t offset, std::uint32_t& value) const {
    if (!Has(offset, 2))
      return false;
    const std::uint8_t* p = data_ + offset;
    value = little_ ? (p[0] | (p[1] << 8)) : ((p[0] << 8) | p[1]);
    return true;
  }
  bool U32(std::size_t offset, std::uint32_t& value) const {
    if (!Has(offset, 4))
      return false;
    const std::uint8_t* p = data_ + offset;
    value = little_ ? (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                       std::uint32_t(p[3]) << 24)
                    : (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                       std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]));
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  bool little_;
};

constexpr std::uint32_t TagOrientation = 0x0112;
constexpr std::uint32_t TagXResolution = 0x011A;
constexpr std::uint32_t TagYResolution = 0x011B;
constexpr std::uint32_t TagResolutionUnit = 0x0128;
constexpr std::uint32_t TypeShort = 3;
constexpr std::uint32_t TypeRational = 5;
constexpr std::uint32_t TiffEntrySize = 12;

// Copies one pixel of Bpp bytes.
template <int Bpp>
void CopyPixel(std::uint8_t* dest, const std::uint8_t* src) {
  for (int i = 0; i < Bpp; ++i)
    dest[i] = src[i];
}

// Orientations that keep rows as rows: 2 mirrors each row, 4 reverses their
// order, 3 does both.
template <int Bpp>
void MirrorInto(const PageRaster& page, PageRaster& out, bool mirrorRows, bool reverseRows) {
  const int width = page.Width();
  const int height = page.Height();
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = page.Row(reverseRows ? height - 1 - y : y);
    std::uint8_t* dest = out.Row(y);
    if (!mirrorRows) {
      std::memcpy(dest, src, page.RowBytes());
      continue;
    }
    for (int x = 0; x < width; ++x)
      CopyPixel<Bpp>(dest + std::size_t(x) * Bpp, src + std::size_t(width - 1 - x) * Bpp);
  }
}

// Orientations 5 to 8: each row of the upright page is a column of the stored
// one, taken from the left (5, 6) or the right (7, 8), read downwards (5, 8)
// or upwards (6, 7). Done in tiles, so that the stored rows a tile reads stay
// in the cache.
template <int Bpp>
void TurnInto(const PageRaster& page, PageRaster& out, bool columnsFromRight, bool readUpwards) {
  constexpr int Tile = 64;
  const int storedWidth = page.Width();
  const int storedHeight = page.Height();
  const int outWidth = out.Width();
  const int outHeight = out.Height();
  for (int top = 0; top < outHeight; top += Tile) {
    for (int left = 0; left < outWidth; left += Tile) {
      const int right = std::min(left + Tile, outWidth);
      for (int y = top; y < std::min(top + Tile, outHeight); ++y) {
        const int column = columnsFromRight ? storedWidth - 1 - y : y;
        const std::size_t offset = std::size_t(column) * Bpp;
        std::uint8_t* dest = out.Row(y);
        for (int x = left; x < right; ++x) {
          const int row = readUpwards ? storedHeight - 1 - x : x;
          CopyPixel<Bpp>(dest + std::size_t(x) * Bpp, page.Row(row) + offset);
        }
      }
    }
  }
}

template <int Bpp>
void Orient(const PageRaster& page, PageRaster& out, int orientation) {
  switch (orientation) {
    case 2:
      return MirrorInto<Bpp>(page, out, true, false);
    case 3:
      return MirrorInto<Bpp>(page, out, true, true);
    case 4:
      return MirrorInto<Bpp>(page, out, false, true);
    case 5:
      return TurnInto<Bpp>(page, out, false, false);
    case 6:
      return TurnInto<Bpp>(page, out, false, true);
    case 7:
      return TurnInto<Bpp>(page, out, true, true);
    default:
      return TurnInto<Bpp>(page, out, true, false);
  }
}

}  // namespace

ExifFacts ReadExif(const std::uint8_t* tiff, std::size_t size) {
  if (size < 8)
    return {};
  bool little;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    little = true;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    little = false;
  } else {
    return {};
  }
  const TiffReader reader(tiff, size, little);
  std::uint32_t magic = 0;
  std::uint32_t ifd = 0;
  std::uint32_t entries = 0;
  if (!reader.U16(2, magic) || magic != 42 || !reader.U32(4, ifd) || !reader.U16(ifd, entries)) {
    return {};
  }

  ExifFacts facts;
  double x = 0;
  double y = 0;
  std::uint32_t unit = 2;  // inches when the tag is absent
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::size_t entry = std::size_t(ifd) + 2 + std::size_t(i) * TiffEntrySize;
    std::uint32_t tag = 0;
    std::uint32_t type = 0;
    std::uint32_t count = 0;
    if (!reader.U16(entry, tag) || !reader.U16(entry + 2, type) || !reader.U32(entry + 4, count) ||
        !reader.Has(entry, TiffEntrySize)) {
      break;
    }
    if ((tag == TagXResolution || tag == TagYResolution) && type == TypeRational && count >= 1) {
      std::uint32_t offset = 0;
      std::uint32_t numerator = 0;
      std::uint32_t denominator = 0;
      if (reader.U32(entry + 8, offset) && reader.U32(offset, numerator) &&
          reader.U32(std::size_t(offset) + 4, denominator) && denominator != 0) {
        (tag == TagXResolution ? x : y) = double(numerator) / double(denominator);
      }
    } else if (tag == TagResolutionUnit && type == TypeShort && count >= 1) {
      reader.U16(entry + 8, unit);
    } else if (tag == TagOrientation && type == TypeShort && count == 1) {
      // Any other value is damage: the pixels are then taken as stored.
      std::uint32_t orientation = 0;
      if (reader.U16(entry + 8, orientation) && orientation >= 1 && orientation <= 8)
        facts.Orientation = int(orientation);
    }
  }

  // 1 means "no absolute unit"; anything else but inches and centimetres is
  // unknown.
  if (unit == 2 || unit == 3) {
    const double perInch = unit == 2 ? 1.0 : 2.54;
    facts.Resolution = {float(x * perInch), float(y * perInch)};
  }
  return facts;
}

bool TurnUpright(PageRaster& page, int orientation) {
  if (orientation < 2 || orientation > 8 || page.IsEmpty())
    return true;
  const bool swap = SwapsAxes(orientation);
  PageRaster out;
  if (!out.TryResetForOverwrite(swap ? page.Height() : page.Width(),
                                swap ? page.Width() : page.Height(), page.Format())) {
    return false;
  }
  if (page.BytesPerPixel() == 1) {
    Orient<1>(page, out, orientation);
  } else {
    Orient<3>(page, out, orientation);
  }
  page = std::move(out);
  return true;
}

}  // namespace pagetrim::codecs
