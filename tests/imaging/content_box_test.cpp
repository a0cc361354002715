// The content box on generated pages with known content: each fault of real
// paper alone, then all of them together, on colour, gray and 1-bit pages.
// The cut must hold every content pixel and leave no more than its border of
// paper beside the content, and the box's edges must lie on ink.
#include "content_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "realistic_page.h"

namespace pagetrim {
namespace {

using samples::MakeRealisticPage;
using samples::PageKind;
using samples::PageSide;
using samples::RealisticPage;
using samples::RealisticPageOptions;

// The border at the resolution a page without one is taken to have.
const int Border = int(std::lround(CutBorderMm / 25.4 * AssumedDpi));

// Checks a cut against the page's content: all of it kept, and on each side
// no more margin than the border and 1% of the page: a speck right beside the
// text may stay, for it might be a full stop.
void ExpectGoodCut(const RealisticPage& page, const ContentBox& found) {
  if (page.ContentBox.Width() <= 0) {
    EXPECT_FALSE(found.HasContent);  // a blank page is left as it is
    return;
  }
  ASSERT_TRUE(found.HasContent);
  EXPECT_EQ(page.ContentOutside(found.Cut), 0);
  EXPECT_EQ(page.ContentOutside(found.Content), 0);
  const Rect& box = page.ContentBox;
  const int slackX = page.Page.Width() / 100, slackY = page.Page.Height() / 100;
  EXPECT_LE(box.Left - found.Cut.Left, Border + slackX);
  EXPECT_LE(box.Top - found.Cut.Top, Border + slackY);
  EXPECT_LE(found.Cut.Right - box.Right, Border + slackX);
  EXPECT_LE(found.Cut.Bottom - box.Bottom, Border + slackY);
}

const PageKind Kinds[] = {PageKind::Colour, PageKind::Gray, PageKind::Bitonal};

std::string KindName(PageKind kind) {
  return kind == PageKind::Colour ? "colour" : kind == PageKind::Gray ? "gray" : "1-bit";
}

TEST(ContentBox, OneFaultAtATime) {
  struct Case {
    const char* Name;
    std::function<void(RealisticPageOptions&)> Set;
  };
  std::vector<Case> cases = {
      {"clean page", [](RealisticPageOptions&) {}},
      {"yellowed paper", [](RealisticPageOptions& o) { o.Yellowed = true; }},
      {"faint text (none left on 1-bit pages)", [](RealisticPageOptions& o) { o.TextGray = 150; }},
      {"a blank page", [](RealisticPageOptions& o) { o.MarginTop = o.Height; }},
      {"a blank page with specks, a dark edge and shading",
       [](RealisticPageOptions& o) {
         o.MarginTop = o.Height;
         o.Speckles = 100;
         o.SpeckleSize = 3;
         o.DarkEdge = {0, 0, 20, 0};
         o.GutterShading = 60;
       }},
      {"two columns and a rule between",
       [](RealisticPageOptions& o) {
         o.Columns = 2;
         o.VerticalRule = 1;
       }},
      {"a rule above the text", [](RealisticPageOptions& o) { o.HorizontalRule = 1; }},
      {"a dotted rule below the text", [](RealisticPageOptions& o) { o.DottedRule = true; }},
      {"a page number alone in the bottom margin",
       [](RealisticPageOptions& o) { o.PageNumberDigits = 1; }},
      {"a page number alone in a corner",
       [](RealisticPageOptions& o) {
         o.PageNumberDigits = 2;
         o.PageNumberX = 770;
         o.PageNumberY = 40;
       }},
      {"gutter shading", [](RealisticPageOptions& o) { o.GutterShading = 70; }},
      {"JPEG noise", [](RealisticPageOptions& o) { o.JpegNoise = 12; }},
  };
  for (int size = 1; size <= 4; ++size) {
    cases.push_back({"speckles", [size](RealisticPageOptions& o) {
                       o.Speckles = 200;
                       o.SpeckleSize = size;
                     }});
  }
  for (PageSide side : {PageSide::Left, PageSide::Top, PageSide::Right, PageSide::Bottom}) {
    for (int width : {3, 12, 40}) {
      cases.push_back({"a dark scanner edge", [side, width](RealisticPageOptions& o) {
                         o.DarkEdge[std::size_t(side)] = width;
                       }});
    }
    cases.push_back({"a picture running off the page", [side](RealisticPageOptions& o) {
                       o.PictureDepth = 70;
                       o.PictureSide = side;
                     }});
  }
  for (PageSide side : {PageSide::Left, PageSide::Right}) {
    cases.push_back({"a strip of the facing page", [side](RealisticPageOptions& o) {
                       o.FacingStrip = 40;
                       o.FacingSide = side;
                     }});
  }
  for (PageKind kind : Kinds) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(KindName(kind) + ", " + cases[i].Name + " (case " + std::to_string(i) + ")");
      RealisticPageOptions o;
      o.Kind = kind;
      o.Seed = unsigned(i + 1);
      cases[i].Set(o);
      const RealisticPage page = MakeRealisticPage(o);
      ExpectGoodCut(page, FindContentBox(page.Page, 0));
    }
  }
}

