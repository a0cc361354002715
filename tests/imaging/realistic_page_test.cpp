// The page generator the trim tests rely on: what it marks as content is
// exactly what it drew as content, whatever else the paper shows.
#include "support/realistic_page.h"

#include <gtest/gtest.h>

namespace pagetrim::test {
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

}  // namespace
}  // namespace pagetrim::test
