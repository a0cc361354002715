// PagePrefetcher: reads the pages beside the shown one while the user looks
// at it, so that the next page turn only has to show them.
#pragma once

#include <QString>
#include <QThreadPool>
#include <atomic>
#include <future>
#include <memory>
#include <vector>

#include "page_list.h"
#include "page_loading.h"

namespace pagetrim {

class PagePrefetcher {
 public:
  explicit PagePrefetcher(std::size_t budgetBytes = DefaultWorkAheadBytes);
  ~PagePrefetcher();
  PagePrefetcher(const PagePrefetcher&) = delete;
  PagePrefetcher& operator=(const PagePrefetcher&) = delete;

  // The page at path with the given choice: the one read ahead, or the one
  // on show, when its file is still the one read; otherwise read now. A page
  // read ahead with another choice gets its analysis image rebuilt.
  LoadedPage Take(const QString& path, AnalysisChoice choice);

  // Starts reading the neighbours of index (with wrap-around) and drops
  // every other page read or being read. Pages held stay within the budget.
  void Ahead(const PageList& list, int index, AnalysisChoice choice);

  // Drops everything read ahead; work in progress is stopped.
  void Clear();
  // Starts reading the page at path, unless it is read or being read
  // already; for a page about to be shown whose neighbours are not known.
  void ReadAhead(const QString& path, AnalysisChoice choice);

  // Pages held or being read ahead, and waiting for them; for tests.
  int PagesAhead() const { return int(entries_.size()); }
  void WaitUntilIdle();

 private:
  struct Entry {
    QString Path;
    std::shared_ptr<std::atomic<bool>> Cancel;
    std::shared_future<LoadedPage> Result;
    std::size_t Bytes = 0;
  };
  void DropAll();
  void Start(const QString& path, AnalysisChoice choice, std::size_t bytes);

  std::size_t budget_;
  std::vector<Entry> entries_;
  // The page handed out last, and the one before: going back is then free.
  LoadedPage shown_;
  LoadedPage previous_;
  QThreadPool pool_;
};

}  // namespace pagetrim
