// The page generator the trim tests rely on: what it marks as content is
// exactly what it drew as content, whatever else the paper shows.
#include "realistic_page.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace pagetrim::samples {
namespace {

RealisticPageOptions Marked(PageKind kind) {
  RealisticPageOptions o;
  o.Kind = kind;
  o.Columns = 2;
  o.HorizontalRule = 2;
  o.VerticalRule = 1;
  o.DottedRule = true;
  o.PageNumberDigits = 3;
  o.PictureDepth = 60;
  return o;
}

TEST(RealisticPage, ContentIsTheInkDrawnAsContentAndNothingElse) {
  for (PageKind kind : {PageKind::Colour, PageKind::Gray, PageKind::Bitonal}) {
    SCOPED_TRACE(int(kind));
    const RealisticPage clean = MakeRealisticPage(Marked(kind));
    EXPECT_EQ(clean.ContentBox.Left, 90);           // the text block's first column...
    EXPECT_EQ(clean.ContentBox.Top, 100 - 12 - 2);  // ...and the rule above it
    EXPECT_EQ(clean.ContentBox.Right, 850);         // the picture runs off the right edge
    for (int y = 0; y < clean.Page.Height(); ++y) {
      for (int x = 0; x < clean.Page.Width(); ++x) {
        const ColourValue c = clean.Page.PixelAt(x, y);
        const int gray = ((c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF)) / 3;
        ASSERT_EQ(clean.IsContent(x, y), gray < 128) << x << ", " << y;
      }
    }

    // Paper and scanner faults leave the content where it was.
    RealisticPageOptions o = Marked(kind);
    o.Speckles = 300;
    o.SpeckleSize = 4;
    o.DarkEdge = {10, 20, 0, 10};
    o.GutterShading = 50;
    o.FacingStrip = 40;
    o.FacingSide = PageSide::Left;
    o.Yellowed = true;
    o.JpegNoise = 10;
    const RealisticPage dirty = MakeRealisticPage(o);
    EXPECT_EQ(dirty.Content, clean.Content);
    EXPECT_EQ(dirty.ContentOutside(clean.ContentBox), 0);
    EXPECT_GT(dirty.ContentOutside({100, 0, 850, 1100}), 0);
    if (kind == PageKind::Bitonal) {
      for (int y = 0; y < dirty.Page.Height(); ++y) {
        for (int x = 0; x < dirty.Page.Width(); ++x)
          ASSERT_TRUE(dirty.Page.PixelAt(x, y) == 0 || dirty.Page.PixelAt(x, y) == 0xFFFFFF);
      }
    }
  }
}

int GrayAt(const RealisticPage& page, int x, int y) {
  const ColourValue c = page.Page.PixelAt(x, y);
  return ((c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF)) / 3;
}

TEST(RealisticPage, BedsClothsStripsAndRoughEdgesAreNotContent) {
  struct Case {
    const char* Name;
    std::function<void(RealisticPageOptions&)> Set;
  };
  const Case cases[] = {
      {"on a scanner's bed",
       [](RealisticPageOptions& o) {
         o.Beyond = {10, 0, 120, 130};
       }},
      {"an open book on cloth",
       [](RealisticPageOptions& o) {
         o.Under = RealisticPageOptions::Ground::Cloth;
         o.UnderGray = 12;
         o.Neighbour = 200;
         o.GutterSide = PageSide::Left;
         o.Beyond = {0, 60, 60, 60};
       }},
      {"the facing page's lines",
       [](RealisticPageOptions& o) {
         o.FacingStrip = 70;
         o.FacingLines = true;
       }},
      {"a fibrous edge",
       [](RealisticPageOptions& o) {
         o.FibrousEdge = 40;
         o.FibrousSide = PageSide::Left;
       }},
  };
  for (PageKind kind : {PageKind::Colour, PageKind::Gray, PageKind::Bitonal}) {
    RealisticPageOptions plain;
    plain.Kind = kind;
    plain.PageNumberDigits = 2;
    plain.Runs.push_back({300, 1050, 200, 8, 1});
    const RealisticPage base = MakeRealisticPage(plain);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(int(kind)));
      RealisticPageOptions o = plain;
      c.Set(o);
      const RealisticPage page = MakeRealisticPage(o);
      const Rect& paper = page.Paper;
      ASSERT_EQ(paper.Width(), 850);
      ASSERT_EQ(paper.Height(), 1100);
      EXPECT_EQ(page.Page.Width(), 850 + o.Beyond[0] + o.Beyond[2] + o.Neighbour);
      EXPECT_EQ(page.Page.Height(), 1100 + o.Beyond[1] + o.Beyond[3]);
      // The content is the page's own, where the paper lies, and the
      // difficulty drew dark pixels of its own that are not.
      long long darkOther = 0;
      for (int y = 0; y < page.Page.Height(); ++y) {
        for (int x = 0; x < page.Page.Width(); ++x) {
          const bool onPaper =
              x >= paper.Left && x < paper.Right && y >= paper.Top && y < paper.Bottom;
          ASSERT_EQ(page.IsContent(x, y), onPaper && base.IsContent(x - paper.Left, y - paper.Top))
              << x << ", " << y;
          darkOther += !page.IsContent(x, y) && GrayAt(page, x, y) < 128;
        }
      }
      EXPECT_GT(darkOther, 2000);
      const Rect& b = base.ContentBox;
      EXPECT_EQ(page.ContentBox, (Rect{b.Left + paper.Left, b.Top + paper.Top, b.Right + paper.Left,
                                       b.Bottom + paper.Top}));
      const Rect& t = base.TextBox;
      EXPECT_EQ(page.TextBox, (Rect{t.Left + paper.Left, t.Top + paper.Top, t.Right + paper.Left,
                                    t.Bottom + paper.Top}));
    }
    // The text block is the body text alone: the page number and the lone
    // line far below it lie outside it, within the content.
    EXPECT_EQ(base.TextBox.Left, 90);
    EXPECT_EQ(base.TextBox.Top, 100);
    EXPECT_LT(base.TextBox.Bottom, 1100 - 110);
    EXPECT_EQ(base.ContentBox.Bottom, 1050 + 8 + 2);  // the lone line's descenders
  }
}

