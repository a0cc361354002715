// The generated books the book-wide trims are tried on: what each page's
// truth says is where the page's content lies in its scan, through the
// placement, and the plain turn behind it keeps every content pixel.
#include "book_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

namespace pagetrim::samples {
namespace {

// Every content pixel of the scan, unmapped to the straight page.
struct Unmapped {
  double X, Y;
};

std::vector<Unmapped> ContentInStraightPage(const BookPage& page) {
  std::vector<Unmapped> points;
  for (int y = 0; y < page.Scan.Height(); ++y) {
    for (int x = 0; x < page.Scan.Width(); ++x) {
      if (page.IsContent(x, y)) {
        Unmapped p{};
        page.Truth.Place.Unmap(x + 0.5, y + 0.5, p.X, p.Y);
        points.push_back(p);
      }
    }
  }
  return points;
}

bool Within(const Unmapped& p, const Rect& r, double slack) {
  return p.X >= r.Left - slack && p.X <= r.Right + slack && p.Y >= r.Top - slack &&
         p.Y <= r.Bottom + slack;
}

// The points lie inside box, and when tight reach each of its sides, give
// or take the pixel and a half that turning a pixel's centre moves it.
void ExpectWithin(const std::vector<Unmapped>& points, const Rect& box, bool tight = true) {
  ASSERT_FALSE(points.empty());
  double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
  for (const Unmapped& p : points) {
    ASSERT_TRUE(Within(p, box, 1.5)) << p.X << ", " << p.Y;
    left = std::min(left, p.X);
    top = std::min(top, p.Y);
    right = std::max(right, p.X);
    bottom = std::max(bottom, p.Y);
  }
  if (!tight)
    return;
  EXPECT_NEAR(left, box.Left, 1.5);
  EXPECT_NEAR(top, box.Top, 1.5);
  EXPECT_NEAR(right, box.Right, 1.5);
  EXPECT_NEAR(bottom, box.Bottom, 1.5);
}

// The mean gray of the scan's columns from x0 and rows from y0 on.
double MeanGrayBeyond(const BookPage& page, int x0, int y0, long long* content) {
  double sum = 0;
  long long n = 0;
  for (int y = 0; y < page.Scan.Height(); ++y) {
    for (int x = 0; x < page.Scan.Width(); ++x) {
      if (x < x0 && y < y0)
        continue;
      const ColourValue c = page.Scan.PixelAt(x, y);
      sum += ((c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF)) / 3.0;
      ++n;
      *content += page.IsContent(x, y);
    }
  }
  return n == 0 ? 0 : sum / double(n);
}

TEST(PlaceTurned, CopiesAStraightPageAtAWholePixelAsItIs) {
  std::mt19937 rng(5);
  PageRaster straight(40, 30);
  std::vector<std::uint8_t> content(40 * 30);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 3 * 40; ++x)
      straight.Row(y)[x] = std::uint8_t(rng());
  }
  for (std::uint8_t& c : content)
    c = rng() % 3 == 0;
  PageRaster scan(60, 50);
  std::vector<std::uint8_t> scanContent(60 * 50, 0);
  PlaceTurned(straight, content, {5, 7, 0}, scan, scanContent);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 60; ++x) {
      const bool inside = x >= 5 && x < 45 && y >= 7 && y < 37;
      ASSERT_EQ(scan.PixelAt(x, y), inside ? straight.PixelAt(x - 5, y - 7) : 0xFFFFFF);
      ASSERT_EQ(scanContent[std::size_t(y) * 60 + x],
                inside ? content[std::size_t(y - 7) * 40 + x - 5] : 0);
    }
  }
}

TEST(PlaceTurned, KeepsEveryContentPixelAndMakesNoneAtTurns) {
  // Single pixels are the worst case: a turn spreads each over four.
  std::mt19937 rng(11);
  PageRaster straight(200, 150);
  std::vector<std::uint8_t> content(200 * 150, 0);
  std::vector<std::pair<int, int>> ink;
  for (int i = 0; i < 400; ++i) {
    const int x = int(rng() % 200), y = int(rng() % 150);
    content[std::size_t(y) * 200 + x] = 1;
    std::fill_n(straight.Row(y) + 3 * x, 3, 0);
    ink.emplace_back(x, y);
  }
  for (const Placement place : {Placement{20.25, 31.5, 1}, Placement{17.7, 40.1, -1},
                                Placement{25.5, 28.5, 0.37}, Placement{12.9, 33.3, -0.61}}) {
    SCOPED_TRACE(place.Turn);
    PageRaster scan(260, 230);
    std::vector<std::uint8_t> scanContent(260 * 230, 0);
    PlaceTurned(straight, content, place, scan, scanContent);
    for (const auto& [x, y] : ink) {
      double sx = 0, sy = 0;
      place.Map(x + 0.5, y + 0.5, sx, sy);
      bool shown = false;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx)
          shown = shown || scanContent[std::size_t(int(sy) + dy) * 260 + int(sx) + dx] != 0;
      }
      EXPECT_TRUE(shown) << x << ", " << y;
    }
    for (int y = 0; y < 230; ++y) {
      for (int x = 0; x < 260; ++x) {
        if (scanContent[std::size_t(y) * 260 + x] == 0)
          continue;
        double px = 0, py = 0;
        place.Unmap(x + 0.5, y + 0.5, px, py);
        bool near = false;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const int i = int(std::floor(px - 0.5)) + dx + 1,
                      j = int(std::floor(py - 0.5)) + dy + 1;
            near = near || (i >= 0 && j >= 0 && i < 200 && j < 150 &&
                            content[std::size_t(j) * 200 + std::size_t(i)] != 0);
          }
        }
        ASSERT_TRUE(near) << x << ", " << y;
        ASSERT_LT(scan.PixelAt(x, y) & 0xFF, 0xFF);  // and it shows ink
      }
    }
  }
}

