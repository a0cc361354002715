// PageRaster's size, copy and crop operations, and the analysis images.
#include "page_raster.h"

#include <algorithm>
#include <cstring>

namespace pagetrim {

namespace {

constexpr std::uint8_t White = 0xFF;

int NonNegative(int v) {
  return v < 0 ? 0 : v;
}

// For each destination index, the source index it repeats; whole pixels only.
std::vector<int> ScaleMap(int destLength, int srcStart, int srcLength) {
  std::vector<int> map(std::size_t(NonNegative(destLength)));
  for (int i = 0; i < destLength; ++i) {
    map[std::size_t(i)] = srcStart + int((std::int64_t(i) * srcLength) / std::int64_t(destLength));
  }
  return map;
}

}  // namespace

PageRaster::PageRaster(int width, int height) {
  SetSize(width, height);
}

void PageRaster::SetWidth(int width) {
  width = NonNegative(width);
  if (width == width_)
    return;
  const std::size_t oldStride = Stride();
  const std::size_t newStride = std::size_t(width) * BytesPerPixel;
  const int rows = height_;
  if (rows == 0) {
    width_ = width;
    return;
  }
  if (newStride < oldStride) {
    // Shrinking: each row moves to a lower or equal offset, so walk downwards.
    for (int y = 0; y < rows; ++y) {
      std::memmove(pixels_.data() + std::size_t(y) * newStride,
                   pixels_.data() + std::size_t(y) * oldStride, newStride);
    }
    pixels_.resize(std::size_t(rows) * newStride);
  } else {
    // Growing: rows move to higher offsets, so walk upwards from the bottom.
    pixels_.resize(std::size_t(rows) * newStride, White);
    for (int y = rows - 1; y >= 0; --y) {
      std::uint8_t* dest = pixels_.data() + std::size_t(y) * newStride;
      if (oldStride > 0)
        std::memmove(dest, pixels_.data() + std::size_t(y) * oldStride, oldStride);
      std::memset(dest + oldStride, White, newStride - oldStride);
    }
  }
  width_ = width;
}

void PageRaster::SetHeight(int height) {
  height = NonNegative(height);
  if (height == height_)
    return;
  pixels_.resize(std::size_t(height) * Stride(), White);
  height_ = height;
}

void PageRaster::SetSize(int width, int height) {
  SetWidth(width);
  SetHeight(height);
}

void PageRaster::ResetForOverwrite(int width, int height) {
  width_ = NonNegative(width);
  height_ = NonNegative(height);
  pixels_.resize(std::size_t(height_) * Stride());
}

ColourValue PageRaster::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    return InvalidColour;
  const std::uint8_t* p = Row(y) + std::size_t(x) * BytesPerPixel;
  return MakeColour(p[2], p[1], p[0]);
}

void PageRaster::AssignFrom(const PageRaster& src) {
  if (&src == this)
    return;
  width_ = src.width_;
  height_ = src.height_;
  pixels_.assign(src.pixels_.begin(), src.pixels_.end());
}

void PageRaster::DrawOver(const PageRaster& src) {
  if (&src == this)
    return;
  const int w = std::min(width_, src.width_);
  const int h = std::min(height_, src.height_);
  if (w <= 0 || h <= 0)
    return;
  const std::size_t bytes = std::size_t(w) * BytesPerPixel;
  for (int y = 0; y < h; ++y)
    std::memcpy(Row(y), src.Row(y), bytes);
}

