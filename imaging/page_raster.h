// PageRaster: the 24-bit page picture every command works on, stored as
// blue-green-red rows, plus the gray and black-and-white analysis copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pagetrim {

// A pixel's colour as one integer: red in the low byte, then green, then blue.
using ColourValue = std::int32_t;
inline constexpr ColourValue InvalidColour = -1;

inline constexpr ColourValue MakeColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return ColourValue(red) | (ColourValue(green) << 8) | (ColourValue(blue) << 16);
}

// Left, top, right, bottom; right and bottom are exclusive.
struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

// A raster behaves as a value: copies are deep and changing one raster never
// changes another. Underneath, a 300 dpi page is 26 MB, and the commands copy
// and crop whole pages many times a second, so copies share their pixels
// until one of them is written (copy on write), and crops from the top, left,
// right or bottom only narrow the window onto the shared pixels.
class PageRaster {
 public:
  static constexpr int BytesPerPixel = 3;

  PageRaster() = default;
  PageRaster(int width, int height);  // all white

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool IsEmpty() const { return width_ <= 0 || height_ <= 0; }

  // Size changes keep the pixels anchored at the top-left; new area is white.
  void SetWidth(int width);
  void SetHeight(int height);
  void SetSize(int width, int height);

  // Colour of one pixel, or InvalidColour outside the raster.
  ColourValue PixelAt(int x, int y) const;

  void AssignFrom(const PageRaster& src);
  // Copies src onto this raster at (0, 0), clipped; the size does not change.
  void DrawOver(const PageRaster& src);
  // Copies srcRect of src into destRect of this raster, repeating or dropping
  // whole pixels when the sizes differ; clipped to this raster.
  void CopyRect(const Rect& destRect, const PageRaster& src, const Rect& srcRect);
  // Remove the first n rows or columns (0 <= n < Height() or Width()).
  void CropTop(int n);
  void CropLeft(int n);

  // Row access for the pixel loops and the codecs: a row's RowBytes() bytes
  // are contiguous, but rows need not follow each other directly. Row() for
  // writing first gives this raster pixels of its own; the pointer is good
  // for writing only until the raster is next copied, resized or cropped.
  std::size_t RowBytes() const { return std::size_t(width_) * BytesPerPixel; }
  std::uint8_t* Row(int y) {
    MakeUnique();
    return Base() + std::size_t(y) * stride_;
  }
  const std::uint8_t* Row(int y) const { return Base() + std::size_t(y) * stride_; }
  // Sets the size without keeping the old pixels; every pixel is then
  // unspecified until written. For decoders that fill every row.
  void ResetForOverwrite(int width, int height);

  // Pixel storage shared between copies. Public only so that the pool of
  // page-sized buffers can be named in the .cpp.
  struct Storage;

 private:
  std::uint8_t* Base() const;
  void MakeUnique();
  // Fresh storage of width x height, tightly packed, content unspecified.
  void Allocate(int width, int height);
  static PageRaster EmptyOfSize(int width, int height);

  int width_ = 0;
  int height_ = 0;
  std::shared_ptr<Storage> storage_;
  std::size_t offset_ = 0;  // bytes from the storage's start to pixel (0, 0)
  std::size_t stride_ = 0;  // bytes from one row to the next
};

// Builds the gray copy ((b + g + r) div 3 in all three channels) and the
// black-and-white copy (black where that gray is below threshold) of source.
// gray and binary must already have source's size. The threshold is not
// clamped: 0 or less gives all white, 256 or more all black.
void MakeAnalysisImages(const PageRaster& source, PageRaster& gray, PageRaster& binary,
                        int threshold);

}  // namespace pagetrim