TEST(RealisticPage, StavesPlatesAndLinesAreContentAsDrawn) {
  for (PageKind kind : {PageKind::Colour, PageKind::Gray, PageKind::Bitonal}) {
    SCOPED_TRACE(int(kind));
    RealisticPageOptions o;
    o.Kind = kind;
    o.Staves = 5;
    o.MarginBottom = 300;
    o.Runs.push_back({90, 1040, 120, 6, 1});
    const RealisticPage music = MakeRealisticPage(o);
    long long content = 0;
    for (int y = 0; y < music.Page.Height(); ++y) {
      for (int x = 0; x < music.Page.Width(); ++x) {
        ASSERT_EQ(music.IsContent(x, y), GrayAt(music, x, y) < 128) << x << ", " << y;
        content += music.IsContent(x, y);
      }
    }
    EXPECT_GT(content, 5 * 5 * 600);    // five staves of five lines, at least
    EXPECT_GE(music.TextBox.Top, 100);  // the staves are the text block
    EXPECT_LT(music.TextBox.Top, 120);
    EXPECT_GT(music.TextBox.Bottom, 700);
    EXPECT_LT(music.TextBox.Bottom, 800);
    EXPECT_EQ(music.ContentBox.Bottom, 1040 + 6 + 2);

    // A picture is content all over, light or dark; on a 1-bit page only
    // its black pixels remain.
    RealisticPageOptions p;
    p.Kind = kind;
    p.MarginTop = p.Height;
    p.Plate = {100, 150, 700, 900};
    const RealisticPage plate = MakeRealisticPage(p);
    EXPECT_EQ(plate.ContentBox, p.Plate);
    for (int y = 0; y < plate.Page.Height(); ++y) {
      for (int x = 0; x < plate.Page.Width(); ++x) {
        const bool inside = x >= 100 && x < 700 && y >= 150 && y < 900;
        ASSERT_EQ(plate.IsContent(x, y),
                  inside && (kind != PageKind::Bitonal || GrayAt(plate, x, y) == 0));
      }
    }
  }
}

}  // namespace
}  // namespace pagetrim::samples
