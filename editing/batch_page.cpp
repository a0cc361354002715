// A batch page's way from its file to the bytes written over it.
#include "batch_page.h"

#include <utility>

#include "trim_commands.h"

namespace pagetrim {

namespace {

PageEdit StartEdit(const LoadedPage& page, PageRaster analysis) {
  return PageEdit(page.Page, std::move(analysis), page.File.Source, page.File.Resolution);
}

// The margin trims of the job's kind. Their result is the same whether they
// walk the page's whole analysis image or only that of its edge bands; an
// edit cut by the bands' walk needs no analysis image any more.
PageEdit TrimMargins(const LoadedPage& page, const BatchJob& job) {
  const bool columns = job.Kind != BatchKind::TopBottom;
  if (page.Analysis.IsEmpty()) {
    if (const std::optional<Rect> kept =
            KeptByEdgeBands(page.Page, columns, page.Choice, job.SampleColumn)) {
      PageEdit edit = StartEdit(page, PageRaster());
      edit.Cut(*kept);
      return edit;
    }
  }
  PageRaster analysis = page.Analysis.IsEmpty()
                            ? AnalysisImageOf(page.Page, page.File.Bitonal, page.Choice)
                            : page.Analysis;
  const Rect kept =
      columns ? LeftAndRightKept(analysis) : TopAndBottomKept(analysis, job.SampleColumn);
  PageEdit edit = StartEdit(page, std::move(analysis));
  edit.Cut(kept);
  return edit;
}

// The content box reads the page itself, from the reduction made while it
// was decoded, and no analysis image.
PageEdit TrimToContent(const LoadedPage& page) {
  PageEdit edit = StartEdit(page, PageRaster());
  if (const std::optional<Rect> cut = ContentCut(edit, page.Reduction.get()))
    edit.Cut(*cut);
  return edit;
}

// A page that was only cut is drawn from the samples of the page as loaded;
// one put on a new canvas is sampled anew.
ReducedPicture RightView(const ReducedPicture& left, const PageEdit& edit, QSize viewSize) {
  if (left.IsEmpty())
    return {};
  if (const std::optional<Rect>& cut = edit.WorkingCut()) {
    ReducedPicture right = left;
    right.Region = *cut;
    return right;
  }
  const PageRaster& page = edit.WorkingPage();
  return ReducePage(
      page, ReductionStep(page.Width(), page.Height(), viewSize.width(), viewSize.height()));
}

}  // namespace

BatchCut CutForBatch(const LoadedPage& page, const BatchJob& job) {
  BatchCut cut;
  cut.Edit = job.Kind == BatchKind::Auto ? TrimToContent(page) : TrimMargins(page, job);
  cut.Kept = QSize(cut.Edit.WorkingPage().Width(), cut.Edit.WorkingPage().Height());
  if (job.Kind == BatchKind::LeftRightNormalise)
    cut.Edit.ReplacePixels(NormalizedPage(cut.Edit));
  return cut;
}

BatchPage RunBatchPage(const QString& path, const BatchJob& job, const std::atomic<bool>* stop) {
  BatchPage done;
  // The margin trims analyse only what they read of the page; finding the
  // content reduces the page as it is decoded.
  LoadedPage page =
      ReadPage(path, job.Choice, stop, job.ViewSize, false, job.Kind == BatchKind::Auto);
  done.Before = QSize(page.Page.Width(), page.Page.Height());
  const BatchCut cut = CutForBatch(page, job);
  done.Kept = cut.Kept;
  done.Encoded = page.File.Decoded ? cut.Edit.Encode(path)
                                   : EncodedPage(Result::Failed(Reason::UnreadableImage));
  done.Right = RightView(page.Reduced, cut.Edit, job.ViewSize);
  done.Left = std::move(page.Reduced);
  done.File = std::move(page.File);
  done.File.Source.Bytes.clear();
  return done;
}

}  // namespace pagetrim
