// The batches over every page of the folder.
#include "batch_commands.h"

#include <chrono>
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

template <class TrimPage>
void ForEveryPage(EditState& state, PageWindow& window, TrimPage&& trimPage) {
  CommandLock lock(window);
  const int remembered = state.CurrentIndex;
  const int count = state.PageList.Count();
  for (int n = 0; n < count; ++n) {
    window.ShowBatchProgress(n, count);
    state.CurrentIndex = n;
    ShowPage(state, window);
    trimPage();
    // Written even when nothing was cut; an undecodable page is refused by
    // SavePage and so never overwritten.
    if (SavePage(state.CurrentPath, state.WorkingPage, state.PageResolutionX,
                 state.PageResolutionY) == SaveOutcome::WriteFailed) {
      window.ReportSaveFailure();
    }
    window.ShowBatchProgress(n + 1, count);
    window.PumpEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (window.BatchCancelRequested())
      break;
  }
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
