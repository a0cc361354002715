// The batches over every page of the folder.
#include "batch_commands.h"

#include <chrono>
#include <future>
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
// trimmed: encoding is half of a page's time. The page is handed over as a
// copy, which shares its pixels until the batch writes to its own rasters.
// Only one save is ever pending; its outcome is reported on the window's
// thread when it is collected, and the destructor waits for it, so no page
// is left half-handled whatever happens to the batch.
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
    save_ = std::async(std::launch::async,
                       [path, page, dpiX, dpiY] { return SavePage(path, page, dpiX, dpiY); });
  }

  // Waits for the pending save, if any, and reports its failure.
  void Finish(PageWindow& window) {
    if (save_.valid() && save_.get() == SaveOutcome::WriteFailed)
      window.ReportSaveFailure();
  }

 private:
  std::future<SaveOutcome> save_;
};

template <class TrimPage>
void ForEveryPage(EditState& state, PageWindow& window, TrimPage&& trimPage) {
  CommandLock lock(window);
  PendingSave pending;
  const int remembered = state.CurrentIndex;
  const int count = state.PageList.Count();
  for (int n = 0; n < count; ++n) {
    window.ShowBatchProgress(n, count);
    state.CurrentIndex = n;
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
