// The trim commands: cutting one blank margin off the current page from a
// start point, the point and double-click commands that start them, and
// normalising the page to a fixed width-to-height ratio.
#pragma once

#include "edit_state.h"
#include "page_window.h"

namespace pagetrim {

// The row at which the left-and-right trims sample the background, also on
// pages shorter than that (every column then counts as ink).
inline constexpr int SideTrimSampleRow = 10;

// Each trim samples the background in AnalysisPage once, at the start line,
// walks towards the page body and cuts AnalysisPage and WorkingPage alike.
// Every trim keeps the ink line it stops on: the right and bottom trims leave
// a width or height of that line's index + 1. The right view is refreshed
// only when something was cut.
void TrimLeftMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow);
void TrimRightMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow);
void TrimTopMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn);
void TrimBottomMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn);

// The context-menu commands at a point in AnalysisPage coordinates; a point
// outside the page does nothing. The top and bottom commands remember x as
// SampleColumn first, even for a point they then refuse.
void TrimLeftAtPoint(EditState& state, PageDisplay& display, int x, int y);
void TrimRightAtPoint(EditState& state, PageDisplay& display, int x, int y);
void TrimTopAtPoint(EditState& state, PageDisplay& display, int x, int y);
void TrimBottomAtPoint(EditState& state, PageDisplay& display, int x, int y);

// Double-click: the left trim in the left half of the page, the right trim in
// the right half.
void TrimSideAtPoint(EditState& state, PageDisplay& display, int x, int y);

// The left trim from column 0, then the right trim from the last column, both
// sampling at SideTrimSampleRow.
void TrimLeftAndRight(EditState& state, PageDisplay& display);

// The top trim from row 0, then the bottom trim from the last row, both
// sampling in SampleColumn: what the top-and-bottom batch does to each page.
void TrimTopAndBottom(EditState& state, PageDisplay& display);

// Centres WorkingPage on a white canvas of the normalised width and its own
// height; a page too wide for that canvas gets a higher one instead, so that
// no column is cut. Makes AnalysisPage a full-colour copy of the result and
// always refreshes the right view.
void NormalizePage(EditState& state, PageDisplay& display);

}  // namespace pagetrim
