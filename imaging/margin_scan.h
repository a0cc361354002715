// The margin scans: ink tests and the coarse-then-fine walks that find where a
// blank margin ends.
#pragma once

#include "page_raster.h"

namespace pagetrim {

// Lines the coarse walk strides over between two ink tests.
inline constexpr int StepCoarse = 20;

// True when some pixel of the column (row) differs from background. Pixels
// outside the raster read as InvalidColour, so a column outside the page holds
// ink exactly when background is a real colour and the page has rows. These
// are the tests the walks are defined by; the walks below run many of them at
// once, and the tests hold them to the same answers.
bool ColumnHasInk(const PageRaster& page, int column, ColourValue background);
bool RowHasInk(const PageRaster& page, int row, ColourValue background);

// Where a walk ended. Position is the scan cursor's last value: the ink line
// the fine walk stopped on when InkFound, otherwise where it left the page.
struct MarginScan {
  int Position = 0;
  bool InkFound = false;
};

// Walks from the start line towards the page body: strides of StepCoarse
// until a stride meets ink, one stride back, then line by line to the first
// ink line. A stride meets ink when any line it passes over holds ink, up to
// the page's edge when it runs past it, so no thin line of ink is stepped
// over: the walk ends on the first ink line after the start. The start line
// may itself hold ink; the walk then steps back one stride when that stays
// inside the page and ends on the first ink line from there.
MarginScan ScanFromLeft(const PageRaster& page, int startColumn, ColourValue background);
MarginScan ScanFromRight(const PageRaster& page, int startColumn, ColourValue background);
MarginScan ScanFromTop(const PageRaster& page, int startRow, ColourValue background);
MarginScan ScanFromBottom(const PageRaster& page, int startRow, ColourValue background);

}  // namespace pagetrim
