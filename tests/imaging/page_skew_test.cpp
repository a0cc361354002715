// Finding how far a page is turned, on generated pages turned by known angles
// with a plainly written rotation: text, two columns and staves in colour,
// gray and 1-bit; the scanner's own marks left level; and the pages that must
// get no angle at all.
#include "page_skew.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "realistic_page.h"
#include "skew_samples.h"
#include "support/reference_turn.h"

namespace pagetrim {
namespace {

using samples::MakePhotographPage;
using samples::MakeRealisticPage;
using samples::MakeStavesPage;
using samples::PageKind;
using samples::RealisticPage;
using samples::RealisticPageOptions;
using samples::SkewSampleOptions;

// The generated pages are about 100 dpi.
constexpr float Dpi = 100;
const std::uint8_t White[3] = {255, 255, 255};

std::string KindName(PageKind kind) {
  return kind == PageKind::Colour ? "colour" : kind == PageKind::Gray ? "gray" : "1-bit";
}

PageRaster Turned(const RealisticPage& page, double degrees, PageKind kind) {
  return test::ReferenceTurn(page.Page, degrees, White, kind == PageKind::Bitonal).Page;
}

RealisticPage TextPage(PageKind kind, unsigned seed = 1) {
  RealisticPageOptions o;
  o.Kind = kind;
  o.Seed = seed;
  o.Speckles = 60;
  o.SpeckleSize = 2;
  o.PageNumberDigits = 3;
  o.JpegNoise = kind == PageKind::Bitonal ? 0 : 8;
  return MakeRealisticPage(o);
}

RealisticPage TwoColumns(PageKind kind) {
  RealisticPageOptions o;
  o.Kind = kind;
  o.Columns = 2;
  o.VerticalRule = 1;
  o.HorizontalRule = 1;
  return MakeRealisticPage(o);
}

RealisticPage Staves(PageKind kind) {
  SkewSampleOptions o;
  o.Kind = kind;
  return MakeStavesPage(o);
}

// Paints a level dark band over a raster, as a scanner's lid or bed shows
// beside a sheet that lies turned.
void DarkBand(PageRaster& page, const Rect& band) {
  for (int y = std::max(0, band.Top); y < std::min(page.Height(), band.Bottom); ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = std::max(0, band.Left); x < std::min(page.Width(), band.Right); ++x) {
      for (int k = 0; k < page.BytesPerPixel(); ++k)
        row[x * page.BytesPerPixel() + k] = 30;
    }
  }
}

// The angle found is the page's to well within a tenth of a degree, whatever
// the kind of page and its format; and it is to be turned.
TEST(PageSkew, FindsTheAngleOfTurnedPagesOfEveryKind) {
  struct Case {
    const char* Name;
    std::function<RealisticPage(PageKind)> Make;
    PageKind Kind;
    double Degrees;
  };
  const Case cases[] = {
      {"text", [](PageKind k) { return TextPage(k); }, PageKind::Colour, -4.6},
      {"text", [](PageKind k) { return TextPage(k); }, PageKind::Gray, 0.45},
      {"text", [](PageKind k) { return TextPage(k); }, PageKind::Bitonal, 2.9},
      {"text", [](PageKind k) { return TextPage(k, 7); }, PageKind::Gray, 6.9},
      {"two columns", TwoColumns, PageKind::Bitonal, -6.95},
      {"two columns", TwoColumns, PageKind::Colour, -1.35},
      {"two columns", TwoColumns, PageKind::Gray, 3.4},
      {"staves", Staves, PageKind::Gray, -3.1},
      {"staves", Staves, PageKind::Bitonal, 0.8},
      {"staves", Staves, PageKind::Colour, 5.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + ", " + KindName(c.Kind) + ", turned by " +
                 std::to_string(c.Degrees));
    const SkewFinding found = FindSkew(Turned(c.Make(c.Kind), c.Degrees, c.Kind), Dpi);
    ASSERT_TRUE(found.Sure) << SkewDoubtName(found.Doubt);
    EXPECT_EQ(found.Doubt, SkewDoubt::None);
    EXPECT_NEAR(found.Degrees, c.Degrees, 0.06);
    EXPECT_TRUE(found.NeedsTurn);
    EXPECT_GE(found.Confidence, 4.0);
    EXPECT_GE(found.Lines, 20);
  }
}

// Below a tenth of a degree the page is sure but left as it is, losslessly.
TEST(PageSkew, APageTurnedByAHairNeedsNoTurn) {
  for (const double degrees : {0.0, 0.06, -0.04}) {
    SCOPED_TRACE(degrees);
    const SkewFinding found =
        FindSkew(Turned(TextPage(PageKind::Gray), degrees, PageKind::Gray), Dpi);
    ASSERT_TRUE(found.Sure);
    EXPECT_LT(std::abs(found.Degrees), LeastTurnDegrees);
    EXPECT_FALSE(found.NeedsTurn);
  }
}

// The scanner's lid and bed stay level while the sheet lies turned, and so do
// the edges of the sheets beneath: long thin level lines near the border,
// which would outweigh a short text if they counted. They may not pull the
// page's angle.
TEST(PageSkew, TheScannersMarksPlayNoPart) {
  for (const PageKind kind : {PageKind::Colour, PageKind::Bitonal}) {
    SCOPED_TRACE(KindName(kind));
    RealisticPageOptions o;
    o.Kind = kind;
    o.MarginLeft = o.MarginRight = 120;
    o.MarginTop = 420;
    o.MarginBottom = o.Height - 420 - 8 * o.LineHeight;  // eight lines of text
    const RealisticPage page = MakeRealisticPage(o);
    PageRaster turned = Turned(page, 2.4, kind);
    const int w = turned.Width(), h = turned.Height();
    DarkBand(turned, {0, 0, 40, h});
    for (const int y : {12, 20, h - 14, h - 24})
      DarkBand(turned, {0, y, w, y + 3});
    for (const int x : {w - 12, w - 20})
      DarkBand(turned, {x, 0, x + 3, h});
    const SkewFinding found = FindSkew(turned, Dpi);
    ASSERT_TRUE(found.Sure) << SkewDoubtName(found.Doubt);
    EXPECT_NEAR(found.Degrees, 2.4, 0.06);
  }
}

// Pages that give no angle to trust: nothing on them, a picture, a line or
// two, and pages whose halves lie at angles of their own.
TEST(PageSkew, GivesNoAngleWhenUnsure) {
  struct Case {
    const char* Name;
    std::function<PageRaster()> Make;
    SkewDoubt Doubt;
  };
  auto blank = [](int speckles) {
    RealisticPageOptions o;
    o.MarginTop = o.Height;  // no text
    o.Speckles = speckles;
    o.DarkEdge = {0, 0, speckles > 0 ? 25 : 0, 0};
    return MakeRealisticPage(o).Page;
  };
  auto photograph = [](PageKind kind, bool halftone) {
    SkewSampleOptions o;
    o.Kind = kind;
    return Turned(MakePhotographPage(o, halftone), 1.7, kind);
  };
  auto fewLines = [] {
    RealisticPageOptions o;
    o.MarginTop = 500;
    o.MarginBottom = o.Height - 500 - 44;  // two lines of text, and a page number
    o.PageNumberDigits = 2;
    return Turned(MakeRealisticPage(o), 1.2, PageKind::Colour);
  };
  // The left half of a page turned one way, the right half another; or the
  // top and the bottom.
  auto halves = [](bool sideBySide, double first, double second) {
    const RealisticPage page = TextPage(PageKind::Gray);
    const PageRaster a = Turned(page, first, PageKind::Gray);
    PageRaster b = Turned(page, second, PageKind::Gray);
    for (int y = 0; y < b.Height(); ++y) {
      const int from = sideBySide ? 0 : (y < b.Height() / 2 ? 0 : b.Width());
      const int to = sideBySide ? b.Width() / 2 : b.Width();
      std::copy(a.Row(y) + from, a.Row(y) + std::max(from, to), b.Row(y) + from);
    }
    return b;
  };
  const Case cases[] = {
      {"a blank page", [&] { return blank(0); }, SkewDoubt::Blank},
      {"a blank page with dust and a dark edge", [&] { return blank(80); }, SkewDoubt::Blank},
      {"a smooth photograph", [&] { return photograph(PageKind::Colour, false); },
       SkewDoubt::Picture},
      {"a halftone photograph", [&] { return photograph(PageKind::Gray, true); },
       SkewDoubt::Picture},
      {"a 1-bit halftone photograph", [&] { return photograph(PageKind::Bitonal, true); },
       SkewDoubt::Picture},
      {"two lines and a page number", fewLines, SkewDoubt::TooLittleText},
      {"halves side by side at 2.5 and -0.8 degrees", [&] { return halves(true, 2.5, -0.8); },
       SkewDoubt::LinesDisagree},
      {"top and bottom at 0.3 and 2.0 degrees", [&] { return halves(false, 0.3, 2.0); },
       SkewDoubt::LinesDisagree},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const SkewFinding found = FindSkew(c.Make(), Dpi);
    EXPECT_FALSE(found.Sure);
    EXPECT_FALSE(found.NeedsTurn);
    EXPECT_EQ(found.Degrees, 0.0);
    EXPECT_EQ(found.Doubt, c.Doubt) << SkewDoubtName(found.Doubt);
  }
  EXPECT_EQ(FindSkew(PageRaster(), Dpi).Doubt, SkewDoubt::Blank);
}

// The overloads agree: a reduction made as the page was read, with or without
// its content box's classes, or none; and a reduction or classes that do not
// fit the page are not used for it.
TEST(PageSkew, TheOverloadsAgree) {
  const PageRaster page = Turned(TextPage(PageKind::Colour), -1.9, PageKind::Colour);
  PageReduction reduction;
  for (int first = 0; first < page.Height(); first += 64)
    reduction.AddRows(page, first, std::min(64, page.Height() - first));
  ContentBoxTrace trace;
  FindContentBox(page, Dpi, reduction, &trace);
  const SkewFinding alone = FindSkew(page, Dpi);
  const SkewFinding withReduction = FindSkew(page, Dpi, reduction);
  const SkewFinding withTrace = FindSkew(page, Dpi, reduction, trace);
  ASSERT_TRUE(alone.Sure);
  EXPECT_EQ(alone.Degrees, withReduction.Degrees);
  EXPECT_EQ(alone.Degrees, withTrace.Degrees);
  PageReduction other;
  PageRaster otherPage = Turned(TextPage(PageKind::Colour, 3), 4.0, PageKind::Colour);
  otherPage.SetHeight(otherPage.Height() - 40);
  other.AddRows(otherPage, 0, otherPage.Height());
  EXPECT_EQ(FindSkew(page, Dpi, other).Degrees, alone.Degrees);
  ContentBoxTrace otherTrace;
  FindContentBox(otherPage, Dpi, other, &otherTrace);
  otherTrace.Cells.resize(10);
  EXPECT_EQ(FindSkew(page, Dpi, reduction, otherTrace).Degrees, alone.Degrees);
}

}  // namespace
}  // namespace pagetrim
