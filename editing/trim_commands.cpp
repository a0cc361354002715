// The trim and normalise commands over the editing state; the pixel work is
// in margin_scan and page_normalize.
#include "trim_commands.h"

#include "margin_scan.h"
#include "page_commands.h"
#include "page_normalize.h"

namespace pagetrim {

namespace {

bool InsidePage(const PageRaster& page, int x, int y) {
  return x >= 0 && x < page.Width() && y >= 0 && y < page.Height();
}

}  // namespace

void TrimLeftMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow) {
  state.ScanColumn = startColumn;
  state.BackgroundColor = state.AnalysisPage.PixelAt(startColumn, sampleRow);
  const MarginScan scan = ScanFromLeft(state.AnalysisPage, startColumn, state.BackgroundColor);
  state.ScanColumn = scan.Position;
  // Ink in column 0 leaves nothing to cut.
  if (!scan.InkFound || scan.Position <= 0 || scan.Position >= state.AnalysisPage.Width())
    return;
  state.AnalysisPage.CropLeft(scan.Position);
  state.WorkingPage.CropLeft(scan.Position);
  RefreshResultView(state, display);
}

void TrimRightMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow) {
  state.ScanColumn = startColumn;
  state.BackgroundColor = state.AnalysisPage.PixelAt(startColumn, sampleRow);
  const MarginScan scan = ScanFromRight(state.AnalysisPage, startColumn, state.BackgroundColor);
  state.ScanColumn = scan.Position;
  if (!scan.InkFound || scan.Position < 0 || scan.Position >= state.AnalysisPage.Width())
    return;
  state.AnalysisPage.SetWidth(scan.Position);
  state.WorkingPage.SetWidth(scan.Position);
  RefreshResultView(state, display);
}

void TrimTopMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn) {
  state.ScanRow = startRow;
  state.BackgroundColor = state.AnalysisPage.PixelAt(sampleColumn, startRow);
  const MarginScan scan = ScanFromTop(state.AnalysisPage, startRow, state.BackgroundColor);
  state.ScanRow = scan.Position;
  if (!scan.InkFound || scan.Position <= 0 || scan.Position >= state.AnalysisPage.Height())
    return;
  state.AnalysisPage.CropTop(scan.Position);
  state.WorkingPage.CropTop(scan.Position);
  RefreshResultView(state, display);
}

void TrimBottomMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn) {
  state.ScanRow = startRow;
  state.BackgroundColor = state.AnalysisPage.PixelAt(sampleColumn, startRow);
  const MarginScan scan = ScanFromBottom(state.AnalysisPage, startRow, state.BackgroundColor);
  state.ScanRow = scan.Position;
  if (!scan.InkFound || scan.Position < 0 || scan.Position >= state.AnalysisPage.Height())
    return;
  state.AnalysisPage.SetHeight(scan.Position);
  state.WorkingPage.SetHeight(scan.Position);
  RefreshResultView(state, display);
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
  // Portrait or not is judged on the analysis image; it has the working
  // page's size.
  const bool portrait = state.AnalysisPage.Width() < state.AnalysisPage.Height();
  CentreOnCanvas(state.WorkingPage, NormalizedWidth(state.WorkingPage.Height(), portrait));
  // Later trims on this page compare colours of the working page itself.
  state.AnalysisPage.AssignFrom(state.WorkingPage);
  RefreshResultView(state, display);
}

}  // namespace pagetrim
