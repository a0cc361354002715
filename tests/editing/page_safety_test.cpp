// The page commands where other programs, damaged files and second thoughts
// come in: files changed behind the window's back, pages read ahead, kept
// originals and restoring them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <functional>

#include "batch_commands.h"
#include "integer_text.h"
#include "original_store.h"
#include "page_codec.h"
#include "page_commands.h"
#include "page_prefetcher.h"
#include "recording_page_window.h"
#include "support/as_another_user.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

// A white page with a dark block: its width tells the pages apart.
PageRaster BlockPage(int width, int height = 40) {
  PageRaster page(width, height);
  for (int y = 10; y < height - 10; ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 5; x < width - 5; ++x)
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 100;
  }
  return page;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class PageSafety : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString Page(int i) const { return dir_.path() + QString("/p%1.png").arg(i + 1); }
  void MakePages(int count) {
    for (int i = 0; i < count; ++i)
      ASSERT_EQ(SavePage(Page(i), BlockPage(30 + i), 300, 300), SaveOutcome::Written);
  }
  void Open(int i) { ASSERT_TRUE(OpenPageSet(state_, window_, Page(i))); }
  // Another program writes the file anew, as an image editor saving would.
  void ReplaceElsewhere(int i, int width) {
    QFile::remove(Page(i));
    ASSERT_EQ(SavePage(Page(i), BlockPage(width), 300, 300), SaveOutcome::Written);
  }

  QTemporaryDir dir_;
  EditState state_;
  RecordingPageWindow window_;
};

TEST_F(PageSafety, OverwriteNeverWritesOverAFileChangedOrRemovedSinceItWasRead) {
  MakePages(2);
  Open(0);
  ReplaceElsewhere(0, 77);
  const QByteArray theirs = ReadAll(Page(0));
  OverwritePage(state_, window_);
  EXPECT_EQ(ReadAll(Page(0)), theirs);
  ASSERT_TRUE(QFile::remove(Page(0)));
  OverwritePage(state_, window_);
  EXPECT_FALSE(QFile::exists(Page(0)));  // not brought back
  EXPECT_EQ(
      window_.SaveFailureResults,
      (std::vector<Result>{Result::Failed(Reason::ChangedElsewhere), Result::FromError(ENOENT)}));

  // Reloading reads the file as it is now; then saving works again, twice:
  // each save checks against the file the last one wrote.
  ReplaceElsewhere(0, 60);
  ReloadPage(state_, window_);
  TrimLeftAndRight(state_, window_);
  OverwritePage(state_, window_);
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.SaveFailureReports, 2);
  PageRaster saved;
  LoadPage(Page(0), saved);
  EXPECT_EQ(saved.Width(), 60 - 5 - 5);
}

// An editor that writes into the file itself keeps its inode and size: only
// the modification time tells (a second later, whatever the clock's step).
TEST_F(PageSafety, AnEditInPlaceOfTheSameSizeIsNeverOverwritten) {
  MakePages(1);
  Open(0);
  QFile file(Page(0));
  ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(60) && file.write("edited") == 6 &&
              file.flush());
  const QDateTime read = file.fileTime(QFileDevice::FileModificationTime);
  ASSERT_TRUE(file.setFileTime(read.addSecs(1), QFileDevice::FileModificationTime));
  file.close();
  const QByteArray edited = ReadAll(Page(0));
  TrimLeftAndRight(state_, window_);
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.SaveFailureResults,
            std::vector<Result>{Result::Failed(Reason::ChangedElsewhere)});
  EXPECT_EQ(ReadAll(Page(0)), edited);
}

