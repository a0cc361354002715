// Turning a page: where its points land, that the canvas holds all of it, that
// no ink is lost or moved, that paper stays paper, and that the turn agrees
// with a plainly written rotation of the same page.
#include "page_turn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "realistic_page.h"
#include "support/reference_turn.h"

namespace pagetrim {
namespace {

using samples::MakeRealisticPage;
using samples::PageKind;
using samples::RealisticPage;
using samples::RealisticPageOptions;

std::string KindName(PageKind kind) {
  return kind == PageKind::Colour ? "colour" : kind == PageKind::Gray ? "gray" : "1-bit";
}

// Gray of a pixel as the analysis sees it.
int GrayAt(const PageRaster& page, int x, int y) {
  const std::uint8_t* p = page.Row(y) + x * page.BytesPerPixel();
  return page.Format() == PixelFormat::Gray8 ? p[0] : (p[0] + p[1] + p[2]) / 3;
}

TEST(PageTurn, PointsLandWhereATurnAboutTheCentrePutsThem) {
  for (const double degrees : {-7.0, -1.5, 0.3, 4.0, 30.0}) {
    SCOPED_TRACE(degrees);
    const int w = 850, h = 1100;
    const PageTurn turn(w, h, degrees);
    const double a = degrees * std::numbers::pi / 180.0;
    // The canvas holds the turned page's bounding box, centred.
    const double boundW = w * std::abs(std::cos(a)) + h * std::abs(std::sin(a));
    const double boundH = w * std::abs(std::sin(a)) + h * std::abs(std::cos(a));
    EXPECT_GE(turn.Width(), boundW);
    EXPECT_GE(turn.Height(), boundH);
    EXPECT_LE(turn.Width(), boundW + 4);
    EXPECT_LE(turn.Height(), boundH + 4);
    // Its centre is the page's centre, on the same point of a pixel.
    EXPECT_EQ((turn.Width() - w) % 2, 0);
    EXPECT_EQ((turn.Height() - h) % 2, 0);
    const PagePoint centre = turn.ToTurned({w / 2.0, h / 2.0});
    EXPECT_NEAR(centre.X, turn.Width() / 2.0, 1e-9);
    EXPECT_NEAR(centre.Y, turn.Height() / 2.0, 1e-9);
    // The page's right edge goes up (counter-clockwise on the screen) for a
    // positive angle, by the angle; and back again.
    const PagePoint right = turn.ToTurned({w / 2.0 + 100, h / 2.0});
    EXPECT_NEAR(right.X - centre.X, 100 * std::cos(a), 1e-9);
    EXPECT_NEAR(right.Y - centre.Y, -100 * std::sin(a), 1e-9);
    for (const PagePoint p : {PagePoint{0, 0}, PagePoint{850, 0}, PagePoint{12.5, 1099.5}}) {
      const PagePoint q = turn.ToTurned(p);
      EXPECT_GE(q.X, 0);
      EXPECT_GE(q.Y, 0);
      EXPECT_LE(q.X, turn.Width());
      EXPECT_LE(q.Y, turn.Height());
      const PagePoint back = turn.ToPage(q);
      EXPECT_NEAR(back.X, p.X, 1e-9);
      EXPECT_NEAR(back.Y, p.Y, 1e-9);
    }
    // A box's turned box holds every turned corner of it.
    const Rect box{100, 200, 300, 700};
    const Rect turned = turn.TurnedBox(box);
    for (const PagePoint p :
         {PagePoint{100, 200}, PagePoint{300, 200}, PagePoint{100, 700}, PagePoint{300, 700}}) {
      const PagePoint q = turn.ToTurned(p);
      EXPECT_GE(q.X, turned.Left - 1e-9);
      EXPECT_LE(q.X, turned.Right + 1e-9);
      EXPECT_GE(q.Y, turned.Top - 1e-9);
      EXPECT_LE(q.Y, turned.Bottom + 1e-9);
    }
  }
  // No turn, no change.
  const PageTurn none(850, 1100, 0);
  EXPECT_EQ(none.Width(), 850);
  EXPECT_EQ(none.Height(), 1100);
  EXPECT_EQ(none.TurnedBox(Rect{3, 4, 50, 60}), (Rect{3, 4, 50, 60}));
}

TEST(PageTurn, ATurnByNothingIsThePageItself) {
  RealisticPageOptions options;
  options.Width = 200;
  options.Height = 260;
  options.MarginLeft = options.MarginRight = options.MarginTop = options.MarginBottom = 20;
  const RealisticPage page = MakeRealisticPage(options);
  int reported = 0;
  TurnOptions turnOptions;
  turnOptions.RowsTurned = [&](const PageRaster&, int first, int count) {
    EXPECT_EQ(first, reported);
    reported += count;
  };
  const PageRaster same = TurnPage(page.Page, 0.0, turnOptions);
  EXPECT_TRUE(same.SharesPixelsWith(page.Page));
  EXPECT_EQ(reported, page.Page.Height());
}

TEST(PageTurn, FlatPaperStaysExactlyFlat) {
  // The weights of every tap sum to one: paper that is flat stays the same
  // value to the last bit, and what the turn brings in is the fill.
  for (const PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    PageRaster page(301, 205, format);
    for (int y = 0; y < page.Height(); ++y) {
      std::uint8_t* row = page.Row(y);
      for (std::size_t i = 0; i < page.RowBytes(); ++i)
        row[i] = std::uint8_t(format == PixelFormat::Gray8 ? 200 : 150 + i % 3 * 40);
    }
    TurnOptions options;
    options.Fill = MakeColour(10, 20, 30);
    const double degrees = 3.3;
    const PageRaster turned = TurnPage(page, degrees, options);
    const PageTurn turn(page.Width(), page.Height(), degrees);
    ASSERT_EQ(turned.Width(), turn.Width());
    ASSERT_EQ(turned.Height(), turn.Height());
    EXPECT_EQ(turned.Format(), format);
    long inside = 0;
    for (int y = 0; y < turned.Height(); ++y) {
      for (int x = 0; x < turned.Width(); ++x) {
        const PagePoint p = turn.ToPage({x + 0.5, y + 0.5});
        const std::uint8_t* got = turned.Row(y) + x * turned.BytesPerPixel();
        // Three pixels in from the page's edge, the taps read only paper.
        if (p.X > 3 && p.Y > 3 && p.X < page.Width() - 3 && p.Y < page.Height() - 3) {
          ++inside;
          if (format == PixelFormat::Gray8) {
            ASSERT_EQ(got[0], 200) << x << "," << y;
          } else {
            ASSERT_EQ(got[0], 150) << x << "," << y;
            ASSERT_EQ(got[1], 190) << x << "," << y;
            ASSERT_EQ(got[2], 230) << x << "," << y;
          }
        }
        // Three pixels out, only fill.
        if (p.X < -3 || p.Y < -3 || p.X > page.Width() + 3 || p.Y > page.Height() + 3) {
          if (format == PixelFormat::Gray8) {
            ASSERT_EQ(got[0], 20);  // the gray of the fill
          } else {
            ASSERT_EQ(got[0], 30);
            ASSERT_EQ(got[1], 20);
            ASSERT_EQ(got[2], 10);
          }
        }
      }
    }
    EXPECT_GT(inside, 50000);
  }
}

// Every content pixel of a generated page lands inside the turned canvas, on
// ink of the turned page; and the turned page's ink comes from ink of the page.
// Pages keep their format, and 1-bit pages stay 1-bit.
TEST(PageTurn, NoInkIsLostAndInkLiesWhereTheMappingSays) {
  for (const PageKind kind : {PageKind::Colour, PageKind::Gray, PageKind::Bitonal}) {
    for (const double degrees : {-4.3, 0.7, 6.8}) {
      SCOPED_TRACE(KindName(kind) + " by " + std::to_string(degrees));
      RealisticPageOptions options;
      options.Kind = kind;
      options.Width = 600;
      options.Height = 780;
      // Content right to the page's edges, where a turn must not cut it.
      options.MarginLeft = options.MarginRight = options.MarginTop = options.MarginBottom = 0;
      options.HorizontalRule = 2;
      options.HorizontalRuleAt = 0;
      options.VerticalRule = 1;
      options.VerticalRuleAt = 599;
      const RealisticPage page = MakeRealisticPage(options);
      ASSERT_GT(page.ContentBox.Width(), 0);
      const PageTurn turn(page.Page.Width(), page.Page.Height(), degrees);
      const PageRaster turned = TurnPage(page.Page, degrees);
      ASSERT_EQ(turned.Width(), turn.Width());
      ASSERT_EQ(turned.Height(), turn.Height());
      EXPECT_EQ(turned.Format(), page.Page.Format());
      if (kind == PageKind::Bitonal)
        EXPECT_TRUE(test::IsBitonalPage(turned));
      else
        EXPECT_FALSE(test::IsBitonalPage(turned));
      // A stroke of the page is at least 1 px wide, so its pixel centres land
      // within a pixel of the turned page's ink.
      long content = 0, missed = 0;
      for (int y = 0; y < page.Page.Height(); ++y) {
        for (int x = 0; x < page.Page.Width(); ++x) {
          if (!page.IsContent(x, y))
            continue;
          ++content;
          const PagePoint q = turn.ToTurned({x + 0.5, y + 0.5});
          ASSERT_TRUE(q.X >= 0 && q.Y >= 0 && q.X < turned.Width() && q.Y < turned.Height());
          const int qx = int(q.X), qy = int(q.Y);
          int darkest = 255;
          for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
              const int tx = qx + dx, ty = qy + dy;
              if (tx >= 0 && ty >= 0 && tx < turned.Width() && ty < turned.Height())
                darkest = std::min(darkest, GrayAt(turned, tx, ty));
            }
          }
          missed += darkest > 128;
        }
      }
      EXPECT_GT(content, 10000);
      EXPECT_EQ(missed, 0) << "of " << content << " content pixels";
      // And the turned page's ink maps back onto ink of the page.
      long ink = 0, stray = 0;
      for (int y = 0; y < turned.Height(); ++y) {
        for (int x = 0; x < turned.Width(); ++x) {
          if (GrayAt(turned, x, y) >= 100)
            continue;
          ++ink;
          const PagePoint p = turn.ToPage({x + 0.5, y + 0.5});
          const int px = int(std::floor(p.X)), py = int(std::floor(p.Y));
          bool near = false;
          for (int dy = -1; dy <= 1 && !near; ++dy) {
            for (int dx = -1; dx <= 1 && !near; ++dx) {
              const int sx = px + dx, sy = py + dy;
              near = sx >= 0 && sy >= 0 && sx < page.Page.Width() && sy < page.Page.Height() &&
                     GrayAt(page.Page, sx, sy) < 128;
            }
          }
          stray += !near;
        }
      }
      EXPECT_GT(ink, 10000);
      EXPECT_EQ(stray, 0) << "of " << ink << " ink pixels";
    }
  }
}

