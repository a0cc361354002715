// The trim and normalise commands over the editing state; the pixel work is
// in margin_scan and page_normalize.
#include "trim_commands.h"

#include "margin_scan.h"
#include "page_commands.h"
#include "page_cut.h"
#include "page_normalize.h"

namespace pagetrim {

namespace {

bool InsidePage(const PageRaster& page, int x, int y) {
  return x >= 0 && x < page.Width() && y >= 0 && y < page.Height();
}

}  // namespace

namespace {

enum class Edge { Left, Right, Top, Bottom };

// One trim: sample the background at the start point, walk from the start
// line towards the page body, and cut AnalysisPage, then WorkingPage.
void TrimEdge(EditState& state, PageDisplay& display, Edge edge, int start, int x, int y) {
  const bool columns = edge == Edge::Left || edge == Edge::Right;
  int& cursor = columns ? state.ScanColumn : state.ScanRow;
  cursor = start;
  state.BackgroundColor = state.AnalysisPage.PixelAt(x, y);
  const PageRaster& page = state.AnalysisPage;
  const ColourValue background = state.BackgroundColor;
  const MarginScan scan = edge == Edge::Left    ? ScanFromLeft(page, start, background)
                          : edge == Edge::Right ? ScanFromRight(page, start, background)
                          : edge == Edge::Top   ? ScanFromTop(page, start, background)
                                                : ScanFromBottom(page, start, background);
  cursor = scan.Position;
  // The ink line the walk stops on stays: on the right and bottom the lines
  // after it go, so ink in the last line leaves nothing to cut.
  const bool leading = edge == Edge::Left || edge == Edge::Top;
  const int length = columns ? page.Width() : page.Height();
  if (!scan.InkFound || scan.Position < 0 || scan.Position >= length)
    return;
  const int kept = leading ? length - scan.Position : scan.Position + 1;
  if (kept == length)
    return;
  Rect keep{0, 0, page.Width(), page.Height()};
  switch (edge) {
    case Edge::Left:
      keep.Left = scan.Position;
      break;
    case Edge::Right:
      keep.Right = kept;
      break;
    case Edge::Top:
      keep.Top = scan.Position;
      break;
    case Edge::Bottom:
      keep.Bottom = kept;
      break;
  }
  CutWorkingPage(state, keep);
  RefreshResultView(state, display);
}

}  // namespace

void TrimLeftMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow) {
  TrimEdge(state, display, Edge::Left, startColumn, startColumn, sampleRow);
}

void TrimRightMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow) {
  TrimEdge(state, display, Edge::Right, startColumn, startColumn, sampleRow);
}

void TrimTopMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn) {
  TrimEdge(state, display, Edge::Top, startRow, sampleColumn, startRow);
}

void TrimBottomMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn) {
  TrimEdge(state, display, Edge::Bottom, startRow, sampleColumn, startRow);
}

void TrimLeftAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  if (!InsidePage(state.AnalysisPage, x, y))
    return;
  TrimLeftMargin(state, display, x, y);
}

void TrimRightAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  if (!InsidePage(state.AnalysisPage, x, y))
    return;
  TrimRightMargin(state, display, x, y);
}

// The column is remembered before the check: the top-and-bottom batch samples
// every page in the column of the last top or bottom command.
void TrimTopAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  state.SampleColumn = x;
  if (!InsidePage(state.AnalysisPage, x, y))
    return;
  TrimTopMargin(state, display, y, state.SampleColumn);
}

void TrimBottomAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  state.SampleColumn = x;
  if (!InsidePage(state.AnalysisPage, x, y))
    return;
  TrimBottomMargin(state, display, y, state.SampleColumn);
}

void TrimSideAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  const int width = state.AnalysisPage.Width();
  if (y < 0 || y >= state.AnalysisPage.Height())
    return;
  const int half = width / 2;
  if (x >= 0 && x < half) {
    TrimLeftMargin(state, display, x, y);
  } else if (x >= half && x < width) {
    TrimRightMargin(state, display, x, y);
  }
}

void TrimLeftAndRight(EditState& state, PageDisplay& display) {
  TrimLeftMargin(state, display, 0, SideTrimSampleRow);
  TrimRightMargin(state, display, state.AnalysisPage.Width() - 1, SideTrimSampleRow);
}

void TrimTopAndBottom(EditState& state, PageDisplay& display) {
  TrimTopMargin(state, display, 0, state.SampleColumn);
  TrimBottomMargin(state, display, state.AnalysisPage.Height() - 1, state.SampleColumn);
}

void NormalizePage(EditState& state, PageDisplay& display) {
  ForgetWorkingCut(state);
  // Portrait or not is judged on the analysis image; it has the working
  // page's size.
  const bool portrait = state.AnalysisPage.Width() < state.AnalysisPage.Height();
  CentreOnCanvas(state.WorkingPage,
                 NormalizedCanvas(state.WorkingPage.Width(), state.WorkingPage.Height(), portrait));
  // Later trims on this page compare colours of the working page itself.
  state.AnalysisPage.AssignFrom(state.WorkingPage);
  RefreshResultView(state, display);
}

}  // namespace pagetrim