void PageRaster::CopyRect(const Rect& destRect, const PageRaster& src, const Rect& srcRect) {
  const int dw = destRect.Width();
  const int dh = destRect.Height();
  const int sw = srcRect.Width();
  const int sh = srcRect.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
    return;

  const std::vector<int> xs = ScaleMap(dw, srcRect.Left, sw);
  const std::vector<int> ys = ScaleMap(dh, srcRect.Top, sh);

  // Columns that land inside both rasters, grouped into runs of consecutive
  // source columns so that an unscaled or nearly unscaled copy is a few memcpys.
  struct Run {
    int DestX, SrcX, Length;
  };
  std::vector<Run> runs;
  for (int i = 0; i < dw; ++i) {
    const int dx = destRect.Left + i;
    const int sx = xs[std::size_t(i)];
    if (dx < 0 || dx >= width_ || sx < 0 || sx >= src.width_)
      continue;
    if (!runs.empty()) {
      Run& last = runs.back();
      if (last.DestX + last.Length == dx && last.SrcX + last.Length == sx) {
        ++last.Length;
        continue;
      }
    }
    runs.push_back({dx, sx, 1});
  }
  if (runs.empty())
    return;

  const bool sameRaster = &src == this;
  std::vector<std::uint8_t> rowCopy;
  for (int j = 0; j < dh; ++j) {
    const int dy = destRect.Top + j;
    const int sy = ys[std::size_t(j)];
    if (dy < 0 || dy >= height_ || sy < 0 || sy >= src.height_)
      continue;
    const std::uint8_t* srcRow = src.Row(sy);
    if (sameRaster) {
      rowCopy.assign(srcRow, srcRow + src.Stride());
      srcRow = rowCopy.data();
    }
    std::uint8_t* destRow = Row(dy);
    for (const Run& run : runs) {
      std::memcpy(destRow + std::size_t(run.DestX) * BytesPerPixel,
                  srcRow + std::size_t(run.SrcX) * BytesPerPixel,
                  std::size_t(run.Length) * BytesPerPixel);
    }
  }
}

void PageRaster::CropTop(int n) {
  if (n <= 0)
    return;
  if (n >= height_) {
    SetHeight(0);
    return;
  }
  const std::size_t offset = std::size_t(n) * Stride();
  std::memmove(pixels_.data(), pixels_.data() + offset, pixels_.size() - offset);
  SetHeight(height_ - n);
}

void PageRaster::CropLeft(int n) {
  if (n <= 0)
    return;
  if (n >= width_) {
    SetWidth(0);
    return;
  }
  const std::size_t oldStride = Stride();
  const std::size_t newStride = std::size_t(width_ - n) * BytesPerPixel;
  const std::size_t skip = std::size_t(n) * BytesPerPixel;
  for (int y = 0; y < height_; ++y) {
    std::memmove(pixels_.data() + std::size_t(y) * newStride,
                 pixels_.data() + std::size_t(y) * oldStride + skip, newStride);
  }
  width_ -= n;
  pixels_.resize(std::size_t(height_) * newStride);
}

void MakeAnalysisImages(const PageRaster& source, PageRaster& gray, PageRaster& binary,
                        int threshold) {
  const int w = std::min({source.Width(), gray.Width(), binary.Width()});
  const int h = std::min({source.Height(), gray.Height(), binary.Height()});
  if (w <= 0 || h <= 0)
    return;
  // A lookup from the channel sum keeps the loop free of divisions and
  // branches; the sum runs from 0 to 765.
  std::uint8_t grayOf[766];
  std::uint8_t binaryOf[766];
  for (int sum = 0; sum <= 765; ++sum) {
    const int g = sum / 3;
    grayOf[sum] = std::uint8_t(g);
    binaryOf[sum] = g < threshold ? 0 : 255;
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = source.Row(y);
    std::uint8_t* g = gray.Row(y);
    std::uint8_t* b = binary.Row(y);
    for (int x = 0; x < w; ++x, s += 3, g += 3, b += 3) {
      const int sum = s[0] + s[1] + s[2];
      const std::uint8_t gv = grayOf[sum];
      const std::uint8_t bv = binaryOf[sum];
      g[0] = g[1] = g[2] = gv;
      b[0] = b[1] = b[2] = bv;
    }
  }
}

}  // namespace pagetrim