TEST(BookGenerator, TheTruthHoldsForThePagesAsDrawn) {
  BookOptions o;
  o.Dpi = 100;
  o.Seed = 3;
  o.Pages = 14;
  const std::vector<BookPageKind> plan = BookPlan(o.Pages);
  ASSERT_EQ(plan.size(), 14u);
  std::vector<BookPage> pages;
  for (int i = 0; i < o.Pages; ++i)
    pages.push_back(MakeBookPage(o, i));
  const BookPageTruth* full = nullptr;
  for (const BookPage& page : pages) {
    if (page.Truth.Kind == BookPageKind::Full)
      full = &page.Truth;
  }
  ASSERT_NE(full, nullptr);
  int onBed = 0;
  std::set<BookPageKind> kinds;

  for (int i = 0; i < o.Pages; ++i) {
    const BookPage& page = pages[std::size_t(i)];
    const BookPageTruth& t = page.Truth;
    SCOPED_TRACE(t.Name + " " + BookPageKindName(t.Kind));
    kinds.insert(t.Kind);
    char name[16];
    std::snprintf(name, sizeof name, "p%03d.jpg", i + 1);
    EXPECT_EQ(t.Name, name);
    EXPECT_EQ(t.Kind, plan[std::size_t(i)]);
    EXPECT_EQ(t.Side, i % 2 == 0 ? BookSide::Recto : BookSide::Verso);
    ASSERT_EQ(page.Scan.Width(), t.Width);
    ASSERT_EQ(page.Scan.Height(), t.Height);
    EXPECT_LE(std::abs(t.Place.Turn), 1.0);

    const std::vector<Unmapped> content = ContentInStraightPage(page);
    if (t.Kind == BookPageKind::Blank) {
      EXPECT_TRUE(content.empty());
      EXPECT_EQ(t.ScanContent, Rect{});
      EXPECT_EQ(t.Content, Rect{});
      continue;
    }
    // The cover shows only a part of itself.
    ExpectWithin(content, t.Content, t.Kind != BookPageKind::Cover);
    for (int y = 0; y < t.Height; ++y) {
      for (int x = 0; x < t.Width; ++x) {
        const bool inside = x >= t.ScanContent.Left && x < t.ScanContent.Right &&
                            y >= t.ScanContent.Top && y < t.ScanContent.Bottom;
        ASSERT_TRUE(inside || !page.IsContent(x, y)) << x << ", " << y;
      }
    }

    if (t.TextBlock.Width() > 0) {
      std::vector<Unmapped> text, outside;
      for (const Unmapped& p : content)
        (Within(p, t.TextBlock, 1.5) ? text : outside).push_back(p);
      ExpectWithin(text, t.TextBlock);
      // The text block's first line starts with an ascender in its corner.
      EXPECT_TRUE(std::any_of(text.begin(), text.end(), [&](const Unmapped& p) {
        return std::hypot(p.X - t.TextBlock.Left, p.Y - t.TextBlock.Top) < 2.5;
      }));
      if (t.Kind == BookPageKind::Full || t.Kind == BookPageKind::ChapterEnd) {
        // The running head above the text, its page number at the outer
        // side: the right of a recto, the left of a verso.
        double left = 1e9, right = -1e9;
        for (const Unmapped& p : outside) {
          ASSERT_LT(p.Y, t.TextBlock.Top);
          left = std::min(left, p.X);
          right = std::max(right, p.X);
        }
        const double inner = t.TextBlock.Width() * 0.2;
        if (t.Side == BookSide::Recto) {
          EXPECT_NEAR(right, t.TextBlock.Right, 1.5);
          EXPECT_GT(left, t.TextBlock.Left + inner);
        } else {
          EXPECT_NEAR(left, t.TextBlock.Left, 1.5);
          EXPECT_LT(right, t.TextBlock.Right - inner);
        }
      }
    }
    switch (t.Kind) {
      case BookPageKind::Cover:
        EXPECT_EQ(t.ScanContent, (Rect{0, 0, t.Width, t.Height}));  // content to its edges
        for (const BookPage& other : pages) {
          if (&other == &page)
            continue;
          EXPECT_GT(t.PageWidth, other.Truth.PageWidth);
          EXPECT_GT(t.PageHeight, other.Truth.PageHeight);
          if (!other.Truth.OnBed) {
            EXPECT_GT(t.Width, other.Truth.Width);
            EXPECT_GT(t.Height, other.Truth.Height);
          }
        }
        break;
      case BookPageKind::Plate:
        EXPECT_EQ(t.TextBlock, Rect{});
        EXPECT_GT(t.Content.Width(), full->TextBlock.Width());
        EXPECT_GT(t.Content.Height(), full->TextBlock.Height());
        break;
      case BookPageKind::ChapterOpening:
        EXPECT_GT(t.TextBlock.Top, full->TextBlock.Top + t.PageHeight / 5);
        break;
      case BookPageKind::ChapterEnd:
        EXPECT_LT(t.TextBlock.Height(), full->TextBlock.Height() / 2);
        break;
      default:
        break;
    }

    // Beyond the page: a dark bed taking a tenth of the scan or more below
    // and beside it, or the light lid; neither is content.
    double pageRight = 0, pageBottom = 0;
    for (const auto& [x, y] :
         {std::pair{0, 0}, {t.PageWidth, 0}, {0, t.PageHeight}, {t.PageWidth, t.PageHeight}}) {
      double sx = 0, sy = 0;
      t.Place.Map(x, y, sx, sy);
      pageRight = std::max(pageRight, sx);
      pageBottom = std::max(pageBottom, sy);
    }
    long long groundContent = 0;
    const int x0 = int(std::ceil(pageRight)) + 1, y0 = int(std::ceil(pageBottom)) + 1;
    if (t.OnBed) {
      ++onBed;
      EXPECT_GE(t.Width - x0, t.Width / 10);
      EXPECT_GE(t.Height - y0, t.Height / 10);
      EXPECT_LT(MeanGrayBeyond(page, x0, y0, &groundContent), 80);
    } else if (t.Kind != BookPageKind::Cover) {
      EXPECT_GT(MeanGrayBeyond(page, x0, y0, &groundContent), 200);
    }
    EXPECT_EQ(groundContent, 0);
  }
  EXPECT_EQ(kinds.size(), 6u);
  EXPECT_GE(onBed, 1);
}

