// Page normalisation's pixel work, written as one pass that builds each canvas
// row once instead of whitening a canvas and then copying over it.
#include "page_normalize.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace pagetrim {

int NormalizedWidth(int height, bool portrait) {
  const int single = int(std::trunc((double(height) + 1.0) * NormalPageRatio));
  return portrait ? single : 2 * single;
}

CanvasSize NormalizedCanvas(int width, int height, bool portrait) {
  CanvasSize canvas{NormalizedWidth(height, portrait), height};
  if (width <= 0 || height <= 0 || canvas.Width > width)
    return canvas;
  // Start from a height whose width is surely too small (the product is
  // truncated), and go up one row at a time: a few rows at most. A page is
  // never near 2^31 pixels wide, but the canvas must not overflow if it is.
  const double perRow = NormalPageRatio * (portrait ? 1 : 2);
  const double estimate = std::min((double(width) + 1) / perRow - 2, double(INT_MAX - 16));
  int rows = std::max(height, int(estimate));
  while (rows < INT_MAX && NormalizedWidth(rows, portrait) <= width)
    ++rows;
  return {NormalizedWidth(rows, portrait), rows};
}

void CentreOnCanvas(PageRaster& page, CanvasSize size) {
  const std::size_t Bpp = std::size_t(page.BytesPerPixel());
  const int width = page.Width();
  const int height = page.Height();
  const int targetWidth = std::max(size.Width, 0);
  const int targetHeight = std::max(size.Height, 0);
  const int left = (targetWidth - width) / 2;
  const int top = (targetHeight - height) / 2;

  // The page lands on canvas columns left .. left + width: column left shows
  // page column 0, column x > left shows page column x - left - 1. This is
  // what a rectangle copy into a destination one column wider than the page
  // gives, with the first column doubled.
  const int first = width > 0 ? std::clamp(left, 0, targetWidth) : 0;
  const int end = width > 0 ? std::clamp(left + width + 1, first, targetWidth) : 0;

  PageRaster canvas;
  canvas.ResetForOverwrite(targetWidth, targetHeight, page.Format());
  for (int y = 0; y < targetHeight && targetWidth > 0; ++y) {
    std::uint8_t* dest = canvas.Row(y);
    const int pageRow = y - top;
    if (pageRow < 0 || pageRow >= height) {
      std::memset(dest, 0xFF, canvas.RowBytes());
      continue;
    }
    const std::uint8_t* src = std::as_const(page).Row(pageRow);
    std::memset(dest, 0xFF, std::size_t(first) * Bpp);
    int x = first;
    if (x < end && x == left) {
      std::memcpy(dest + std::size_t(x) * Bpp, src, Bpp);
      ++x;
    }
    if (x < end) {
      std::memcpy(dest + std::size_t(x) * Bpp, src + std::size_t(x - left - 1) * Bpp,
                  std::size_t(end - x) * Bpp);
    }
    std::memset(dest + std::size_t(end) * Bpp, 0xFF, std::size_t(targetWidth - end) * Bpp);
  }
  page = std::move(canvas);
}

}  // namespace pagetrim
