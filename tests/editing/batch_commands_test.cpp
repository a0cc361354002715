// The batches over folders of real page files.
#include "batch_commands.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <stdexcept>

#include "page_codec.h"
#include "page_commands.h"
#include "pages/image_fixtures.h"
#include "recording_page_window.h"
#include "sample_pages.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct PageSpec {
  const char* Name;
  int Width, Height;
  SampleMargins Margins;
  float Dpi;
};

class Batches : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString Path(const char* name) const { return dir_.path() + "/" + name; }

  void Write(const std::vector<PageSpec>& pages) {
    unsigned seed = 7;
    for (const PageSpec& p : pages) {
      const PageRaster page = MakeSamplePage(p.Width, p.Height, p.Margins, seed++, true);
      ASSERT_TRUE(WriteSamplePage(Path(p.Name), page, p.Dpi)) << p.Name;
    }
  }

  // What the given trims make of one page on its own, outside any batch.
  template <class Trim>
  PageRaster Expected(const char* name, Trim&& trim) {
    EditState alone;
    RecordingPageWindow window;
    EXPECT_TRUE(OpenPageSet(alone, window, Path(name)));
    trim(alone, window);
    return std::move(alone.Edit.WorkingPage());
  }

  void Open(const char* name) { ASSERT_TRUE(OpenPageSet(state_, window_, Path(name))); }

  QTemporaryDir dir_;
  EditState state_;
  RecordingPageWindow window_;
};

const std::vector<PageSpec> Book = {
    {"p1.png", 300, 420, {31, 40, 22, 17}, 300},
    {"p2.jpg", 280, 400, {60, 12, 45, 30}, 72},
    {"p3.png", 420, 300, {5, 50, 70, 8}, 96},
    {"p4.jpg", 310, 410, {0, 9, 3, 0}, 600},
};

TEST_F(Batches, LeftRightWritesEveryPageAsTrimmedAloneAndReturnsToTheStartPage) {
  Write(Book);
  std::vector<PageRaster> expected;
  for (const PageSpec& p : Book) {
    expected.push_back(Expected(p.Name, [](EditState& s, PageWindow& w) {
      TrimLeftMargin(s, w, 0, 10);
      TrimRightMargin(s, w, s.Edit.AnalysisPage().Width() - 1, 10);
    }));
  }
  // PNG pages are exact: the right trim keeps the last ink column.
  EXPECT_EQ(expected[0].Width(), 300 - 31 - 22);

  Open("p3.png");
  TrimAllLeftRight(state_, window_, false);

  for (std::size_t i = 0; i < Book.size(); ++i) {
    SCOPED_TRACE(Book[i].Name);
    PageRaster saved;
    const PageResolution dpi = LoadPage(Path(Book[i].Name), saved);
    EXPECT_EQ(saved.Width(), expected[i].Width());
    EXPECT_EQ(saved.Height(), Book[i].Height);
    EXPECT_FLOAT_EQ(dpi.X, std::max(Book[i].Dpi, 144.0f));
  }
  EXPECT_EQ(state_.CurrentIndex, 2);
  EXPECT_EQ(state_.CurrentPath, Path("p3.png"));
  EXPECT_EQ(state_.OriginalPage.Width(), expected[2].Width());  // fresh from the file
  EXPECT_EQ(window_.Locks, 1);
  EXPECT_EQ(window_.Unlocks, 1);
  EXPECT_EQ(window_.Pumps, 4);
  EXPECT_EQ(window_.Progress.back(), std::make_pair(4, 4));
  EXPECT_EQ(window_.SaveFailureReports, 0);
}

TEST_F(Batches, WithNormaliseEveryPageGetsTheRatioOfItsOwnHeight) {
  Write(Book);
  Open("p1.png");
  TrimAllLeftRight(state_, window_, true);
  for (const PageSpec& p : Book) {
    SCOPED_TRACE(p.Name);
    PageRaster saved;
    LoadPage(Path(p.Name), saved);
    const int trimmed = p.Width - p.Margins.Left - p.Margins.Right;
    // Landscape and square pages become spreads of two pages.
    const bool portrait = trimmed < p.Height;
    const int tw = int(std::trunc((saved.Height() + 1) * 0.707));
    EXPECT_EQ(saved.Width(), portrait ? tw : 2 * tw);
    // p4 is wider than its height's target: its canvas is higher instead.
    EXPECT_EQ(saved.Height() > p.Height, std::string(p.Name) == "p4.jpg");
    EXPECT_GT(saved.Width(), trimmed);
  }
}

TEST_F(Batches, OnePageFolderIsTrimmedSavedAndShownAgain) {
  Write({Book[0]});
  Open("p1.png");
  TrimAllLeftRight(state_, window_, false);
  PageRaster saved;
  LoadPage(Path("p1.png"), saved);
  EXPECT_EQ(saved.Width(), 300 - 31 - 22);
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), saved.Width());
  EXPECT_FALSE(window_.Locked);
}

