// The JPEG and PNG codecs behind LoadPage and SavePage, working on bytes in memory.
#pragma once

#include <QByteArray>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "encoded_bytes.h"
#include "page_codec.h"
#include "page_raster.h"
#include "result.h"

namespace pagetrim::codecs {

// Pages larger than this are refused as too large rather than risking an
// allocation the machine cannot make: 2^28 pixels is a 768 MiB raster.
inline constexpr std::uint64_t MaxPixels = std::uint64_t(1) << 28;
inline constexpr std::uint32_t MaxSide = 65535;
// 2^28 pixels of 16-bit RGBA stored without compression, and room for
// everything else a file may carry: no page file of an allowed size is
// larger, so a larger one is not even read into memory.
inline constexpr std::uint64_t MaxPageFileBytes = MaxPixels * 8 + (std::uint64_t(64) << 20);

inline bool SizeAllowed(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= MaxSide && height <= MaxSide &&
         width * height <= MaxPixels;
}

// What a decoder is asked for besides the pixels, and what it finds.
struct DecodeContext {
  // Called after rows [first, first + count) of the raster hold their final
  // pixels, in order, so that work on them can follow while they are cached.
  std::function<void(int first, int count)> RowsDecoded;
  // Set from another thread to make the decoder give up early.
  const std::atomic<bool>* Cancel = nullptr;

  PageResolution Resolution;
  // Every pixel is 0 or 255, as in a 1-bit gray file; known before the
  // first rows are delivered.
  bool Bitonal = false;
  // The embedded colour profile, as stored; empty when none or damaged.
  QByteArray IccProfile;
  // How a gray or YCbCr JPEG file was coded.
  std::optional<JpegCoding> Jpeg;
  // The EXIF orientation, 1 to 8; 1 (as stored) when absent or damaged.
  // Known before the first rows are decoded; rows are delivered to
  // RowsDecoded only for orientation 1, as for any other the decoded rows
  // are not yet the page's.
  int Orientation = 1;

  bool Cancelled() const { return Cancel != nullptr && Cancel->load(std::memory_order_relaxed); }
  // Hands rows that hold their final pixels to RowsDecoded.
  void DeliverRows(int first, int count) const {
    if (RowsDecoded && Orientation == 1)
      RowsDecoded(first, count);
  }
};

// The pixel size a file declares and its channels (1 for gray), read from
// its header alone.
struct DeclaredSize {
  int Width = 0;
  int Height = 0;
  int Channels = 0;
  int Components = 0;
  // Progressive JPEG: the decoder holds every coefficient of the picture.
  bool Progressive = false;
};

bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size);
bool LooksLikePng(const std::uint8_t* data, std::size_t size);

// Decoders fill raster (gray pages as one-byte gray) and context, or fail
// with both in an unspecified state, saying why: DamagedImage (also for a
// file that is no image of its kind), ImageTooLarge (beyond MaxSide or
// MaxPixels, or the codec's memory limit), OutOfMemory, UnreadableImage (a
// kind of file they cannot decode) or Cancelled. They take the page's memory
// without throwing: no memory is a reason like the others.
Result DecodeJpeg(const std::uint8_t* data, std::size_t size, PageRaster& raster,
                  DecodeContext& context);
Result DecodePng(const std::uint8_t* data, std::size_t size, PageRaster& raster,
                 DecodeContext& context);
Result ReadJpegSize(const std::uint8_t* data, std::size_t size, DeclaredSize& declared);
Result ReadPngSize(const std::uint8_t* data, std::size_t size, DeclaredSize& declared);

// Encoders append the whole file to out, or fail as OutOfMemory,
// ImageTooLarge (a JPEG page beyond the format's 65500 pixels) or
// CannotEncode (anything else the library refuses).
// The raster is not empty and the resolutions are already at least
// MinimumSaveDpi and finite. A colour profile is written when it suits the
// file's colour channels; an RGB profile keeps a page of only gray pixels in
// colour, so that the profile stays true to the file.
// A JPEG page is coded with coding's tables, sampling and progression when
// given and usable for the raster (a colour page cannot take a gray file's),
// otherwise at DefaultJpegQuality with 4:2:0 chroma.
Result EncodeJpeg(const PageRaster& raster, float dpiX, float dpiY, const QByteArray& iccProfile,
                  EncodedBytes& out, const JpegCoding* coding = nullptr);
// Writes the part cut of the JPEG file in data by copying its DCT blocks,
// without decoding: cut's left and top must fall on the file's MCU grid. The
// file is read under the decoder's limits. out, empty before, is left empty
// on failure: CannotEncode when the cut or the file's coding does not allow
// a copy, else the decoder's reasons.
// preview, when given, gets the whole page at an eighth of its size, each
// pixel the mean of the 8 x 8 it stands for, from the blocks read anyway.
Result CopyJpegBlocks(const std::uint8_t* data, std::size_t size, const Rect& cut, float dpiX,
                      float dpiY, const QByteArray& iccProfile, EncodedBytes& out,
                      PageRaster* preview = nullptr);
// What a JPEG file's header says besides its pixels: the resolution, the
// EXIF orientation and the colour profile, into context.
Result ReadJpegFacts(const std::uint8_t* data, std::size_t size, DecodeContext& context);
// bitonal: every pixel is known to be 0 or 255, as in a cut of a 1-bit page,
// so the page need not be read through to choose 1-bit gray.
Result EncodePng(const PageRaster& raster, float dpiX, float dpiY, const QByteArray& iccProfile,
                 EncodedBytes& out, bool bitonal = false);

// What the first directory of an EXIF block (a TIFF structure, after the
// "Exif\0\0" header) says about the page; every read is bounds-checked.
struct ExifFacts {
  PageResolution Resolution;  // 0 for an axis that is missing or unreadable
  int Orientation = 1;        // 1 when missing or out of range
};
ExifFacts ReadExif(const std::uint8_t* tiff, std::size_t size);

// Turns a decoded page upright as its EXIF orientation (2 to 8) says; false,
// with the page as it was, when the turned page's memory cannot be had.
bool TurnUpright(PageRaster& page, int orientation);
// Orientations 5 to 8 turn the page a quarter: its width and height swap.
inline bool SwapsAxes(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

// The colour space an ICC profile describes, or nothing for a profile whose
// structure is damaged (length, signature or tag table out of place).
enum class ProfileSpace { None, Gray, Rgb, Other };
ProfileSpace CheckIccProfile(const QByteArray& profile);

}  // namespace pagetrim::codecs
