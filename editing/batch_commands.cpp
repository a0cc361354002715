// The batches over every page of the folder.
#include "batch_commands.h"

#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "original_store.h"
#include "page_commands.h"
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
  return bytes(state.OriginalPage) + (state.Edit.AnalysisPage().SharesPixelsWith(state.OriginalPage)
                                          ? 0
                                          : bytes(state.Edit.AnalysisPage()));
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

QString OwnSizeReasonText(OwnSizeReason reason) {
  switch (reason) {
    case OwnSizeReason::ContentTooLarge:
      return QStringLiteral("内容が本の大きさに収まりません");
    case OwnSizeReason::NoBookSize:
      return QStringLiteral("同じ側の頁に大きさの基になる内容がありません");
    case OwnSizeReason::None:
    case OwnSizeReason::EachPage:
      break;
  }
  return QString();
}

QString PagesToCheckNotice(const std::vector<PageToCheck>& pages) {
  constexpr std::size_t Named = 20;
  const auto size = [](QSize s) { return QStringLiteral("%1×%2").arg(s.width()).arg(s.height()); };
  enum class Kind { CutHard, OwnSize, Unsure };
  const auto kindOf = [](const PageToCheck& page) {
    return page.Unsure != SkewDoubt::None    ? Kind::Unsure
           : page.Own != OwnSizeReason::None ? Kind::OwnSize
                                             : Kind::CutHard;
  };
  // Each list names up to 20 pages, then counts the rest.
  const auto list = [&](Kind kind) {
    QString text;
    std::size_t count = 0;
    for (const PageToCheck& page : pages) {
      if (kindOf(page) != kind || count++ >= Named)
        continue;
      if (kind == Kind::Unsure) {
        text += QStringLiteral("\n%1（%2）").arg(FileNameOf(page.Path), SkewDoubtText(page.Unsure));
        continue;
      }
      text += QStringLiteral("\n%1  %2 → %3")
                  .arg(FileNameOf(page.Path), size(page.Before), size(page.After));
      if (kind == Kind::OwnSize)
        text += QStringLiteral("（%1）").arg(OwnSizeReasonText(page.Own));
    }
    if (count > Named)
      text += QStringLiteral("\n他 %1 頁").arg(count - Named);
    return std::make_pair(count, text);
  };
  const auto [cutHard, hardList] = list(Kind::CutHard);
  const auto [ownSize, ownList] = list(Kind::OwnSize);
  const auto [unsure, unsureList] = list(Kind::Unsure);
  QString text = QStringLiteral("確認が必要な頁があります。");
  bool first = true;
  const auto part = [&](std::size_t count, const QString& heading, const QString& names) {
    if (count == 0)
      return;
    text += (first ? QString() : QStringLiteral("\n\n")) + heading + names;
    first = false;
  };
  part(cutHard, QStringLiteral("次の頁は幅か高さが元の半分未満になりました。\n"), hardList);
  part(ownSize, QStringLiteral("次の頁は本の大きさに揃えず、その頁だけの大きさで切りました。\n"),
       ownList);
  part(unsure, QStringLiteral("次の頁は傾きを確かめられないため、回していません。\n"), unsureList);
  return text;
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
  // As when the folder is opened: a batch may run long after, and rewrites
  // every page, so it sweeps first what a stopped save left behind.
  if (!pages_.isEmpty())
    (void)RemoveLeftoverTemporaries(FolderOf(pages_.front()));
  // Pages read ahead for paging are about to be rewritten; their memory is
  // the batch's now, kept for its first pages rather than given back.
  if (!pages_.isEmpty()) {
    largestPage_ = EstimatePageBytes(pages_.front());
    ReservePooledBytes(std::min(2 * largestPage_, options_.WorkAheadBytes));
  }
  if (state.Prefetch != nullptr)
    state.Prefetch->Clear();
  if (kind_ == BatchKind::Auto && state.OneSizePerSide)
    phase_ = Phase::Surveying;
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
  if (phase_ != Phase::Working && phase_ != Phase::Surveying)
    return;
  phase_ = Phase::Stopping;
  stop_.store(true);
}

