// Finding where a scanned page's content lies: the box that holds its text,
// rules and pictures, but not the scanner's edges, shadows, neighbouring
// pages or specks of dust.
#pragma once

#include <cstdint>
#include <vector>

#include "page_raster.h"

namespace pagetrim {

struct ContentBox {
  // False for a blank page; the boxes are then empty.
  bool HasContent = false;
  // The smallest box holding all of the page's content, in page pixels.
  Rect Content;
  // Content plus a border of paper, clamped to the page: what a cut keeps.
  Rect Cut;
};

// The resolution assumed for a page whose file states none.
inline constexpr float AssumedDpi = 300.0f;
// The border of paper left around the content.
inline constexpr double CutBorderMm = 1.0;

// What the analysis made of each cell of its reduced grid: for tools that
// draw it.
struct ContentBoxTrace {
  // Beyond: past an edge of the page, such as a strip of the facing page.
  enum Cell : std::uint8_t { Paper, Content, Speck, Edge, Beyond };
  int Factor = 1;  // page pixels per grid cell, each way
  int Width = 0;
  int Height = 0;
  std::vector<Cell> Cells;
};

// Finds the content of page. dpi is the page's resolution, 0 when unknown
// (AssumedDpi is then used for the border).
ContentBox FindContentBox(const PageRaster& page, float dpi, ContentBoxTrace* trace = nullptr);

}  // namespace pagetrim