// Whatever keeps a page from being read, the view is told why, and saving
// the page reports the same reason and leaves what is there alone. Each
// takes the page's place after the folder was listed, as another program
// might put it there, and is read by reloading.
TEST_F(PageSafety, AnUnreadablePageSaysWhyAndIsNeverWritten) {
  MakePages(2);
  const QByteArray cutShort("\x89PNG\r\n\x1a\n cut short");
  const struct {
    const char* Name;
    std::function<bool(const QString&)> PutInPlace;
    Result Why;
  } cases[] = {
      {"cut short",
       [&](const QString& path) {
         QFile file(path);
         return file.open(QIODevice::WriteOnly) && file.write(cutShort) == cutShort.size();
       },
       Result::Failed(Reason::DamagedImage)},
      {"a pipe",
       [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0; },
       Result::Failed(Reason::NotAFile)},
      {"a folder", [](const QString& path) { return QDir().mkdir(path); },
       Result::FromReadError(EISDIR)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Open(1);
    EXPECT_FALSE(window_.Unreadable);
    ASSERT_TRUE(QFile::remove(Page(1)) && c.PutInPlace(Page(1)));
    ReloadPage(state_, window_);
    EXPECT_TRUE(window_.Unreadable);
    EXPECT_EQ(window_.ReadAs, c.Why);
    window_.SaveFailureResults.clear();
    OverwritePage(state_, window_);
    EXPECT_EQ(window_.SaveFailureResults, std::vector<Result>{c.Why});
    const QFileInfo left(Page(1));
    EXPECT_TRUE(left.isDir() || left.size() == 0 || ReadAll(Page(1)) == cutShort);
    EXPECT_FALSE(QFile::exists(dir_.path() + "/.pagetrim-originals/p2.png"));
    PreviousPage(state_, window_);
    EXPECT_FALSE(window_.Unreadable);
    ASSERT_TRUE(QFileInfo(Page(1)).isDir() ? QDir().rmdir(Page(1)) : QFile::remove(Page(1)));
    MakePages(2);
  }

  // Root reads every file: the page without permission is read as another
  // user, who is told so and cannot save it either.
  ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0777), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(Page(0)).constData(), 0666), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(Page(1)).constData(), 0200), 0);
  const int status = test::RunAsAnotherUser([&] {
    if (!OpenPageSet(state_, window_, Page(0)))
      return 1;
    NextPage(state_, window_);
    if (window_.ReadAs != Result::FromReadError(EACCES))
      return 2;
    window_.SaveFailureResults.clear();
    OverwritePage(state_, window_);
    return window_.SaveFailureResults == std::vector<Result>{Result::FromReadError(EACCES)} ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(PageSafety, PagesWhoseNamesCannotBeReadAreCountedInANotice) {
  MakePages(2);
  // Latin-1 bytes, not UTF-8: the name cannot be given back to the system.
  const QByteArray name = QFile::encodeName(dir_.path()) + "/p\xE9.png";
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ::close(fd);
  Open(0);
  EXPECT_EQ(state_.PageList.Count(), 2);
  EXPECT_EQ(window_.Notices, QStringList{u"名前を読めないファイルが 1 個あり、対象外です"_qs});
  ::unlink(name.constData());  // QTemporaryDir cannot name it either
}

TEST_F(PageSafety, OverwriteDeleteAndRestoreAllGiveEveryPageBack) {
  MakePages(4);
  QList<QByteArray> before;
  for (int i = 0; i < 4; ++i)
    before.append(ReadAll(Page(i)));
  Open(1);
  EXPECT_FALSE(ShownPageHasOriginal(state_));
  TrimLeftAndRight(state_, window_);
  OverwritePage(state_, window_);
  TrimLeftAndRight(state_, window_);
  OverwritePage(state_, window_);  // a second save keeps nothing more
  EXPECT_TRUE(ShownPageHasOriginal(state_));
  EXPECT_EQ(ReadAll(KeptOriginalOf(Page(1))), before[1]);
  DeletePage(state_, window_);  // p2, kept already: only removed
  DeletePage(state_, window_);  // p3, moved into the store
  EXPECT_EQ(state_.PageList.Items(), (QStringList{Page(0), Page(3)}));
  EXPECT_EQ(ListKeptOriginals(dir_.path() + "/").Count(), 2);

  // Restoring the shown page (p4, never changed) finds nothing to restore.
  RestoreShownPage(state_, window_);
  ASSERT_EQ(window_.Failures.size(), 1);
  EXPECT_EQ(window_.Failures[0].first, FileCommand::RestorePage);
  EXPECT_EQ(window_.Failures[0].second, Result::Failed(Reason::NoKeptOriginal));
  RestoreAllPages(state_, window_);
  EXPECT_EQ(state_.PageList.Items(), (QStringList{Page(0), Page(1), Page(2), Page(3)}));
  EXPECT_EQ(state_.CurrentPath, Page(3));  // the page shown before
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ReadAll(Page(i)), before[i]) << i;
  EXPECT_FALSE(QDir(dir_.path() + "/" + OriginalStoreName).exists());

  // Another program's file in a page's place, after pagetrim wrote it or
  // removed it, is never restored over, alone or with every page.
  TrimAllLeftRight(state_, window_, false);
  ReplaceElsewhere(1, 70);
  const QByteArray theirs = ReadAll(Page(1));
  state_.CurrentIndex = 2;
  DeletePage(state_, window_);
  ReplaceElsewhere(2, 71);
  Open(1);
  window_.Notices.clear();
  RestoreShownPage(state_, window_);
  EXPECT_EQ(window_.Notices,
            QStringList{u"元に戻せませんでした（読み込んだ後に他のプログラムが変更しました）"_qs});
  EXPECT_EQ(ReadAll(Page(1)), theirs);
  EXPECT_TRUE(HasKeptOriginal(Page(1)));
  RestoreAllPages(state_, window_);
  EXPECT_EQ(
      window_.Notices.last(),
      u"次の頁は元に戻していません\n読み込んだ後に他のプログラムが変更しました: p2.png、p3.png"_qs);
  EXPECT_EQ(ReadAll(Page(0)), before[0]);
  EXPECT_EQ(ReadAll(Page(1)), theirs);
  EXPECT_EQ(ReadAll(Page(3)), before[3]);
  EXPECT_EQ(ListKeptOriginals(dir_.path() + "/").Count(), 2);
  DiscardOriginals(state_, window_);

  // With keeping off nothing is kept.
  state_.KeepOriginals = false;
  OverwritePage(state_, window_);
  DeletePage(state_, window_);
  EXPECT_FALSE(HasOriginalStore(dir_.path() + "/"));
}

// ---- Pages read ahead ------------------------------------------------------

class Prefetch : public PageSafety {
 protected:
  void SetUp() override {
    PageSafety::SetUp();
    state_.Prefetch = &prefetcher_;
  }
  PagePrefetcher prefetcher_;
};

TEST_F(Prefetch, APageChangedOnDiskAfterItWasReadAheadIsReadAgain) {
  MakePages(3);
  Open(0);
  prefetcher_.WaitUntilIdle();
  ReplaceElsewhere(1, 55);
  NextPage(state_, window_);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 55);
  // The page left behind is read ahead as the previous one; unchanged, it
  // comes back as it was.
  PreviousPage(state_, window_);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 30);
  ReplaceElsewhere(0, 66);
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 66);
}

