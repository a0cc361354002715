// A batch page's way from its file to the bytes written over it.
#include "batch_page.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "page_turn.h"
#include "trim_commands.h"

namespace pagetrim {

namespace {

PageEdit StartEdit(const LoadedPage& page, PageRaster analysis) {
  return PageEdit(page.Page, std::move(analysis), page.File.Source, page.File.Resolution);
}

Rect WholePage(const PageRaster& page) {
  return {0, 0, page.Width(), page.Height()};
}

// The page turned straight; the corners brought in are its paper, as the
// first pass found it or from the page's reduction.
PageRaster Turn(const PageRaster& page, const PageReduction* reduction,
                const std::optional<ColourValue>& paper, double degrees) {
  TurnOptions options;
  if (paper) {
    options.Fill = *paper;
  } else {
    PageReduction own;
    if (reduction == nullptr || !reduction->Covers(page)) {
      own.AddRows(page, 0, page.Height());
      reduction = &own;
    }
    options.Fill = PaperColour(*reduction);
  }
  return TurnPage(page, -degrees, options);
}

// How far a page is turned, from the reduction made while it was read, and
// the content box's classes of its cells when they are known.
SkewFinding SkewOfLoaded(const LoadedPage& page, const ContentBoxTrace* trace) {
  const float dpi = page.File.Resolution.X;
  if (page.Page.IsEmpty())
    return {};
  if (page.Reduction && page.Reduction->Covers(page.Page)) {
    return trace != nullptr ? FindSkew(page.Page, dpi, *page.Reduction, *trace)
                            : FindSkew(page.Page, dpi, *page.Reduction);
  }
  return FindSkew(page.Page, dpi);
}

// What the page's content is once turned straight, closely, from the content
// box of the page as read: the turned box of every cell of content. Where
// the box holds more than those cells (a cover's own frame, a picture to the
// edges), the turned box of all of it, which may keep a wedge of paper but
// never cuts ink. The turned page itself is not made.
PageContent TurnedContentOf(const LoadedPage& page, const PageContent& asRead,
                            const ContentBoxTrace& trace, double degrees) {
  const PageTurn turn(page.Page.Width(), page.Page.Height(), -degrees);
  PageContent content;
  content.Readable = true;
  content.Width = turn.Width();
  content.Height = turn.Height();
  content.Dpi = page.File.Resolution.X;
  auto add = [&content](const Rect& turned) {
    if (!content.HasContent) {
      content.Content = turned;
      content.HasContent = true;
      return;
    }
    content.Content = {std::min(content.Content.Left, turned.Left),
                       std::min(content.Content.Top, turned.Top),
                       std::max(content.Content.Right, turned.Right),
                       std::max(content.Content.Bottom, turned.Bottom)};
  };
  const int f = trace.Factor;
  Rect cells{page.Page.Width(), page.Page.Height(), 0, 0};
  for (int y = 0; y < trace.Height; ++y) {
    for (int x = 0; x < trace.Width; ++x) {
      if (trace.Cells[std::size_t(y) * std::size_t(trace.Width) + std::size_t(x)] !=
          ContentBoxTrace::Content)
        continue;
      const Rect cell{x * f, y * f, std::min((x + 1) * f, page.Page.Width()),
                      std::min((y + 1) * f, page.Page.Height())};
      cells = {std::min(cells.Left, cell.Left), std::min(cells.Top, cell.Top),
               std::max(cells.Right, cell.Right), std::max(cells.Bottom, cell.Bottom)};
      add(turn.TurnedBox(cell));
    }
  }
  const Rect& box = asRead.Content;
  if (asRead.HasContent && (box.Left < cells.Left - f || box.Top < cells.Top - f ||
                            box.Right > cells.Right + f || box.Bottom > cells.Bottom + f))
    add(turn.TurnedBox(box));
  const int border =
      int(std::lround(CutBorderMm / 25.4 * (content.Dpi > 0 ? content.Dpi : AssumedDpi)));
  const Rect& c = content.Content;
  content.OwnCut = {std::max(0, c.Left - border), std::max(0, c.Top - border),
                    std::min(content.Width, c.Right + border),
                    std::min(content.Height, c.Bottom + border)};
  content.Paper = asRead.Paper;
  return content;
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

// The working page cut to its place in the book: a cut within it where it is
// large enough, the page on a canvas of its paper where it is not.
OwnSizeReason PlaceForBook(PageEdit& edit, const PageContent& content, const BookPlan& book,
                           int index, Rect& cut) {
  const PageRaster& page = edit.WorkingPage();
  cut = WholePage(page);
  if (!content.Readable || page.IsEmpty())
    return OwnSizeReason::EachPage;
  const BookCut placed = PlaceInBook(book.Layout, index, content);
  cut = placed.Cut;
  if (cut.Left >= 0 && cut.Top >= 0 && cut.Right <= page.Width() && cut.Bottom <= page.Height()) {
    edit.Cut(cut);
  } else {
    edit.ReplacePixels(OnPaper(page, cut, content.Paper));
  }
  return placed.Own;
}

// The first pass's look at the page at index, while its file is the one read
// then; none otherwise.
const PageSurvey* SurveyOf(const BatchJob& job, int index, const LoadedPage& page) {
  if (!job.Book || index < 0 || std::size_t(index) >= job.Book->Pages.size())
    return nullptr;
  const PageSurvey& survey = job.Book->Pages[std::size_t(index)];
  return survey.Identity && survey.Identity == page.File.Identity ? &survey : nullptr;
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

namespace {

// What the first pass finds of a page as read, whose file's block grid a cut
// may keep to.
PageContent ContentOfPixels(const PageRaster& pixels, const PageReduction* reduction,
                            const PageFileInfo& file, ContentBoxTrace* trace = nullptr) {
  PageContent content;
  content.Readable = file.Decoded() && !pixels.IsEmpty();
  content.Width = pixels.Width();
  content.Height = pixels.Height();
  content.Dpi = file.Resolution.X;
  if (!content.Readable)
    return content;
  PageReduction own;
  if (reduction == nullptr || !reduction->Covers(pixels)) {
    own.AddRows(pixels, 0, pixels.Height());
    reduction = &own;
  }
  const ContentBox found = FindContentBox(pixels, content.Dpi, *reduction, trace);
  content.HasContent = found.HasContent;
  content.Content = found.Content;
  const PageEdit edit(pixels, PageRaster(), file.Source, file.Resolution);
  content.OwnCut = ContentCut(edit, found).value_or(WholePage(pixels));
  const PageSource& source = file.Source;
  if (source.Jpeg && !source.Turned && !source.Bytes.isEmpty()) {
    content.GridX = source.Jpeg->McuWidth();
    content.GridY = source.Jpeg->McuHeight();
  }
  content.Paper = PaperColour(*reduction);
  return content;
}

// What the first pass finds of a page it has read: its content and, when
// asked, its turn. A turned page's content is found on the page as read and
// turned with it: the scanner's edges, shadows and the facing page lie
// straight along the border there, where the content box knows them, and
// would lie aslant on the turned page.
PageSurvey SurveyLoaded(const LoadedPage& page, bool turnPages) {
  PageSurvey survey;
  survey.Identity = page.File.Identity;
  ContentBoxTrace trace;
  survey.Content = ContentOfPixels(page.Page, page.Reduction.get(), page.File, &trace);
  if (turnPages && survey.Content.Readable) {
    survey.Turning.Looked = true;
    survey.Turning.Skew = SkewOfLoaded(page, &trace);
    survey.Turning.TurnedSize = QSize(page.Page.Width(), page.Page.Height());
    if (survey.Turning.Skew.NeedsTurn) {
      survey.Turning.Turned = true;
      survey.Content = TurnedContentOf(page, survey.Content, trace, survey.Turning.Skew.Degrees);
      survey.Turning.TurnedSize = QSize(survey.Content.Width, survey.Content.Height);
    }
  }
  return survey;
}

}  // namespace

PageSurvey SurveyBatchPage(const QString& path, bool turnPages, const std::atomic<bool>* stop) {
  ReadFor wants;
  wants.Analysis = false;
  wants.Content = true;
  return SurveyLoaded(ReadPage(path, {}, stop, wants), turnPages);
}

BatchCut CutForBatch(const LoadedPage& page, const BatchJob& job, int index) {
  BatchCut cut;
  // What the first pass found, for this very file; a page it did not see, or
  // that changed since, is surveyed here.
  const PageSurvey* survey = SurveyOf(job, index, page);
  std::optional<PageSurvey> own;
  if (job.Kind == BatchKind::Auto && survey == nullptr) {
    own = SurveyLoaded(page, job.TurnPages);
    survey = &*own;
  }
  // Pages are turned straight first, by the first pass's angle where it
  // found one for this very file.
  const bool turns =
      job.Kind == BatchKind::Deskew || (job.Kind == BatchKind::Auto && job.TurnPages);
  PageRaster turned;
  if (turns && page.File.Decoded() && !page.Page.IsEmpty()) {
    if (survey != nullptr && survey->Turning.Looked) {
      cut.Turning = survey->Turning;
    } else {
      cut.Turning.Looked = true;
      cut.Turning.Skew = SkewOfLoaded(page, nullptr);
    }
    cut.Turning.Turned = cut.Turning.Skew.NeedsTurn;
    if (cut.Turning.Turned)
      turned = Turn(page.Page, page.Reduction.get(),
                    survey != nullptr ? std::optional(survey->Content.Paper) : std::nullopt,
                    cut.Turning.Skew.Degrees);
  }
  cut.Edit = StartEdit(page, PageRaster());
  if (cut.Turning.Turned)
    cut.Edit.ReplacePixels(turned);
  // The pixels the cut is made in: the page as read, or as turned.
  const PageRaster working = cut.Edit.WorkingPage();
  cut.Turning.TurnedSize = QSize(working.Width(), working.Height());
  cut.Cut = WholePage(working);
  switch (job.Kind) {
    case BatchKind::Deskew:
      break;
    case BatchKind::Auto:
      if (job.Book) {
        cut.Own = PlaceForBook(cut.Edit, survey->Content, *job.Book, index, cut.Cut);
      } else if (survey->Content.HasContent && survey->Content.OwnCut != WholePage(working)) {
        cut.Cut = survey->Content.OwnCut;
        cut.Edit.Cut(cut.Cut);
      }
      break;
    default:
      cut.Edit = TrimMargins(page, job);
      cut.Cut = cut.Edit.WorkingCut().value_or(WholePage(page.Page));
      break;
  }
  const Rect inPage{std::max(cut.Cut.Left, 0), std::max(cut.Cut.Top, 0),
                    std::min(cut.Cut.Right, working.Width()),
                    std::min(cut.Cut.Bottom, working.Height())};
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
  done.Turning = survey.Turning;
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
  // A page of a book was reduced in the first pass, which found its
  // content, its turn and its paper; others are reduced as they are read.
  wants.Content = (job.Kind == BatchKind::Auto && !job.Book) || job.Kind == BatchKind::Deskew;
  wants.SideTrims = job.Kind == BatchKind::LeftRight || job.Kind == BatchKind::LeftRightNormalise;
  LoadedPage page = ReadPage(path, job.Choice, stop, wants);
  done.Before = QSize(page.Page.Width(), page.Page.Height());
  const BatchCut cut = CutForBatch(page, job, index);
  done.Kept = cut.Kept;
  done.Cut = cut.Cut;
  done.Own = cut.Own;
  done.Turning = cut.Turning;
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