TEST_F(Batches, ADamagedPageIsLeftUntouchedAndTheRestAreProcessed) {
  Write({Book[0], Book[1]});
  {
    const QByteArray good = ReadAll(Path("p1.png"));
    QFile damaged(Path("p15.png"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(good.left(good.size() / 2));  // cut off halfway, as by a failed copy
  }
  const QByteArray before = ReadAll(Path("p15.png"));
  Open("p1.png");
  TrimAllLeftRight(state_, window_, true);
  EXPECT_EQ(ReadAll(Path("p15.png")), before);
  EXPECT_EQ(window_.SaveFailures, QStringList{Path("p15.png")});
  PageRaster saved;
  LoadPage(Path("p2.jpg"), saved);
  EXPECT_NE(saved.Width(), 280);
}

TEST_F(Batches, AnErrorEndingTheBatchStillReportsTheSaveInHand) {
  Write({Book[0], Book[1]});
  QFile damaged(Path("p0.png"));
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("\x89PNG\r\n\x1a\n");
  damaged.close();
  Open("p1.png");
  window_.OnPump = [] { throw std::runtime_error("window gone"); };
  EXPECT_THROW(TrimAllLeftRight(state_, window_, false), std::runtime_error);
  EXPECT_EQ(window_.SaveFailures, QStringList{Path("p0.png")});
  EXPECT_FALSE(window_.Locked);
  // The page on show was passing through and nothing holds it: nothing can
  // be reloaded or written until a page is shown again.
  EXPECT_TRUE(state_.CurrentPath.isEmpty());
  EXPECT_TRUE(state_.Edit.WorkingPage().IsEmpty());
}

TEST_F(Batches, APageListedTwiceIsReadAfterItsFirstSave) {
  Write({Book[0]});
  // p2.png is a second name for p1.png: the batch trims the same page twice,
  // the second time as the first save left it.
  ASSERT_TRUE(QFile::link(Path("p1.png"), Path("p2.png")));
  Open("p1.png");
  TrimAllLeftRight(state_, window_, false);
  PageRaster saved;
  LoadPage(Path("p1.png"), saved);
  // The second trim finds nothing more to cut.
  EXPECT_EQ(saved.Width(), 300 - 31 - 22);
  EXPECT_TRUE(QFileInfo(Path("p2.png")).isSymLink());
}

TEST_F(Batches, TopBottomSamplesInTheRememberedColumn) {
  const std::vector<PageSpec> pages = {
      {"a1.png", 300, 400, {20, 33, 20, 30}, 300},
      {"a2.png", 120, 400, {20, 12, 20, 50}, 300},  // narrower than the sample column
      {"a3.png", 260, 380, {20, 0, 20, 0}, 300},
  };
  Write(pages);
  const auto topAndBottom = [](EditState& s, PageWindow& w) {
    s.SampleColumn = 200;
    TrimTopMargin(s, w, 0, s.SampleColumn);
    TrimBottomMargin(s, w, s.Edit.AnalysisPage().Height() - 1, s.SampleColumn);
  };
  const int first = Expected("a1.png", topAndBottom).Height();
  const int third = Expected("a3.png", topAndBottom).Height();
  Open("a1.png");
  TrimTopAtPoint(state_, window_, 200, -5);  // refused, but remembers column 200
  ASSERT_EQ(state_.SampleColumn, 200);
  TrimAllTopBottom(state_, window_);

  PageRaster saved;
  LoadPage(Path("a1.png"), saved);
  EXPECT_EQ(saved.Height(), first);
  EXPECT_LT(saved.Height(), 400 - 33);
  EXPECT_EQ(saved.Width(), 300);
  // Sampled outside the page every row counts as ink: nothing goes.
  LoadPage(Path("a2.png"), saved);
  EXPECT_EQ(saved.Height(), 400);
  LoadPage(Path("a3.png"), saved);
  EXPECT_EQ(saved.Height(), third);
  EXPECT_EQ(state_.SampleColumn, 200);
}

TEST_F(Batches, CancelStopsAfterThePageInHand) {
  Write(Book);
  const QByteArray third = ReadAll(Path("p3.png"));
  const QByteArray fourth = ReadAll(Path("p4.jpg"));
  Open("p4.jpg");
  window_.OnPump = [&] {
    if (window_.Pumps == 2)
      state_.RunningBatch->RequestCancel();
  };
  TrimAllLeftRight(state_, window_, false);
  EXPECT_EQ(window_.Pumps, 2);
  PageRaster saved;
  LoadPage(Path("p2.jpg"), saved);
  EXPECT_LT(saved.Width(), 280);              // done
  EXPECT_EQ(ReadAll(Path("p3.png")), third);  // untouched
  EXPECT_EQ(ReadAll(Path("p4.jpg")), fourth);
  EXPECT_EQ(state_.CurrentIndex, 3);  // the start page, shown again
  EXPECT_EQ(state_.Edit.WorkingPage().Width(), 310);
  EXPECT_FALSE(window_.Locked);
}

}  // namespace
}  // namespace pagetrim

// ---- Work ahead on several threads ------------------------------------------

