// The trim and normalise commands on the editing state, checked against plain
// references that read every pixel with PixelAt.
#include "trim_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "editing/recording_page_window.h"
#include "page_normalize.h"
#include "support/margin_reference.h"

namespace pagetrim {
namespace {

using namespace test;

constexpr ColourValue White = 0xFFFFFF;
constexpr ColourValue Black = 0;

// Every pixel distinct-ish, so that a shifted or misplaced copy shows.
PageRaster Patterned(int width, int height) {
  PageRaster page(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      Put(page, x, y, MakeColour(std::uint8_t(x), std::uint8_t(y), 9));
  }
  return page;
}

// The rectangle of src from (left, top), width by height, pixel by pixel.
PageRaster RefPart(const PageRaster& src, int left, int top, int width, int height) {
  PageRaster part(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      Put(part, x, y, src.PixelAt(left + x, top + y));
  }
  return part;
}

void ExpectSamePixels(const PageRaster& actual, const PageRaster& expected) {
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  int wrong = 0;
  for (int y = 0; y < expected.Height(); ++y) {
    for (int x = 0; x < expected.Width(); ++x)
      wrong += actual.PixelAt(x, y) != expected.PixelAt(x, y);
  }
  EXPECT_EQ(wrong, 0) << "pixels differ";
}

enum class Side { Left, Right, Top, Bottom };

const char* SideName(Side side) {
  constexpr const char* Names[] = {"left", "right", "top", "bottom"};
  return Names[int(side)];
}

// What a trim should leave behind, worked out on copies of the rasters.
struct ExpectedTrim {
  PageRaster Working;
  PageRaster Analysis;
  ColourValue Background = 0;
  int Cursor = 0;
  bool Cut = false;
};

ExpectedTrim RefTrim(const EditState& state, Side side, int start, int sample) {
  const PageRaster& analysis = state.Edit.AnalysisPage();
  const int width = analysis.Width(), height = analysis.Height();
  ExpectedTrim e;
  e.Working.AssignFrom(state.Edit.WorkingPage());
  e.Analysis.AssignFrom(analysis);
  const bool columns = side == Side::Left || side == Side::Right;
  e.Background = columns ? analysis.PixelAt(start, sample) : analysis.PixelAt(sample, start);
  auto columnInk = [&](int c) { return RefColumnInk(analysis, c, e.Background); };
  auto rowInk = [&](int r) { return RefRowInk(analysis, r, e.Background); };
  MarginScan scan;
  switch (side) {
    case Side::Left:
      scan = RefForward(columnInk, width, start);
      break;
    case Side::Right:
      scan = RefBackward(columnInk, width, start);
      break;
    case Side::Top:
      scan = RefForward(rowInk, height, start);
      break;
    case Side::Bottom:
      scan = RefBackward(rowInk, height, start);
      break;
  }
  const auto [at, found] = scan;
  e.Cursor = at;
  if (!found || at < 0 || at >= (columns ? width : height))
    return e;
  int left = 0, top = 0, newWidth = width, newHeight = height;
  switch (side) {
    case Side::Left:
      left = at, newWidth = width - at;
      break;
    case Side::Right:
      newWidth = at + 1;
      break;
    case Side::Top:
      top = at, newHeight = height - at;
      break;
    case Side::Bottom:
      newHeight = at + 1;
      break;
  }
  e.Cut = newWidth != width || newHeight != height;
  e.Working = RefPart(state.Edit.WorkingPage(), left, top, newWidth, newHeight);
  e.Analysis = RefPart(analysis, left, top, newWidth, newHeight);
  return e;
}

void RunTrim(EditState& state, PageDisplay& window, Side side, int start, int sample) {
  switch (side) {
    case Side::Left:
      TrimLeftMargin(state, window, start, sample);
      break;
    case Side::Right:
      TrimRightMargin(state, window, start, sample);
      break;
    case Side::Top:
      TrimTopMargin(state, window, start, sample);
      break;
    case Side::Bottom:
      TrimBottomMargin(state, window, start, sample);
      break;
  }
}

void ExpectTrimmed(const EditState& state, const RecordingPageWindow& window, Side side,
                   const ExpectedTrim& e, int showsBefore) {
  ExpectSamePixels(state.Edit.WorkingPage(), e.Working);
  ExpectSamePixels(state.Edit.AnalysisPage(), e.Analysis);
  EXPECT_EQ(state.BackgroundColor, e.Background);
  EXPECT_EQ(side == Side::Left || side == Side::Right ? state.ScanColumn : state.ScanRow, e.Cursor);
  EXPECT_EQ(window.RightShows, showsBefore + (e.Cut ? 1 : 0));
  if (e.Cut)
    ExpectSamePixels(window.Right, state.Edit.WorkingPage());
}

// A colour page with a body of text-like ink inside random margins, thin
// lines and one-channel specks in the margins, and its analysis image.
void LoadRandomPage(EditState& state, std::mt19937& rng, int width, int height) {
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  PageRaster page(width, height);
  if (width > 0 && height > 0) {
    const int left = uniform(0, width / 2), right = uniform(left, width);
    const int top = uniform(0, height / 2), bottom = uniform(top, height);
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        if (uniform(0, 2) == 0)
          Put(page, x, y, ColourValue(rng() & 0x7F7F7F));
      }
    }
    for (int i = uniform(0, 2); i > 0; --i) {
      const int x = uniform(0, width - 1), y = uniform(0, height - 1);
      Block(page, x, y, std::min(width, x + uniform(1, 2)),
            std::min(height, y + uniform(1, height)), Black);
    }
    for (int i = uniform(0, 2); i > 0; --i) {
      const int x = uniform(0, width - 1), y = uniform(0, height - 1);
      Block(page, x, y, std::min(width, x + uniform(1, width)), std::min(height, y + uniform(1, 2)),
            Black);
    }
    for (int i = uniform(0, 3); i > 0; --i) {
      Put(page, uniform(0, width - 1), uniform(0, height - 1), MakeColour(254, 255, 255));
    }
  }
  state.GrayPage.SetSize(width, height);
  state.BinaryPage.SetSize(width, height);
  MakeAnalysisImages(page, state.GrayPage, state.BinaryPage, uniform(100, 255));
  state.Edit = PageEdit(page, uniform(0, 1) ? state.GrayPage : state.BinaryPage);
}