// The turn and a plainly written rotation (3 x 3 points per pixel, each read
// bilinearly) put the page in the same place: the two differ least with no
// shift between them, and alike a pixel either way, which a turn off by half a
// pixel, about another point or the other way round would not. (Their
// interpolations differ: supersampling blurs a 2-pixel stroke, a cubic does not.)
TEST(PageTurn, PutsThePageWhereAPlainRotationDoes) {
  for (const PageKind kind : {PageKind::Colour, PageKind::Gray}) {
    for (const double degrees : {-2.2, 5.1}) {
      SCOPED_TRACE(KindName(kind) + " by " + std::to_string(degrees));
      RealisticPageOptions options;
      options.Kind = kind;
      options.Width = 420;
      options.Height = 540;
      options.MarginLeft = options.MarginRight = options.MarginTop = options.MarginBottom = 40;
      options.Yellowed = true;
      const RealisticPage page = MakeRealisticPage(options);
      const std::uint8_t fill[3] = {190, 228, 240};
      TurnOptions turnOptions;
      turnOptions.Fill = MakeColour(240, 228, 190);
      const PageRaster turned = TurnPage(page.Page, degrees, turnOptions);
      const test::ReferenceTurned plain =
          test::ReferenceTurn(page.Page, degrees, turned.Width(), turned.Height(), fill, false);
      // Mean difference with the plain rotation moved by (dx, dy).
      auto differenceAt = [&](int dx, int dy) {
        double total = 0;
        long n = 0;
        for (int y = 2; y < turned.Height() - 2; ++y) {
          for (int x = 2; x < turned.Width() - 2; ++x) {
            total += std::abs(GrayAt(turned, x, y) - GrayAt(plain.Page, x + dx, y + dy));
            ++n;
          }
        }
        return total / double(n);
      };
      const double same = differenceAt(0, 0);
      EXPECT_LT(same, 6.0);
      const double left = differenceAt(-1, 0), right = differenceAt(1, 0);
      const double up = differenceAt(0, -1), down = differenceAt(0, 1);
      for (const double shifted : {left, right, up, down})
        EXPECT_GT(shifted, 2 * same);
      EXPECT_NEAR(left, right, 0.05 * left);
      EXPECT_NEAR(up, down, 0.05 * up);
    }
  }
}

