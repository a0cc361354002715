// The batches over every page of the folder.
#include "batch_commands.h"

#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "page_commands.h"
#include "page_cut.h"
#include "page_path.h"
#include "page_prefetcher.h"
#include "trim_commands.h"

namespace pagetrim {

namespace {

// Pages whose originals are kept under one sync of the store.
constexpr int KeepTogether = 8;

// What reading another page like the one shown takes from the pool of page
// buffers, with room for the rounding of its buffers.
std::size_t PooledBytesOfShownPage(const EditState& state) {
  const auto bytes = [](const PageRaster& r) {
    return r.IsEmpty() ? 0 : r.RowBytes() * std::size_t(r.Height()) + (std::size_t(4) << 20);
  };
  return bytes(state.OriginalPage) +
         (state.AnalysisPage.SharesPixelsWith(state.OriginalPage) ? 0 : bytes(state.AnalysisPage));
}

QStringList FilesOf(const QStringList& pages) {
  QStringList files;
  for (const QString& page : pages) {
    const QString file = QFileInfo(page).canonicalFilePath();
    files.append(file.isEmpty() ? page : file);
  }
  return files;
}

}  // namespace

bool NeedsCheck(QSize before, QSize kept) {
  return 2 * qint64(kept.width()) < before.width() || 2 * qint64(kept.height()) < before.height();
}

QString PagesToCheckNotice(const std::vector<PageToCheck>& pages) {
  constexpr std::size_t Named = 20;
  const auto size = [](QSize s) { return QStringLiteral("%1×%2").arg(s.width()).arg(s.height()); };
  QString text =
      QStringLiteral("確認が必要な頁があります。次の頁は幅か高さが元の半分未満になりました。\n");
  for (std::size_t i = 0; i < std::min(pages.size(), Named); ++i) {
    text += QStringLiteral("\n%1  %2 → %3")
                .arg(FileNameOf(pages[i].Path), size(pages[i].Before), size(pages[i].After));
  }
  if (pages.size() > Named)
    text += QStringLiteral("\n他 %1 頁").arg(pages.size() - Named);
  return text;
}

namespace {

// The trims of a batch read the analysis image from the page's edges in, up
// to the first line of ink. Each edge band is this part of the page across
// (or down), and at least MinimumBand lines: narrower pages are analysed
// whole.
constexpr int BandPart = 6;
constexpr int MinimumBand = 64;

// The analysis image of the two bands along the edges the trims walk from,
// side by side (or one above the other) with one line between them of a
// level that neither edge's background has: the walks take that line for ink
// and stop there at the latest. A walk from either edge meets in it what it
// would meet in the page's whole analysis image, as far as the bands reach,
// and the page's middle is neither analysed nor stored. Returns the band's
// width, or 0 when the page is to be analysed whole.
int AnalyseEdges(const LoadedPage& page, bool columns, int sampleColumn, PageRaster& analysis) {
  const PageRaster& source = page.Page;
  const int length = columns ? source.Width() : source.Height();
  const int band = length / BandPart;
  if (!page.File.Decoded() || band < MinimumBand)
    return 0;
  const int lines = 2 * band + 1;
  // The page's first and last lines, seen as pages of the image's size: the
  // analysis fills lines of an image the size of its source.
  PageRaster first = source;
  PageRaster last = source;
  if (columns) {
    first.SetWidth(lines);
    last.CropLeft(length - lines);
    analysis.ResetForOverwrite(lines, source.Height(), PixelFormat::Gray8);
  } else {
    first.SetHeight(lines);
    last.CropTop(length - lines);
    analysis.ResetForOverwrite(source.Width(), lines, PixelFormat::Gray8);
  }
  const AnalysisChoice choice = page.Choice;
  PageRaster* gray = choice.Gray ? &analysis : nullptr;
  PageRaster* binary = choice.Gray ? nullptr : &analysis;
  if (columns) {
    AnalyseColumns(first, gray, binary, choice.Threshold, 0, band);
    AnalyseColumns(last, gray, binary, choice.Threshold, band + 1, band);
  } else {
    AnalyseRows(first, gray, binary, choice.Threshold, 0, band);
    AnalyseRows(last, gray, binary, choice.Threshold, band + 1, band);
  }
  // The walks sample their backgrounds in the bands: the left and right
  // trims at row 10 of the first and last column, the top and bottom ones in
  // the sample column of the first and last row.
  const ColourValue one =
      columns ? analysis.PixelAt(0, SideTrimSampleRow) : analysis.PixelAt(sampleColumn, 0);
  const ColourValue other = columns ? analysis.PixelAt(lines - 1, SideTrimSampleRow)
                                    : analysis.PixelAt(sampleColumn, lines - 1);
  std::uint8_t level = 0;
  while (MakeColour(level, level, level) == one || MakeColour(level, level, level) == other)
    ++level;
  if (columns) {
    for (int y = 0; y < source.Height(); ++y)
      analysis.Row(y)[band] = level;
  } else {
    std::memset(analysis.Row(band), level, std::size_t(source.Width()));
  }
  return band;
}

// The trims of the batch's kind, without normalising, on a state of their own.
void TrimCopy(EditState& scratch, const PageRaster& working, const PageRaster& analysis,
              BatchKind kind, int sampleColumn) {
  scratch = EditState();
  scratch.WorkingPage = working;
  scratch.AnalysisPage = analysis;
  StartWorkingCut(scratch);
  scratch.SampleColumn = sampleColumn;
  NoDisplay nowhere;
  if (kind == BatchKind::TopBottom) {
    TrimTopAndBottom(scratch, nowhere);
  } else {
    TrimLeftAndRight(scratch, nowhere);
  }
}

}  // namespace

// The margin trims walk the analysis image, of the two edge bands alone
// where that is enough.
void TrimEdgesForBatch(EditState& scratch, BatchPage& page, BatchKind kind, int sampleColumn) {
  const bool columns = kind != BatchKind::TopBottom;
  PageRaster edges;
  const int band =
      page.Loaded.Analysis.IsEmpty() ? AnalyseEdges(page.Loaded, columns, sampleColumn, edges) : 0;
  bool trimmed = false;
  if (band > 0) {
    TrimCopy(scratch, edges, edges, kind, sampleColumn);
    // Both walks ended inside their bands, on ink of the page: the result of
    // walking the whole analysis image, the far cut moved by the page's
    // middle. A walk that met the line between the bands needs the image
    // analysed whole.
    const int lines = columns ? edges.Width() : edges.Height();
    if (const std::optional<Rect> cut = scratch.WorkingCut) {
      const int near = columns ? cut->Left : cut->Top;
      const int far = columns ? cut->Right : cut->Bottom;
      trimmed = near < band && far > lines - band;
      if (trimmed) {
        const PageRaster& whole = page.Loaded.Page;
        const int middle = (columns ? whole.Width() : whole.Height()) - lines;
        scratch = EditState();
        scratch.WorkingPage = whole;
        // Only its size is read from here on, by normalising.
        scratch.AnalysisPage = whole;
        StartWorkingCut(scratch);
        CutWorkingPage(scratch, columns ? Rect{near, 0, far + middle, whole.Height()}
                                        : Rect{0, near, whole.Width(), far + middle});
      }
    }
  }
  if (!trimmed) {
    if (page.Loaded.Analysis.IsEmpty())
      Reanalyse(page.Loaded, page.Loaded.Choice);
    TrimCopy(scratch, page.Loaded.Page, page.Loaded.Analysis, kind, sampleColumn);
  }
}

// The content box reads the page itself, from the reduction made while it
// was decoded, and no analysis image.
void TrimToContentForBatch(EditState& scratch, const LoadedPage& page) {
  scratch.WorkingPage = page.Page;
  scratch.AnalysisPage = page.Page;
  StartWorkingCut(scratch);
  scratch.PageResolutionX = page.File.Resolution.X;
  scratch.PageSource = page.File.Source;  // shared, not copied
  NoDisplay nowhere;
  TrimToContent(scratch, nowhere, page.Reduction.get());
}

void TrimForBatch(BatchPage& page, BatchKind kind, int sampleColumn) {
  EditState scratch;
  if (kind == BatchKind::Auto) {
    TrimToContentForBatch(scratch, page.Loaded);
  } else {
    TrimEdgesForBatch(scratch, page, kind, sampleColumn);
  }
  page.Kept = QSize(scratch.WorkingPage.Width(), scratch.WorkingPage.Height());
  if (kind == BatchKind::LeftRightNormalise) {
    NoDisplay nowhere;
    NormalizePage(scratch, nowhere);
  }
  page.Working = std::move(scratch.WorkingPage);
  page.Analysis = std::move(scratch.AnalysisPage);
  page.Cut = scratch.WorkingCut;
  page.Before = QSize(page.Loaded.Page.Width(), page.Loaded.Page.Height());
  // Written even when nothing was cut; an undecodable page is never written.
  page.Encoded = page.Loaded.File.Decoded()
                     ? EncodePage(page.Loaded.Path, page.Working, page.Loaded.File.Resolution.X,
                                  page.Loaded.File.Resolution.Y, page.Loaded.File.Source, page.Cut)
                     : EncodedPage(page.Loaded.File.Read);
}

void KeepOnlyWhatIsShown(BatchPage& page, QSize viewSize) {
  page.Left = std::move(page.Loaded.Reduced);
  if (!page.Left.IsEmpty()) {
    // A page that was only cut is drawn from the samples of the page as
    // loaded; one put on a new canvas is sampled anew.
    if (page.Cut) {
      page.Right = page.Left;
      page.Right.Region = *page.Cut;
    } else {
      page.Right =
          ReducePage(page.Working, ReductionStep(page.Working.Width(), page.Working.Height(),
                                                 viewSize.width(), viewSize.height()));
    }
  }
  page.Loaded.Page = PageRaster();
  page.Loaded.Analysis = PageRaster();
  page.Working = PageRaster();
  page.Analysis = PageRaster();
}

PageBatch::PageBatch(EditState& state, BatchKind kind, BatchOptions options)
    : state_(state),
      kind_(kind),
      options_(options),
      pages_(state.PageList.Items()),
      files_(FilesOf(pages_)),
      startIndex_(state.CurrentIndex),
      sampleColumn_(state.SampleColumn) {
  workers_ = options.Workers > 0 ? options.Workers : std::max(1, QThread::idealThreadCount());
  pool_.setMaxThreadCount(workers_);
  writer_.setMaxThreadCount(1);
  // Pages read ahead for paging are about to be rewritten; their memory is
  // the batch's now, kept for its first pages rather than given back.
  if (!pages_.isEmpty()) {
    largestPage_ = EstimatePageBytes(pages_.front());
    ReservePooledBytes(std::min(2 * largestPage_, options_.WorkAheadBytes));
  }
  if (state.Prefetch != nullptr)
    state.Prefetch->Clear();
  state.RunningBatch = this;
}

PageBatch::~PageBatch() {
  StopWorkers();
  pool_.waitForDone();
  writer_.waitForDone();
  if (state_.RunningBatch == this)
    state_.RunningBatch = nullptr;
}

void PageBatch::RequestCancel() {
  if (phase_ != Phase::Working)
    return;
  phase_ = Phase::Stopping;
  stop_.store(true);
}

void PageBatch::StopWorkers() {
  stop_.store(true);
  for (PageInFlight& page : inFlight_)
    page.Result.wait();
  inFlight_.clear();
  bytesAhead_ = 0;
}

void PageBatch::End() {
  StopWorkers();
  if (writing_) {
    writing_->Result.wait();
    writing_.reset();
  }
  if (phase_ == Phase::Ended)
    return;
  phase_ = Phase::Ended;
  ReservePooledBytes(0);
  // Ended between two pages: the page on show was passing through and its
  // pixels are held by nothing, so there is nothing to reload or write.
  if (pagesDone_ > 0)
    state_.CurrentPath.clear();
}

bool PageBatch::FileInHand(const QString& file) const {
  if (writing_ && files_[writing_->Index] == file)
    return true;
  return std::any_of(inFlight_.begin(), inFlight_.end(),
                     [&](const PageInFlight& p) { return files_[p.Index] == file; });
}

void PageBatch::ReadAhead(QSize viewSize) {
  // Two pages per worker: while the window's thread shows one page, the
  // workers go on with the next ones instead of waiting for it.
  const std::size_t most = 2 * std::size_t(workers_);
  while (nextToRead_ < PageCount() && inFlight_.size() < most) {
    const int index = nextToRead_;
    // A page listed twice is read once its earlier listing is written.
    if (FileInHand(files_[index]))
      break;
    const std::size_t bytes = EstimatePageBytes(pages_[index]);
    if (!inFlight_.empty() && bytesAhead_ + bytes > options_.WorkAheadBytes)
      break;
    auto task = std::make_shared<std::packaged_task<BatchPage()>>(
        [path = pages_[index], choice = readChoice_, kind = kind_, column = sampleColumn_,
         stop = &stop_, viewSize] {
          BatchPage page;
          // The trims analyse only what they read of the page.
          page.Loaded = ReadPage(path, choice, stop, viewSize, false, kind == BatchKind::Auto);
          TrimForBatch(page, kind, column);
          KeepOnlyWhatIsShown(page, viewSize);
          return page;
        });
    inFlight_.push_back({index, bytes, task->get_future()});
    pool_.start([task] { (*task)(); });
    bytesAhead_ += bytes;
    peakBytesAhead_ = std::max(peakBytesAhead_, bytesAhead_);
    // Buffers of two pages stay pooled for the pages that follow, within
    // the budget.
    if (bytes > largestPage_) {
      largestPage_ = bytes;
      ReservePooledBytes(std::min(2 * bytes, options_.WorkAheadBytes));
    }
    ++nextToRead_;
  }
}

void PageBatch::ShowAndStartWrite(int index, BatchPage page, PageWindow& window) {
  state_.CurrentIndex = index;
  state_.CurrentPath = pages_[index];  // the file this page's work was read from
  ShowPassingPage(state_, window, page.Loaded, page.Left, page.Right);
  // The page is written while the window goes on: the next page is shown
  // only once this write has been reported.
  PageToWrite target = ShownPageToWrite(state_);
  // The originals of the next few pages are kept with this one's, under one
  // sync of the store: a sync can take a tenth of a second on a USB stick.
  // Stopping before those pages leaves them kept but as they were.
  if (target.KeepOriginal && target.Read.Ok())
    target.KeepNext = pages_.mid(index + 1, KeepTogether - 1);
  auto task = std::make_shared<std::packaged_task<SaveResult()>>(
      [target = std::move(target), encoded = std::move(page.Encoded)] {
        return WritePageFile(target, encoded);
      });
  writing_ = PageBeingWritten{index, state_.CurrentPath, task->get_future(), std::nullopt};
  if (NeedsCheck(page.Before, page.Kept))
    writing_->Check = PageToCheck{state_.CurrentPath, page.Before, page.Kept};
  writer_.start([task] { (*task)(); });
}

void PageBatch::FinishWrite(PageWindow& window) {
  if (!writing_)
    return;
  const SaveResult saved = writing_->Result.get();
  const PageBeingWritten written = std::move(*writing_);
  if (written.Index == startIndex_)
    startPageDone_ = true;
  writing_.reset();
  if (saved.Ok()) {
    NoteShownPageWritten(state_, saved);
    if (written.Check)
      pagesToCheck_.push_back(*written.Check);
  } else if (window.ReportSaveFailure(written.Path, saved, true)) {
    RequestCancel();
  }
}

void PageBatch::ReadStartPageAhead() {
  // Once a worker has no page left, its core and its buffers are free before
  // the batch ends: the start page is read there for the end, instead of
  // after it. Shown pages are checked against their files, so a later write under
  // another name only means reading it once more.
  if (startPageReadAhead_ || !startPageDone_ || nextToRead_ < PageCount() ||
      inFlight_.size() >= std::size_t(workers_) || state_.Prefetch == nullptr ||
      !options_.ShowStartPageAtEnd) {
    return;
  }
  startPageReadAhead_ = true;
  state_.Prefetch->ReadAhead(pages_[startIndex_], readChoice_);
}

bool PageBatch::Step(PageWindow& window) {
  if (phase_ == Phase::Ended)
    return false;
  if (phase_ == Phase::Working && pagesDone_ < PageCount()) {
    if (pagesDone_ == 0)
      window.ShowBatchProgress(0, PageCount());
    // Each page is trimmed with the threshold and analysis choice in force
    // when it is shown: pages read ahead with others are read again.
    // Finding the content depends on neither.
    if (const AnalysisChoice choice = ChoiceOf(window);
        choice != readChoice_ && kind_ != BatchKind::Auto) {
      StopWorkers();
      stop_.store(false);
      nextToRead_ = pagesDone_;
      readChoice_ = choice;
    }
    const QSize viewSize = window.ViewSize();
    ReadAhead(viewSize);
    if (inFlight_.empty()) {
      // The next page's file is the one being written, under another name.
      FinishWrite(window);
      ReadAhead(viewSize);
    }
    PageInFlight next = std::move(inFlight_.front());
    inFlight_.pop_front();
    bytesAhead_ -= next.Bytes;
    BatchPage page = next.Result.get();
    // The page before is still on show while its failure is reported, and
    // stopping there leaves this one unwritten.
    FinishWrite(window);
    ReadStartPageAhead();
    if (phase_ == Phase::Working) {
      ShowAndStartWrite(next.Index, std::move(page), window);
      ++pagesDone_;
      window.ShowBatchProgress(pagesDone_, PageCount());
      return true;
    }
  }
  FinishWrite(window);
  StopWorkers();
  phase_ = Phase::Ended;
  // The start page is shown whole again in buffers the batch's pages used,
  // and so are the pages beside it, which are read ahead next; the rest is
  // given back.
  struct Release {
    const EditState& State;
    ~Release() { ReservePooledBytes(2 * PooledBytesOfShownPage(State)); }
  } release{state_};
  state_.CurrentIndex = startIndex_;
  if (options_.ShowStartPageAtEnd) {
    ShowPage(state_, window);
  } else {
    state_.CurrentPath.clear();
  }
  return false;
}

void RunBatch(PageBatch& batch, PageWindow& window) {
  {
    window.LockCommands();
    struct Unlock {
      PageBatch& Batch;
      PageWindow& Window;
      ~Unlock() {
        Batch.End();
        Window.UnlockCommands();
      }
    } unlock{batch, window};
    try {
      while (batch.Step(window)) {
        window.PumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } catch (...) {
      // The page in hand was shown as done: how its save went is still told.
      batch.FinishWrite(window);
      throw;
    }
  }
  if (!batch.PagesToCheck().empty())
    window.ReportPagesToCheck(batch.PagesToCheck());
}

void TrimAllLeftRight(EditState& state, PageWindow& window, bool withNormalise,
                      BatchOptions options) {
  PageBatch batch(state, withNormalise ? BatchKind::LeftRightNormalise : BatchKind::LeftRight,
                  options);
  RunBatch(batch, window);
}

void TrimAllTopBottom(EditState& state, PageWindow& window, BatchOptions options) {
  PageBatch batch(state, BatchKind::TopBottom, options);
  RunBatch(batch, window);
}

void TrimAllToContent(EditState& state, PageWindow& window, BatchOptions options) {
  PageBatch batch(state, BatchKind::Auto, options);
  RunBatch(batch, window);
}

}  // namespace pagetrim
