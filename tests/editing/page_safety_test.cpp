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
  EXPECT_EQ(state_.WorkingPage.Width(), 55);
  // The page left behind is read ahead as the previous one; unchanged, it
  // comes back as it was.
  PreviousPage(state_, window_);
  EXPECT_EQ(state_.WorkingPage.Width(), 30);
  ReplaceElsewhere(0, 66);
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.WorkingPage.Width(), 66);
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
    EXPECT_EQ(state_.WorkingPage.Width(), 30 + press % 4);
  }
}

TEST_F(Prefetch, TheThresholdInForceWhenAPageIsShownIsTheOneUsed) {
  MakePages(3);
  Open(0);
  prefetcher_.WaitUntilIdle();
  window_.Threshold = "50";  // the block, gray 100, is now white
  window_.Gray = false;
  NextPage(state_, window_);
  EXPECT_EQ(state_.AnalysisPage.PixelAt(10, 20), MakeColour(255, 255, 255));
  window_.Gray = true;
  NextPage(state_, window_);
  EXPECT_EQ(state_.AnalysisPage.PixelAt(10, 20), MakeColour(100, 100, 100));
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
    EXPECT_EQ(state_.WorkingPage.Width(), 30 + press % 6);
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
  EXPECT_EQ(state_.WorkingPage.Width(), 32 - 5 - 5);  // p3, shown again
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
    EXPECT_EQ(state_.AnalysisPage.SharesPixelsWith(state_.OriginalPage), row.Shares);
    PageRaster expected;
    if (row.Gray)
      MakeGrayImage(state_.OriginalPage, expected);
    else
      MakeBinaryImage(state_.OriginalPage, expected, ThresholdFromText(row.Threshold));
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x)
        ASSERT_EQ(state_.AnalysisPage.PixelAt(x, y), expected.PixelAt(x, y)) << x << ", " << y;
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
  ASSERT_EQ(stepsTaken.size(), std::size_t(4 * Pages));  // kept, marked, before, replaced
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
    EXPECT_TRUE(RestoreAllOriginals(dir_.path() + "/").empty());
    for (int i = 0; i < Pages; ++i)
      EXPECT_EQ(ReadAll(Page(i)), first[std::size_t(i)]) << i;
    putBack();
  }
}

}  // namespace
}  // namespace pagetrim
