// The batches over every page of the folder.
#include "batch_commands.h"

#include <QFileInfo>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include "page_codec.h"
#include "page_commands.h"
#include "trim_commands.h"

namespace pagetrim {

namespace {

// Keeps the commands locked for the batch's whole length, also when a page
// raises an error on the way.
class CommandLock {
 public:
  explicit CommandLock(PageWindow& window) : window_(window) { window_.LockCommands(); }
  ~CommandLock() { window_.UnlockCommands(); }
  CommandLock(const CommandLock&) = delete;
  CommandLock& operator=(const CommandLock&) = delete;

 private:
  PageWindow& window_;
};

// Saves one page on the second core while the next page is read and
// trimmed: encoding is half of a page's time. Only one save is ever pending.
// Its outcome is collected and reported on the window's thread, and the
// destructor waits for it, so no page is left half-handled whatever happens
// to the batch.
class PendingSave {
 public:
  PendingSave() = default;
  PendingSave(const PendingSave&) = delete;
  PendingSave& operator=(const PendingSave&) = delete;
  ~PendingSave() {
    if (save_.valid())
      save_.wait();
  }

  void Start(const QString& path, const PageRaster& page, float dpiX, float dpiY) {
    path_ = path;
    target_ = QFileInfo(path).canonicalFilePath();
    // A copy that shares the page's pixels until the batch writes its own
    // rasters again. It is held here, not by the thread, so that it is also
    // released on the window's thread, after the save has finished.
    page_ = page;
    try {
      save_ = std::async(std::launch::async,
                         [this, dpiX, dpiY] { return SavePage(path_, page_, dpiX, dpiY); });
    } catch (const std::exception&) {
      // No thread to be had: save here and now instead.
      outcome_ = SavePage(path_, page_, dpiX, dpiY);
    }
  }

  // Before path is read: a page listed twice (a link to another page) must
  // be read as the pending save leaves it.
  void FinishIfWriting(const QString& path, PageWindow& window) {
    if (!target_.isEmpty() && QFileInfo(path).canonicalFilePath() == target_)
      Finish(window);
  }

  // Waits for the pending save, if any, and reports its failure.
  void Finish(PageWindow& window) {
    if (save_.valid())
      outcome_ = save_.get();
    page_ = PageRaster();
    target_.clear();
    if (outcome_ && *outcome_ == SaveOutcome::WriteFailed)
      window.ReportSaveFailure(path_);
    outcome_.reset();
  }

 private:
  QString path_;
  QString target_;
  PageRaster page_;
  std::future<SaveOutcome> save_;
  std::optional<SaveOutcome> outcome_;
};

template <class TrimPage>
void ForEveryPage(EditState& state, PageWindow& window, TrimPage&& trimPage) {
  CommandLock lock(window);
  PendingSave pending;
  const int remembered = state.CurrentIndex;
  const int count = state.PageList.Count();
  try {
    for (int n = 0; n < count; ++n) {
      window.ShowBatchProgress(n, count);
      state.CurrentIndex = n;
      pending.FinishIfWriting(state.PageList.At(n), window);
      ShowPage(state, window);
      trimPage();
      pending.Finish(window);
      // Written even when nothing was cut; an undecodable page is refused by
      // SavePage and so never overwritten.
      pending.Start(state.CurrentPath, state.WorkingPage, state.PageResolutionX,
                    state.PageResolutionY);
      window.ShowBatchProgress(n + 1, count);
      window.PumpEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (window.BatchCancelRequested())
        break;
    }
  } catch (...) {
    // The error ends the batch, but the page saved meanwhile still reports
    // its own failure first.
    try {
      pending.Finish(window);
    } catch (...) {
    }
    throw;
  }
  pending.Finish(window);
  state.CurrentIndex = remembered;
  ShowPage(state, window);
}

}  // namespace

void TrimAllLeftRight(EditState& state, PageWindow& window, bool withNormalise) {
  ForEveryPage(state, window, [&] {
    TrimLeftMargin(state, window, 0, SideTrimSampleRow);
    TrimRightMargin(state, window, state.AnalysisPage.Width() - 1, SideTrimSampleRow);
    if (withNormalise)
      NormalizePage(state, window);
  });
}

void TrimAllTopBottom(EditState& state, PageWindow& window) {
  ForEveryPage(state, window, [&] {
    TrimTopMargin(state, window, 0, state.SampleColumn);
    TrimBottomMargin(state, window, state.AnalysisPage.Height() - 1, state.SampleColumn);
  });
}

}  // namespace pagetrim