namespace pagetrim {
namespace {

// A page whose ink is mid-gray: black in the black-and-white image at
// threshold 128, white at threshold 50.
PageRaster GrayInkPage(int width, int height, int margin) {
  PageRaster page(width, height, PixelFormat::Gray8);
  for (int y = margin; y < height - margin; ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = margin; x < width - margin; ++x)
      row[x] = 100;
  }
  return page;
}

// Pages of every kind a batch writes: colour and gray JPEG, gray and 1-bit
// PNG, a second name for one of them, and a page that cannot be read.
void WriteMixedBook(const QString& folder) {
  ASSERT_TRUE(WriteSamplePage(folder + "/p1.jpg",
                              MakeSamplePage(300, 420, {31, 40, 22, 17}, 1, true), 300));
  const PageRaster gray = MakeSamplePage(280, 400, {60, 12, 45, 30}, 2, false);
  ASSERT_EQ(SavePage(folder + "/p2.jpg", GrayInkPage(280, 400, 33), 300, 300),
            SaveOutcome::Written);
  ASSERT_TRUE(WriteSamplePage(folder + "/p3.png", gray, 96));
  PageRaster bitonal(310, 410, PixelFormat::Gray8);
  for (int y = 50; y < 300; ++y)
    std::fill_n(bitonal.Row(y) + 40, 200, std::uint8_t(0));
  ASSERT_EQ(SavePage(folder + "/p4.png", bitonal, 600, 600), SaveOutcome::Written);
  ASSERT_TRUE(QFile::link(folder + "/p3.png", folder + "/p5.png"));
  QFile damaged(folder + "/p6.png");
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("\x89PNG\r\n\x1a\n not a picture");
}

QStringList BookFiles() {
  return {"p1.jpg", "p2.jpg", "p3.png", "p4.png", "p6.png"};
}

TEST(ParallelBatches, WriteEveryPageAsOneThreadDoes) {
  QTemporaryDir one, many, tight;
  for (const QTemporaryDir* dir : {&one, &many, &tight})
    WriteMixedBook(dir->path());
  const auto run = [](const QString& folder, BatchOptions options, std::size_t* peak) {
    EditState state;
    RecordingPageWindow window;
    EXPECT_TRUE(OpenPageSet(state, window, folder + "/p2.jpg"));
    PageBatch batch(state, BatchKind::LeftRightNormalise, options);
    RunBatch(batch, window);
    *peak = batch.PeakBytesAhead();
    EXPECT_EQ(window.SaveFailures, QStringList{folder + "/p6.png"});
  };
  std::size_t largest = 0;
  for (const QString& name : BookFiles())
    largest = std::max(largest, EstimatePageBytes(tight.path() + "/" + name));
  std::size_t peak = 0;
  run(one.path(), {1, DefaultWorkAheadBytes}, &peak);
  run(many.path(), {4, DefaultWorkAheadBytes}, &peak);
  EXPECT_GT(peak, EstimatePageBytes(many.path() + "/p1.jpg"));  // pages were worked on ahead
  // A budget smaller than a page still lets one page be read at a time.
  run(tight.path(), {4, 1}, &peak);
  EXPECT_LE(peak, largest);
  for (const QString& name : BookFiles()) {
    SCOPED_TRACE(name.toStdString());
    EXPECT_EQ(ReadAll(many.path() + "/" + name), ReadAll(one.path() + "/" + name));
    EXPECT_EQ(ReadAll(tight.path() + "/" + name), ReadAll(one.path() + "/" + name));
  }
  PageRaster saved;
  LoadPage(one.path() + "/p2.jpg", saved);
  EXPECT_EQ(saved.Format(), PixelFormat::Gray8);
}

TEST_F(Batches, CancelWithPagesInFlightWritesNothingAfterThePageInHand) {
  Write(Book);
  QList<QByteArray> before;
  for (const PageSpec& p : Book)
    before.append(ReadAll(Path(p.Name)));
  Open("p3.png");
  window_.OnPump = [&] { state_.RunningBatch->RequestCancel(); };
  PageBatch batch(state_, BatchKind::LeftRight, {2, DefaultWorkAheadBytes});
  RunBatch(batch, window_);
  EXPECT_GT(batch.PeakBytesAhead(), EstimatePageBytes(Path("p1.png")));
  EXPECT_NE(ReadAll(Path("p1.png")), before[0]);
  for (int i = 1; i < int(Book.size()); ++i)
    EXPECT_EQ(ReadAll(Path(Book[i].Name)), before[i]) << Book[i].Name;
  EXPECT_EQ(state_.CurrentIndex, 2);
  EXPECT_FALSE(window_.Locked);
}

TEST_F(Batches, FailuresAreReportedInPageOrderWhileLaterPagesGoOn) {
  Write(Book);
  for (const char* name : {"p1.png", "p3.png"}) {
    QFile damaged(Path(name));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("\x89PNG\r\n\x1a\n cut");
  }
  Open("p2.jpg");
  TrimAllLeftRight(state_, window_, false, {3, DefaultWorkAheadBytes});
  EXPECT_EQ(window_.SaveFailures, (QStringList{Path("p1.png"), Path("p3.png")}));
  const Result cutShort = Result::Failed(Reason::DamagedImage);
  EXPECT_EQ(window_.SaveFailureResults, (std::vector<Result>{cutShort, cutShort}));
  PageRaster saved;
  LoadPage(Path("p4.jpg"), saved);
  EXPECT_LT(saved.Width(), 310);

  // Stopping at the first failure leaves every later page as it was.
  Write(Book);
  QFile damaged(Path("p2.jpg"));
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("\xFF\xD8\xFF");
  damaged.close();
  const QByteArray third = ReadAll(Path("p3.png"));
  window_.SaveFailures.clear();
  window_.StopOnSaveFailure = true;
  TrimAllLeftRight(state_, window_, false, {3, DefaultWorkAheadBytes});
  EXPECT_EQ(window_.SaveFailures, QStringList{Path("p2.jpg")});
  EXPECT_EQ(ReadAll(Path("p3.png")), third);
}

TEST_F(Batches, EachPageIsTrimmedWithTheThresholdInForceWhenItIsShown) {
  for (const char* name : {"g1.png", "g2.png", "g3.png", "g4.png"})
    ASSERT_EQ(SavePage(Path(name), GrayInkPage(200, 100, 30), 300, 300), SaveOutcome::Written);
  Open("g1.png");
  // After the first page the threshold drops below the ink: the pages read
  // ahead with the old one must be trimmed again, and nothing is cut.
  window_.OnPump = [&] { window_.Threshold = "50"; };
  TrimAllLeftRight(state_, window_, false, {2, DefaultWorkAheadBytes});
  PageRaster saved;
  LoadPage(Path("g1.png"), saved);
  EXPECT_EQ(saved.Width(), 200 - 30 - 30);
  for (const char* name : {"g2.png", "g3.png", "g4.png"}) {
    LoadPage(Path(name), saved);
    EXPECT_EQ(saved.Width(), 200) << name;
  }
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// Each page of the left-and-right batch is exactly what the menu's 左右削除
// makes of that page alone.
TEST_F(Batches, LeftRightGivesEveryPageWhatTrimLeftAndRightGivesIt) {
  const std::vector<PageSpec> pages = {Book[0], Book[2]};  // PNG: exact pixels
  for (const PageSpec& p : pages) {
    const PageRaster page = MakeSamplePage(p.Width, p.Height, p.Margins, 3, true);
    ASSERT_TRUE(WriteSamplePage(Path(p.Name), page, p.Dpi));
  }
  std::vector<PageRaster> expected;
  for (const PageSpec& p : pages)
    expected.push_back(
        Expected(p.Name, [](EditState& s, PageWindow& w) { TrimLeftAndRight(s, w); }));
  ASSERT_LT(expected[0].Width(), 300);
  Open("p1.png");
  TrimAllLeftRight(state_, window_, false);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(pages[i].Name);
    PageRaster saved;
    LoadPage(Path(pages[i].Name), saved);
    ASSERT_EQ(saved.Width(), expected[i].Width());
    for (int y = 0; y < saved.Height(); ++y) {
      for (int x = 0; x < saved.Width(); ++x)
        ASSERT_EQ(saved.PixelAt(x, y), expected[i].PixelAt(x, y)) << x << ", " << y;
    }
  }
}

// A page's colour profile is written back byte for byte by Down and by a
// batch: a JPEG whose profile spans several markers, and a PNG's iCCP.
TEST_F(Batches, ColourProfilesSurviveDownAndTheBatch) {
  const QByteArray profile = fixtures::IccProfile("RGB ", 70000);
  const PageRaster page = MakeSamplePage(200, 260, {20, 30, 25, 35}, 5, true);
  fixtures::JpegFixture jpeg;
  jpeg.Width = page.Width();
  jpeg.Height = page.Height();
  jpeg.Icc = fixtures::Bytes(profile.begin(), profile.end());
  fixtures::PngFixture png;
  png.Width = png_uint_32(page.Width());
  png.Height = png_uint_32(page.Height());
  png.Icc = jpeg.Icc;
  for (int y = 0; y < page.Height(); ++y) {
    fixtures::Bytes row;
    for (int x = 0; x < page.Width(); ++x) {
      const ColourValue c = page.PixelAt(x, y);
      row.insert(row.end(), {std::uint8_t(c), std::uint8_t(c >> 8), std::uint8_t(c >> 16)});
    }
    jpeg.Pixels.insert(jpeg.Pixels.end(), row.begin(), row.end());
    png.Rows.push_back(row);
  }
  ASSERT_TRUE(fixtures::WriteBytes(Path("a.jpg"), fixtures::EncodeJpegFixture(jpeg)));
  ASSERT_TRUE(fixtures::WriteBytes(Path("b.png"), fixtures::EncodePngFixture(png)));
  const auto profileOf = [&](const char* name) {
    PageRaster raster;
    return ReadPageFile(Path(name), raster).Source.IccProfile;
  };
  for (const char* name : {"a.jpg", "b.png"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(profileOf(name), profile);
    Open(name);
    TrimLeftAndRight(state_, window_);
    OverwritePage(state_, window_);
    EXPECT_EQ(profileOf(name), profile);
  }
  TrimAllTopBottom(state_, window_);
  EXPECT_EQ(profileOf("a.jpg"), profile);
  EXPECT_EQ(profileOf("b.png"), profile);
  EXPECT_EQ(window_.SaveFailureReports, 0);
}

}  // namespace
}  // namespace pagetrim

