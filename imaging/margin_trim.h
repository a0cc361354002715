// The margin trims as values: what cutting one blank margin, or the two side
// margins, of an analysis image keeps, without cutting anything.
#pragma once

#include <optional>

#include "margin_scan.h"
#include "page_raster.h"

namespace pagetrim {

// The row at which the left-and-right trims sample the background, also on
// pages shorter than that (every column then counts as ink).
inline constexpr int SideTrimSampleRow = 10;

enum class Margin { Left, Right, Top, Bottom };

// One trim: the background sampled at the start point, where the walk from
// the start line towards the page body stopped, and the part of the page it
// keeps, in the page's own coordinates. The ink line the walk stops on
// stays: on the right and bottom the lines after it go, so ink in the last
// line leaves nothing to cut, and Keep is then none, as it is when the walk
// found no ink at all.
struct MarginTrim {
  ColourValue Background = InvalidColour;
  MarginScan Scan;
  std::optional<Rect> Keep;
};

// The left and right trims walk columns from startLine and sample at
// (startLine, sample); the top and bottom trims walk rows and sample at
// (sample, startLine).
MarginTrim TrimMargin(const PageRaster& analysis, Margin margin, int startLine, int sample);

// The left trim from column 0, then the right trim from the last column of
// what the left one kept, both sampling at SideTrimSampleRow: what the
// left-and-right command keeps, or the whole page.
Rect LeftAndRightKept(const PageRaster& analysis);
// The top trim from row 0, then the bottom one from the last row kept, both
// sampling in sampleColumn.
Rect TopAndBottomKept(const PageRaster& analysis, int sampleColumn);

// Which analysis image a page's ink is seen in: the gray one, or the
// black-and-white one made with the threshold.
struct AnalysisChoice {
  bool Gray = false;
  int Threshold = 128;
  friend bool operator==(const AnalysisChoice&, const AnalysisChoice&) = default;
};

// What the left-and-right trims keep of a page's analysis image, found as the
// page's rows come from the decoder, while they are still in the cache: the
// rows' margins are read only once, and only as far as the text.
class SideTrimScan {
 public:
  explicit SideTrimScan(AnalysisChoice choice) : choice_(choice) {}
  // Rows first to first + count - 1 of page, in order; row 0 starts anew.
  void AddRows(const PageRaster& page, int first, int count);
  // Whether every row of a page of this size has been added, in order.
  bool Covers(const PageRaster& page) const;
  // What LeftAndRightKept keeps of the page's analysis image for the choice.
  Rect Kept() const;

 private:
  void ScanRow(const PageRaster& page, int y);

  AnalysisChoice choice_;
  int width_ = 0;
  int height_ = 0;
  int rowsDone_ = 0;  // -1 once rows came out of order
  // The backgrounds the two trims sample at SideTrimSampleRow, once that row
  // is in; none where they are no level (every column is then ink).
  bool sampled_ = false;
  std::optional<std::uint8_t> left_;
  std::optional<std::uint8_t> right_;
  int first_ = 0;  // the first column with a value other than the left's background
  int last_ = -1;  // the last with a value other than the right's
};

// What LeftAndRightKept (columns) or TopAndBottomKept would keep of the
// page's analysis image for the choice, read from the page itself: only the
// margins are analysed, as far as the walks go, and no image is made.
Rect KeptByTrims(const PageRaster& page, bool columns, AnalysisChoice choice, int sampleColumn);

}  // namespace pagetrim