TEST(ContentBox, AllFaultsTogether) {
  for (PageKind kind : Kinds) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE(KindName(kind) + ", seed " + std::to_string(seed));
      RealisticPageOptions o;
      o.Kind = kind;
      o.Seed = seed;
      o.Columns = 2;
      o.HorizontalRule = 2;
      o.PageNumberDigits = 3;
      o.Yellowed = true;
      o.Speckles = 150;
      o.SpeckleSize = 3;
      o.DarkEdge = {8, 15, 0, 25};
      o.GutterShading = 50;
      o.GutterSide = PageSide::Left;
      o.FacingStrip = 30;
      o.FacingSide = PageSide::Right;
      o.JpegNoise = 8;
      ExpectGoodCut(MakeRealisticPage(o), FindContentBox(MakeRealisticPage(o).Page, 0));
    }
  }
}

// Marks of ink on clean paper, placed at random: the content box is exactly
// the box a plain search of every pixel finds, and the cut adds the border on
// each side that does not touch the page's edge.
TEST(ContentBox, EdgesLieOnTheOutermostInkAndTheBorderFollowsTheResolution) {
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const bool colour = round % 2 == 0;
    PageRaster page(700 + round * 10, 900, colour ? PixelFormat::Bgr24 : PixelFormat::Gray8);
    // A block of letter-sized marks somewhere on the page, some touching its
    // edges in the later rounds.
    const int left = round >= 8 ? 0 : 20 + int(random() % 200);
    const int top = round >= 10 ? 0 : 20 + int(random() % 200);
    const int right = page.Width() - (round == 9 ? 0 : 20 + int(random() % 200));
    const int bottom = page.Height() - 20 - int(random() % 200);
    for (int y = top; y + 20 <= bottom; y += 30) {
      for (int x = left; x + 14 <= right; x += 24) {
        // A letter of strokes two pixels wide: its sides and its top.
        const int height = 14 + int(random() % 6);
        for (int yy = y; yy < y + height; ++yy) {
          std::uint8_t* row = page.Row(yy);
          for (int xx = x; xx < x + 14; ++xx) {
            if (xx < x + 2 || xx >= x + 12 || yy < y + 2)
              std::fill_n(row + xx * page.BytesPerPixel(), page.BytesPerPixel(), std::uint8_t(0));
          }
        }
      }
    }
    // The naive box: every pixel read.
    Rect ink{page.Width(), page.Height(), 0, 0};
    for (int y = 0; y < page.Height(); ++y) {
      for (int x = 0; x < page.Width(); ++x) {
        if (page.PixelAt(x, y) == 0) {
          ink = {std::min(ink.Left, x), std::min(ink.Top, y), std::max(ink.Right, x + 1),
                 std::max(ink.Bottom, y + 1)};
        }
      }
    }
    const float dpi = round % 3 == 0 ? 0 : round % 3 == 1 ? 150 : 600;
    const int border = int(std::lround(CutBorderMm / 25.4 * (dpi > 0 ? dpi : AssumedDpi)));
    const ContentBox found = FindContentBox(page, dpi);
    ASSERT_TRUE(found.HasContent);
    EXPECT_EQ(found.Content.Left, ink.Left);
    EXPECT_EQ(found.Content.Top, ink.Top);
    EXPECT_EQ(found.Content.Right, ink.Right);
    EXPECT_EQ(found.Content.Bottom, ink.Bottom);
    EXPECT_EQ(found.Cut.Left, std::max(0, ink.Left - border));
    EXPECT_EQ(found.Cut.Top, std::max(0, ink.Top - border));
    EXPECT_EQ(found.Cut.Right, std::min(page.Width(), ink.Right + border));
    EXPECT_EQ(found.Cut.Bottom, std::min(page.Height(), ink.Bottom + border));
  }
}

