// The content box's first stages: white balance, the paper's levels, the
// ink's level and contrast, and the cells that hold ink.
#pragma once

#include <algorithm>
#include <cstdint>

#include "content_analysis.h"
#include "page_reduction.h"

namespace pagetrim::box {

// One value per cell: its darkest channel after scaling each channel so that
// the paper's colour becomes white. Every ink, black, blue, red or yellow, is
// then dark in some channel, while yellowed paper is as white as white paper.
Grid WhiteBalanced(const PageReduction& channels);

// The page's pixel values as the grid sees them, white balanced.
inline int PixelValue(const PageRaster& page, const Grid& grid, int x, int y) {
  const std::uint8_t* row = page.Row(y);
  if (page.Format() == PixelFormat::Gray8)
    return row[x];
  const std::uint8_t* p = row + 3 * x;
  return std::min({grid.Luts[0][p[0]], grid.Luts[1][p[1]], grid.Luts[2][p[2]]});
}

// The paper's usual shade (PaperLevel), and its shade around every cell
// (Paper, NearPaper).
void MeasurePaper(Analysis& a);

// How far the darker marks lie below the paper (InkLevel, Contrast), and how
// much darker than the paper ink and lines are (InkDelta, LineDelta).
void MeasureInk(Analysis& a);

// The cells that hold a pixel clearly darker than the paper around them
// (Ink), and that paper (Around).
void MarkInk(Analysis& a);

}  // namespace pagetrim::box