TEST_F(Prefetch, PagesReadAheadStayWithinTheBudget) {
  MakePages(4);
  // Room for the next page (31 wide) but not also the previous one (34).
  PagePrefetcher small(EstimatePageBytes(Page(1)));
  state_.Prefetch = &small;
  Open(0);
  EXPECT_EQ(small.PagesAhead(), 1);
  PagePrefetcher none(0);
  state_.Prefetch = &none;
  for (int press = 1; press <= 4; ++press) {
    NextPage(state_, window_);
    EXPECT_EQ(none.PagesAhead(), 0);
    EXPECT_EQ(state_.Edit.WorkingPage().Width(), 30 + press % 4);
  }
}

TEST_F(Prefetch, TheThresholdInForceWhenAPageIsShownIsTheOneUsed) {
  MakePages(3);
  Open(0);
  prefetcher_.WaitUntilIdle();
  window_.Threshold = "50";  // the block, gray 100, is now white
  window_.Gray = false;
  NextPage(state_, window_);
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(10, 20), MakeColour(255, 255, 255));
  window_.Gray = true;
  NextPage(state_, window_);
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(10, 20), MakeColour(100, 100, 100));
}

// The start page is read again for the end of a batch while the last pages
// are still worked on; a later write of its file, under a second name, makes
// that read stale, and the page shown is the file as the batch left it.
TEST_F(Prefetch, TheStartPageShownAfterABatchIsItsFileAsLastWritten) {
  MakePages(3);
  ASSERT_TRUE(QFile::link(Page(0), Page(3)));  // p4.png, written last
  Open(0);
  TrimAllLeftRight(state_, window_, false, {2, DefaultWorkAheadBytes});
  EXPECT_EQ(state_.CurrentIndex, 0);
  EXPECT_EQ(state_.PageIdentity, IdentityOf(Page(0)));  // the file of the second write
  PageRaster saved;
  LoadPage(Page(0), saved);
  EXPECT_EQ(state_.OriginalPage.Width(), saved.Width());
  EXPECT_EQ(window_.SaveFailureReports, 0);
}