// The border is paper: it stops short of a dark edge beside the content.
TEST(ContentBox, TheBorderDoesNotReachIntoAnEdge) {
  RealisticPageOptions o;
  o.Kind = PageKind::Gray;
  o.MarginRight = 20;  // the text ends 8 pixels short of the edge's band
  o.DarkEdge = {0, 0, 12, 0};
  const RealisticPage page = MakeRealisticPage(o);
  const ContentBox found = FindContentBox(page.Page, 0);
  ASSERT_TRUE(found.HasContent);
  EXPECT_EQ(page.ContentOutside(found.Cut), 0);
  EXPECT_LE(found.Cut.Right, page.Page.Width() - 12);
  EXPECT_GT(found.Cut.Right, page.ContentBox.Right);
}

// Text just short of a dark edge: the grid's cells of the last letters also
// hold the edge, and the letters must still be kept whole.
TEST(ContentBox, TextRightBesideAnEdgeIsKeptWhole) {
  for (PageKind kind : Kinds) {
    for (PageSide side : {PageSide::Left, PageSide::Top, PageSide::Right, PageSide::Bottom}) {
      for (int gap : {3, 5, 8}) {
        SCOPED_TRACE(KindName(kind) + ", side " + std::to_string(int(side)) + ", gap " +
                     std::to_string(gap));
        RealisticPageOptions o;
        o.Kind = kind;
        o.DarkEdge[std::size_t(side)] = 12;
        int& margin = side == PageSide::Left    ? o.MarginLeft
                      : side == PageSide::Top   ? o.MarginTop
                      : side == PageSide::Right ? o.MarginRight
                                                : o.MarginBottom;
        margin = 12 + gap;
        const RealisticPage page = MakeRealisticPage(o);
        const ContentBox found = FindContentBox(page.Page, 0);
        ASSERT_TRUE(found.HasContent);
        EXPECT_EQ(page.ContentOutside(found.Cut), 0);
      }
    }
  }
}

