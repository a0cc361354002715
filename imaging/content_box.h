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

// The one pass over every pixel that finding the content box takes: the page
// reduced to a grid of cells. It can be built from rows as a decoder delivers
// them, while they are still in the cache.
class PageReduction {
 public:
  // Rows first to first + count - 1 of page, given in order; row 0 starts
  // the reduction of a page anew.
  void AddRows(const PageRaster& page, int first, int count);
  // Whether every row of a page of this size and format has been added.
  bool Covers(const PageRaster& page) const;

  // Page pixels per cell, each way, for a page of this size.
  static int FactorFor(int width, int height);

  int Factor() const { return factor_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Channels() const { return channels_; }
  // Per channel and cell, the darkest value and the mean: one plane of
  // Width() x Height() cells per channel, in the page's byte order.
  const std::vector<std::uint8_t>& Darkest() const { return darkest_; }
  const std::vector<std::uint8_t>& Mean() const { return mean_; }

 private:
  void Start(const PageRaster& page);
  void FinishCellRow(int cellRow);

  int pageWidth_ = 0;
  int pageHeight_ = 0;
  PixelFormat format_ = PixelFormat::Bgr24;
  int factor_ = 1;
  int width_ = 0;
  int height_ = 0;
  int channels_ = 1;
  int rowsDone_ = 0;  // rows added so far; -1 once rows came out of order
  int summedRows_ = 0;
  std::vector<std::uint8_t> darkest_;
  std::vector<std::uint8_t> mean_;
  std::vector<std::uint8_t> columnMin_;   // of the cell row in hand, per stored byte
  std::vector<std::uint16_t> columnSum_;  // likewise, of the rows the mean takes
  std::vector<std::uint8_t> windowMin_;   // scratch: the cells' darkest values
  std::vector<std::uint16_t> windowSum_;  // and sums, at each cell's first byte
};

// Finds the content of page. dpi is the page's resolution, 0 when unknown
// (AssumedDpi is then used for the border). A reduction that covers the
// page saves the pass over its pixels.
ContentBox FindContentBox(const PageRaster& page, float dpi, ContentBoxTrace* trace = nullptr);
ContentBox FindContentBox(const PageRaster& page, float dpi, const PageReduction& reduction,
                          ContentBoxTrace* trace = nullptr);

}  // namespace pagetrim
