// The margin scans against a plain reference that reads every pixel with
// PixelAt, one line at a time, in the order the walks fix.
#include "margin_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "support/margin_reference.h"

namespace pagetrim {
namespace {

using namespace test;

PageRaster Filled(int width, int height, ColourValue colour) {
  PageRaster page(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      Put(page, x, y, colour);
  }
  return page;
}

constexpr ColourValue White = 0xFFFFFF;
constexpr ColourValue Black = 0;

// A page with a body of text-like ink inside random margins, thin lines of
// ink in the margins (vertical and horizontal, often narrower than a stride)
// and specks that differ from the background in one channel only, or in
// every channel on a page of gray pixels only.
PageRaster RandomPage(std::mt19937& rng, int width, int height, ColourValue background,
                      bool grayOnly = false) {
  const auto gray = [grayOnly](ColourValue colour) {
    return grayOnly ? ColourValue((colour & 0xFF) * 0x010101) : colour;
  };
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  PageRaster page = Filled(width, height, background);
  if (width == 0 || height == 0)
    return page;
  const int left = uniform(0, width * 3 / 5), right = uniform(left, width);
  const int top = uniform(0, height * 3 / 5), bottom = uniform(top, height);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      if (uniform(0, 3) == 0)
        Put(page, x, y, gray(ColourValue(rng() & 0xFFFFFF)));
    }
  }
  for (int i = uniform(0, 3); i > 0; --i) {  // vertical lines
    const int x = uniform(0, width - 1), y = uniform(0, height - 1);
    Block(page, x, y, std::min(width, x + uniform(1, 3)), std::min(height, y + uniform(1, height)),
          Black);
  }
  for (int i = uniform(0, 3); i > 0; --i) {  // horizontal lines
    const int x = uniform(0, width - 1), y = uniform(0, height - 1);
    Block(page, x, y, std::min(width, x + uniform(1, width)), std::min(height, y + uniform(1, 3)),
          Black);
  }
  for (int i = uniform(0, 4); i > 0; --i) {  // specks, off by one
    const int x = uniform(0, width - 1), y = uniform(0, height - 1);
    Put(page, x, y, page.PixelAt(x, y) ^ (grayOnly ? 0x010101 : 1 << (8 * uniform(0, 2))));
  }
  return page;
}

// The same page at one byte per pixel; its pixels must all be gray.
PageRaster GrayTwin(const PageRaster& page) {
  PageRaster gray(page.Width(), page.Height(), PixelFormat::Gray8);
  for (int y = 0; y < page.Height(); ++y) {
    for (int x = 0; x < page.Width(); ++x)
      gray.Row(y)[x] = page.Row(y)[3 * x];
  }
  return gray;
}

void ExpectSameScan(const MarginScan& actual, const MarginScan& expected) {
  EXPECT_EQ(actual.Position, expected.Position);
  EXPECT_EQ(actual.InkFound, expected.InkFound);
}

// The walks against the reference, and against the earlier stride-only walk
// wherever that stepped over no ink (counted in sameAsEarlier); a page of
// gray pixels also at one byte per pixel, where the references read the
// colour page.
void CheckAllScans(const PageRaster& page, int start, ColourValue background, bool alsoGray = false,
                   int* sameAsEarlier = nullptr) {
  auto columnInk = [&](int c) { return RefColumnInk(page, c, background); };
  auto rowInk = [&](int r) { return RefRowInk(page, r, background); };
  const StrideOnlyScan earlier[] = {StrideOnlyForward(columnInk, page.Width(), start),
                                    StrideOnlyBackward(columnInk, page.Width(), start),
                                    StrideOnlyForward(rowInk, page.Height(), start),
                                    StrideOnlyBackward(rowInk, page.Height(), start)};
  const PageRaster twin = alsoGray ? GrayTwin(page) : page;
  for (const PageRaster* scanned : {&page, &twin}) {
    SCOPED_TRACE(scanned->Format() == PixelFormat::Gray8 ? "gray" : "colour");
    const std::pair<MarginScan, MarginScan> results[] = {
        {ScanFromLeft(*scanned, start, background), RefForward(columnInk, page.Width(), start)},
        {ScanFromRight(*scanned, start, background), RefBackward(columnInk, page.Width(), start)},
        {ScanFromTop(*scanned, start, background), RefForward(rowInk, page.Height(), start)},
        {ScanFromBottom(*scanned, start, background), RefBackward(rowInk, page.Height(), start)}};
    const char* names[] = {"left", "right", "top", "bottom"};
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(names[i]);
      ExpectSameScan(results[i].first, results[i].second);
      if (!earlier[i].SteppedOverInk) {
        ExpectSameScan(results[i].first, earlier[i].Scan);
        if (sameAsEarlier != nullptr)
          ++*sameAsEarlier;
      }
    }
  }
}