// ---- Pages to check -----------------------------------------------------------

namespace pagetrim {
namespace {

// A white page with one black box of ink: what the trims keep of it.
PageRaster BoxPage(int width, int height, int left, int top, int right, int bottom) {
  PageRaster page(width, height, PixelFormat::Gray8);
  for (int y = top; y < bottom; ++y)
    std::fill(page.Row(y) + left, page.Row(y) + right, std::uint8_t(0));
  return page;
}

TEST_F(Batches, PagesCutToLessThanHalfAreReportedOnceAtTheEnd) {
  const auto writeBook = [&] {
    ASSERT_EQ(SavePage(Path("a.png"), BoxPage(300, 400, 20, 20, 280, 380), 300, 300),
              SaveOutcome::Written);
    // b keeps 31 columns; c exactly half of each side; d keeps 21 rows.
    ASSERT_EQ(SavePage(Path("b.png"), BoxPage(300, 400, 100, 50, 131, 350), 300, 300),
              SaveOutcome::Written);
    ASSERT_EQ(SavePage(Path("c.png"), BoxPage(300, 400, 75, 100, 225, 300), 300, 300),
              SaveOutcome::Written);
    ASSERT_EQ(SavePage(Path("d.png"), BoxPage(300, 400, 20, 190, 280, 211), 300, 300),
              SaveOutcome::Written);
    QFile damaged(Path("e.png"));  // never written, so never named
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("\x89PNG\r\n\x1a\n");
  };
  struct Run {
    const char* Name;
    BatchKind Kind;
    const char* Named;
    QSize After;
  };
  const Run runs[] = {{"left and right", BatchKind::LeftRight, "b.png", {31, 400}},
                      {"with normalising: the size the trims kept",
                       BatchKind::LeftRightNormalise,
                       "b.png",
                       {31, 400}},
                      {"top and bottom", BatchKind::TopBottom, "d.png", {300, 21}}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.Name);
    writeBook();
    EditState state;
    RecordingPageWindow window;
    ASSERT_TRUE(OpenPageSet(state, window, Path("c.png")));
    PageBatch batch(state, run.Kind);
    RunBatch(batch, window);
    ASSERT_EQ(window.PagesToCheckReports, 1);
    ASSERT_EQ(window.PagesToCheck.size(), 1u);
    EXPECT_EQ(window.PagesToCheck[0].Path, Path(run.Named));
    EXPECT_EQ(window.PagesToCheck[0].Before, QSize(300, 400));
    EXPECT_EQ(window.PagesToCheck[0].After, run.After);
    // After the start page is shown again and the commands are unlocked.
    EXPECT_FALSE(window.LockedWhenReported);
    EXPECT_EQ(state.CurrentPath, Path("c.png"));
    EXPECT_EQ(window.SaveFailures, QStringList{Path("e.png")});
  }
  // Nothing to check, nothing reported.
  QFile::remove(Path("b.png"));
  QFile::remove(Path("d.png"));
  Open("a.png");
  TrimAllLeftRight(state_, window_, false);
  TrimAllTopBottom(state_, window_);
  EXPECT_EQ(window_.PagesToCheckReports, 0);
}

TEST(PagesToCheck, TheNoticeNamesTwentyAndCountsTheRest) {
  std::vector<PageToCheck> pages;
  for (int i = 1; i <= 23; ++i)
    pages.push_back({QString("/book/p%1.jpg").arg(i), {2000 + i, 3000}, {40, 3000 - i}});
  const QStringList lines = PagesToCheckNotice(pages).split(u'\n');
  ASSERT_EQ(lines.size(), 2 + 20 + 1);
  EXPECT_TRUE(lines[0].startsWith(u"確認が必要な頁があります"_qs));
  EXPECT_EQ(lines[1], QString());
  EXPECT_EQ(lines[2], u"p1.jpg  2001×3000 → 40×2999"_qs);
  EXPECT_EQ(lines[21], u"p20.jpg  2020×3000 → 40×2980"_qs);
  EXPECT_EQ(lines[22], u"他 3 頁"_qs);
  pages.resize(20);
  EXPECT_FALSE(PagesToCheckNotice(pages).contains(u"他"_qs));
}

}  // namespace
}  // namespace pagetrim

