// The trim commands: cutting one blank margin off the current page from a
// start point, the point and double-click commands that start them, and
// normalising the page to a fixed width-to-height ratio.
#pragma once

#include <optional>

#include "content_box.h"
#include "edit_state.h"
#include "margin_trim.h"
#include "page_skew.h"
#include "page_window.h"

namespace pagetrim {

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

// What cutting the page to its content keeps: the content with a border of
// paper, as FindContentBox finds them in WorkingPage's own pixels (the
// analysis image and its threshold play no part), its left and top moved
// within the paper onto the block grid of the JPEG file the page came from.
// None for a page without content, or when nothing would be cut. A reduction
// made as the page was read saves a pass over its pixels.
std::optional<Rect> ContentCut(const PageEdit& edit, const PageReduction* reduction = nullptr);
// The same for a content box already found in WorkingPage.
std::optional<Rect> ContentCut(const PageEdit& edit, const ContentBox& found);

// Cuts the page to its ContentCut. A page without content is left as it is;
// the right view is refreshed only when something was cut.
void TrimToContent(EditState& state, PageDisplay& display,
                   const PageReduction* reduction = nullptr);

// How far the working page is turned from straight, found in its own pixels.
SkewFinding SkewOf(const PageEdit& edit, const PageReduction* reduction = nullptr);

// 傾き補正: turns the working page straight about its centre, onto a canvas
// that holds all of it, the corners brought in filled with its paper; its
// analysis image is made anew with the choice it was shown with. A page
// whose turn cannot be told for sure is left as it is, and so is a page
// turned by less than a tenth of a degree: a notice says so, and why.
void StraightenPage(EditState& state, PageDisplay& display);
// Why a page's turn could not be told, in the user's words.
QString SkewDoubtText(SkewDoubt doubt);

// The page centred on its normalised canvas, as NormalizePage makes it.
PageRaster NormalizedPage(const PageEdit& edit);

// Centres WorkingPage on a white canvas of the normalised width and its own
// height; a page too wide for that canvas gets a higher one instead, so that
// no column is cut. Makes AnalysisPage a full-colour copy of the result and
// always refreshes the right view.
void NormalizePage(EditState& state, PageDisplay& display);

}  // namespace pagetrim