TEST_F(Prefetch, AHeldKeyShowsEveryPageAndKeepsAtMostTwoAhead) {
  MakePages(6);
  Open(0);
  for (int press = 1; press <= 14; ++press) {
    NextPage(state_, window_);
    EXPECT_EQ(state_.Edit.WorkingPage().Width(), 30 + press % 6);
    EXPECT_LE(prefetcher_.PagesAhead(), 2);
  }
  // A batch takes over the memory of pages read ahead, and reads ahead
  // for paging again only once it has ended, but for its start page, read
  // again for its end while the last pages are worked on.
  int pumps = 0;
  window_.OnPump = [&] {
    ++pumps;
    EXPECT_LE(prefetcher_.PagesAhead(), pumps < 3 ? 0 : 1);
  };
  TrimAllLeftRight(state_, window_, false);
  EXPECT_EQ(pumps, 6);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 32 - 5 - 5);  // p3, shown again
  EXPECT_EQ(prefetcher_.PagesAhead(), 2);
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// A 1-bit page is its own black-and-white image at any threshold from 1 to
// 255, so no second page-sized image is made for it.
TEST_F(PageSafety, ABitonalPageIsItsOwnBlackAndWhiteImage) {
  PageRaster bitonal(40, 30, PixelFormat::Gray8);
  for (int y = 10; y < 20; ++y)
    std::fill_n(bitonal.Row(y) + 5, 20, std::uint8_t(0));
  ASSERT_EQ(SavePage(Page(0), bitonal, 300, 300), SaveOutcome::Written);
  const struct {
    const char* Threshold;
    bool Gray;
    bool Shares;
  } rows[] = {{"128", false, true},
              {"255", false, true},
              {"0", false, false},
              {"300", false, false},
              {"0", true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Threshold);
    window_.Threshold = row.Threshold;
    window_.Gray = row.Gray;
    Open(0);
    EXPECT_EQ(state_.Edit.AnalysisPage().SharesPixelsWith(state_.OriginalPage), row.Shares);
    PageRaster expected;
    if (row.Gray)
      MakeGrayImage(state_.OriginalPage, expected);
    else
      MakeBinaryImage(state_.OriginalPage, expected, ThresholdFromText(row.Threshold));
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x)
        ASSERT_EQ(state_.Edit.AnalysisPage().PixelAt(x, y), expected.PixelAt(x, y))
            << x << ", " << y;
    }
  }
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// A page that is also listed through a link keeps one original, whichever
// name is saved first, and restoring everything gives it back.
TEST_F(PageSafety, APageUnderTwoNamesKeepsOneOriginal) {
  MakePages(1);
  ASSERT_TRUE(QFile::link(Page(0), Page(1)));
  const QByteArray original = ReadAll(Page(0));
  for (int first : {1, 0}) {
    SCOPED_TRACE(first);
    Open(first);
    TrimLeftAndRight(state_, window_);
    OverwritePage(state_, window_);
    NextPage(state_, window_);
    TrimLeftAndRight(state_, window_);
    OverwritePage(state_, window_);
    EXPECT_EQ(ListKeptOriginals(dir_.path() + "/").Names, QStringList{"p1.png"});
    TrimAllLeftRight(state_, window_, false);
    RestoreAllPages(state_, window_);
    EXPECT_EQ(ReadAll(Page(0)), original);
    EXPECT_TRUE(QFileInfo(Page(1)).isSymLink());
  }
  EXPECT_EQ(window_.SaveFailureReports, 0);
}

