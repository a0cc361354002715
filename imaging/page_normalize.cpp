// Page normalisation's pixel work, written as one pass that builds each canvas
// row once instead of whitening a canvas and then copying over it.
#include "page_normalize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace pagetrim {

int NormalizedWidth(int height, bool portrait) {
  const int single = int(std::trunc((double(height) + 1.0) * NormalPageRatio));
  return portrait ? single : 2 * single;
}

void CentreOnCanvas(PageRaster& page, int targetWidth) {
  const std::size_t Bpp = std::size_t(page.BytesPerPixel());
  const int width = page.Width();
  const int height = page.Height();
  targetWidth = std::max(targetWidth, 0);
  const int left = (targetWidth - width) / 2;

  // The page lands on canvas columns left .. left + width: column left shows
  // page column 0, column x > left shows page column x - left - 1. This is
  // what a rectangle copy into a destination one column wider than the page
  // gives, with the first column doubled.
  const int first = width > 0 ? std::clamp(left, 0, targetWidth) : 0;
  const int end = width > 0 ? std::clamp(left + width + 1, first, targetWidth) : 0;

  PageRaster canvas;
  canvas.ResetForOverwrite(targetWidth, height, page.Format());
  for (int y = 0; y < height && targetWidth > 0; ++y) {
    std::uint8_t* dest = canvas.Row(y);
    const std::uint8_t* src = std::as_const(page).Row(y);
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