// What lies beyond the page where only one stage can tell: a dark scanner
// edge deeper than the zone where lines are looked for (only its band of
// shade gives it away), a strip of the facing page behind a gutter too
// narrow to be the facing page's gutter (only its edge, as a line, does),
// and a strip wider than that zone (only the gutter before it does). The cut
// leaves it out, and all of the page's content in.
TEST(ContentBox, WhatLiesBeyondThePageIsLeftOut) {
  struct Case {
    const char* Name;
    std::vector<PageSide> Sides;
    double Depth;   // of what lies beyond, as a share of the page across it
    double Gutter;  // between it and the text
    bool Facing;    // a strip of the facing page, or else a dark edge
  };
  const Case cases[] = {
      {"a deep dark edge",
       {PageSide::Left, PageSide::Top, PageSide::Right, PageSide::Bottom},
       0.11,
       0.04,
       false},
      {"a facing strip behind a narrow gutter",
       {PageSide::Left, PageSide::Right},
       0.07,
       0.03,
       true},
      {"a wide facing strip", {PageSide::Left, PageSide::Right}, 0.15, 0.1, true},
  };
  struct Size {
    int Width, Height;
  };
  const Size sizes[] = {{425, 550},   {600, 900},   {850, 1100}, {1100, 1400},
                        {1241, 1754}, {1700, 2200}, {2480, 3508}};
  for (const Case& c : cases) {
    for (PageSide side : c.Sides) {
      // Each kind of page at every size and side, in turn.
      for (std::size_t k = 0; k < std::size(sizes); ++k) {
        const Size size = sizes[k];
        const PageKind kind = Kinds[(k + std::size_t(side)) % std::size(Kinds)];
        SCOPED_TRACE(KindName(kind) + ", " + c.Name + ", side " + std::to_string(int(side)) + ", " +
                     std::to_string(size.Width) + "x" + std::to_string(size.Height));
        RealisticPageOptions o;
        o.Kind = kind;
        o.Width = size.Width;
        o.Height = size.Height;
        const bool across = side == PageSide::Left || side == PageSide::Right;
        const int length = across ? size.Width : size.Height;
        const int depth = int(c.Depth * length);
        if (c.Facing) {
          o.FacingStrip = depth;
          o.FacingSide = side;
        } else {
          o.DarkEdge[std::size_t(side)] = depth;
        }
        int& margin = side == PageSide::Left    ? o.MarginLeft
                      : side == PageSide::Top   ? o.MarginTop
                      : side == PageSide::Right ? o.MarginRight
                                                : o.MarginBottom;
        margin = depth + int(c.Gutter * length);
        const RealisticPage page = MakeRealisticPage(o);
        const ContentBox found = FindContentBox(page.Page, 0);
        ExpectGoodCut(page, found);
        const int kept = side == PageSide::Left    ? found.Cut.Left
                         : side == PageSide::Top   ? found.Cut.Top
                         : side == PageSide::Right ? size.Width - found.Cut.Right
                                                   : size.Height - found.Cut.Bottom;
        EXPECT_GE(kept, depth);
      }
    }
  }
}

// Hand-made pages: white paper, marks drawn as letters of 2-pixel strokes
// (two posts and a bar, 14 x 16 pixels) in rows, and the box a plain search
// of the page's own letters finds.
void Fill(PageRaster& page, int x0, int y0, int x1, int y1, std::uint8_t value) {
  for (int y = y0; y < y1; ++y)
    std::fill_n(page.Row(y) + x0 * page.BytesPerPixel(), (x1 - x0) * page.BytesPerPixel(), value);
}

void DrawLetters(PageRaster& page, int x0, int y0, int x1, int y1) {
  for (int y = y0; y + 16 <= y1; y += 30) {
    for (int x = x0; x + 14 <= x1; x += 24) {
      Fill(page, x, y, x + 2, y + 16, 0);
      Fill(page, x + 12, y, x + 14, y + 16, 0);
      Fill(page, x, y, x + 14, y + 2, 0);
    }
  }
}

Rect InkBox(const PageRaster& page) {
  Rect ink{page.Width(), page.Height(), 0, 0};
  for (int y = 0; y < page.Height(); ++y) {
    for (int x = 0; x < page.Width(); ++x) {
      if (page.PixelAt(x, y) == 0)
        ink = {std::min(ink.Left, x), std::min(ink.Top, y), std::max(ink.Right, x + 1),
               std::max(ink.Bottom, y + 1)};
    }
  }
  return ink;
}