TEST(MarginScanTest, InkTestsMatchReferenceOnEveryLine) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    const int width = int(rng() % 60), height = int(rng() % 60);
    const bool grayOnly = round % 2 == 1;
    const PageRaster page = RandomPage(rng, width, height, White, grayOnly);
    const PageRaster gray = grayOnly ? GrayTwin(page) : page;
    // A colour that is not gray matches no pixel of a gray page, even where
    // its blue matches.
    for (ColourValue background : {White, Black, InvalidColour, page.PixelAt(0, 0), 0xFFFFFE}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", background " + std::to_string(background));
      for (int line = -2; line < std::max(width, height) + 2; ++line) {
        for (const PageRaster* scanned : {&page, &gray}) {
          EXPECT_EQ(ColumnHasInk(*scanned, line, background), RefColumnInk(page, line, background))
              << "column " << line;
          EXPECT_EQ(RowHasInk(*scanned, line, background), RefRowInk(page, line, background))
              << "row " << line;
        }
      }
    }
  }
}

// Pages up to 800 lines long, so that blank runs span several blocks of
// stride positions; starts inside and outside the page; backgrounds sampled
// as the trims sample them, including outside the page.
TEST(MarginScanTest, WalksMatchReferenceOnRandomPages) {
  std::mt19937 rng(2024);
  int sameAsEarlier = 0;
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 400; ++round) {
    const bool wide = round % 2 == 0;
    const int longSide = uniform(0, 800), shortSide = uniform(0, 60);
    const int width = wide ? longSide : shortSide, height = wide ? shortSide : longSide;
    const bool grayOnly = round % 3 == 0;
    const ColourValue paper = round % 5 == 0 ? MakeColour(200, 200, 200 + !grayOnly) : White;
    const PageRaster page = RandomPage(rng, width, height, paper, grayOnly);
    for (int trial = 0; trial < 8; ++trial) {
      const int start = trial == 0 ? 0 : trial == 1 ? longSide - 1 : uniform(-45, longSide + 45);
      const ColourValue background =
          trial == 2   ? InvalidColour
          : trial == 3 ? paper ^ 1  // red off by one
                       : page.PixelAt(uniform(-3, width + 2), uniform(-3, height + 2));
      SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(width) + "x" +
                   std::to_string(height) + ", start " + std::to_string(start) + ", background " +
                   std::to_string(background));
      CheckAllScans(page, start, background, grayOnly, &sameAsEarlier);
    }
  }
  // Most walks step over nothing, and those stand as they were.
  EXPECT_GT(sameAsEarlier, 400 * 8 * 4);
}

// With no ink in the margin and a body at least one stride wide, the walk
// must end on the body's first column, as a pixel-by-pixel search from the
// start would.
TEST(MarginScanTest, CleanMarginEndsAtFirstInkColumn) {
  std::mt19937 rng(7);
  for (int round = 0; round < 100; ++round) {
    const int width = StepCoarse + int(rng() % 700), height = 1 + int(rng() % 40);
    const int bodyLeft = int(rng() % (width - StepCoarse + 1));
    const int bodyRight = bodyLeft + StepCoarse + int(rng() % (width - bodyLeft - StepCoarse + 1));
    PageRaster page = Filled(width, height, White);
    Block(page, bodyLeft, height - 1, bodyRight, height, MakeColour(255, 254, 255));
    const int start = int(rng() % (bodyLeft + 1));
    SCOPED_TRACE("round " + std::to_string(round));
    auto firstInk = [&](int from, int step) {
      for (int x = from;; x += step) {
        if (RefColumnInk(page, x, White))
          return x;
      }
    };
    const MarginScan left = ScanFromLeft(page, start, White);
    EXPECT_TRUE(left.InkFound);
    EXPECT_EQ(left.Position, firstInk(start, 1));
    const MarginScan right = ScanFromRight(page, width - 1, White);
    EXPECT_TRUE(right.InkFound);
    EXPECT_EQ(right.Position, firstInk(width - 1, -1));
  }
}

struct WalkCase {
  const char* Name;
  int Width;
  int Height;
  void (*Draw)(PageRaster& page);
  int LeftStart;  // the right walk starts at the last column
  ColourValue Background;
  MarginScan Left;
  MarginScan Right;
};

