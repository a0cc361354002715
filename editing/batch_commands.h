// The batches: every page of the folder through the page pipeline
// (batch_page.h) and written back. A PageBatch holds one batch's whole life:
// worker threads take the pages ahead of the one on show through the
// pipeline, the window's thread shows them in order, and a writer thread
// writes each page shown, in page order, while the next one is awaited.
#pragma once

#include <QSize>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <cstddef>
#include <deque>
#include <future>
#include <optional>
#include <vector>

#include "batch_page.h"
#include "edit_state.h"
#include "page_loading.h"
#include "page_window.h"

namespace pagetrim {

struct BatchOptions {
  // Threads that work on pages ahead; 0 for one per core.
  int Workers = 0;
  // Memory that pages worked on ahead of the one on show may take together.
  std::size_t WorkAheadBytes = DefaultWorkAheadBytes;
  // Where nothing is shown, the start page need not be read again at the end.
  bool ShowStartPageAtEnd = true;
  // Plans every page and reports it, writing nothing.
  bool DryRun = false;
};

// Whether a batch's result deserves a look: less than half of the page's
// width or of its height kept. Judged the same way for every kind of batch.
bool NeedsCheck(QSize before, QSize kept);

// The window's notice of the pages to check: the pages cut hard, then those
// given a size of their own, each list naming up to 20 with their sizes
// before and after (and why a page has its own size), and how many more.
QString PagesToCheckNotice(const std::vector<PageToCheck>& pages);
// Why a page was given a size of its own, in the user's words.
QString OwnSizeReasonText(OwnSizeReason reason);

class PageBatch {
 public:
  // Takes the page list, the shown page and SampleColumn as they are now,
  // and registers itself as the state's running batch.
  PageBatch(EditState& state, BatchKind kind, BatchOptions options = {});
  // Waits for every page still being worked on.
  ~PageBatch();
  PageBatch(const PageBatch&) = delete;
  PageBatch& operator=(const PageBatch&) = delete;

  bool Running() const { return phase_ != Phase::Ended; }
  // Stops after the page in hand: pages worked on ahead are not written.
  void RequestCancel();

  // Reports how the last page shown was written, then shows the next page
  // and starts writing it; once every page is done or the batch was
  // cancelled, shows the start page again, fresh from its file, and returns
  // false.
  bool Step(PageWindow& window);
  // Waits for the page being written and reports a failure to save it.
  void FinishWrite(PageWindow& window);
  // Ends the batch where it is: work ahead is stopped, the write in hand
  // finishes, and no page is shown. A batch ended before its last step
  // leaves no page open: the page named on show is held by nothing.
  void End();

  int PageCount() const { return int(pages_.size()); }
  int PagesDone() const { return pagesDone_; }
  // The most that pages worked on ahead held at once; for the benchmark.
  std::size_t PeakBytesAhead() const { return peakBytesAhead_; }
  // The pages written so far that NeedsCheck, in page order.
  const std::vector<PageToCheck>& PagesToCheck() const { return pagesToCheck_; }

 private:
  // A batch that looks at the whole book first surveys every page, then
  // works on each.
  enum class Phase { Surveying, Working, Stopping, Ended };
  template <class Outcome>
  struct PageInFlight {
    int Index = 0;
    std::size_t Bytes = 0;
    std::future<Outcome> Result;
  };
  struct PageBeingWritten {
    int Index = 0;
    QString Path;
    std::future<SaveResult> Result;
    // Reported once written: how, and among the pages to check.
    PageOutcome Outcome;
    std::optional<PageToCheck> Check;
  };
  // Starts work on the pages after the last started, within the budget.
  template <class Outcome, class Work>
  void StartAhead(std::deque<PageInFlight<Outcome>>& inFlight, Work work);
  void ReadAhead(const BatchJob& job);
  void SurveyAhead();
  // The survey of the next page; once the last is in, plans the book.
  void TakeSurvey(PageWindow& window);
  void ReadStartPageAhead();
  bool FileInHand(const QString& file) const;
  void ShowAndStartWrite(int index, BatchPage page, PageWindow& window);
  void StopWorkers();

  EditState& state_;
  const BatchKind kind_;
  const BatchOptions options_;
  const QStringList pages_;
  // The file each page names, links followed: a page listed twice is read
  // only once its earlier listing has been written.
  QStringList files_;
  const int startIndex_;
  const int sampleColumn_;
  int workers_ = 1;
  Phase phase_ = Phase::Working;
  int nextToRead_ = 0;
  int pagesDone_ = 0;
  // The choice the pages in flight are read with.
  AnalysisChoice readChoice_;
  std::deque<PageInFlight<BatchPage>> inFlight_;
  std::deque<PageInFlight<PageSurvey>> surveying_;
  std::vector<PageSurvey> surveyed_;
  std::shared_ptr<const BookPlan> book_;
  std::optional<PageBeingWritten> writing_;
  // The start page has been written, or failed to be: it can be read again
  // for the end of the batch.
  bool startPageDone_ = false;
  bool startPageReadAhead_ = false;
  std::size_t bytesAhead_ = 0;
  std::size_t peakBytesAhead_ = 0;
  std::size_t largestPage_ = 0;
  std::vector<PageToCheck> pagesToCheck_;
  std::atomic<bool> stop_{false};
  QThreadPool pool_;
  // One thread, so that pages are written in their order.
  QThreadPool writer_;
};

// Runs a batch to its end: the commands are locked, each page is shown and
// written, and window events run between two pages (1 ms apart). Esc, or a
// save-failure box's stop button, cancels through the batch. An error that
// ends the batch still has the save in hand reported first. Once the
// commands are unlocked again, the pages to check are reported.
void RunBatch(PageBatch& batch, PageWindow& window);

// Runs a batch of any kind over the page set to its end: the one way the
// window and the shell start one.
void RunPageBatch(EditState& state, PageWindow& window, BatchKind kind, BatchOptions options = {});

// For every page in turn: show it fresh from its file, trim its left and right
// margins (sampling at row 10), normalise it when asked, and write it over its
// file. At the end the page that was shown when the batch started is shown
// again, fresh from its file.
void TrimAllLeftRight(EditState& state, PageWindow& window, bool withNormalise,
                      BatchOptions options = {});

// The same with the top and bottom margins, sampled in SampleColumn.
void TrimAllTopBottom(EditState& state, PageWindow& window, BatchOptions options = {});

// The same, cutting each page to its content.
void TrimAllToContent(EditState& state, PageWindow& window, BatchOptions options = {});

// 全頁傾き補正: the same, turning each page straight where its turn is sure.
void StraightenAllPages(EditState& state, PageWindow& window, BatchOptions options = {});

}  // namespace pagetrim
