// A page made small for drawing in a view: a sample of its pixels taken
// while the page is decoded, so that a view never reads the whole page just
// to draw a few hundred pixels of it.
#pragma once

#include "page_raster.h"

namespace pagetrim {

struct ReducedPicture {
  // Pixel (x, y) is the page's pixel (x * Step, y * Step).
  PageRaster Pixels;
  int Step = 1;
  // The part of the page drawn, in the page's own pixels.
  Rect Region;
  bool IsEmpty() const { return Pixels.IsEmpty() || Region.Width() <= 0 || Region.Height() <= 0; }
};

// The largest step at which a view of viewWidth x viewHeight, drawing the page
// or any part of it cut along one axis only, still has a sampled pixel for
// each pixel it draws; 0 when there is no view to draw in.
int ReductionStep(int width, int height, int viewWidth, int viewHeight);

// Samples rows [first, first + count) of page into reduced, for decoders that
// deliver rows in order; the first call (first == 0) sizes reduced.
void ReduceRows(const PageRaster& page, PageRaster& reduced, int step, int first, int count);

// The whole page at once.
ReducedPicture ReducePage(const PageRaster& page, int step);

}  // namespace pagetrim
