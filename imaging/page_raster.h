// PageRaster: the page picture every command works on, stored as rows of
// blue-green-red pixels, or of one gray byte for gray pages, plus the gray and
// black-and-white analysis copies.
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

// Left, top, right, bottom; right and bottom are exclusive. Kept with
// CopyRect, the raster's rectangle copy, for whoever needs one.
struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// How a raster stores its pixels. A gray pixel v is the colour (v, v, v), so
// both formats give the same colour values; gray pages and the analysis
// images simply take a third of the memory.
enum class PixelFormat : std::uint8_t { Bgr24, Gray8 };

inline constexpr int BytesPerPixelOf(PixelFormat format) {
  return format == PixelFormat::Gray8 ? 1 : 3;
}

// A raster behaves as a value: copies are deep and changing one raster never
// changes another. Underneath, a 300 dpi page is 26 MB, and the commands copy
// and crop whole pages many times a second, so copies share their pixels
// until one of them is written (copy on write), and crops from the top, left,
// right or bottom only narrow the window onto the shared pixels.
class PageRaster {
 public:
  PageRaster() = default;
  PageRaster(int width, int height, PixelFormat format = PixelFormat::Bgr24);  // all white

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool IsEmpty() const { return width_ <= 0 || height_ <= 0; }
  PixelFormat Format() const { return format_; }
  int BytesPerPixel() const { return BytesPerPixelOf(format_); }

  // Size changes keep the pixels anchored at the top-left; new area is white.
  void SetWidth(int width);
  void SetHeight(int height);
  void SetSize(int width, int height);

  // Colour of one pixel, or InvalidColour outside the raster.
  ColourValue PixelAt(int x, int y) const;

  void AssignFrom(const PageRaster& src);
  // Copies src onto this raster at (0, 0), clipped; the size does not change.
  // Kept with CopyRect as the raster's drawing operations; a gray raster
  // becomes a colour one when colour is drawn on it.
  void DrawOver(const PageRaster& src);
  // Copies srcRect of src into destRect of this raster, repeating or dropping
  // whole pixels when the sizes differ; clipped to this raster.
  void CopyRect(const Rect& destRect, const PageRaster& src, const Rect& srcRect);
  // Remove the first n rows or columns (0 <= n < Height() or Width()).
  void CropTop(int n);
  void CropLeft(int n);
  // Stores a gray raster's pixels as blue-green-red, keeping every colour.
  void ConvertToColour();

  // Row access for the pixel loops and the codecs: a row's RowBytes() bytes
  // are contiguous, but rows need not follow each other directly. Row() for
  // writing first gives this raster pixels of its own; the pointer is good
  // for writing only until the raster is next copied, resized or cropped.
  std::size_t RowBytes() const { return std::size_t(width_) * std::size_t(BytesPerPixel()); }
  std::uint8_t* Row(int y) {
    MakeUnique();
    return Base() + std::size_t(y) * stride_;
  }
  const std::uint8_t* Row(int y) const { return Base() + std::size_t(y) * stride_; }
  // Sets the size and format without keeping the old pixels; every pixel is
  // then unspecified until written. For decoders that fill every row.
  void ResetForOverwrite(int width, int height, PixelFormat format = PixelFormat::Bgr24);
  // The same, but false instead of std::bad_alloc when the pixels' memory
  // cannot be had, leaving the raster empty: the codecs report that as a
  // reason of their own.
  [[nodiscard]] bool TryResetForOverwrite(int width, int height,
                                          PixelFormat format = PixelFormat::Bgr24);
  // Whether two rasters show the very same stored pixels (a copy not yet written).
  bool SharesPixelsWith(const PageRaster& other) const {
    return storage_ != nullptr && storage_ == other.storage_ && offset_ == other.offset_;
  }

  // Pixel storage shared between copies. Public only so that the pool of
  // page-sized buffers can be named in the .cpp.
  struct Storage;