// A file put in a page's place after pagetrim kept that page's original is
// an original too: saving over it keeps it, and the older one is set aside.
TEST_F(PageSafety, ARescannedPageIsKeptAlthoughAnOlderOriginalIs) {
  MakePages(2);
  const QByteArray first = ReadAll(Page(0));
  Open(0);
  DeletePage(state_, window_);
  ReplaceElsewhere(0, 44);  // the page scanned again
  const QByteArray rescan = ReadAll(Page(0));
  ASSERT_TRUE(OpenPageSet(state_, window_, Page(0)));
  TrimLeftAndRight(state_, window_);
  OverwritePage(state_, window_);
  EXPECT_EQ(ReadAll(KeptOriginalOf(Page(0))), rescan);
  const QString older = OriginalStoreOf(dir_.path() + "/") + ".pagetrim-older/p1.png.1";
  EXPECT_EQ(ReadAll(older), first);
  RestoreShownPage(state_, window_);
  EXPECT_EQ(ReadAll(Page(0)), rescan);
  // What is set aside is not a page to restore, but still takes room until
  // the store is discarded.
  EXPECT_FALSE(HasKeptOriginals(dir_.path() + "/"));
  EXPECT_EQ(ListKeptOriginals(dir_.path() + "/").Bytes, first.size());
  DiscardOriginals(state_, window_);
  EXPECT_FALSE(HasOriginalStore(dir_.path() + "/"));
}

}  // namespace
}  // namespace pagetrim

// ---- A batch killed at any step of any page ---------------------------------

#include <signal.h>
#include <sys/wait.h>

#include <atomic>

namespace pagetrim {
namespace {

std::atomic<int> stepsSeen{0};
int killAtStep = 0;
std::vector<std::pair<SaveStep, QString>> stepsTaken;

void CountStep(SaveStep step, const QString& path) {
  stepsTaken.emplace_back(step, path);
}

void KillAtNthStep(SaveStep, const QString&) {
  if (++stepsSeen == killAtStep)
    ::raise(SIGKILL);
}

// A batch keeps the originals of several pages under one sync of the store.
// Wherever the process dies, every page is either as it was or trimmed with
// its first version kept, nothing else is left in the folder, and after a
// batch run to its end every page can be put back as it first was.
TEST_F(PageSafety, ABatchKilledAtAnyStepLosesNoOriginal) {
  constexpr int Pages = 5;
  MakePages(Pages);
  std::vector<QByteArray> first;
  for (int i = 0; i < Pages; ++i)
    first.push_back(ReadAll(Page(i)));
  const auto batch = [&] {
    EditState state;
    RecordingPageWindow window;
    EXPECT_TRUE(OpenPageSet(state, window, Page(0)));
    TrimAllLeftRight(state, window, false, {2, DefaultWorkAheadBytes});
    EXPECT_EQ(window.SaveFailureReports, 0);
  };
  const auto putBack = [&] {
    for (int i = 0; i < Pages; ++i)
      ASSERT_TRUE(SavePage(Page(i), BlockPage(30 + i), 300, 300).Ok());
    QDir(dir_.path() + "/" + OriginalStoreName).removeRecursively();
  };

  // One whole batch: every original is kept and synced before the first
  // page is replaced.
  SetSaveStepHook(CountStep);
  batch();
  SetSaveStepHook(nullptr);
  const int steps = int(stepsTaken.size());
  // Kept; then, for each page, its note named, marked, before, replaced.
  ASSERT_EQ(stepsTaken.size(), std::size_t(5 * Pages));
  for (int i = 0; i < Pages; ++i) {
    EXPECT_EQ(stepsTaken[std::size_t(i)].first, SaveStep::OriginalKept);
    EXPECT_EQ(stepsTaken[std::size_t(i)].second, Page(i));
  }
  putBack();

  for (int n = 1; n <= steps; ++n) {
    SCOPED_TRACE(::testing::Message() << "killed at step " << n);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      killAtStep = n;
      SetSaveStepHook(KillAtNthStep);
      batch();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    for (int i = 0; i < Pages; ++i) {
      SCOPED_TRACE(i);
      const QByteArray now = ReadAll(Page(i));
      if (HasKeptOriginal(Page(i)))
        EXPECT_EQ(ReadAll(KeptOriginalOf(Page(i))), first[std::size_t(i)]);
      else
        EXPECT_EQ(now, first[std::size_t(i)]);
    }
    for (const QString& name :
         QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
      EXPECT_TRUE(name.startsWith(".pagetrim-") || QFileInfo(name).suffix() == "png")
          << name.toStdString();
    }
    batch();
    // The batch swept what the killed one left: nothing but the pages and
    // the store's own folders.
    const QString store = dir_.path() + "/" + OriginalStoreName;
    for (const QString& folder : {dir_.path(), store, store + "/.pagetrim-written"}) {
      for (const QString& name :
           QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        EXPECT_TRUE(QFileInfo(name).suffix() == "png" || name == OriginalStoreName ||
                    name == ".pagetrim-written")
            << folder.toStdString() << ": " << name.toStdString();
      }
    }
    EXPECT_TRUE(RestoreAllOriginals(dir_.path() + "/").empty());
    for (int i = 0; i < Pages; ++i)
      EXPECT_EQ(ReadAll(Page(i)), first[std::size_t(i)]) << i;
    putBack();
  }
}

}  // namespace
}  // namespace pagetrim

