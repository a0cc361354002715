// The JPEG and PNG codecs behind LoadPage and SavePage, working on bytes in memory.
#pragma once

#include <QByteArray>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "encoded_bytes.h"
#include "page_codec.h"
#include "page_raster.h"

namespace pagetrim::codecs {

// Pages larger than this are treated as undecodable rather than risking an
// allocation the machine cannot make: 2^28 pixels is a 768 MiB raster.
inline constexpr std::uint64_t MaxPixels = std::uint64_t(1) << 28;
inline constexpr std::uint32_t MaxSide = 65535;

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

  bool Cancelled() const { return Cancel != nullptr && Cancel->load(std::memory_order_relaxed); }
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

// Decoders fill raster (gray pages as one-byte gray) and context and return
// true, or return false with both in an unspecified state. They may throw
// std::bad_alloc.
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, PageRaster& raster,
                DecodeContext& context);
bool DecodePng(const std::uint8_t* data, std::size_t size, PageRaster& raster,
               DecodeContext& context);
bool ReadJpegSize(const std::uint8_t* data, std::size_t size, DeclaredSize& declared);
bool ReadPngSize(const std::uint8_t* data, std::size_t size, DeclaredSize& declared);

// Encoders append the whole file to out and return true, or return false.
// The raster is not empty and the resolutions are already at least
// MinimumSaveDpi and finite. A colour profile is written when it suits the
// file's colour channels; an RGB profile keeps a page of only gray pixels in
// colour, so that the profile stays true to the file.
bool EncodeJpeg(const PageRaster& raster, float dpiX, float dpiY, const QByteArray& iccProfile,
                EncodedBytes& out);
// bitonal: every pixel is known to be 0 or 255, as in a crop of a 1-bit
// page, so the page need not be read to choose 1-bit gray.
bool EncodePng(const PageRaster& raster, float dpiX, float dpiY, const QByteArray& iccProfile,
               EncodedBytes& out, bool bitonal = false);

// The colour space an ICC profile describes, or nothing for a profile whose
// structure is damaged (length, signature or tag table out of place).
enum class ProfileSpace { None, Gray, Rgb, Other };
ProfileSpace CheckIccProfile(const QByteArray& profile);

}  // namespace pagetrim::codecs