TEST(TrimCommandsTest, TrimsMatchReferenceOnRandomPages) {
  std::mt19937 rng(99);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 300; ++round) {
    EditState state;
    RecordingPageWindow window;
    LoadRandomPage(state, rng, uniform(0, 400), uniform(0, 400));
    // Several trims in a row on the same page, each from the state the last
    // one left behind.
    for (int step = 0; step < 4; ++step) {
      const Side side = Side(uniform(0, 3));
      const bool columns = side == Side::Left || side == Side::Right;
      const int length =
          columns ? state.Edit.AnalysisPage().Width() : state.Edit.AnalysisPage().Height();
      const int across =
          columns ? state.Edit.AnalysisPage().Height() : state.Edit.AnalysisPage().Width();
      const int start = uniform(-30, length + 30);
      const int sample = uniform(-3, across + 2);
      SCOPED_TRACE("round " + std::to_string(round) + ", " + SideName(side) + " from " +
                   std::to_string(start) + ", sample " + std::to_string(sample));
      const ExpectedTrim expected = RefTrim(state, side, start, sample);
      const int shows = window.RightShows;
      RunTrim(state, window, side, start, sample);
      ExpectTrimmed(state, window, side, expected, shows);
    }
  }
}

struct EdgeCase {
  const char* Name;
  int Width;
  int Height;
  void (*Draw)(PageRaster& page);
  Side Trim;
  int Start;
  int Sample;
  int CursorAfter;
  int WidthAfter;
  int HeightAfter;
};