// ---- What a stopped save leaves behind --------------------------------------

#include <QRegularExpression>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/disk_calls.h"

namespace pagetrim {
namespace {

SaveStep killStep;
void KillAtStep(SaveStep step, const QString&) {
  if (step == killStep)
    ::raise(SIGKILL);
}

void StopProcessBeforeReplace(SaveStep step, const QString&) {
  if (step == SaveStep::BeforeReplace)
    ::raise(SIGSTOP);
}

std::mutex heldLock;
std::condition_variable heldChanged;
bool heldReached = false;
bool heldReleased = false;

void HoldThreadBeforeReplace(SaveStep step, const QString&) {
  if (step != SaveStep::BeforeReplace)
    return;
  std::unique_lock<std::mutex> hold(heldLock);
  heldReached = true;
  heldChanged.notify_all();
  heldChanged.wait(hold, [] { return heldReleased; });
}

// The files of a folder named as pagetrim names its temporary files.
QStringList Temporaries(const QString& folder) {
  return QDir(folder)
      .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)
      .filter(QRegularExpression("^\\.pagetrim-([a-z0-9]{8}|[A-Za-z0-9]{6})$"));
}

// A save killed once its page's temporary file has its name, and one killed
// once the copy of its original in the store has: the next open removes both
// files. A live writer's temporary, in a process stopped before its rename
// or in a thread of this one waiting there, stays, and so do another
// program's files with names like pagetrim's; the next batch, once the
// stopped process is dead, sweeps its file too.
TEST(LeftoverTemporaries, WhatAStoppedSaveLeftIsSweptAndNothingElse) {
  for (const bool anonymous : {true, false}) {
    SCOPED_TRACE(anonymous ? "anonymous temporaries" : "named temporaries, as on FAT");
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QString store = OriginalStoreOf(folder);
    const auto page = [&](int i) { return folder + QString("p%1.png").arg(i + 1); };
    std::vector<QByteArray> first;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(SavePage(page(i), BlockPage(30 + i), 300, 300), SaveOutcome::Written);
      first.push_back(ReadAll(page(i)));
    }
    SetAnonymousFilesDisabled(!anonymous);
    const auto save = [&](int i) {
      return SavePage(page(i), BlockPage(20), 300, 300, {IdentityOf(page(i)), true, {}}).Ok();
    };
    const auto saveInChild = [&](int i, SaveStepHook hook, bool copies) {
      const pid_t child = ::fork();
      if (child == 0) {
        SetHardLinksDisabled(copies);
        SetSaveStepHook(hook);
        ::_exit(save(i) ? 0 : 1);
      }
      return child;
    };
    int status = 0;
    killStep = SaveStep::BeforeReplace;
    pid_t child = saveInChild(0, KillAtStep, false);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    killStep = SaveStep::StoreFileNamed;
    child = saveInChild(1, KillAtStep, true);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(Temporaries(folder).size(), 1);
    ASSERT_EQ(Temporaries(store).size(), 1);
    const QStringList killed = Temporaries(folder);

    const QStringList theirs = {".pagetrim-abc",          ".pagetrim-abcdefghi",
                                ".pagetrim-abcd_fgh",     ".pagetrim-ABCDEFGH",
                                ".pagetrim-abcdefgh.png", "pagetrim-abcdefgh"};
    for (const QString& name : theirs) {
      QFile file(folder + name);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("theirs") == 6);
    }
    ASSERT_TRUE(QDir(folder).mkdir(".pagetrim-folder1"));
    ASSERT_TRUE(QFile::link(page(2), folder + ".pagetrim-link1234"));

