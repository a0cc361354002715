// Sampling a page into a small picture for its views.
#include "reduced_picture.h"

#include <algorithm>
#include <cstring>

namespace pagetrim {

int ReductionStep(int width, int height, int viewWidth, int viewHeight) {
  if (viewWidth <= 0 || viewHeight <= 0 || width <= 0 || height <= 0)
    return 0;
  // A view draws the page at most 1 / min(width / viewWidth, ...) of its
  // size; a part cut along one axis fills the view along the other one no
  // more than the whole page does.
  return std::max(1, std::min(width / viewWidth, height / viewHeight));
}

void ReduceRows(const PageRaster& page, PageRaster& reduced, int step, int first, int count) {
  if (step < 1 || page.IsEmpty())
    return;
  const int width = (page.Width() + step - 1) / step;
  if (first == 0)
    reduced.ResetForOverwrite(width, (page.Height() + step - 1) / step, page.Format());
  const int end = std::min(first + count, page.Height());
  const int bytes = page.BytesPerPixel();
  for (int y = (first + step - 1) / step * step; y < end; y += step) {
    const std::uint8_t* src = page.Row(y);
    std::uint8_t* dest = reduced.Row(y / step);
    if (bytes == 1) {
      for (int x = 0; x < width; ++x)
        dest[x] = src[std::size_t(x) * std::size_t(step)];
    } else {
      const std::size_t srcStep = std::size_t(3) * std::size_t(step);
      for (int x = 0; x < width; ++x, dest += 3, src += srcStep)
        std::memcpy(dest, src, 3);
    }
  }
}

ReducedPicture ReducePage(const PageRaster& page, int step) {
  ReducedPicture picture;
  picture.Step = std::max(step, 1);
  picture.Region = {0, 0, page.Width(), page.Height()};
  ReduceRows(page, picture.Pixels, picture.Step, 0, page.Height());
  return picture;
}

}  // namespace pagetrim
