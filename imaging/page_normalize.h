// The pixel work of page normalisation: the target width for a fixed
// width-to-height ratio and the page centred on a white canvas of that width.
#pragma once

#include "page_raster.h"

namespace pagetrim {

// Width to height of a normalised single page. A literal, not 1/sqrt(2): the
// widths of pages already normalised depend on it.
inline constexpr double NormalPageRatio = 0.707;

// Trunc((height + 1) * 0.707) for a portrait page, twice that for a landscape
// or square one (a spread of two pages).
int NormalizedWidth(int height, bool portrait);

// Replaces page by a white canvas targetWidth wide and as high as page, with
// the page centred on it ((targetWidth - width) div 2 from the left, which is
// negative for a page wider than the canvas) and stretched by one column as it
// is copied: column 0 appears twice. What falls outside the canvas is lost.
void CentreOnCanvas(PageRaster& page, int targetWidth);

}  // namespace pagetrim
