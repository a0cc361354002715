// The page reduced to a grid of cells, each holding its darkest value and its
// mean per channel, in one pass over the page's rows.
#include "page_reduction.h"

#include <algorithm>
#include <cmath>

#include "cell_grid.h"

namespace pagetrim {
namespace {

// About this many cells to a page, whatever its size: a 300 dpi A4 page
// (2480 x 3508) has cells of 5 x 5 pixels, 0.42 mm across.
constexpr double TargetCells = 400000.0;
// No cell is wider than this many pixels, however large the page.
constexpr int MostFactor = 256;

}  // namespace

// The page is reduced channel by channel: each cell's darkest value and mean
// per channel. Stored bytes are reduced as they lie (blue, green, red side by
// side), which keeps the one pass over the full page a plain byte loop.
int PageReduction::FactorFor(int width, int height) {
  const double pixels = double(width) * height;
  return std::clamp(int(std::ceil(std::sqrt(pixels / TargetCells))), 1, MostFactor);
}

void PageReduction::Start(const PageRaster& page) {
  pageWidth_ = page.Width();
  pageHeight_ = page.Height();
  format_ = page.Format();
  factor_ = FactorFor(pageWidth_, pageHeight_);
  channels_ = page.BytesPerPixel();
  width_ = (pageWidth_ + factor_ - 1) / factor_;
  height_ = (pageHeight_ + factor_ - 1) / factor_;
  darkest_.assign(std::size_t(width_) * height_ * channels_, 0);
  mean_.assign(darkest_.size(), 0);
  columnMin_.assign(page.RowBytes(), 255);
  columnSum_.assign(page.RowBytes(), 0);
  rowsDone_ = 0;
  summedRows_ = 0;
}

void PageReduction::AddRows(const PageRaster& page, int first, int count) {
  if (first == 0)
    Start(page);
  if (first != rowsDone_ || page.Width() != pageWidth_ || page.Height() != pageHeight_ ||
      page.Format() != format_) {
    rowsDone_ = -1;
    return;
  }
  const std::size_t rowBytes = columnMin_.size();
  std::uint8_t* mins = columnMin_.data();
  std::uint16_t* sums = columnSum_.data();
  for (int y = first; y < std::min(pageHeight_, first + count); ++y) {
    const int cellRow = y / factor_;
    const int y0 = cellRow * factor_;
    const int y1 = std::min(pageHeight_, y0 + factor_);
    const std::uint8_t* row = page.Row(y);
    // Every row counts for the darkest value; two rows are enough for the
    // mean, which only has to tell paper from shade.
    if (y == y0 || y == y0 + (y1 - y0) / 2) {
      ++summedRows_;
      for (std::size_t i = 0; i < rowBytes; ++i) {
        mins[i] = std::min(mins[i], row[i]);
        sums[i] = std::uint16_t(sums[i] + row[i]);
      }
    } else {
      for (std::size_t i = 0; i < rowBytes; ++i)
        mins[i] = std::min(mins[i], row[i]);
    }
    if (y == y1 - 1)
      FinishCellRow(cellRow);
  }
  rowsDone_ = std::min(pageHeight_, first + count);
}

void PageReduction::FinishCellRow(int cellRow) {
  // Channel c of the row's first cell; the channels' planes lie plane apart.
  const std::size_t plane = std::size_t(width_) * height_;
  std::uint8_t* darkest = darkest_.data() + std::size_t(cellRow) * width_;
  std::uint8_t* mean = mean_.data() + std::size_t(cellRow) * width_;
  const std::uint8_t* mins = columnMin_.data();
  const std::uint16_t* sums = columnSum_.data();
  // Cells that are factor_ pixels wide are taken together while their sums
  // fit in 16 bits; the rest (a narrower last cell) cell by cell, first, as
  // the windows below take the rows' values.
  const int fullCells = factor_ * summedRows_ * 255 <= 0xFFFF ? pageWidth_ / factor_ : 0;
  for (int gx = fullCells; gx < width_; ++gx) {
    const int x0 = gx * factor_;
    const int x1 = std::min(pageWidth_, x0 + factor_);
    const int count = (x1 - x0) * summedRows_;
    // The cell's pixels lie side by side, channels interleaved.
    const std::size_t from = std::size_t(x0) * channels_, to = std::size_t(x1) * channels_;
    for (int c = 0; c < channels_; ++c) {
      int m = 255, sum = 0;
      for (std::size_t i = from + c; i < to; i += channels_) {
        m = std::min(m, int(mins[i]));
        sum += sums[i];
      }
      darkest[c * plane + gx] = std::uint8_t(m);
      mean[c * plane + gx] = std::uint8_t(sum / count);
    }
  }
  // A few dozen cells at a time, so that the windows stay in the fastest
  // cache. The mean's division is an exact multiply: sums stay below 2^16 and
  // the divisor at most 256, so 40 bits of fraction round every quotient
  // down as division does.
  constexpr int ChunkCells = 64;
  constexpr int FractionBits = 40;
  const std::size_t cellBytes = std::size_t(factor_) * channels_;
  windowMin_.resize(ChunkCells * cellBytes);
  windowSum_.resize(ChunkCells * cellBytes);
  const auto least = [](std::uint8_t a, std::uint8_t b) { return std::min(a, b); };
  const auto add = [](std::uint16_t a, std::uint16_t b) { return std::uint16_t(a + b); };
  const std::uint64_t scale =
      (std::uint64_t(1) << FractionBits) / std::uint64_t(std::max(1, factor_ * summedRows_)) + 1;
  for (int first = 0; first < fullCells; first += ChunkCells) {
    const int cellCount = std::min(ChunkCells, fullCells - first);
    const std::size_t start = std::size_t(first) * cellBytes;
    const std::size_t n = std::size_t(cellCount) * cellBytes;
    std::uint8_t* chunkMins = columnMin_.data() + start;
    std::uint16_t* chunkSums = columnSum_.data() + start;
    box::WindowsOf(chunkMins, windowMin_.data(), n, factor_, std::size_t(channels_), least);
    box::WindowsOf(chunkSums, windowSum_.data(), n, factor_, std::size_t(channels_), add);
    for (int c = 0; c < channels_; ++c) {
      std::uint8_t* cellDarkest = darkest + c * plane + first;
      std::uint8_t* cellMean = mean + c * plane + first;
      for (std::size_t i = 0, from = std::size_t(c); from < n; ++i, from += cellBytes) {
        cellDarkest[i] = windowMin_[from];
        cellMean[i] = std::uint8_t((windowSum_[from] * scale) >> FractionBits);
      }
    }
    std::fill_n(chunkMins, n, std::uint8_t(255));
    std::fill_n(chunkSums, n, std::uint16_t(0));
  }
  const std::size_t done = std::size_t(fullCells) * cellBytes;
  std::fill(columnMin_.begin() + long(done), columnMin_.end(), std::uint8_t(255));
  std::fill(columnSum_.begin() + long(done), columnSum_.end(), std::uint16_t(0));
  summedRows_ = 0;
}

bool PageReduction::Covers(const PageRaster& page) const {
  return rowsDone_ == pageHeight_ && pageHeight_ > 0 && page.Width() == pageWidth_ &&
         page.Height() == pageHeight_ && page.Format() == format_;
}

}  // namespace pagetrim