// ---- What the window is given while pages pass through ----------------------

namespace pagetrim {
namespace {

// Pages are written on another thread, yet each page's failure is reported
// while that page is still on show, before the next page is shown.
TEST_F(Batches, EachFailureIsReportedBeforeTheNextPageIsShown) {
  Write(Book);
  for (const char* name : {"p1.png", "p3.png"}) {
    QFile damaged(Path(name));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("\x89PNG\r\n\x1a\n cut");
  }
  Open("p2.jpg");
  window_.Events.clear();
  TrimAllLeftRight(state_, window_, false, {2, DefaultWorkAheadBytes});
  QStringList events;
  for (const QString& event : window_.Events) {
    for (const PageSpec& p : Book) {
      if (event.contains(p.Name))
        events.append(event.section(' ', 0, 0) + " " + p.Name);
    }
  }
  EXPECT_EQ(events, (QStringList{"title p1.png", "failed p1.png", "title p2.jpg", "title p3.png",
                                 "failed p3.png", "title p4.jpg", "title p2.jpg"}));
}

// With views to draw in, each page passing through is given as samples of
// the page as read, and of the part the trims kept; the state holds none of
// its pixels; the files written are the same as without views.
TEST_F(Batches, PassingPagesAreShownAsSamplesAndWrittenAsWithoutThem) {
  Write(Book);
  QTemporaryDir plain;
  for (const PageSpec& p : Book)
    ASSERT_TRUE(QFile::copy(Path(p.Name), plain.path() + "/" + p.Name));
  std::vector<PageRaster> originals;
  for (const PageSpec& p : Book) {
    originals.emplace_back();
    LoadPage(Path(p.Name), originals.back());
  }
  window_.Views = QSize(60, 90);
  window_.OnPump = [&] {
    EXPECT_TRUE(state_.OriginalPage.IsEmpty());
    EXPECT_TRUE(state_.Edit.WorkingPage().IsEmpty());
    EXPECT_TRUE(state_.Edit.AnalysisPage().IsEmpty());
  };
  Open("p1.png");
  TrimAllLeftRight(state_, window_, false);
  ASSERT_EQ(window_.ReducedShows.size(), Book.size());
  for (std::size_t i = 0; i < Book.size(); ++i) {
    SCOPED_TRACE(Book[i].Name);
    const auto& [left, right] = window_.ReducedShows[i];
    const PageRaster& page = originals[i];
    EXPECT_EQ(left.Step, ReductionStep(page.Width(), page.Height(), 60, 90));
    EXPECT_GT(left.Step, 1);
    EXPECT_EQ(left.Region, (Rect{0, 0, page.Width(), page.Height()}));
    for (int y = 0; y < left.Pixels.Height(); ++y) {
      for (int x = 0; x < left.Pixels.Width(); ++x)
        ASSERT_EQ(left.Pixels.PixelAt(x, y), page.PixelAt(x * left.Step, y * left.Step));
    }
    PageRaster saved;
    LoadPage(Path(Book[i].Name), saved);
    EXPECT_TRUE(right.Pixels.SharesPixelsWith(left.Pixels));
    EXPECT_EQ(right.Region.Width(), saved.Width());
    EXPECT_EQ(right.Region.Height(), saved.Height());
  }

  EditState alone;
  RecordingPageWindow blind;
  ASSERT_TRUE(OpenPageSet(alone, blind, plain.path() + "/p1.png"));
  TrimAllLeftRight(alone, blind, false);
  EXPECT_TRUE(blind.ReducedShows.empty() ||
              std::all_of(blind.ReducedShows.begin(), blind.ReducedShows.end(),
                          [](const auto& shown) { return shown.first.IsEmpty(); }));
  for (const PageSpec& p : Book)
    EXPECT_EQ(ReadAll(Path(p.Name)), ReadAll(plain.path() + "/" + p.Name)) << p.Name;
}

// A normalised page is a new canvas, not a part of the page as read: its
// samples are taken from the canvas itself.
TEST_F(Batches, ANormalisedPageIsSampledFromItsCanvas) {
  Write({Book[0]});
  window_.Views = QSize(60, 90);
  Open("p1.png");
  TrimAllLeftRight(state_, window_, true);
  ASSERT_EQ(window_.ReducedShows.size(), 1u);
  const auto& [left, right] = window_.ReducedShows[0];
  PageRaster saved;
  LoadPage(Path("p1.png"), saved);
  EXPECT_FALSE(right.Pixels.SharesPixelsWith(left.Pixels));
  EXPECT_EQ(right.Region, (Rect{0, 0, saved.Width(), saved.Height()}));
  for (int y = 0; y < right.Pixels.Height(); ++y) {
    for (int x = 0; x < right.Pixels.Width(); ++x)
      ASSERT_EQ(right.Pixels.PixelAt(x, y), saved.PixelAt(x * right.Step, y * right.Step));
  }
}

}  // namespace
}  // namespace pagetrim

