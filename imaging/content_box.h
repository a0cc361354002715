// Finding where a scanned page's content lies: the box that holds its text,
// rules and pictures, but not the scanner's edges, shadows, neighbouring
// pages or specks of dust.
#pragma once

#include <cstdint>
#include <vector>

#include "page_raster.h"
#include "page_reduction.h"

namespace pagetrim {

struct ContentBox {
  // False for a blank page; the boxes are then empty.
  bool HasContent = false;
  // The smallest box holding all of the page's content, in page pixels.
  Rect Content;
  // Content plus a border of paper, clamped to the page: what a cut keeps.
  Rect Cut;
  // The widest cut that adds nothing but paper: the content with up to twice
  // the border.
  Rect Room;
};

// The cut with its left and top moved to the nearest lines of a grid of
// gridX x gridY pixels that lie within the room: a JPEG page cut on its
// block grid is copied, not coded again. A side whose room holds no grid
// line keeps the cut's own.
Rect CutOnGrid(const ContentBox& box, int gridX, int gridY);

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
// (AssumedDpi is then used for the border). A reduction that covers the
// page saves the pass over its pixels.
ContentBox FindContentBox(const PageRaster& page, float dpi, ContentBoxTrace* trace = nullptr);
ContentBox FindContentBox(const PageRaster& page, float dpi, const PageReduction& reduction,
                          ContentBoxTrace* trace = nullptr);

}  // namespace pagetrim