    const pid_t stopped = saveInChild(2, StopProcessBeforeReplace, false);
    ASSERT_EQ(::waitpid(stopped, &status, WUNTRACED), stopped);
    ASSERT_TRUE(WIFSTOPPED(status));
    heldReached = heldReleased = false;
    SetSaveStepHook(HoldThreadBeforeReplace);
    bool threadSaved = false;
    std::thread writer([&] { threadSaved = save(0); });
    {
      std::unique_lock<std::mutex> hold(heldLock);
      heldChanged.wait(hold, [] { return heldReached; });
    }
    QStringList live = Temporaries(folder);
    for (const QString& name : killed)
      live.removeAll(name);
    EXPECT_EQ(live.size(), 2);

    EditState state;
    RecordingPageWindow window;
    EXPECT_TRUE(OpenPageSet(state, window, page(0)));
    EXPECT_EQ(Temporaries(folder), live);
    EXPECT_TRUE(Temporaries(store).isEmpty());
    for (const QString& name : theirs)
      EXPECT_EQ(ReadAll(folder + name), "theirs") << name.toStdString();
    EXPECT_TRUE(QFileInfo(folder + ".pagetrim-folder1").isDir());
    EXPECT_TRUE(QFileInfo(folder + ".pagetrim-link1234").isSymLink());

    {
      const std::lock_guard<std::mutex> hold(heldLock);
      heldReleased = true;
      heldChanged.notify_all();
    }
    writer.join();
    SetSaveStepHook(nullptr);
    EXPECT_TRUE(threadSaved);
    ::kill(stopped, SIGKILL);
    ASSERT_EQ(::waitpid(stopped, &status, 0), stopped);
    EXPECT_EQ(Temporaries(folder).size(), 1);
    TrimAllLeftRight(state, window, false);
    EXPECT_TRUE(Temporaries(folder).isEmpty());
    for (const QString& name : theirs)
      EXPECT_TRUE(QFileInfo::exists(folder + name)) << name.toStdString();
    EXPECT_TRUE(RestoreAllOriginals(folder).empty());
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(ReadAll(page(i)), first[std::size_t(i)]) << i;
  }
  SetAnonymousFilesDisabled(false);
}

// ---- The order in which a batch makes its steps durable ---------------------

