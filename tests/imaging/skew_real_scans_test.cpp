// Finding how far real scans are turned: each page of ../shared/realscans,
// turned by known angles with a plainly written rotation, must be found turned
// by its own angle plus the turn. A real page may lie turned already, so the
// turned copy is measured against the page as scanned.
#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <numbers>

#include "page_codec.h"
#include "page_skew.h"
#include "page_turn.h"
#include "support/reference_turn.h"
#include "support/scan_score.h"

namespace pagetrim {
namespace {

// Halves a page each way (each pixel the mean of four), keeping 1-bit pages
// 1-bit: the large scans are 300 dpi, and the test turns them at 150.
PageRaster HalfSize(const PageRaster& page, bool bitonal) {
  PageRaster half(page.Width() / 2, page.Height() / 2, page.Format());
  const int channels = page.BytesPerPixel();
  for (int y = 0; y < half.Height(); ++y) {
    const std::uint8_t* a = page.Row(2 * y);
    const std::uint8_t* b = page.Row(2 * y + 1);
    std::uint8_t* out = half.Row(y);
    for (int x = 0; x < half.Width(); ++x) {
      for (int k = 0; k < channels; ++k) {
        const int i = 2 * x * channels + k, j = i + channels;
        const int mean = (a[i] + a[j] + b[i] + b[j] + 2) / 4;
        out[x * channels + k] = std::uint8_t(bitonal ? (mean < 128 ? 0 : 255) : mean);
      }
    }
  }
  return half;
}

TEST(SkewRealScans, TurnedCopiesAreFoundTurnedByTheTurn) {
  const QString folder = PAGETRIM_REALSCANS;
  const std::vector<test::HandChecked> pages = test::ReadHandChecked(folder);
  if (pages.empty())
    GTEST_SKIP() << "no real scans in " << folder.toStdString();
  // Two turns per page, taken in turn from these, so that every page sees a
  // small and a large one and the pages together see them all.
  const double turns[] = {-4.1, 0.6, -1.3, 5.2, 2.4, -0.35, 3.7, -2.8};
  double errors = 0;
  int compared = 0, index = 0;
  for (const test::HandChecked& hand : pages) {
    SCOPED_TRACE(hand.Name.toStdString());
    PageRaster read;
    const PageFileInfo info = ReadPageFile(folder + "/" + hand.Name, read);
    ASSERT_TRUE(info.Decoded());
    const bool bitonal = test::IsBitonalPage(read);
    const PageRaster page = read.Width() > 1500 ? HalfSize(read, bitonal) : read;
    const float dpi = read.Width() > 1500 ? info.Resolution.X / 2 : info.Resolution.X;
    PageReduction reduction;
    reduction.AddRows(page, 0, page.Height());
    const SkewFinding scanned = FindSkew(page, dpi, reduction);
    const ColourValue paper = PaperColour(reduction);
    const std::uint8_t fill[3] = {std::uint8_t(paper >> 16), std::uint8_t(paper >> 8),
                                  std::uint8_t(paper)};
    for (int k = 0; k < 2; ++k) {
      const double turn = turns[index++ % std::size(turns)];
      SCOPED_TRACE("turned by " + std::to_string(turn));
      // Onto a canvas that holds the whole turned page.
      const double a = turn * std::numbers::pi / 180.0;
      const double c = std::abs(std::cos(a)), s = std::abs(std::sin(a));
      const int width = int(std::ceil(page.Width() * c + page.Height() * s));
      const int height = int(std::ceil(page.Width() * s + page.Height() * c));
      const PageRaster turned =
          test::ReferenceTurn(page, turn, width, height, fill, bitonal, nullptr, 2).Page;
      const SkewFinding found = FindSkew(turned, dpi);
      if (found.Sure && scanned.Sure) {
        const double error = found.Degrees - scanned.Degrees - turn;
        EXPECT_LE(std::abs(error), 0.3)
            << "found " << found.Degrees << ", scanned at " << scanned.Degrees;
        errors += std::abs(error);
        ++compared;
      } else if (found.Sure != scanned.Sure) {
        // A page whose halves lie near the limit of agreeing (a photograph of
        // an open book, a page in perspective) may fall either side of it;
        // never another doubt.
        const SkewFinding& unsure = found.Sure ? scanned : found;
        EXPECT_EQ(unsure.Doubt, SkewDoubt::LinesDisagree) << SkewDoubtName(unsure.Doubt);
      }
    }
  }
  ASSERT_GE(compared, 14);
  EXPECT_LE(errors / compared, 0.1);
}

}  // namespace
}  // namespace pagetrim
