// The trim and normalise commands over the editing state: each computes what
// it keeps of the page as a value, then cuts; the pixel work is in
// margin_trim, content_box and page_normalize.
#include "trim_commands.h"

#include "content_box.h"
#include "page_commands.h"
#include "page_normalize.h"
#include "page_turn.h"

namespace pagetrim {

namespace {

bool InsidePage(const PageRaster& page, int x, int y) {
  return x >= 0 && x < page.Width() && y >= 0 && y < page.Height();
}

// One trim: the cursor and the background are left as the walk leaves them,
// and the page is cut to what it keeps.
void ApplyTrim(EditState& state, PageDisplay& display, Margin margin, int start, int sample) {
  const MarginTrim trim = TrimMargin(state.Edit.AnalysisPage(), margin, start, sample);
  const bool columns = margin == Margin::Left || margin == Margin::Right;
  (columns ? state.ScanColumn : state.ScanRow) = trim.Scan.Position;
  state.BackgroundColor = trim.Background;
  if (!trim.Keep)
    return;
  state.Edit.Cut(*trim.Keep);
  RefreshResultView(state, display);
}

}  // namespace

void TrimLeftMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow) {
  ApplyTrim(state, display, Margin::Left, startColumn, sampleRow);
}

void TrimRightMargin(EditState& state, PageDisplay& display, int startColumn, int sampleRow) {
  ApplyTrim(state, display, Margin::Right, startColumn, sampleRow);
}

void TrimTopMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn) {
  ApplyTrim(state, display, Margin::Top, startRow, sampleColumn);
}

void TrimBottomMargin(EditState& state, PageDisplay& display, int startRow, int sampleColumn) {
  ApplyTrim(state, display, Margin::Bottom, startRow, sampleColumn);
}

void TrimLeftAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  if (!InsidePage(state.Edit.AnalysisPage(), x, y))
    return;
  TrimLeftMargin(state, display, x, y);
}

void TrimRightAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  if (!InsidePage(state.Edit.AnalysisPage(), x, y))
    return;
  TrimRightMargin(state, display, x, y);
}

// The column is remembered before the check: the top-and-bottom batch samples
// every page in the column of the last top or bottom command.
void TrimTopAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  state.SampleColumn = x;
  if (!InsidePage(state.Edit.AnalysisPage(), x, y))
    return;
  TrimTopMargin(state, display, y, state.SampleColumn);
}

void TrimBottomAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  state.SampleColumn = x;
  if (!InsidePage(state.Edit.AnalysisPage(), x, y))
    return;
  TrimBottomMargin(state, display, y, state.SampleColumn);
}

void TrimSideAtPoint(EditState& state, PageDisplay& display, int x, int y) {
  const int width = state.Edit.AnalysisPage().Width();
  if (y < 0 || y >= state.Edit.AnalysisPage().Height())
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
  TrimRightMargin(state, display, state.Edit.AnalysisPage().Width() - 1, SideTrimSampleRow);
}

void TrimTopAndBottom(EditState& state, PageDisplay& display) {
  TrimTopMargin(state, display, 0, state.SampleColumn);
  TrimBottomMargin(state, display, state.Edit.AnalysisPage().Height() - 1, state.SampleColumn);
}

namespace {

// The content box's cut, its left and top moved within the paper around the
// content onto the block grid of the JPEG file the page came from: the page
// is then written by copying the file's blocks, so it keeps its quality and
// its size, where coding a cut page anew grows its file by half or more.
Rect CutForSource(const PageEdit& edit, const ContentBox& found) {
  const PageSource& source = edit.PageSource();
  if (!source.Jpeg || source.Turned || !edit.WorkingCut())
    return found.Cut;
  // The grid in the file's coordinates, where the working page starts at the
  // working cut's corner.
  const int dx = edit.WorkingCut()->Left, dy = edit.WorkingCut()->Top;
  auto shifted = [](Rect r, int x, int y) {
    return Rect{r.Left + x, r.Top + y, r.Right + x, r.Bottom + y};
  };
  ContentBox inFile = found;
  inFile.Content = shifted(found.Content, dx, dy);
  inFile.Cut = shifted(found.Cut, dx, dy);
  inFile.Room = shifted(found.Room, dx, dy);
  return shifted(CutOnGrid(inFile, source.Jpeg->McuWidth(), source.Jpeg->McuHeight()), -dx, -dy);
}

}  // namespace

