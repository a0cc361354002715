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

struct CanvasSize {
  int Width = 0;
  int Height = 0;
};

// The canvas a page of width x height is centred on: as high as the page and
// NormalizedWidth of that height wide. The page is copied stretched by one
// column, so it needs width + 1 columns; where the canvas has fewer, it grows
// in height instead, to the lowest height whose normalised width holds them,
// so that no column of the page is lost. portrait stays as decided for the
// page. An empty page needs no columns.
CanvasSize NormalizedCanvas(int width, int height, bool portrait);

// Replaces page by a white canvas of that size with the page centred on it,
// (canvas width - width) div 2 from the left and (canvas height - height)
// div 2 from the top, and stretched by one column as it is copied: column 0
// appears twice. What falls outside the canvas is lost.
void CentreOnCanvas(PageRaster& page, CanvasSize canvas);

}  // namespace pagetrim