TEST(MarginScanTest, HandMadePages) {
  const WalkCase cases[] = {
      {"37 blank columns: coarse 0, 20, ink at 40, back to 20, fine to 37",
       100,
       30,
       [](PageRaster& p) { Block(p, 37, 5, 60, 25, Black); },
       0,
       White,
       {37, true},
       {59, true}},
      {"start on an ink column: 5 - 20 < 0, so column 5 itself",
       100,
       30,
       [](PageRaster& p) { Block(p, 0, 10, 100, 11, Black); },
       5,
       White,
       {5, true},
       {99, true}},
      {"a one-column line between strides is met, from either side",
       100,
       30,
       [](PageRaster& p) {
         Block(p, 10, 0, 11, 30, Black);
         Block(p, 45, 0, 81, 30, Black);
         Block(p, 87, 3, 88, 4, Black);
       },
       0,
       White,
       {10, true},
       {87, true}},
      {"a start on ink steps back one stride and keeps the ink before it",
       100,
       30,
       [](PageRaster& p) {
         Block(p, 15, 0, 16, 30, Black);
         Block(p, 30, 0, 40, 30, Black);
       },
       33,
       White,
       {15, true},
       {39, true}},
      {"ink only in the last row, one channel off",
       100,
       30,
       [](PageRaster& p) { Block(p, 66, 29, 100, 30, MakeColour(255, 255, 254)); },
       0,
       White,
       {66, true},
       {99, true}},
      {"blank to the edge: the cursor ends past the edge",
       90,
       30,
       [](PageRaster&) {},
       3,
       White,
       {103, false},
       {-11, false}},
      {"background outside the page: every column is ink",
       50,
       8,
       [](PageRaster&) {},
       0,
       InvalidColour,
       {0, true},
       {49, true}},
      {"ink ends at column 800",
       1000,
       12,
       [](PageRaster& p) { Block(p, 100, 3, 801, 9, Black); },
       0,
       White,
       {100, true},
       {800, true}},
      {"a page without rows has no ink",
       50,
       0,
       [](PageRaster&) {},
       0,
       White,
       {60, false},
       {-11, false}},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.Name);
    PageRaster page = Filled(c.Width, c.Height, White);
    c.Draw(page);
    ExpectSameScan(ScanFromLeft(page, c.LeftStart, c.Background), c.Left);
    ExpectSameScan(ScanFromRight(page, c.Width - 1, c.Background), c.Right);
    CheckAllScans(page, c.LeftStart, c.Background);
  }
}

}  // namespace
}  // namespace pagetrim

// ---- The batches' trims, read from the page itself --------------------------

#include "margin_trim.h"

namespace pagetrim {
namespace {

// A page of mostly one colour, with blocks of ink at random places, a
// darker margin now and then, and thin lines and single pixels that fall on
// either side of the threshold.
PageRaster PageOfBlocks(std::mt19937& rng, int width, int height, bool gray) {
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const auto shade = [&](int level) {
    return gray
               ? ColourValue(level * 0x010101)
               : MakeColour(std::uint8_t(level), std::uint8_t(std::min(255, level + uniform(0, 9))),
                            std::uint8_t(std::max(0, level - uniform(0, 9))));
  };
  PageRaster page(width, height, gray ? PixelFormat::Gray8 : PixelFormat::Bgr24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      Put(page, x, y, gray ? 0xF0F0F0 : 0xEFF2F5);
  }
  if (width == 0 || height == 0)
    return page;
  if (uniform(0, 3) == 0)  // a dark scanner edge along one side
    Block(page, 0, 0, uniform(1, std::max(1, width / 8)), height, shade(40));
  for (int i = uniform(0, 6); i > 0; --i) {
    const int x = uniform(0, width - 1), y = uniform(0, height - 1);
    Block(page, x, y, std::min(width, x + uniform(1, width / 2 + 1)),
          std::min(height, y + uniform(1, height / 2 + 1)), shade(uniform(0, 255)));
  }
  for (int i = uniform(0, 8); i > 0; --i)
    Put(page, uniform(0, width - 1), uniform(0, height - 1), shade(uniform(100, 200)));
  return page;
}

TEST(KeptByTrims, KeepsWhatTheTrimsKeepOfTheWholeAnalysisImage) {
  std::mt19937 rng(5);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 600; ++round) {
    const bool gray = uniform(0, 2) == 0;
    // Tiny pages (row 10 missing), narrow and wide ones, runs of 256 pixels
    // and their edges.
    const int sizes[] = {0, 1, 3, 10, 11, 40, 255, 256, 257, 600};
    const int width = sizes[uniform(0, 9)], height = sizes[uniform(0, 9)];
    const PageRaster page = PageOfBlocks(rng, width, height, gray);
    const AnalysisChoice choice{uniform(0, 3) == 0, uniform(-2, 3) == 0 ? 0 : uniform(1, 300)};
    const int sampleColumn = uniform(-2, width + 2);
    SCOPED_TRACE(::testing::Message()
                 << "round " << round << ", " << width << " x " << height
                 << (gray ? " gray" : " colour") << ", threshold " << choice.Threshold
                 << (choice.Gray ? ", gray image" : "") << ", sample column " << sampleColumn);
    PageRaster analysis;
    if (choice.Gray) {
      MakeGrayImage(page, analysis);
    } else {
      MakeBinaryImage(page, analysis, choice.Threshold);
    }
    if (page.IsEmpty())
      analysis = page;
    ASSERT_EQ(KeptByTrims(page, true, choice, sampleColumn), LeftAndRightKept(analysis));
    // The same, found row by row as a decoder delivers them, in bunches of
    // any size.
    SideTrimScan scan(choice);
    for (int first = 0; first < height;) {
      const int count = std::min(height - first, uniform(1, 20));
      scan.AddRows(page, first, count);
      first += count;
    }
    if (height > 0) {
      ASSERT_TRUE(scan.Covers(page));
      ASSERT_EQ(scan.Kept(), LeftAndRightKept(analysis));
    }
    ASSERT_EQ(KeptByTrims(page, false, choice, sampleColumn),
              TopAndBottomKept(analysis, sampleColumn));
  }
}

}  // namespace
}  // namespace pagetrim