void PageBatch::StopWorkers() {
  stop_.store(true);
  for (PageInFlight<BatchPage>& page : inFlight_)
    page.Result.wait();
  for (PageInFlight<PageSurvey>& page : surveying_)
    page.Result.wait();
  inFlight_.clear();
  surveying_.clear();
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
                     [&](const PageInFlight<BatchPage>& p) { return files_[p.Index] == file; });
}

template <class Outcome, class Work>
void PageBatch::StartAhead(std::deque<PageInFlight<Outcome>>& inFlight, Work work) {
  // Two pages per worker: while the window's thread shows one page, the
  // workers go on with the next ones instead of waiting for it.
  const std::size_t most = 2 * std::size_t(workers_);
  while (nextToRead_ < PageCount() && inFlight.size() < most) {
    const int index = nextToRead_;
    // A page listed twice is read once its earlier listing is written.
    if (FileInHand(files_[index]))
      break;
    const std::size_t bytes = EstimatePageBytes(pages_[index]);
    if (!inFlight.empty() && bytesAhead_ + bytes > options_.WorkAheadBytes)
      break;
    auto task = std::make_shared<std::packaged_task<Outcome()>>(
        [path = pages_[index], index, work, stop = &stop_] { return work(path, index, stop); });
    inFlight.push_back({index, bytes, task->get_future()});
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

void PageBatch::ReadAhead(const BatchJob& job) {
  StartAhead(inFlight_, [job](const QString& path, int index, const std::atomic<bool>* stop) {
    return RunBatchPage(path, job, index, stop);
  });
}

void PageBatch::SurveyAhead() {
  StartAhead(surveying_, [turn = state_.TurnPagesStraight](const QString& path, int,
                                                           const std::atomic<bool>* stop) {
    return SurveyBatchPage(path, turn, stop);
  });
}

void PageBatch::TakeSurvey(PageWindow& window) {
  if (surveyed_.empty())
    window.ShowSurveyProgress(0, PageCount());
  SurveyAhead();
  PageInFlight<PageSurvey> next = std::move(surveying_.front());
  surveying_.pop_front();
  bytesAhead_ -= next.Bytes;
  surveyed_.push_back(next.Result.get());
  window.ShowSurveyProgress(int(surveyed_.size()), PageCount());
  if (int(surveyed_.size()) < PageCount() || phase_ != Phase::Surveying)
    return;
  // Every page is known: the book's sizes, then every page cut from the first.
  auto book = std::make_shared<BookPlan>();
  std::vector<PageContent> contents;
  for (const PageSurvey& page : surveyed_)
    contents.push_back(page.Content);
  book->Layout = PlanBook(contents);
  book->Pages = std::move(surveyed_);
  book_ = std::move(book);
  nextToRead_ = 0;
  phase_ = Phase::Working;
}

void PageBatch::ShowAndStartWrite(int index, BatchPage page, PageWindow& window) {
  // The page passing is named on show, but the state holds none of its
  // pixels: the batch writes them, and at its end a page is shown whole.
  state_.CurrentIndex = index;
  state_.CurrentPath = pages_[index];  // the file this page's work was read from
  state_.OriginalPage = PageRaster();
  state_.GrayPage = PageRaster();
  state_.BinaryPage = PageRaster();
  state_.Edit = PageEdit();
  NamePageOnShow(state_, window, page.File);
  window.ShowReduced(page.Left, page.Right);
  // The page is written while the window goes on: the next page is shown
  // only once this write has been reported. The originals of the next few
  // pages are kept with this one's, under one sync of the store: a sync can
  // take a tenth of a second on a USB stick. Stopping before those pages
  // leaves them kept but as they were.
  const Result read = state_.PageRead;
  const bool keep = state_.KeepOriginals;
  const QStringList keepNext =
      keep && read.Ok() ? pages_.mid(index + 1, KeepTogether - 1) : QStringList();
  const bool dryRun = options_.DryRun;
  auto task = std::make_shared<std::packaged_task<SaveResult()>>(
      [path = state_.CurrentPath, read, readAs = page.File.Identity, keep, keepNext, dryRun,
       encoded = std::move(page.Encoded)] {
        if (dryRun)
          return SaveResult();
        return WritePageOver(path, read, readAs, keep, encoded, keepNext);
      });
  PageOutcome outcome;
  outcome.Path = state_.CurrentPath;
  outcome.Size = page.Before;
  outcome.Cut = page.Cut;
  outcome.Own = page.Own;
  outcome.Lossless = page.Lossless;
  const PageTurning& turning = page.Turning;
  outcome.LookedForTurn = turning.Looked;
  if (turning.Looked && turning.Skew.Sure)
    outcome.Skew = turning.Skew.Degrees;
  outcome.Doubt = turning.Looked && !turning.Skew.Sure ? turning.Skew.Doubt : SkewDoubt::None;
  outcome.Turned = turning.Turned;
  outcome.TurnedSize = turning.Looked ? turning.TurnedSize : page.Before;
  writing_ = PageBeingWritten{index, state_.CurrentPath, task->get_future(), outcome, std::nullopt};
  const bool ownSize =
      page.Own == OwnSizeReason::ContentTooLarge || page.Own == OwnSizeReason::NoBookSize;
  // 全頁傾き補正 names the pages it left as they were, unsure of their turn.
  const SkewDoubt unsure =
      kind_ == BatchKind::Deskew && read.Ok() ? outcome.Doubt : SkewDoubt::None;
  if (NeedsCheck(page.Before, page.Kept) || ownSize || unsure != SkewDoubt::None) {
    writing_->Check = PageToCheck{state_.CurrentPath, page.Before, page.Kept,
                                  ownSize ? page.Own : OwnSizeReason::None, unsure};
  }
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
    if (saved.Identity)
      state_.PageIdentity = saved.Identity;  // the next save checks against this file
    if (written.Check)
      pagesToCheck_.push_back(*written.Check);
    window.ReportPageDone(written.Outcome);
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
  if (phase_ == Phase::Surveying && PageCount() > 0) {
    TakeSurvey(window);
    return true;
  }
  if (phase_ == Phase::Surveying)
    phase_ = Phase::Working;
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
    BatchJob job;
    job.Kind = kind_;
    job.Choice = readChoice_;
    job.SampleColumn = sampleColumn_;
    job.ViewSize = window.ViewSize();
    job.Book = book_;
    job.TurnPages = kind_ == BatchKind::Auto && state_.TurnPagesStraight;
    job.DryRun = options_.DryRun;
    ReadAhead(job);
    if (inFlight_.empty()) {
      // The next page's file is the one being written, under another name.
      FinishWrite(window);
      ReadAhead(job);
    }
    PageInFlight<BatchPage> next = std::move(inFlight_.front());
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

void RunPageBatch(EditState& state, PageWindow& window, BatchKind kind, BatchOptions options) {
  PageBatch batch(state, kind, options);
  RunBatch(batch, window);
}

void TrimAllLeftRight(EditState& state, PageWindow& window, bool withNormalise,
                      BatchOptions options) {
  RunPageBatch(state, window, withNormalise ? BatchKind::LeftRightNormalise : BatchKind::LeftRight,
               options);
}

void TrimAllTopBottom(EditState& state, PageWindow& window, BatchOptions options) {
  RunPageBatch(state, window, BatchKind::TopBottom, options);
}

void TrimAllToContent(EditState& state, PageWindow& window, BatchOptions options) {
  RunPageBatch(state, window, BatchKind::Auto, options);
}

void StraightenAllPages(EditState& state, PageWindow& window, BatchOptions options) {
  RunPageBatch(state, window, BatchKind::Deskew, options);
}

}  // namespace pagetrim
