// The JPEG and PNG codecs behind LoadPage and SavePage, working on bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>

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

// An encoded file in memory. The buffer is malloc'd and grown with realloc so
// that the codecs' C callbacks can grow it without exceptions, and report a
// failure through their own error paths instead.
class EncodedBytes {
 public:
  EncodedBytes() = default;
  EncodedBytes(const EncodedBytes&) = delete;
  EncodedBytes& operator=(const EncodedBytes&) = delete;
  ~EncodedBytes();

  const std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

  // Makes room for at least `extra` more bytes; false when out of memory.
  bool Reserve(std::size_t extra);
  bool Append(const void* bytes, std::size_t count);
  // Free space after the written bytes, for libjpeg's destination manager,
  // which writes there and then reports how much it used.
  std::uint8_t* FreeSpace() { return data_ + size_; }
  std::size_t FreeCount() const { return capacity_ - size_; }
  void Commit(std::size_t count) { size_ += count; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size);
bool LooksLikePng(const std::uint8_t* data, std::size_t size);

// Decoders fill raster and resolution and return true, or return false with
// both in an unspecified state. They may throw std::bad_alloc.
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, PageRaster& raster,
                PageResolution& resolution);
bool DecodePng(const std::uint8_t* data, std::size_t size, PageRaster& raster,
               PageResolution& resolution);

// Encoders append the whole file to out and return true, or return false.
// The raster is not empty and the resolutions are already at least
// MinimumSaveDpi and finite.
bool EncodeJpeg(const PageRaster& raster, float dpiX, float dpiY, EncodedBytes& out);
bool EncodePng(const PageRaster& raster, float dpiX, float dpiY, EncodedBytes& out);

}  // namespace pagetrim::codecs