// Each step of a batch is on the disk before a step that counts on it: the
// kept original, and the store's entry for it, before the page is replaced;
// the new page file, with the mark it carries, before its rename; the page's
// folder after the rename, by the time the store is synced for the next
// pages' originals or the batch ends; and where the store's note is the only
// mark, the note and its folder before the rename. First in a batch that
// keeps the originals, then in one over pages pagetrim wrote.
TEST(DurableSteps, EveryStepOfABatchIsSyncedBeforeTheStepThatCountsOnIt) {
  using test::DiskCall;
  // More than a batch keeps under one sync of the store, so that the later
  // ones are kept where nothing else happens to sync the store.
  constexpr int Pages = 10;
  for (const bool copies : {false, true}) {
    for (const bool notes : {false, true}) {
      SCOPED_TRACE(::testing::Message() << (copies ? "copies" : "hard links") << ", "
                                        << (notes ? "notes" : "attributes"));
      QTemporaryDir dir;
      const QString folder = dir.path();
      const QString store = folder + "/" + OriginalStoreName;
      const QString written = store + "/.pagetrim-written";
      for (int i = 0; i < Pages; ++i) {
        ASSERT_EQ(SavePage(folder + QString("/p%1.png").arg(i + 1), BlockPage(30 + i), 300, 300),
                  SaveOutcome::Written);
      }
      SetHardLinksDisabled(copies);
      SetAttributesDisabled(notes);
      for (const bool keeping : {true, false}) {
        SCOPED_TRACE(keeping ? "originals kept" : "pages of pagetrim's");
        test::StartRecordingDiskCalls();
        {
          EditState state;
          RecordingPageWindow window;
          ASSERT_TRUE(OpenPageSet(state, window, folder + "/p1.png"));
          TrimAllLeftRight(state, window, false, {2, DefaultWorkAheadBytes});
          EXPECT_EQ(window.SaveFailureReports, 0);
        }
        const std::vector<DiskCall> calls = test::StopRecordingDiskCalls();
        const int end = int(calls.size());
        const auto find = [&](DiskCall::Kind what, const QString& path, int from = 0) {
          for (int i = from; i < end; ++i) {
            if (calls[std::size_t(i)].What == what && calls[std::size_t(i)].Path == path)
              return i;
          }
          return -1;
        };
        const auto synced = [&](DiskCall::Kind what, const QString& path, int after, int before) {
          const int i = find(what, path, after + 1);
          return i >= 0 && i < before;
        };
        const auto ofInode = [&](DiskCall::Kind what, std::uint64_t inode, int before) {
          for (int i = 0; i < before; ++i) {
            if (calls[std::size_t(i)].What == what && calls[std::size_t(i)].Inode == inode)
              return i;
          }
          return -1;
        };
        const auto fileSynced = [&](std::uint64_t inode, int before) {
          return ofInode(DiskCall::FileSynced, inode, before);
        };
        for (int p = 0; p < Pages; ++p) {
          const QString name = QString("p%1.png").arg(p + 1);
          SCOPED_TRACE(name.toStdString());
          const int replaced = find(DiskCall::Renamed, folder + "/" + name);
          ASSERT_GE(replaced, 0);
          const int bytes = fileSynced(calls[std::size_t(replaced)].Inode, replaced);
          EXPECT_GE(bytes, 0) << "the page file is renamed before it is synced";
          if (!notes) {
            const int marked =
                ofInode(DiskCall::AttributeSet, calls[std::size_t(replaced)].Inode, replaced);
            EXPECT_TRUE(marked >= 0 && marked < bytes) << "the mark is set after the sync";
          }
          const int storeSynced = find(DiskCall::FolderSynced, store, replaced + 1);
          EXPECT_TRUE(synced(DiskCall::FolderSynced, folder, replaced,
                             storeSynced >= 0 ? storeSynced : end))
              << "the folder is not synced after the page's rename";
          if (keeping) {
            int kept = find(DiskCall::Linked, store + "/" + name);
            if (copies) {
              kept = find(DiskCall::Renamed, store + "/" + name);
              EXPECT_GE(fileSynced(calls[std::size_t(kept)].Inode, kept), 0)
                  << "the copy of the original is named before it is synced";
            }
            ASSERT_TRUE(kept >= 0 && kept < replaced) << "the original is kept after the page";
            EXPECT_TRUE(synced(DiskCall::FolderSynced, store, kept, replaced))
                << "the store is not synced before the page is replaced";
            EXPECT_TRUE(
                synced(DiskCall::FolderSynced, folder, find(DiskCall::FolderMade, store), replaced))
                << "the store's folder is not synced into the book's before the page is replaced";
          }
          if (notes) {
            int note = -1;
            for (int i = find(DiskCall::Renamed, written + "/" + name); i >= 0 && i < replaced;
                 i = find(DiskCall::Renamed, written + "/" + name, i + 1))
              note = i;
            ASSERT_GE(note, 0) << "no note before the page's rename";
            EXPECT_GE(fileSynced(calls[std::size_t(note)].Inode, note), 0)
                << "the note is named before it is synced";
            EXPECT_TRUE(synced(DiskCall::FolderSynced, written, note, replaced))
                << "the notes' folder is not synced before the page's rename";
          }
        }
      }
    }
  }
  SetHardLinksDisabled(false);
  SetAttributesDisabled(false);
}

}  // namespace
}  // namespace pagetrim