std::optional<Rect> ContentCut(const PageEdit& edit, const PageReduction* reduction) {
  const PageRaster& page = edit.WorkingPage();
  return ContentCut(edit, reduction != nullptr
                              ? FindContentBox(page, edit.PageResolutionX(), *reduction)
                              : FindContentBox(page, edit.PageResolutionX()));
}

std::optional<Rect> ContentCut(const PageEdit& edit, const ContentBox& found) {
  const PageRaster& page = edit.WorkingPage();
  if (!found.HasContent)
    return std::nullopt;
  const Rect cut = CutForSource(edit, found);
  if (cut.Left == 0 && cut.Top == 0 && cut.Right == page.Width() && cut.Bottom == page.Height())
    return std::nullopt;
  return cut;
}

void TrimToContent(EditState& state, PageDisplay& display, const PageReduction* reduction) {
  const std::optional<Rect> cut = ContentCut(state.Edit, reduction);
  if (!cut)
    return;
  state.Edit.Cut(*cut);
  RefreshResultView(state, display);
}

SkewFinding SkewOf(const PageEdit& edit, const PageReduction* reduction) {
  const PageRaster& page = edit.WorkingPage();
  if (reduction != nullptr)
    return FindSkew(page, edit.PageResolutionX(), *reduction);
  return FindSkew(page, edit.PageResolutionX());
}

QString SkewDoubtText(SkewDoubt doubt) {
  switch (doubt) {
    case SkewDoubt::Blank:
      return QStringLiteral("内容がありません");
    case SkewDoubt::Picture:
      return QStringLiteral("ほとんどが写真や絵です");
    case SkewDoubt::TooLittleText:
      return QStringLiteral("文字が少なすぎます");
    case SkewDoubt::LinesDisagree:
      return QStringLiteral("行の傾きが揃っていません");
    case SkewDoubt::None:
      break;
  }
  return QString();
}

void StraightenPage(EditState& state, PageDisplay& display) {
  const PageRaster& page = state.Edit.WorkingPage();
  if (page.IsEmpty())
    return;
  PageReduction reduction;
  reduction.AddRows(page, 0, page.Height());
  const SkewFinding skew = SkewOf(state.Edit, &reduction);
  if (!skew.Sure) {
    display.ShowNotice(QStringLiteral("傾きを確かめられないため、補正しませんでした（%1）")
                           .arg(SkewDoubtText(skew.Doubt)));
    return;
  }
  if (!skew.NeedsTurn) {
    display.ShowNotice(QStringLiteral("この頁は傾いていません"));
    return;
  }
  TurnOptions options;
  options.Fill = PaperColour(reduction);
  state.Edit.ReplacePixels(TurnPage(page, -skew.Degrees, options), state.ShownChoice);
  RefreshResultView(state, display);
}

PageRaster NormalizedPage(const PageEdit& edit) {
  // Portrait or not is judged on the page's size, which is its analysis
  // image's too.
  PageRaster canvas = edit.WorkingPage();
  const bool portrait = canvas.Width() < canvas.Height();
  CentreOnCanvas(canvas, NormalizedCanvas(canvas.Width(), canvas.Height(), portrait));
  return canvas;
}

void NormalizePage(EditState& state, PageDisplay& display) {
  // Later trims on this page compare colours of the working page itself.
  state.Edit.ReplacePixels(NormalizedPage(state.Edit));
  RefreshResultView(state, display);
}

}  // namespace pagetrim