// ---- What the batch analyses of a page --------------------------------------

#include <cstring>

namespace pagetrim {
namespace {

struct Ink {
  Rect Area;
  std::uint8_t Level;
};

PageRaster PageWith(int width, int height, std::uint8_t paper, const std::vector<Ink>& inks) {
  PageRaster page(width, height);
  for (int y = 0; y < height; ++y)
    std::memset(page.Row(y), paper, page.RowBytes());
  for (const Ink& ink : inks) {
    for (int y = ink.Area.Top; y < ink.Area.Bottom; ++y) {
      std::uint8_t* row = page.Row(y);
      for (int x = ink.Area.Left; x < ink.Area.Right; ++x) {
        row[3 * x] = ink.Level;
        row[3 * x + 1] = std::uint8_t(ink.Level / 2);
        row[3 * x + 2] = ink.Level;
      }
    }
  }
  return page;
}

// The batch analyses only a band along each edge its walks start from, and
// the whole page only when a walk leaves its band. Wherever the ink lies,
// its cuts are those of the menu's commands on the whole analysis image.
TEST(BatchTrims, CutAsTheMenuDoesWhereverTheInkLies) {
  const struct {
    const char* Name;
    BatchKind Kind;
    PageRaster Page;
    AnalysisChoice Choice;
    int SampleColumn;
  } rows[] = {
      {"ink inside both bands",
       BatchKind::LeftRight,
       PageWith(600, 500, 250, {{{30, 40, 570, 460}, 20}}),
       {false, 128},
       0},
      {"ink only beyond the left band",
       BatchKind::LeftRight,
       PageWith(600, 500, 250, {{{250, 40, 590, 460}, 20}}),
       {false, 128},
       0},
      {"ink on each band's inner line",
       BatchKind::LeftRight,
       PageWith(600, 500, 250, {{{99, 40, 101, 460}, 20}, {{500, 40, 501, 460}, 20}}),
       {false, 128},
       0},
      {"ink just past each band",
       BatchKind::LeftRight,
       PageWith(600, 500, 250, {{{100, 40, 101, 460}, 20}, {{499, 40, 500, 460}, 20}}),
       {false, 128},
       0},
      {"a blank page", BatchKind::LeftRight, PageWith(600, 500, 250, {}), {false, 128}, 0},
      {"a thin line in the margin",
       BatchKind::LeftRight,
       PageWith(600, 500, 250, {{{15, 200, 16, 201}, 0}, {{200, 40, 400, 460}, 20}}),
       {false, 128},
       0},
      {"a dark left edge and a light right one",
       BatchKind::LeftRight,
       PageWith(600, 500, 250, {{{0, 0, 6, 500}, 0}, {{60, 40, 540, 460}, 20}}),
       {false, 128},
       0},
      {"the gray image",
       BatchKind::LeftRightNormalise,
       PageWith(600, 500, 250, {{{70, 40, 530, 460}, 200}}),
       {true, 128},
       0},
      {"too narrow for bands",
       BatchKind::LeftRight,
       PageWith(380, 500, 250, {{{30, 40, 350, 460}, 20}}),
       {false, 128},
       0},
      {"top and bottom",
       BatchKind::TopBottom,
       PageWith(500, 600, 250, {{{40, 35, 460, 560}, 20}}),
       {false, 128},
       300},
      {"top and bottom, ink past the bands",
       BatchKind::TopBottom,
       PageWith(500, 600, 250, {{{40, 300, 460, 310}, 20}}),
       {false, 128},
       300},
      {"top and bottom, sampled beside the page",
       BatchKind::TopBottom,
       PageWith(500, 600, 250, {{{40, 35, 460, 560}, 20}}),
       {false, 128},
       900},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    LoadedPage loaded;
    loaded.Page = row.Page;
    loaded.Choice = row.Choice;
    loaded.File.Read = Result{};
    BatchJob job;
    job.Kind = row.Kind;
    job.Choice = row.Choice;
    job.SampleColumn = row.SampleColumn;
    const BatchCut batch = CutForBatch(loaded, job);

    EditState menu;
    menu.Edit = PageEdit(row.Page, AnalysisImageOf(row.Page, false, row.Choice));
    menu.SampleColumn = row.SampleColumn;
    NoDisplay nowhere;
    if (row.Kind == BatchKind::TopBottom)
      TrimTopAndBottom(menu, nowhere);
    else
      TrimLeftAndRight(menu, nowhere);
    ASSERT_TRUE(menu.Edit.WorkingCut().has_value());
    if (row.Kind == BatchKind::LeftRightNormalise) {
      EXPECT_EQ(batch.Kept,
                QSize(menu.Edit.WorkingPage().Width(), menu.Edit.WorkingPage().Height()));
      continue;
    }
    ASSERT_TRUE(batch.Edit.WorkingCut().has_value());
    EXPECT_EQ(*batch.Edit.WorkingCut(), *menu.Edit.WorkingCut());
  }
}

}  // namespace
}  // namespace pagetrim