TEST(PageTurn, HandsOnItsRowsInOrderForAReductionOfTheTurnedPage) {
  RealisticPageOptions options;
  options.Width = 300;
  options.Height = 390;
  options.MarginLeft = options.MarginRight = options.MarginTop = options.MarginBottom = 30;
  const RealisticPage page = MakeRealisticPage(options);
  PageReduction alongTheWay;
  int reported = 0;
  TurnOptions turnOptions;
  turnOptions.RowsTurned = [&](const PageRaster& turned, int first, int count) {
    EXPECT_EQ(first, reported);
    alongTheWay.AddRows(turned, first, count);
    reported += count;
  };
  const PageRaster turned = TurnPage(page.Page, -3.7, turnOptions);
  EXPECT_EQ(reported, turned.Height());
  ASSERT_TRUE(alongTheWay.Covers(turned));
  PageReduction afterwards;
  afterwards.AddRows(turned, 0, turned.Height());
  EXPECT_EQ(alongTheWay.Darkest(), afterwards.Darkest());
  EXPECT_EQ(alongTheWay.Mean(), afterwards.Mean());
}

TEST(PageTurn, PaperColourIsThePagesOwn) {
  RealisticPageOptions options;
  options.Yellowed = true;  // paper of blue 190, green 228, red 240
  options.Width = 400;
  options.Height = 520;
  options.MarginLeft = options.MarginRight = options.MarginTop = options.MarginBottom = 40;
  options.DarkEdge = {30, 0, 0, 0};
  const RealisticPage page = MakeRealisticPage(options);
  PageReduction reduction;
  reduction.AddRows(page.Page, 0, page.Page.Height());
  const ColourValue paper = PaperColour(reduction);
  EXPECT_NEAR(paper & 0xFF, 240, 3);
  EXPECT_NEAR((paper >> 8) & 0xFF, 228, 3);
  EXPECT_NEAR((paper >> 16) & 0xFF, 190, 3);
  EXPECT_EQ(PaperColour(PageReduction()), MakeColour(255, 255, 255));
}

TEST(PageTurn, RefusesATurnPastAQuarterTurnsHalf) {
  const PageRaster page(40, 50);
  EXPECT_THROW(TurnPage(page, 46.0), std::invalid_argument);
  EXPECT_THROW(TurnPage(page, -90.0), std::invalid_argument);
  EXPECT_THROW(TurnPage(page, std::nan("")), std::invalid_argument);
  EXPECT_EQ(TurnPage(page, 45.0).Width(), PageTurn(40, 50, 45.0).Width());
}

}  // namespace
}  // namespace pagetrim