// Not-content the page's edges or its border leave behind, drawn over a page
// of letters: the content box is the page's own letters' box.
TEST(ContentBox, WhatTheEdgesLeaveBehindIsNotContent) {
  struct Case {
    const char* Name;
    std::function<void(PageRaster&)> Draw;
  };
  const Case cases[] = {
      // An L of smooth shade that closes off the top-left corner, with the
      // letters of another page behind it: paper cut off from the page's.
      {"paper cut off by shade",
       [](PageRaster& p) {
         const int w = p.Width(), h = p.Height();
         Fill(p, w / 10, 0, w * 12 / 100, h * 27 / 100, 110);
         Fill(p, 0, h / 4, w * 12 / 100, h * 27 / 100, 110);
         DrawLetters(p, w / 40, h / 25, w * 9 / 100 - 4, h * 22 / 100);
       }},
      // Letter-sized marks on the border, far from the text: a clip, a
      // finger's print.
      {"lone marks on the border",
       [](PageRaster& p) {
         const int w = p.Width(), h = p.Height();
         DrawLetters(p, 0, h / 2, 14, h / 2 + 16);
         DrawLetters(p, w - 14, h / 3, w, h / 3 + 16);
         DrawLetters(p, w / 2, 0, w / 2 + 14, 16);
       }},
  };
  for (const Case& c : cases) {
    for (PixelFormat format : {PixelFormat::Gray8, PixelFormat::Bgr24}) {
      for (int width : {500, 600, 800, 1000, 1200, 1700}) {
        SCOPED_TRACE(std::string(c.Name) + ", width " + std::to_string(width) +
                     (format == PixelFormat::Gray8 ? " gray" : " colour"));
        PageRaster page(width, width * 5 / 4, format);
        DrawLetters(page, width / 4, page.Height() * 3 / 20, width * 7 / 8, page.Height() * 9 / 10);
        const Rect own = InkBox(page);
        c.Draw(page);
        const ContentBox found = FindContentBox(page, 0);
        ASSERT_TRUE(found.HasContent);
        EXPECT_EQ(found.Content, own);
      }
    }
  }
}

// The reduction against a plain count of every cell: the darkest value of all
// its pixels, and the mean of its first and middle rows, per channel. Page
// sizes leave a narrower last column and row of cells, and rows come in
// uneven bunches as a decoder gives them.
TEST(PageReduction, MatchesAPlainCountOfEveryCell) {
  struct Size {
    int Width, Height;
  };
  std::mt19937 random(7);
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    // Single pixels, rows and columns; a page one pixel high or wide whose
    // cells are two pixels each way; cells of 3 and 5 pixels.
    for (Size size : {Size{1, 1}, Size{1, 300}, Size{300, 1}, Size{37, 23}, Size{1, 900001},
                      Size{900001, 1}, Size{1001, 777}, Size{2483, 1409}, Size{2011, 1999}}) {
      SCOPED_TRACE(std::to_string(size.Width) + "x" + std::to_string(size.Height) +
                   (format == PixelFormat::Gray8 ? " gray" : " colour"));
      PageRaster page(size.Width, size.Height, format);
      for (int y = 0; y < page.Height(); ++y) {
        std::uint8_t* row = page.Row(y);
        for (std::size_t i = 0; i < page.RowBytes(); ++i)
          row[i] = std::uint8_t(random() % 4 == 0 ? random() % 256 : 200 + random() % 56);
      }
      PageReduction reduction;
      for (int y = 0; y < page.Height();) {
        const int rows = std::min(page.Height() - y, 1 + int(random() % 40));
        reduction.AddRows(page, y, rows);
        y += rows;
      }
      ASSERT_TRUE(reduction.Covers(page));
      const int f = reduction.Factor(), channels = page.BytesPerPixel();
      ASSERT_EQ(f, PageReduction::FactorFor(size.Width, size.Height));
      const std::size_t plane = std::size_t(reduction.Width()) * reduction.Height();
      int wrong = 0;
      for (int gy = 0; gy < reduction.Height(); ++gy) {
        for (int gx = 0; gx < reduction.Width(); ++gx) {
          const int x0 = gx * f, x1 = std::min(size.Width, x0 + f);
          const int y0 = gy * f, y1 = std::min(size.Height, y0 + f);
          for (int c = 0; c < channels; ++c) {
            int darkest = 255, sum = 0, count = 0;
            for (int y = y0; y < y1; ++y) {
              for (int x = x0; x < x1; ++x) {
                const int v = page.Row(y)[x * channels + c];
                darkest = std::min(darkest, v);
                if (y == y0 || y == y0 + (y1 - y0) / 2) {
                  sum += v;
                  ++count;
                }
              }
            }
            const std::size_t at = c * plane + std::size_t(gy) * reduction.Width() + gx;
            wrong += reduction.Darkest()[at] != darkest || reduction.Mean()[at] != sum / count;
          }
        }
      }
      EXPECT_EQ(wrong, 0);
    }
  }
}

}  // namespace
}  // namespace pagetrim
