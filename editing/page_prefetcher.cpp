// Reading neighbouring pages ahead, on a small pool of worker threads. The
// workers get a path and a choice and hand back a LoadedPage; everything else
// happens on the window's thread.
#include "page_prefetcher.h"

#include <QThread>
#include <algorithm>

namespace pagetrim {

namespace {

// A page read earlier may stand in for reading it now only while its file is
// the very file that was read.
bool StillCurrent(const LoadedPage& page, const QString& path) {
  // A read that failed may have failed for a passing reason: it is not kept.
  return page.Path == path && page.File.Decoded() && page.File.Identity &&
         IdentityOf(path) == page.File.Identity;
}

}  // namespace

PagePrefetcher::PagePrefetcher(std::size_t budgetBytes) : budget_(budgetBytes) {
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

PagePrefetcher::~PagePrefetcher() {
  Clear();
  pool_.waitForDone();
}

void PagePrefetcher::DropAll() {
  // A worker notices the flag at its next row batch and stops; its result is
  // released with the task.
  for (Entry& entry : entries_)
    entry.Cancel->store(true);
  entries_.clear();
}

void PagePrefetcher::Clear() {
  DropAll();
  shown_ = LoadedPage();
  previous_ = LoadedPage();
}

void PagePrefetcher::WaitUntilIdle() {
  for (Entry& entry : entries_)
    entry.Result.wait();
}

LoadedPage PagePrefetcher::Take(const QString& path, AnalysisChoice choice) {
  LoadedPage page;
  bool reuse = false;
  const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.Path == path; });
  if (entry != entries_.end()) {
    // Started before this page was asked for, so finishing it is never
    // slower than starting afresh.
    page = entry->Result.get();
    entries_.erase(entry);
    reuse = StillCurrent(page, path);
  } else if (StillCurrent(shown_, path)) {
    page = shown_;  // a reload of an unchanged file
    reuse = true;
  } else {
    // The user went elsewhere: the cores are needed for this page now.
    DropAll();
  }
  if (!reuse) {
    page = ReadPage(path, choice);
  } else if (page.Choice != choice) {
    Reanalyse(page, choice);
  }
  if (shown_.Path != path)
    previous_ = std::move(shown_);
  shown_ = page;
  return page;
}

void PagePrefetcher::Start(const QString& path, AnalysisChoice choice, std::size_t bytes) {
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  auto task = std::make_shared<std::packaged_task<LoadedPage()>>(
      [path, choice, cancel] { return ReadPage(path, choice, cancel.get()); });
  Entry entry{path, cancel, task->get_future().share(), bytes};
  pool_.start([task] { (*task)(); });
  entries_.push_back(std::move(entry));
}

void PagePrefetcher::ReadAhead(const QString& path, AnalysisChoice choice) {
  if (std::none_of(entries_.begin(), entries_.end(),
                   [&](const Entry& e) { return e.Path == path; })) {
    Start(path, choice, EstimatePageBytes(path));
  }
}

void PagePrefetcher::Ahead(const PageList& list, int index, AnalysisChoice choice) {
  const int count = list.Count();
  QStringList wanted;
  if (count > 1 && index >= 0 && index < count) {
    // The next page first: paging forward is what readers mostly do.
    for (const int neighbour : {(index + 1) % count, (index + count - 1) % count}) {
      if (neighbour != index && !wanted.contains(list.At(neighbour)))
        wanted.append(list.At(neighbour));
    }
  }
  for (Entry& entry : entries_) {
    if (!wanted.contains(entry.Path))
      entry.Cancel->store(true);
  }
  std::erase_if(entries_, [&](const Entry& e) { return !wanted.contains(e.Path); });
  std::size_t held = 0;
  for (const Entry& entry : entries_)
    held += entry.Bytes;

  LoadedPage previous = std::move(previous_);
  previous_ = LoadedPage();
  for (const QString& path : wanted) {
    if (std::any_of(entries_.begin(), entries_.end(),
                    [&](const Entry& e) { return e.Path == path; })) {
      continue;
    }
    if (previous.Path == path) {
      // The page just left is already read; its pixels are shared with
      // nothing that changes them.
      const std::size_t bytes = PageBytes(previous);
      if (held + bytes <= budget_) {
        std::promise<LoadedPage> ready;
        ready.set_value(std::move(previous));
        entries_.push_back(
            {path, std::make_shared<std::atomic<bool>>(false), ready.get_future().share(), bytes});
        held += bytes;
      }
      continue;
    }
    const std::size_t bytes = EstimatePageBytes(path);
    if (held + bytes > budget_)
      continue;
    Start(path, choice, bytes);
    held += bytes;
  }
}

}  // namespace pagetrim