// ---- One size for a book ------------------------------------------------------

namespace pagetrim {
namespace {

// The first ink column and row of a written page.
QPoint FirstInk(const PageRaster& page) {
  QPoint first(page.Width(), page.Height());
  for (int y = 0; y < page.Height(); ++y) {
    for (int x = 0; x < page.Width(); ++x) {
      if (page.PixelAt(x, y) != MakeColour(255, 255, 255)) {
        first.setX(std::min(first.x(), x));
        first.setY(std::min(first.y(), y));
      }
    }
  }
  return first;
}

TEST_F(Batches, AutoGivesEachSideOneSizeAndItsTextOnePlaceAndNamesThePageThatDoesNotFit) {
  // Seven pages lying up to 8 pixels apart on the scanner; the fourth holds
  // more than the others, as a plate does. At 300 dpi the border is 12.
  const int shifts[][2] = {{0, 0}, {-8, 5}, {6, -7}, {0, 0}, {-3, 8}, {8, 2}, {-6, -4}};
  std::vector<PageSpec> pages;
  const char* names[] = {"p1.png", "p2.png", "p3.png", "p4.png", "p5.png", "p6.png", "p7.png"};
  for (int i = 0; i < 7; ++i) {
    const int dx = shifts[i][0], dy = shifts[i][1];
    pages.push_back({names[i], 600, 800, {100 + dx, 100 + dy, 100 - dx, 100 - dy}, 300});
  }
  pages[3].Margins = {20, 20, 20, 20};
  Write(pages);
  const std::vector<QByteArray> before = [&] {
    std::vector<QByteArray> bytes;
    for (const char* name : names)
      bytes.push_back(ReadAll(Path(name)));
    return bytes;
  }();

  // A dry run plans every page and writes nothing.
  Open("p1.png");
  BatchOptions dry;
  dry.DryRun = true;
  RunPageBatch(state_, window_, BatchKind::Auto, dry);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(ReadAll(Path(names[i])), before[std::size_t(i)]) << names[i];
  EXPECT_FALSE(QFileInfo::exists(Path(".pagetrim-originals")));
  ASSERT_EQ(window_.Outcomes.size(), 7u);
  const std::vector<PageOutcome> planned = window_.Outcomes;

  window_ = RecordingPageWindow();
  TrimAllToContent(state_, window_);
  ASSERT_EQ(window_.SaveFailureReports, 0);
  ASSERT_EQ(window_.Outcomes.size(), 7u);
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(names[i]);
    PageRaster written;
    LoadPage(Path(names[i]), written);
    const PageOutcome& outcome = window_.Outcomes[std::size_t(i)];
    EXPECT_EQ(outcome.Cut, planned[std::size_t(i)].Cut);
    if (i == 3) {
      EXPECT_EQ(outcome.Own, OwnSizeReason::ContentTooLarge);
      continue;
    }
    EXPECT_EQ(outcome.Own, OwnSizeReason::None);
    EXPECT_EQ(written.Width(), 400 + 24);
    EXPECT_EQ(written.Height(), 600 + 24);
    EXPECT_EQ(FirstInk(written), QPoint(12, 12));
  }
  // The page given its own size is named once the batch is done.
  ASSERT_EQ(window_.PagesToCheck.size(), 1u);
  EXPECT_EQ(window_.PagesToCheck[0].Path, Path("p4.png"));
  EXPECT_EQ(window_.PagesToCheck[0].Own, OwnSizeReason::ContentTooLarge);
  EXPECT_TRUE(PagesToCheckNotice(window_.PagesToCheck)
                  .contains(u"p4.png  600×800 → 584×784（内容が本の大きさに収まりません）"_qs));

