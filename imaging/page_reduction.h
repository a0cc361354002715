// The page reduced to a grid of cells: the one pass over every pixel that
// finding the content box takes.
#pragma once

#include <cstdint>
#include <vector>

#include "page_raster.h"

namespace pagetrim {

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

}  // namespace pagetrim
