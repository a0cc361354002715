// The batches over every page of the folder.
#include "batch_commands.h"

#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "page_commands.h"
#include "page_cut.h"
#include "page_path.h"
#include "page_prefetcher.h"
#include "trim_commands.h"

namespace pagetrim {

namespace {

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

void TrimForBatch(BatchPage& page, BatchKind kind, int sampleColumn) {
  EditState scratch;
  scratch.WorkingPage = page.Loaded.Page;
  scratch.AnalysisPage = page.Loaded.Analysis;
  StartWorkingCut(scratch);
  scratch.SampleColumn = sampleColumn;
  scratch.PageResolutionX = page.Loaded.File.Resolution.X;
  scratch.PageSource = page.Loaded.File.Source;  // shared, not copied
  NoDisplay nowhere;
  if (kind == BatchKind::TopBottom) {
    TrimTopAndBottom(scratch, nowhere);
  } else if (kind == BatchKind::Auto) {
    TrimToContent(scratch, nowhere, page.Loaded.Reduction.get());
  } else {
    TrimLeftAndRight(scratch, nowhere);
  }
  page.Kept = QSize(scratch.WorkingPage.Width(), scratch.WorkingPage.Height());
  if (kind == BatchKind::LeftRightNormalise)
    NormalizePage(scratch, nowhere);
  page.Working = std::move(scratch.WorkingPage);
  page.Analysis = std::move(scratch.AnalysisPage);
  page.Cut = scratch.WorkingCut;
  // Written even when nothing was cut; an undecodable page is never written.
  page.Encoded = page.Loaded.File.Decoded
                     ? EncodePage(page.Loaded.Path, page.Working, page.Loaded.File.Resolution.X,
                                  page.Loaded.File.Resolution.Y, page.Loaded.File.Source, page.Cut)
                     : EncodedPage(Result::Failed(Reason::UnreadableImage));
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
  // Pages read ahead for paging are about to be rewritten; their memory is
  // the batch's now.
  if (state.Prefetch != nullptr)
    state.Prefetch->Clear();
  state.RunningBatch = this;
}

PageBatch::~PageBatch() {
  StopWorkers();
  pool_.waitForDone();
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
  if (phase_ != Phase::Ended)
    ReservePooledBytes(0);
  phase_ = Phase::Ended;
}

void PageBatch::ReadAhead(AnalysisChoice choice) {
  // Two pages per worker: while the window's thread shows and writes one
  // page, the workers go on with the next ones instead of waiting for it.
  const std::size_t most = 2 * std::size_t(workers_);
  while (nextToRead_ < PageCount() && inFlight_.size() < most) {
    const int index = nextToRead_;
    const QString& file = files_[index];
    if (std::any_of(inFlight_.begin(), inFlight_.end(),
                    [&](const PageInFlight& p) { return files_[p.Index] == file; })) {
      break;  // read it once the earlier listing is written
    }
    const std::size_t bytes = EstimatePageBytes(pages_[index]);
    if (!inFlight_.empty() && bytesAhead_ + bytes > options_.WorkAheadBytes)
      break;
    auto task = std::make_shared<std::packaged_task<BatchPage()>>(
        [path = pages_[index], choice, kind = kind_, column = sampleColumn_, stop = &stop_] {
          BatchPage page;
          page.Loaded = kind == BatchKind::Auto ? ReadPageForContent(path, choice, stop)
                                                : ReadPage(path, choice, stop);
          TrimForBatch(page, kind, column);
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

void PageBatch::ShowAndWrite(int index, BatchPage page, AnalysisChoice choice, PageWindow& window) {
  state_.CurrentIndex = index;
  state_.CurrentPath = pages_[index];  // the file this page's work was read from
  if (page.Loaded.Choice != choice && kind_ != BatchKind::Auto) {
    // The threshold or the analysis choice changed after this page was read
    // ahead: each page is trimmed with the choice in force when it is shown.
    // Finding the content depends on neither.
    Reanalyse(page.Loaded, choice);
    TrimForBatch(page, kind_, sampleColumn_);
  }
  ShowLoadedPage(state_, window, page.Loaded);
  state_.WorkingPage = page.Working;
  state_.AnalysisPage = page.Analysis;
  state_.WorkingCut = page.Cut;
  RefreshResultView(state_, window);
  const SaveResult saved = WriteShownPage(state_, page.Encoded);
  if (saved.Ok()) {
    const QSize before(page.Loaded.Page.Width(), page.Loaded.Page.Height());
    if (NeedsCheck(before, page.Kept))
      pagesToCheck_.push_back({state_.CurrentPath, before, page.Kept});
  } else if (window.ReportSaveFailure(state_.CurrentPath, saved, true)) {
    RequestCancel();
  }
}

bool PageBatch::Step(PageWindow& window) {
  if (phase_ == Phase::Ended)
    return false;
  if (phase_ == Phase::Working && pagesDone_ < PageCount()) {
    if (pagesDone_ == 0)
      window.ShowBatchProgress(0, PageCount());
    const AnalysisChoice choice = ChoiceOf(window);
    ReadAhead(choice);
    PageInFlight next = std::move(inFlight_.front());
    inFlight_.pop_front();
    bytesAhead_ -= next.Bytes;
    ShowAndWrite(next.Index, next.Result.get(), choice, window);
    ++pagesDone_;
    window.ShowBatchProgress(pagesDone_, PageCount());
    return true;
  }
  End();
  state_.CurrentIndex = startIndex_;
  ShowPage(state_, window);
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
    while (batch.Step(window)) {
      window.PumpEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
