// The page commands, run on real page files against a recording window.
#include "page_commands.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "page_codec.h"
#include "recording_page_window.h"
#include "shown_error.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

// A page whose width tells the pages apart, with a dark block of the given
// gray level in its top-left corner.
PageRaster MakeRaster(int width, int height, std::uint8_t level = 100) {
  PageRaster raster(width, height);
  for (int y = 0; y < height / 2; ++y) {
    std::uint8_t* row = raster.Row(y);
    for (int x = 0; x < width / 2; ++x)
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = level;
  }
  return raster;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return file.readAll();
}

class PageCommands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString Folder() const { return dir_.path() + "/"; }

  // Writes pages named p1.png, p2.png ... whose widths are 20, 21, 22 ...
  void MakePages(int count, float dpi = 300) {
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(SavePage(PagePath(i), MakeRaster(20 + i, 30), dpi, dpi), SaveOutcome::Written);
    }
  }
  QString PagePath(int i) const { return Folder() + QString("p%1.png").arg(i + 1); }

  void Open(int index) { ASSERT_TRUE(OpenPageSet(state_, window_, PagePath(index))); }

  QTemporaryDir dir_;
  EditState state_;
  RecordingPageWindow window_;
};

TEST_F(PageCommands, OpenShowsTheDroppedPageInEveryRasterAndView) {
  MakePages(3);
  ASSERT_TRUE(OpenPageSet(state_, window_, Folder() + "P2.PNG"));  // found ignoring case
  EXPECT_EQ(state_.CurrentIndex, 1);
  EXPECT_EQ(state_.CurrentPath, PagePath(1));
  EXPECT_EQ(state_.PageList.Count(), 3);
  EXPECT_EQ(window_.Title, BaseTitle() + "  p2.png  ResX=300  ResY=300");
  EXPECT_TRUE(BaseTitle().startsWith("pagetrim "));

  for (const PageRaster* r : std::initializer_list<const PageRaster*>{
           &state_.OriginalPage, &state_.Edit.WorkingPage(), &state_.BinaryPage,
           &state_.Edit.AnalysisPage(), &window_.Left, &window_.Right}) {
    EXPECT_EQ(r->Width(), 21);
    EXPECT_EQ(r->Height(), 30);
  }
  // Only the analysis image in use is built, at one byte per pixel.
  EXPECT_TRUE(state_.GrayPage.IsEmpty());
  EXPECT_EQ(state_.Edit.AnalysisPage().Format(), PixelFormat::Gray8);
  // Threshold 128, binary chosen: the dark block is black, the rest white.
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(0, 0), MakeColour(0, 0, 0));
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(20, 29), MakeColour(255, 255, 255));
}

TEST_F(PageCommands, RejectedOpenKeepsThePageSetButEmptiesThePath) {
  MakePages(2);
  Open(0);
  EXPECT_FALSE(OpenPageSet(state_, window_, Folder() + "notes.txt"));
  EXPECT_TRUE(state_.CurrentPath.isEmpty());
  EXPECT_EQ(state_.CurrentIndex, 0);
  EXPECT_EQ(state_.PageList.Count(), 2);

  // Reload and overwrite stay inert until a page is shown again.
  const int shows = window_.LeftShows;
  const QByteArray before = ReadAll(PagePath(0));
  state_.Edit.Cut({0, 0, 5, state_.Edit.WorkingPage().Height()});
  ReloadPage(state_, window_);
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.LeftShows, shows);
  EXPECT_EQ(ReadAll(PagePath(0)), before);

  // A page path that is not in its folder lists the folder but shows nothing.
  EXPECT_FALSE(OpenPageSet(state_, window_, Folder() + "absent.jpg"));
  EXPECT_EQ(state_.CurrentIndex, -1);
  EXPECT_EQ(state_.PageList.Count(), 2);
}

TEST_F(PageCommands, OpenInAMissingFolderRaisesTheFolderError) {
  EXPECT_THROW(OpenPageSet(state_, window_, "/no/such/place/p.jpg"), ShownError);
  EXPECT_EQ(state_.CurrentIndex, -1);
  EXPECT_TRUE(state_.CurrentPath.isEmpty());
}

TEST_F(PageCommands, NextAndPreviousWrapAround) {
  MakePages(3);
  Open(2);
  NextPage(state_, window_);
  EXPECT_EQ(state_.CurrentIndex, 0);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 20);
  PreviousPage(state_, window_);
  EXPECT_EQ(state_.CurrentIndex, 2);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 22);
  PreviousPage(state_, window_);
  EXPECT_EQ(state_.CurrentIndex, 1);
  NextPage(state_, window_);
  EXPECT_EQ(state_.CurrentIndex, 2);
}

TEST_F(PageCommands, OnePageNextAndPreviousReloadIt) {
  MakePages(1);
  Open(0);
  state_.Edit.Cut({0, 0, 3, state_.Edit.WorkingPage().Height()});
  NextPage(state_, window_);
  EXPECT_EQ(state_.CurrentIndex, 0);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 20);
  state_.Edit.Cut({0, 0, 3, state_.Edit.WorkingPage().Height()});
  PreviousPage(state_, window_);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 20);
}

