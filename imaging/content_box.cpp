// The content box of a scanned page, as the list of its stages. The page is
// first reduced to a grid of at most 400,000 cells, keeping each cell's darkest
// pixel (so that a hairline or a speck survives) and its mean (for the
// paper's shade). Ink is what is clearly darker than the paper around it; the
// marks it forms are sorted into content, specks and the dark edges a
// scanner leaves, and only the box's borders are then looked at again in
// full resolution.
#include "content_box.h"

#include <algorithm>
#include <cmath>

#include "box_refinement.h"
#include "content_analysis.h"
#include "ink_marks.h"
#include "page_edges.h"
#include "page_ground.h"
#include "paper_and_ink.h"

namespace pagetrim {
namespace {

constexpr double MmPerInch = 25.4;
// The usual mark of a page's text is at least this high.
constexpr double SmallestLetterMm = 1.2;
// Stated resolutions that give a page outside these sizes, in inches, are
// taken for unknown.
constexpr double MinPageInches = 1.0;
constexpr double MaxPageInches = 40.0;

// The page's resolution, to measure the border and the smallest letters by:
// its own, unless it is missing or gives a page no scanner makes.
double PageDpi(const PageRaster& page, float dpi) {
  const double longSide = std::max(page.Width(), page.Height());
  if (!(dpi > 0) || longSide / dpi > MaxPageInches || longSide / dpi < MinPageInches)
    return AssumedDpi;
  return dpi;
}

}  // namespace

ContentBox FindContentBox(const PageRaster& page, float dpi, ContentBoxTrace* trace) {
  // Kept for the thread's next page, for the same reason as the grid tools'
  // scratch memory.
  thread_local PageReduction reduction;
  if (!page.IsEmpty())
    reduction.AddRows(page, 0, page.Height());
  return FindContentBox(page, dpi, reduction, trace);
}

ContentBox FindContentBox(const PageRaster& page, float dpi, const PageReduction& reduction,
                          ContentBoxTrace* trace) {
  using namespace box;
  ContentBox result;
  if (page.IsEmpty())
    return result;
  if (!reduction.Covers(page))
    return FindContentBox(page, dpi, trace);
  const Grid grid = WhiteBalanced(reduction);
  Analysis a(grid);
  a.CellsPerMm = PageDpi(page, dpi) / MmPerInch / grid.Factor;
  a.SmallestLetter = int(SmallestLetterMm * a.CellsPerMm);

  MeasurePaper(a);
  MeasureInk(a);
  MarkInk(a);

  CloseStrokes(a);
  MarkGround(a);
  MarkEdgeBands(a);
  MarkEdgeLines(a);
  MarkCutOff(a);

  Marks marks = FindMarks(a);
  SetAsideBorderMarks(a, marks);
  SetAsideSpecks(a, marks);
  SetAsideFacingPage(a, marks);
  PaintMarks(a, marks);

  std::optional<Rect> content;
  if (const std::optional<Blob> cells = ContentCells(marks))
    content = KeepWholeMarks(page, a, RefineBox(page, a, *cells));
  content = WithOwnFrame(page, a, content);
  if (content) {
    result.HasContent = true;
    result.Content = *content;
    const int border = int(std::lround(CutBorderMm / MmPerInch * PageDpi(page, dpi)));
    result.Cut = WithBorder(page, a, marks, result.Content, border);
    result.Room = WithBorder(page, a, marks, result.Content, 2 * border);
  }
  if (trace != nullptr) {
    trace->Factor = grid.Factor;
    trace->Width = grid.Width;
    trace->Height = grid.Height;
    trace->Cells.assign(a.Class.begin(), a.Class.end());
  }
  return result;
}

}  // namespace pagetrim