TEST(BookGenerator, TheSameSeedGivesTheSameBytes) {
  BookOptions o;
  o.Dpi = 80;
  o.Seed = 9;
  o.Pages = 12;
  for (int index : {0, 5}) {
    const BookPage a = MakeBookPage(o, index), b = MakeBookPage(o, index);
    ASSERT_EQ(a.Scan.Width(), b.Scan.Width());
    ASSERT_EQ(a.Scan.Height(), b.Scan.Height());
    for (int y = 0; y < a.Scan.Height(); ++y)
      ASSERT_TRUE(std::equal(a.Scan.Row(y), a.Scan.Row(y) + a.Scan.RowBytes(), b.Scan.Row(y)));
    EXPECT_EQ(a.Content, b.Content);
    EXPECT_EQ(a.Truth.Place.OriginX, b.Truth.Place.OriginX);
    o.Seed = 10;
    const BookPage c = MakeBookPage(o, index);
    o.Seed = 9;
    bool differs = c.Scan.Width() != a.Scan.Width() || c.Scan.Height() != a.Scan.Height();
    for (int y = 0; y < a.Scan.Height() && !differs; ++y)
      differs = !std::equal(a.Scan.Row(y), a.Scan.Row(y) + a.Scan.RowBytes(), c.Scan.Row(y));
    EXPECT_TRUE(differs);
  }
}

TEST(BookGenerator, ABitonalBookShowsContentInBlackOnly) {
  BookOptions o;
  o.Dpi = 150;  // strokes of 2 px, which a turn leaves black
  o.Kind = PageKind::Bitonal;
  o.Pages = 14;
  const std::vector<BookPageKind> plan = BookPlan(o.Pages);
  for (BookPageKind kind : {BookPageKind::Cover, BookPageKind::Plate, BookPageKind::Full}) {
    const int index = int(std::find(plan.begin(), plan.end(), kind) - plan.begin());
    const BookPage page = MakeBookPage(o, index);
    SCOPED_TRACE(page.Truth.Name);
    EXPECT_EQ(page.Truth.Name.substr(5), "png");
    ASSERT_EQ(page.Scan.Format(), PixelFormat::Gray8);
    long long white = 0;
    for (int y = 0; y < page.Scan.Height(); ++y) {
      for (int x = 0; x < page.Scan.Width(); ++x) {
        const std::uint8_t v = page.Scan.Row(y)[x];
        ASSERT_TRUE(v == 0 || v == 255);
        ASSERT_TRUE(v == 0 || !page.IsContent(x, y));
        white += v == 255;
      }
    }
    EXPECT_GT(white, 0);
    ExpectWithin(ContentInStraightPage(page), page.Truth.Content, kind != BookPageKind::Cover);
  }
}

}  // namespace
}  // namespace pagetrim::samples
