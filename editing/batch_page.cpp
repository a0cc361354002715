// A batch page's way from its file to the bytes written over it.
#include "batch_page.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "trim_commands.h"

namespace pagetrim {

namespace {

PageEdit StartEdit(const LoadedPage& page, PageRaster analysis) {
  return PageEdit(page.Page, std::move(analysis), page.File.Source, page.File.Resolution);
}

Rect WholePage(const PageRaster& page) {
  return {0, 0, page.Width(), page.Height()};
}

// The margin trims of the job's kind: on the page's own analysis image where
// it is one (gray and 1-bit pages), otherwise on the page read through the
// analysis as far as the walks go. An edit cut that way has no analysis
// image: its trims are done.
PageEdit TrimMargins(const LoadedPage& page, const BatchJob& job) {
  const bool columns = job.Kind != BatchKind::TopBottom;
  if (page.Analysis.IsEmpty()) {
    PageEdit edit = StartEdit(page, PageRaster());
    edit.Cut(columns && page.SideTrimsKept
                 ? *page.SideTrimsKept
                 : KeptByTrims(page.Page, columns, page.Choice, job.SampleColumn));
    return edit;
  }
  const Rect kept =
      columns ? LeftAndRightKept(page.Analysis) : TopAndBottomKept(page.Analysis, job.SampleColumn);
  PageEdit edit = StartEdit(page, page.Analysis);
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

// The page on a canvas of the cut's size, its paper colour around it.
PageRaster OnPaper(const PageRaster& page, const Rect& cut, ColourValue paper) {
  PageRaster canvas;
  canvas.ResetForOverwrite(cut.Width(), cut.Height(), page.Format());
  const std::uint8_t bgr[3] = {std::uint8_t(paper >> 16), std::uint8_t(paper >> 8),
                               std::uint8_t(paper)};
  const int bytes = page.BytesPerPixel();
  const int from = std::max(0, -cut.Left), to = std::min(cut.Width(), page.Width() - cut.Left);
  for (int y = 0; y < cut.Height(); ++y) {
    std::uint8_t* row = canvas.Row(y);
    if (bytes == 1) {
      std::memset(row, bgr[0], canvas.RowBytes());
    } else {
      for (int x = 0; x < cut.Width(); ++x)
        std::memcpy(row + 3 * x, bgr, 3);
    }
    const int source = cut.Top + y;
    if (source >= 0 && source < page.Height() && from < to) {
      std::memcpy(row + std::size_t(from) * std::size_t(bytes),
                  page.Row(source) + std::size_t(cut.Left + from) * std::size_t(bytes),
                  std::size_t(to - from) * std::size_t(bytes));
    }
  }
  return canvas;
}

// The page cut to its place in the book: a cut within the page where the
// page is large enough, the page on a canvas of its paper where it is not.
BatchCut PlaceForBook(const LoadedPage& page, const BookPlan& book, int index) {
  BatchCut result;
  const PageSurvey* survey = index >= 0 && std::size_t(index) < book.Pages.size()
                                 ? &book.Pages[std::size_t(index)]
                                 : nullptr;
  // A page changed since the first pass is looked at again.
  const PageContent content = survey != nullptr && survey->Identity == page.File.Identity
                                  ? survey->Content
                                  : ContentOf(page);
  const BookCut placed = PlaceInBook(book.Layout, index, content);
  result.Own = placed.Own;
  result.Edit = StartEdit(page, PageRaster());
  if (!content.Readable || page.Page.IsEmpty()) {
    result.Cut = WholePage(page.Page);
    return result;
  }
  result.Cut = placed.Cut;
  const Rect& cut = placed.Cut;
  if (cut.Left >= 0 && cut.Top >= 0 && cut.Right <= page.Page.Width() &&
      cut.Bottom <= page.Page.Height()) {
    result.Edit.Cut(cut);
  } else {
    result.Edit.ReplacePixels(OnPaper(page.Page, cut, content.Paper));
  }
  return result;
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

PageContent ContentOf(const LoadedPage& page) {
  PageContent content;
  content.Readable = page.File.Decoded() && !page.Page.IsEmpty();
  content.Width = page.Page.Width();
  content.Height = page.Page.Height();
  content.Dpi = page.File.Resolution.X;
  if (!content.Readable)
    return content;
  std::shared_ptr<const PageReduction> reduction = page.Reduction;
  if (!reduction || !reduction->Covers(page.Page)) {
    auto made = std::make_shared<PageReduction>();
    made->AddRows(page.Page, 0, page.Page.Height());
    reduction = std::move(made);
  }
  const ContentBox found = FindContentBox(page.Page, content.Dpi, *reduction);
  content.HasContent = found.HasContent;
  content.Content = found.Content;
  const PageEdit edit = StartEdit(page, PageRaster());
  content.OwnCut = ContentCut(edit, found).value_or(WholePage(page.Page));
  const PageSource& source = page.File.Source;
  if (source.Jpeg && !source.Turned && !source.Bytes.isEmpty()) {
    content.GridX = source.Jpeg->McuWidth();
    content.GridY = source.Jpeg->McuHeight();
  }
  content.Paper = PaperColourOf(*reduction);
  return content;
}

PageSurvey SurveyBatchPage(const QString& path, const std::atomic<bool>* stop) {
  ReadFor wants;
  wants.Analysis = false;
  wants.Content = true;
  const LoadedPage page = ReadPage(path, {}, stop, wants);
  return {ContentOf(page), page.File.Identity};
}

BatchCut CutForBatch(const LoadedPage& page, const BatchJob& job, int index) {
  BatchCut cut;
  if (job.Kind == BatchKind::Auto && job.Book) {
    cut = PlaceForBook(page, *job.Book, index);
  } else {
    cut.Edit = job.Kind == BatchKind::Auto ? TrimToContent(page) : TrimMargins(page, job);
    cut.Cut = cut.Edit.WorkingCut().value_or(WholePage(page.Page));
  }
  const Rect inPage{std::max(cut.Cut.Left, 0), std::max(cut.Cut.Top, 0),
                    std::min(cut.Cut.Right, page.Page.Width()),
                    std::min(cut.Cut.Bottom, page.Page.Height())};
  cut.Kept = QSize(std::max(inPage.Width(), 0), std::max(inPage.Height(), 0));
  if (job.Kind == BatchKind::LeftRightNormalise)
    cut.Edit.ReplacePixels(NormalizedPage(cut.Edit));
  return cut;
}

namespace {

// A page that the first pass found is to be written by copying its file's
// blocks: nothing of it needs decoding but what the views show, which the
// blocks' mean values give. Done only while its file is the one the first
// pass read.
std::optional<BatchPage> CopiedForBook(const QString& path, const BatchJob& job, int index) {
  if (job.DryRun || index < 0 || std::size_t(index) >= job.Book->Pages.size())
    return std::nullopt;
  const PageSurvey& survey = job.Book->Pages[std::size_t(index)];
  if (!survey.Identity || !survey.Content.Readable)
    return std::nullopt;
  const BookCut placed = PlaceInBook(job.Book->Layout, index, survey.Content);
  if (!placed.Lossless)
    return std::nullopt;
  BatchPage done;
  PageRaster preview;
  done.Encoded =
      CopyPageFile(path, placed.Cut, done.File, job.ViewSize.isEmpty() ? nullptr : &preview);
  if (!done.Encoded.Ok() || done.File.Identity != survey.Identity)
    return std::nullopt;
  done.Before = QSize(survey.Content.Width, survey.Content.Height);
  done.Kept = QSize(placed.Cut.Width(), placed.Cut.Height());
  done.Cut = placed.Cut;
  done.Own = placed.Own;
  done.Lossless = true;
  if (!preview.IsEmpty()) {
    constexpr int BlockStep = 8;
    done.Left = {preview, BlockStep, {0, 0, survey.Content.Width, survey.Content.Height}};
    done.Right = {preview, BlockStep, placed.Cut};
  }
  return done;
}

}  // namespace

BatchPage RunBatchPage(const QString& path, const BatchJob& job, int index,
                       const std::atomic<bool>* stop) {
  if (job.Kind == BatchKind::Auto && job.Book) {
    if (std::optional<BatchPage> copied = CopiedForBook(path, job, index))
      return std::move(*copied);
  }
  BatchPage done;
  // The margin trims analyse only what they read of the page; finding the
  // content reduces the page as it is decoded, unless the first pass found
  // it already.
  ReadFor wants;
  wants.Views = job.ViewSize;
  wants.Analysis = false;
  wants.Content = job.Kind == BatchKind::Auto && !job.Book;
  wants.SideTrims = job.Kind == BatchKind::LeftRight || job.Kind == BatchKind::LeftRightNormalise;
  LoadedPage page = ReadPage(path, job.Choice, stop, wants);
  done.Before = QSize(page.Page.Width(), page.Page.Height());
  const BatchCut cut = CutForBatch(page, job, index);
  done.Kept = cut.Kept;
  done.Cut = cut.Cut;
  done.Own = cut.Own;
  if (job.DryRun) {
    done.Encoded = EncodedPage(Result{});
    done.Lossless = page.File.Decoded() && cut.Edit.CopiesBlocks(path);
  } else {
    done.Encoded = page.File.Decoded() ? cut.Edit.Encode(path) : EncodedPage(page.File.Read);
    done.Lossless = done.Encoded.Ok() && done.Encoded.Copied;
  }
  done.Right = RightView(page.Reduced, cut.Edit, job.ViewSize);
  done.Left = std::move(page.Reduced);
  done.File = std::move(page.File);
  done.File.Source.Bytes.clear();
  return done;
}

}  // namespace pagetrim