TEST(TrimCommandsTest, MarginEdgeCases) {
  const EdgeCase cases[] = {
      {"37 blank columns are cut", 200, 40, [](PageRaster& p) { Block(p, 37, 0, 150, 40, Black); },
       Side::Left, 0, 5, 37, 163, 40},
      {"a start on an ink column cuts the columns left of it", 200, 40,
       [](PageRaster& p) { Block(p, 0, 30, 200, 31, Black); }, Side::Left, 5, 5, 5, 195, 40},
      {"a thin line between strides is kept", 200, 40,
       [](PageRaster& p) {
         Block(p, 10, 0, 12, 40, Black);
         Block(p, 50, 0, 150, 40, Black);
       },
       Side::Left, 0, 5, 10, 190, 40},
      {"a thin line more than a stride inside the right margin is kept", 200, 40,
       [](PageRaster& p) {
         Block(p, 50, 0, 150, 40, Black);
         Block(p, 173, 20, 174, 21, Black);
       },
       Side::Right, 199, 5, 173, 174, 40},
      {"blank to the right edge: nothing is cut", 200, 40,
       [](PageRaster& p) { Block(p, 0, 0, 3, 40, Black); }, Side::Left, 10, 5, 210, 200, 40},
      {"ink ending at column 800 leaves the width 801", 1000, 20,
       [](PageRaster& p) { Block(p, 100, 0, 801, 20, Black); }, Side::Right, 999, 5, 800, 801, 20},
      {"30 blank rows at the bottom: the 30 rows go", 20, 200,
       [](PageRaster& p) { Block(p, 0, 50, 20, 170, Black); }, Side::Bottom, 199, 5, 169, 20, 170},
      {"ink in the last row: nothing is cut", 20, 200,
       [](PageRaster& p) { Block(p, 3, 199, 4, 200, Black); }, Side::Bottom, 199, 5, 199, 20, 200},
      {"the top trim keeps the first ink row", 20, 200,
       [](PageRaster& p) { Block(p, 5, 63, 6, 100, Black); }, Side::Top, 0, 5, 63, 20, 137},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EditState state;
    RecordingPageWindow window;
    PageRaster page(c.Width, c.Height);
    c.Draw(page);
    state.Edit = PageEdit(page, page);
    const ExpectedTrim expected = RefTrim(state, c.Trim, c.Start, c.Sample);
    RunTrim(state, window, c.Trim, c.Start, c.Sample);
    ExpectTrimmed(state, window, c.Trim, expected, 0);
    EXPECT_EQ(c.Trim == Side::Left || c.Trim == Side::Right ? state.ScanColumn : state.ScanRow,
              c.CursorAfter);
    EXPECT_EQ(state.Edit.WorkingPage().Width(), c.WidthAfter);
    EXPECT_EQ(state.Edit.WorkingPage().Height(), c.HeightAfter);
  }
}

// A page with a blank margin of 30 on every side around a black body.
void LoadFramedPage(EditState& state, int width, int height) {
  PageRaster page = Patterned(width, height);
  Block(page, 0, 0, width, height, White);
  Block(page, 30, 30, width - 30, height - 30, Black);
  state.Edit = PageEdit(page, page);
}

TEST(TrimCommandsTest, PointCommandsRefusePointsOutsideThePage) {
  struct Command {
    const char* Name;
    void (*Run)(EditState&, PageDisplay&, int, int);
    bool SetsSampleColumn;
  };
  const Command commands[] = {{"left", TrimLeftAtPoint, false},
                              {"right", TrimRightAtPoint, false},
                              {"top", TrimTopAtPoint, true},
                              {"bottom", TrimBottomAtPoint, true},
                              {"double-click", TrimSideAtPoint, false}};
  const std::pair<int, int> outside[] = {{-1, 10}, {100, 10}, {10, -1}, {10, 80}, {-5, -5}};
  for (const Command& command : commands) {
    for (auto [x, y] : outside) {
      SCOPED_TRACE(std::string(command.Name) + " at " + std::to_string(x) + "," +
                   std::to_string(y));
      EditState state;
      RecordingPageWindow window;
      LoadFramedPage(state, 100, 80);
      state.SampleColumn = 1234;
      state.ScanColumn = state.ScanRow = 77;
      command.Run(state, window, x, y);
      EXPECT_EQ(state.Edit.WorkingPage().Width(), 100);
      EXPECT_EQ(state.Edit.WorkingPage().Height(), 80);
      EXPECT_EQ(state.ScanColumn, 77);
      EXPECT_EQ(state.ScanRow, 77);
      EXPECT_EQ(window.RightShows, 0);
      EXPECT_EQ(state.SampleColumn, command.SetsSampleColumn ? x : 1234);
    }
  }
}