  // Each page cut to its own content, as 自動削除 does, where that is chosen.
  for (int i = 0; i < 7; ++i)
    ASSERT_TRUE(RestoreOriginal(Path(names[i])).Ok());
  state_.OneSizePerSide = false;
  window_ = RecordingPageWindow();
  TrimAllToContent(state_, window_);
  PageRaster second;
  LoadPage(Path("p2.png"), second);
  EXPECT_EQ(second.Width(), 400 + 24);
  EXPECT_TRUE(window_.PagesToCheck.empty());
  for (const PageOutcome& outcome : window_.Outcomes)
    EXPECT_EQ(outcome.Own, OwnSizeReason::EachPage);
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// Pages the book's cut leaves on their block grid are written from their
// files' blocks without being decoded again: the same bytes as 自動削除
// writes for that cut, and the views draw the blocks' means.
TEST_F(Batches, AutoCopiesTheBlocksOfPagesCutOnTheirGrid) {
  const char* names[] = {"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"};
  std::vector<PageSpec> pages;
  for (int i = 0; i < 4; ++i)
    pages.push_back({names[i], 640, 880, {101 + i, 99, 97 - i, 103}, 300});
  Write(pages);
  Open("p1.jpg");
  window_.Views = QSize(200, 280);
  TrimAllToContent(state_, window_);
  ASSERT_EQ(window_.Outcomes.size(), 4u);
  ASSERT_EQ(window_.ReducedShows.size(), 4u);
  int copied = 0;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(names[i]);
    const PageOutcome& outcome = window_.Outcomes[std::size_t(i)];
    if (!outcome.Lossless)
      continue;
    ++copied;
    const auto& [left, right] = window_.ReducedShows[std::size_t(i)];
    EXPECT_EQ(left.Step, 8);
    EXPECT_EQ(right.Region, outcome.Cut);
    EXPECT_EQ(left.Pixels.Width(), 80);
    // What the written file holds: the cut of the page as read.
    PageRaster written;
    LoadPage(Path(names[i]), written);
    EXPECT_EQ(written.Width(), outcome.Cut.Width());
    EXPECT_EQ(written.Height(), outcome.Cut.Height());
  }
  EXPECT_GE(copied, 3);
}

}  // namespace
}  // namespace pagetrim
