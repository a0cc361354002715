// Turning pages straight: 傾き補正 on the page shown, 全頁傾き補正 over the
// folder, and 全頁自動削除 turning each page before it finds its content; pages
// whose turn cannot be told are left as they are, and named.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "batch_commands.h"
#include "book_generator.h"
#include "page_skew.h"
#include "realistic_page.h"
#include "recording_page_window.h"
#include "sample_pages.h"
#include "support/reference_turn.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

// A page of text turned by degrees on the scanner, as a scanner's frame
// holds it: its own size, the corners white.
PageRaster TurnedTextPage(double degrees, bool blank = false) {
  samples::RealisticPageOptions o;
  o.Width = 700;
  o.Height = 900;
  if (blank)
    o.MarginTop = o.Height;
  const samples::RealisticPage page = samples::MakeRealisticPage(o);
  const std::uint8_t white[3] = {255, 255, 255};
  return test::ReferenceTurn(page.Page, degrees, white, false).Page;
}

double SkewLeft(const PageRaster& page) {
  const SkewFinding found = FindSkew(page, 150);
  EXPECT_TRUE(found.Sure);
  return found.Degrees;
}

TEST(Straighten, TheShownPageIsTurnedStraightAndAPageOfNoTurnOrAnUnsureOneIsLeft) {
  for (const double degrees : {1.5, -2.5}) {
    SCOPED_TRACE(degrees);
    EditState state;
    RecordingPageWindow window;
    const PageRaster page = TurnedTextPage(degrees);
    state.Edit = PageEdit(page, page, {}, {150, 150});
    StraightenPage(state, window);
    EXPECT_TRUE(window.Notices.isEmpty());
    EXPECT_EQ(window.RightShows, 1);
    EXPECT_FALSE(state.Edit.WorkingCut().has_value());
    // The canvas grows to hold the turned page, and its analysis image is
    // made anew, of its size.
    EXPECT_GT(state.Edit.WorkingPage().Width(), page.Width());
    EXPECT_EQ(state.Edit.AnalysisPage().Width(), state.Edit.WorkingPage().Width());
    EXPECT_LT(std::abs(SkewLeft(state.Edit.WorkingPage())), 0.15);
  }
  const struct {
    const char* Name;
    PageRaster Page;
    QString Notice;
  } left[] = {
      {"straight", TurnedTextPage(0), u"この頁は傾いていません"_qs},
      {"blank", TurnedTextPage(1.5, true),
       u"傾きを確かめられないため、補正しませんでした（内容がありません）"_qs},
  };
  for (const auto& c : left) {
    SCOPED_TRACE(c.Name);
    EditState state;
    RecordingPageWindow window;
    state.Edit = PageEdit(c.Page, c.Page, {}, {150, 150});
    StraightenPage(state, window);
    EXPECT_EQ(window.Notices, QStringList{c.Notice});
    EXPECT_EQ(window.RightShows, 0);
    EXPECT_TRUE(state.Edit.WorkingCut().has_value());
  }
}

class StraightenBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("p1.png", TurnedTextPage(1.5));
    Write("p2.png", TurnedTextPage(-2));
    Write("p3.png", TurnedTextPage(0.8, true));
    ASSERT_TRUE(OpenPageSet(state_, window_, Path("p1.png")));
  }
  void Write(const char* name, const PageRaster& page) {
    ASSERT_TRUE(WriteSamplePage(Path(name), page, 150));
  }
  QString Path(const char* name) const { return dir_.path() + "/" + name; }
  PageRaster Read(const char* name) const {
    PageRaster page;
    LoadPage(Path(name), page);
    return page;
  }

  QTemporaryDir dir_;
  EditState state_;
  RecordingPageWindow window_;
};

