// The content box on kinds of real paper it was not first built on, as the
// generator draws them with their exact content: every content pixel kept,
// and no more than the border and 1% of the page left beside the content.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "book_generator.h"
#include "content_box.h"
#include "realistic_page.h"

namespace pagetrim {
namespace {

using samples::MakeRealisticPage;
using samples::PageKind;
using samples::PageSide;
using samples::RealisticPage;
using samples::RealisticPageOptions;

int Mm(int dpi, double mm) {
  return int(std::lround(mm * dpi / 25.4));
}

void ExpectKept(const RealisticPage& page, const ContentBox& found, int dpi) {
  if (page.ContentBox.Width() <= 0) {
    EXPECT_FALSE(found.HasContent);
    return;
  }
  ASSERT_TRUE(found.HasContent);
  EXPECT_EQ(page.ContentOutside(found.Cut), 0);
  const Rect& box = page.ContentBox;
  const int border = int(std::lround(CutBorderMm / 25.4 * dpi));
  const int slackX = border + page.Page.Width() / 100, slackY = border + page.Page.Height() / 100;
  EXPECT_LE(box.Left - found.Cut.Left, slackX);
  EXPECT_LE(box.Top - found.Cut.Top, slackY);
  EXPECT_LE(found.Cut.Right - box.Right, slackX);
  EXPECT_LE(found.Cut.Bottom - box.Bottom, slackY);
}

struct Kind {
  const char* Name;
  std::function<void(RealisticPageOptions&, int dpi)> Set;
};

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      // The page pushed into a corner of a dark bed that shows far beyond it
      // on two sides, a little on the others.
      {"a page in a corner of the bed",
       [](RealisticPageOptions& o, int dpi) {
         o.Beyond = {o.Width * 14 / 100, Mm(dpi, 2), Mm(dpi, 2), o.Height * 15 / 100};
         o.UnderGray = 40;
       }},
      // On the bed all round, the gutter's shadow on the side where the bed
      // is widest: that side shows no paper along the bed.
      {"a bound page on the bed, shaded towards it",
       [](RealisticPageOptions& o, int dpi) {
         o.Beyond = {Mm(dpi, 3), Mm(dpi, 3), o.Width * 13 / 100, o.Height * 14 / 100};
         o.UnderGray = 15;
         o.GutterSide = PageSide::Right;
         o.GutterShading = o.Width / 12;
       }},
      // An open book photographed on black cloth: the next page lies beyond
      // the gutter and runs off the image.
      {"an open book on cloth",
       [](RealisticPageOptions& o, int) {
         o.Under = RealisticPageOptions::Ground::Cloth;
         o.UnderGray = 14;
         o.GutterSide = PageSide::Left;
         o.GutterShading = o.Width / 12;
         o.Neighbour = o.Width / 4;
         o.Beyond = {0, o.Height / 14, o.Width / 14, o.Height / 14};
       }},
      // A cover: a picture to the edges with a wide dark frame that runs off
      // all four, as a bed would. The picture lies right against it, so it
      // is the cover's own and is kept.
      {"a cover's dark frame",
       [](RealisticPageOptions& o, int dpi) {
         o.MarginTop = o.Height;
         o.PageNumberDigits = 0;
         o.Plate = {0, 0, o.Width, o.Height};
         o.PlateFrame = Mm(dpi, 6);
         o.Runs.push_back({o.Width / 4, o.Height / 4, o.Width / 2, o.GlyphHeight * 2, 0});
       }},
      // Staves, and far below them a short imprint in small type at the
      // left margin: its words are smaller than the score's marks, but they
      // stand in a line and are ink.
      {"a lone imprint far below a score",
       [](RealisticPageOptions& o, int) {
         o.Seed = 3;
         o.Staves = 6;
         o.MarginBottom = o.Height * 22 / 100;
         o.PageNumberDigits = 0;
         o.Runs.push_back({o.MarginLeft, o.Height * 95 / 100, o.Width * 8 / 100, o.GlyphHeight / 2,
                           o.Stroke / 2});
       }},
  };
  return kinds;
}

TEST(PaperKinds, EveryKindKeepsItsContentAndLittleElse) {
  const std::pair<PageKind, const char*> formats[] = {
      {PageKind::Colour, "colour"}, {PageKind::Gray, "gray"}, {PageKind::Bitonal, "1-bit"}};
  for (const Kind& kind : Kinds()) {
    for (const auto& [format, formatName] : formats) {
      for (const int dpi : {100, 150}) {
        SCOPED_TRACE(std::string(kind.Name) + ", " + formatName + ", " + std::to_string(dpi) +
                     " dpi");
        RealisticPageOptions o = samples::LetterPage(dpi, format);
        o.Seed = unsigned(dpi + int(format));
        kind.Set(o, dpi);
        const RealisticPage page = MakeRealisticPage(o);
        ExpectKept(page, FindContentBox(page.Page, float(dpi)), dpi);
      }
    }
  }
}

// Pages of a generated book lying turned by 0.6 to 0.9 degrees on the
// scanner's lid: the edge of the sheet runs aslant along the border, and is
// no content however turned.
TEST(PaperKinds, ATurnedPagesOwnEdgeIsNoContent) {
  samples::BookOptions o;
  o.Dpi = 150;
  o.Seed = 1;
  o.Kind = PageKind::Bitonal;
  for (const int index : {5, 9, 21}) {
    const samples::BookPage page = samples::MakeBookPage(o, index);
    SCOPED_TRACE(page.Truth.Name + " turned " + std::to_string(page.Truth.Place.Turn));
    const ContentBox found = FindContentBox(page.Scan, float(o.Dpi));
    ASSERT_TRUE(found.HasContent);
    const Rect& box = page.Truth.ScanContent;
    const Rect& cut = found.Cut;
    EXPECT_TRUE(cut.Left <= box.Left && cut.Top <= box.Top && cut.Right >= box.Right &&
                cut.Bottom >= box.Bottom);
    const int slack = int(std::lround(CutBorderMm / 25.4 * o.Dpi)) + Mm(o.Dpi, 3);
    EXPECT_LE(box.Left - cut.Left, slack);
    EXPECT_LE(box.Top - cut.Top, slack);
    EXPECT_LE(cut.Right - box.Right, slack);
    EXPECT_LE(cut.Bottom - box.Bottom, slack);
  }
}

}  // namespace
}  // namespace pagetrim