 private:
  std::uint8_t* Base() const;
  void MakeUnique();
  // Fresh storage of width x height, tightly packed, content unspecified;
  // throws std::bad_alloc without the memory. TryAllocate leaves the raster
  // empty instead and returns false.
  void Allocate(int width, int height);
  bool TryAllocate(int width, int height);
  static PageRaster EmptyOfSize(int width, int height, PixelFormat format);
  // src in this raster's format, promoting this raster to colour when src is.
  PageRaster MatchFormats(const PageRaster& src);

  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::Bgr24;
  std::shared_ptr<Storage> storage_;
  std::size_t offset_ = 0;  // bytes from the storage's start to pixel (0, 0)
  std::size_t stride_ = 0;  // bytes from one row to the next
};

// Page-sized working memory from the pool that rasters take theirs from, for
// a codec that needs as much again as a page (a JPEG file's coefficients):
// a batch then reuses the same memory page after page. The bytes are
// unspecified when taken. Taken fresh, it is mapped in 4 KiB pages: it is
// touched once before it goes back to the pool, and a fresh huge page costs
// several times more to touch first on virtual machines whose host has taken
// back the memory.
class PageBuffer {
 public:
  PageBuffer() noexcept;
  // Bytes() is null when the memory cannot be had: the codec that asked
  // reports that through its own error path rather than by an exception.
  explicit PageBuffer(std::size_t size);
  PageBuffer(PageBuffer&&) noexcept;
  PageBuffer& operator=(PageBuffer&&) noexcept;
  ~PageBuffer();

  std::uint8_t* Bytes() const;
  std::size_t Size() const { return size_; }

 private:
  std::unique_ptr<PageRaster::Storage> storage_;
  std::size_t size_ = 0;
};

// The bytes that page-sized buffers freed by earlier pages may hold for the
// next ones: two buffers of the largest size recently asked for (a page's
// pixels and its analysis image fit in that), never more than this.
inline constexpr std::size_t MaxPooledBytes = std::size_t(512) << 20;
// What the pool holds now; for tests and the benchmark.
std::size_t PooledBytes();
// While a batch works ahead, the buffers its pages give back are kept for its
// next pages up to this many bytes (never more than MaxPooledBytes), so that
// pages in flight do not each take fresh memory. 0 ends the reserve.
void ReservePooledBytes(std::size_t bytes);

// Whether page buffers ask for transparent huge pages (the default). Huge
// pages save the processor's page-table walks on every pass over a page once
// its buffer is in use; a fresh one costs more to touch first than its 4 KiB
// pages do, several times more on virtual machines that return free memory
// to their host. A process that lives for one batch touches its buffers
// fresh and keeps them only for that batch.
void SetHugePageBuffers(bool wanted);

// Builds the gray copy ((b + g + r) div 3) and the black-and-white copy
// (black where that gray is below threshold) of source, as one-byte gray
// rasters of source's size. The threshold is not clamped: 0 or less gives
// all white, 256 or more all black. An empty source leaves both untouched.
void MakeAnalysisImages(const PageRaster& source, PageRaster& gray, PageRaster& binary,
                        int threshold);
// Only one of the two, for a page that uses only one. A gray source is its
// own gray copy, so MakeGrayImage shares its pixels instead of copying them.
void MakeGrayImage(const PageRaster& source, PageRaster& gray);
void MakeBinaryImage(const PageRaster& source, PageRaster& binary, int threshold);

// Row by row, for decoders that build the analysis image while the rows they
// just decoded are still in the cache: fills rows [first, first + count) of
// whichever of gray and binary is given, both already of source's size.
void AnalyseRows(const PageRaster& source, PageRaster* gray, PageRaster* binary, int threshold,
                 int first, int count);
// The analysis image's values of count pixels of a row, stored in format,
// into out: the gray image's, or with !gray the black-and-white one's.
void AnalysePixels(const std::uint8_t* pixels, PixelFormat format, int count, bool gray,
                   int threshold, std::uint8_t* out);
// The same for columns [first, first + count) of every row.
void AnalyseColumns(const PageRaster& source, PageRaster* gray, PageRaster* binary, int threshold,
                    int first, int count);

}  // namespace pagetrim