TEST_F(StraightenBatch, EveryPageIsTurnedStraightAndThoseUnsureAreNamed) {
  const PageRaster blank = Read("p3.png");
  // The dry run says what it would do, and writes nothing.
  BatchOptions dry;
  dry.DryRun = true;
  RunPageBatch(state_, window_, BatchKind::Deskew, dry);
  ASSERT_EQ(window_.Outcomes.size(), 3u);
  EXPECT_NEAR(*window_.Outcomes[0].Skew, 1.5, 0.1);
  EXPECT_NEAR(*window_.Outcomes[1].Skew, -2.0, 0.1);
  EXPECT_FALSE(window_.Outcomes[2].Skew.has_value());
  EXPECT_EQ(window_.Outcomes[2].Doubt, SkewDoubt::Blank);
  EXPECT_EQ(Read("p1.png").Width(), 700);

  window_ = RecordingPageWindow();
  StraightenAllPages(state_, window_);
  ASSERT_EQ(window_.SaveFailureReports, 0);
  for (const char* name : {"p1.png", "p2.png"}) {
    SCOPED_TRACE(name);
    const PageRaster straight = Read(name);
    EXPECT_GT(straight.Width(), 700);
    EXPECT_LT(std::abs(SkewLeft(straight)), 0.15);
  }
  // The blank page is written as it was, and named after the batch.
  const PageRaster unchanged = Read("p3.png");
  ASSERT_EQ(unchanged.Width(), blank.Width());
  for (int y = 0; y < blank.Height(); y += 7)
    ASSERT_EQ(unchanged.PixelAt(350, y), blank.PixelAt(350, y));
  ASSERT_EQ(window_.PagesToCheck.size(), 1u);
  EXPECT_EQ(window_.PagesToCheck[0].Path, Path("p3.png"));
  EXPECT_EQ(window_.PagesToCheck[0].Unsure, SkewDoubt::Blank);
  EXPECT_TRUE(
      PagesToCheckNotice(window_.PagesToCheck)
          .contains(
              u"次の頁は傾きを確かめられないため、回していません。\n\np3.png（内容がありません）"_qs));
}

TEST_F(StraightenBatch, AutoTurnsEachPageBeforeFindingItsContentUnlessSwitchedOff) {
  TrimAllToContent(state_, window_);
  ASSERT_EQ(window_.Outcomes.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    const PageOutcome& page = window_.Outcomes[std::size_t(i)];
    EXPECT_TRUE(page.LookedForTurn);
    EXPECT_TRUE(page.Turned);
    EXPECT_GT(page.TurnedSize.width(), 700);
    // The cut is in the turned page's pixels, and is what was written.
    const PageRaster written = Read(i == 0 ? "p1.png" : "p2.png");
    EXPECT_EQ(written.Width(), page.Cut.Width());
    EXPECT_EQ(written.Height(), page.Cut.Height());
    EXPECT_LT(std::abs(SkewLeft(written)), 0.15);
  }
  EXPECT_FALSE(window_.Outcomes[2].Turned);

  for (const char* name : {"p1.png", "p2.png", "p3.png"})
    ASSERT_TRUE(RestoreOriginal(Path(name)).Ok());
  state_.TurnPagesStraight = false;
  window_ = RecordingPageWindow();
  TrimAllToContent(state_, window_);
  for (const PageOutcome& page : window_.Outcomes) {
    EXPECT_FALSE(page.LookedForTurn);
    EXPECT_FALSE(page.Turned);
  }
}

// A cover scanned turned, its picture running off every edge of the scan:
// the content box of the page as read holds all of it, so the turned page
// keeps every pixel of its canvas, alone and as a page of a book.
TEST(StraightenCover, ATurnedPictureToTheEdgesKeepsTheWholeTurnedPage) {
  samples::BookOptions book;
  book.Dpi = 150;
  const samples::BookPage cover = samples::MakeBookPage(book, 0);
  ASSERT_GT(std::abs(cover.Truth.Place.Turn), 0.3);
  for (const bool oneSize : {false, true}) {
    SCOPED_TRACE(oneSize ? "a book" : "each page");
    QTemporaryDir dir;
    const QString path = dir.path() + "/p001.png";
    ASSERT_TRUE(WriteSamplePage(path, cover.Scan, 150));
    EditState state;
    RecordingPageWindow window;
    ASSERT_TRUE(OpenPageSet(state, window, path));
    state.OneSizePerSide = oneSize;
    TrimAllToContent(state, window);
    ASSERT_EQ(window.Outcomes.size(), 1u);
    const PageOutcome& page = window.Outcomes[0];
    ASSERT_TRUE(page.Turned);
    // A book's page of its own size may reach past the canvas, onto paper.
    EXPECT_TRUE(page.Cut.Left <= 0 && page.Cut.Top <= 0 &&
                page.Cut.Right >= page.TurnedSize.width() &&
                page.Cut.Bottom >= page.TurnedSize.height());
  }
}

}  // namespace
}  // namespace pagetrim