TEST_F(PageCommands, ThresholdAndAnalysisChoiceAreReadOnlyWhenAPageIsShown) {
  MakePages(1);
  Open(0);
  ASSERT_EQ(state_.Edit.AnalysisPage().PixelAt(0, 0), MakeColour(0, 0, 0));

  window_.Threshold = "50";  // the block (gray 100) is now above the threshold
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(0, 0), MakeColour(0, 0, 0));
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(0, 0), MakeColour(255, 255, 255));

  window_.Threshold = "0x80";
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.BinaryPage.PixelAt(0, 0), MakeColour(0, 0, 0));

  window_.Threshold = "-5";  // no clamping: every pixel is white
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.BinaryPage.PixelAt(0, 0), MakeColour(255, 255, 255));

  window_.Threshold = "12a";  // not an integer: 128
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.BinaryPage.PixelAt(0, 0), MakeColour(0, 0, 0));
  window_.Gray = true;
  ReloadPage(state_, window_);
  EXPECT_EQ(state_.GrayPage.PixelAt(0, 0), MakeColour(100, 100, 100));
  EXPECT_EQ(state_.Edit.AnalysisPage().PixelAt(0, 0), MakeColour(100, 100, 100));
}

TEST_F(PageCommands, OverwriteSavesTheTrimmedPageAtLeastAt144Dpi) {
  MakePages(2, 72);
  Open(1);
  state_.Edit.Cut({0, 0, 7, state_.Edit.WorkingPage().Height()});
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.SaveFailureReports, 0);
  EXPECT_EQ(state_.OriginalPage.Width(), 21);  // not reloaded

  PageRaster reread;
  const PageResolution dpi = LoadPage(PagePath(1), reread);
  EXPECT_EQ(reread.Width(), 7);
  EXPECT_FLOAT_EQ(dpi.X, 144);
  EXPECT_FLOAT_EQ(dpi.Y, 144);
}

TEST_F(PageCommands, OverwriteThatFailsIsReportedAndRepeatable) {
  MakePages(2);
  Open(0);
  // The page's place is taken by a folder: the save cannot replace it.
  ASSERT_TRUE(QFile::remove(PagePath(0)));
  ASSERT_TRUE(QDir().mkdir(PagePath(0)));
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.SaveFailureReports, 1);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 20);
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.SaveFailureReports, 2);
}

TEST_F(PageCommands, UndecodablePageShowsEmptyAndIsNeverOverwritten) {
  MakePages(2);
  {
    QFile damaged(Folder() + "p3.png");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("\x89PNG\r\n\x1a\n garbage");
  }
  const QByteArray before = ReadAll(Folder() + "p3.png");
  ASSERT_TRUE(OpenPageSet(state_, window_, Folder() + "p3.png"));
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 0);
  EXPECT_EQ(window_.Title, BaseTitle() + "  p3.png  ResX=0  ResY=0");
  OverwritePage(state_, window_);
  EXPECT_EQ(window_.SaveFailures, QStringList{Folder() + "p3.png"});
  EXPECT_EQ(ReadAll(Folder() + "p3.png"), before);
}

TEST_F(PageCommands, TitleCutsTheResolutionsFraction) {
  ASSERT_EQ(SavePage(PagePath(0), MakeRaster(20, 30), 300.88f, 96), SaveOutcome::Written);
  Open(0);
  EXPECT_EQ(window_.Title, BaseTitle() + "  p1.png  ResX=300  ResY=144");
}

TEST_F(PageCommands, DeleteShowsTheFollowingPageOrTheFirst) {
  MakePages(5);
  Open(4);
  DeletePage(state_, window_);
  EXPECT_FALSE(QFile::exists(PagePath(4)));
  EXPECT_EQ(state_.PageList.Count(), 4);
  EXPECT_EQ(state_.CurrentIndex, 0);
  EXPECT_EQ(state_.CurrentPath, PagePath(0));

  state_.CurrentIndex = 2;
  ShowPage(state_, window_);
  DeletePage(state_, window_);
  EXPECT_FALSE(QFile::exists(PagePath(2)));
  EXPECT_EQ(state_.CurrentIndex, 2);
  EXPECT_EQ(state_.CurrentPath, PagePath(3));
  EXPECT_TRUE(window_.Notices.isEmpty());
}

TEST_F(PageCommands, DeleteRefusesAnEmptyOrSinglePageList) {
  DeletePage(state_, window_);
  MakePages(1);
  Open(0);
  DeletePage(state_, window_);
  EXPECT_EQ(window_.Notices,
            (QStringList{u"削除する頁がありません"_qs, u"１頁しかないので削除できません"_qs}));
  EXPECT_TRUE(QFile::exists(PagePath(0)));
}

TEST_F(PageCommands, DeleteThatFailsChangesNothing) {
  MakePages(3);
  Open(1);
  // A non-empty folder in the page's place cannot be removed as a file.
  ASSERT_TRUE(QFile::remove(PagePath(1)));
  ASSERT_TRUE(QDir().mkpath(PagePath(1) + "/inside"));
  const int shows = window_.LeftShows;
  DeletePage(state_, window_);
  EXPECT_EQ(window_.Notices,
            QStringList{u"削除できませんでした（同じ名前のフォルダーがあります）"_qs});
  EXPECT_EQ(state_.PageList.Count(), 3);
  EXPECT_EQ(state_.CurrentIndex, 1);
  EXPECT_EQ(window_.LeftShows, shows);
}

}  // namespace
}  // namespace pagetrim