TEST(TrimCommandsTest, PointCommandsTrimFromThePoint) {
  struct Case {
    const char* Name;
    void (*Run)(EditState&, PageDisplay&, int, int);
    int X, Y;
    int WidthAfter, HeightAfter, SampleColumnAfter;
  };
  // The framed body spans columns 30..69 and rows 30..49 of a 100 x 80 page.
  const Case cases[] = {
      {"left", TrimLeftAtPoint, 3, 5, 70, 80, -9},
      {"right", TrimRightAtPoint, 95, 5, 70, 80, -9},
      {"top samples in the point's column", TrimTopAtPoint, 7, 2, 100, 50, 7},
      {"bottom samples in the point's column", TrimBottomAtPoint, 7, 79, 100, 50, 7},
      {"double-click in the left half", TrimSideAtPoint, 49, 5, 70, 80, -9},
      {"double-click at half the width trims the right", TrimSideAtPoint, 50, 5, 70, 80, -9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EditState state;
    RecordingPageWindow window;
    LoadFramedPage(state, 100, 80);
    state.SampleColumn = -9;
    c.Run(state, window, c.X, c.Y);
    EXPECT_EQ(state.Edit.WorkingPage().Width(), c.WidthAfter);
    EXPECT_EQ(state.Edit.WorkingPage().Height(), c.HeightAfter);
    EXPECT_EQ(state.Edit.AnalysisPage().Width(), c.WidthAfter);
    EXPECT_EQ(state.Edit.AnalysisPage().Height(), c.HeightAfter);
    EXPECT_EQ(state.SampleColumn, c.SampleColumnAfter);
    EXPECT_EQ(window.RightShows, 1);
  }
}

TEST(TrimCommandsTest, LeftAndRightSampleAtRowTen) {
  {
    SCOPED_TRACE("framed page: both margins go");
    EditState state;
    RecordingPageWindow window;
    LoadFramedPage(state, 100, 80);
    state.SampleColumn = 42;
    TrimLeftAndRight(state, window);
    EXPECT_EQ(state.Edit.WorkingPage().Width(), 40);  // columns 30..69
    EXPECT_EQ(state.Edit.AnalysisPage().Width(), 40);
    EXPECT_EQ(state.ScanColumn, 39);
    EXPECT_EQ(state.SampleColumn, 42);
    EXPECT_EQ(window.RightShows, 2);
  }
  {
    SCOPED_TRACE("a page 8 rows high samples outside it: every column is ink, none goes");
    EditState state;
    RecordingPageWindow window;
    PageRaster page = Patterned(50, 8);
    Block(page, 0, 0, 20, 8, White);
    state.Edit = PageEdit(page, page);
    TrimLeftAndRight(state, window);
    EXPECT_EQ(state.BackgroundColor, InvalidColour);
    ExpectSamePixels(state.Edit.WorkingPage(), page);
    ExpectSamePixels(state.Edit.AnalysisPage(), page);
    EXPECT_EQ(state.ScanColumn, 49);
    EXPECT_EQ(window.RightShows, 0);
  }
  {
    SCOPED_TRACE("an empty page");
    EditState state;
    RecordingPageWindow window;
    TrimLeftAndRight(state, window);
    EXPECT_TRUE(state.Edit.WorkingPage().IsEmpty());
    EXPECT_EQ(window.RightShows, 0);
  }
}

// The canvas as the rectangle copy makes it: white, with the page copied into
// a destination one column wider than it, centred both ways.
PageRaster RefNormalized(const PageRaster& page, int canvasWidth, int canvasHeight) {
  PageRaster canvas(canvasWidth, canvasHeight);
  const int left = (canvasWidth - page.Width()) / 2, top = (canvasHeight - page.Height()) / 2;
  canvas.CopyRect({left, top, left + page.Width() + 1, top + page.Height()}, page,
                  {0, 0, page.Width(), page.Height()});
  return canvas;
}

int WhiteLinesFrom(const PageRaster& page, int at, int step, bool columns) {
  const int count = columns ? page.Width() : page.Height();
  const int across = columns ? page.Height() : page.Width();
  int n = 0;
  for (; at >= 0 && at < count; at += step, ++n) {
    for (int i = 0; i < across; ++i) {
      if ((columns ? page.PixelAt(at, i) : page.PixelAt(i, at)) != White)
        return n;
    }
  }
  return n;
}

// The stretched copy doubles column 0; every other column of the page must
// follow it on the canvas.
void ExpectEveryColumnKept(const PageRaster& canvas, const PageRaster& page) {
  const int left = (canvas.Width() - page.Width()) / 2, top = (canvas.Height() - page.Height()) / 2;
  ExpectSamePixels(RefPart(canvas, left + 1, top, page.Width(), page.Height()), page);
}

TEST(TrimCommandsTest, NormalizeCentresOnTheTargetWidthAndGrowsRatherThanCut) {
  struct Case {
    const char* Name;
    int Width, Height;
    int CanvasWidth, CanvasHeight;
    int WhiteLeft, WhiteRight, WhiteTop, WhiteBottom;
  };
  const Case cases[] = {
      {"portrait one column narrower than its target fills it", 999, 1414, 1000, 1414, 0, 0, 0, 0},
      {"portrait as wide as its target: one row more makes room for the stretch", 1000, 1414, 1001,
       1415, 0, 0, 0, 1},
      {"narrow portrait: 100 white columns left, 99 right", 800, 1414, 1000, 1414, 100, 99, 0, 0},
      {"portrait wider than its target: a higher canvas", 1100, 1414, 1101, 1557, 0, 0, 71, 72},
      {"landscape wider than its target: a higher canvas two pages wide", 1600, 1000, 1602, 1132, 1,
       0, 66, 66},
      {"square counts as landscape", 300, 300, 2 * 212, 300, 62, 61, 0, 0},
      {"a page without columns becomes white", 0, 10, 7, 10, 7, 7, 10, 10},
      {"an empty page stays empty", 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EditState state;
    RecordingPageWindow window;
    PageRaster page = Patterned(c.Width, c.Height);
    if (c.Width > 0)
      Block(page, 0, 0, 1, c.Height, MakeColour(1, 2, 3));       // distinct first column
    state.Edit = PageEdit(page, PageRaster(c.Width, c.Height));  // a gray image of the same size
    NormalizePage(state, window);
    ASSERT_EQ(state.Edit.WorkingPage().Width(), c.CanvasWidth);
    ASSERT_EQ(state.Edit.WorkingPage().Height(), c.CanvasHeight);
    ExpectSamePixels(state.Edit.WorkingPage(), RefNormalized(page, c.CanvasWidth, c.CanvasHeight));
    ExpectSamePixels(state.Edit.AnalysisPage(), state.Edit.WorkingPage());
    ExpectSamePixels(window.Right, state.Edit.WorkingPage());
    EXPECT_EQ(window.RightShows, 1);
    const PageRaster& canvas = state.Edit.WorkingPage();
    if (c.CanvasWidth > 0 && c.CanvasHeight > 0) {
      EXPECT_EQ(WhiteLinesFrom(canvas, 0, 1, true), c.WhiteLeft);
      EXPECT_EQ(WhiteLinesFrom(canvas, c.CanvasWidth - 1, -1, true), c.WhiteRight);
      EXPECT_EQ(WhiteLinesFrom(canvas, 0, 1, false), c.WhiteTop);
      EXPECT_EQ(WhiteLinesFrom(canvas, c.CanvasHeight - 1, -1, false), c.WhiteBottom);
    }
    if (!page.IsEmpty()) {
      ExpectEveryColumnKept(canvas, page);
      // The canvas keeps the ratio of its own height.
      EXPECT_EQ(c.CanvasWidth, NormalizedWidth(c.CanvasHeight, c.Width < c.Height));
    }
  }
}

// Around the point where a page stops fitting, for both orientations: the
// canvas is the lowest that holds the stretched page, never lower than it.
TEST(TrimCommandsTest, NormalizeKeepsEveryColumnAtEveryWidth) {
  for (const bool portrait : {true, false}) {
    const int height = portrait ? 300 : 150;
    for (int width = NormalizedWidth(height, portrait) - 3;
         width <= NormalizedWidth(height, portrait) + 40; ++width) {
      SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
      EditState state;
      RecordingPageWindow window;
      const PageRaster page = Patterned(width, height);
      state.Edit = PageEdit(page, page);
      NormalizePage(state, window);
      const PageRaster& canvas = state.Edit.WorkingPage();
      EXPECT_EQ(canvas.Width(), NormalizedWidth(canvas.Height(), portrait));
      EXPECT_GE(canvas.Width(), width + 1);
      EXPECT_GE(canvas.Height(), height);
      if (canvas.Height() > height) {
        EXPECT_LT(NormalizedWidth(canvas.Height() - 1, portrait), width + 1);
      }
      ExpectEveryColumnKept(canvas, page);
    }
  }
}

TEST(TrimCommandsTest, NormalizingTwiceKeepsEveryColumnOfTheFirstResult) {
  EditState state;
  RecordingPageWindow window;
  const PageRaster page = Patterned(1600, 1000);
  state.Edit = PageEdit(page, page);
  NormalizePage(state, window);
  // Page column 0 takes canvas columns 1 and 2; page column x, column x + 2.
  for (int x : {0, 1, 700, 1599})
    EXPECT_EQ(state.Edit.WorkingPage().PixelAt(x + 2, 66 + 17), page.PixelAt(x, 17)) << x;
  EXPECT_EQ(state.Edit.WorkingPage().PixelAt(1, 66 + 17), page.PixelAt(0, 17));
  // The first result is as wide as its own target: the stretch needs one
  // column more, and the canvas grows for it again.
  PageRaster once;
  once.AssignFrom(state.Edit.WorkingPage());
  NormalizePage(state, window);
  EXPECT_EQ(state.Edit.WorkingPage().Width(), 1604);
  EXPECT_EQ(state.Edit.WorkingPage().Height(), 1134);
  ExpectSamePixels(state.Edit.WorkingPage(), RefNormalized(once, 1604, 1134));
  ExpectEveryColumnKept(state.Edit.WorkingPage(), once);
  EXPECT_EQ(window.RightShows, 2);
}

}  // namespace
}  // namespace pagetrim
