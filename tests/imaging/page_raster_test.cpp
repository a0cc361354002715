// PageRaster's size, crop and copy operations and the analysis images.
#include "page_raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace pagetrim {
namespace {

void Put(PageRaster& r, int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  std::uint8_t* p = r.Row(y) + x * 3;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

// Every pixel distinct, so that any misplaced pixel shows.
PageRaster Numbered(int width, int height) {
  PageRaster r(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      Put(r, x, y, std::uint8_t(x), std::uint8_t(y), 7);
  }
  return r;
}

ColourValue NumberedAt(int x, int y) {
  return MakeColour(std::uint8_t(x), std::uint8_t(y), 7);
}

constexpr ColourValue White = 0xFFFFFF;

TEST(PageRasterTest, GrowingKeepsOldPixelsAndAddsWhite) {
  PageRaster r = Numbered(5, 4);
  r.SetWidth(9);
  r.SetHeight(6);
  ASSERT_EQ(r.Width(), 9);
  ASSERT_EQ(r.Height(), 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(r.PixelAt(x, y), x < 5 && y < 4 ? NumberedAt(x, y) : White) << x << "," << y;
    }
  }
  r.SetWidth(3);  // shrinking keeps the top-left
  EXPECT_EQ(r.PixelAt(2, 3), NumberedAt(2, 3));
  EXPECT_EQ(r.PixelAt(3, 3), InvalidColour);
}

TEST(PageRasterTest, GrowingFromZeroWidthGivesWhite) {
  PageRaster r = Numbered(4, 3);
  r.SetWidth(0);
  EXPECT_TRUE(r.IsEmpty());
  r.SetWidth(2);
  ASSERT_EQ(r.Height(), 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 2; ++x)
      EXPECT_EQ(r.PixelAt(x, y), White);
  }
}

TEST(PageRasterTest, PixelAtOutsideIsInvalid) {
  const PageRaster r = Numbered(4, 3);
  for (auto [x, y] : {std::pair{4, 0}, {0, 3}, {-1, 0}, {0, -1}, {4, 3}}) {
    EXPECT_EQ(r.PixelAt(x, y), InvalidColour) << x << "," << y;
  }
  EXPECT_EQ(r.PixelAt(3, 2), NumberedAt(3, 2));
  EXPECT_EQ(PageRaster().PixelAt(0, 0), InvalidColour);
}

TEST(PageRasterTest, CropsRemoveLeadingRowsOrColumns) {
  for (int n : {0, 1, 4}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    PageRaster top = Numbered(5, 6);
    top.CropTop(n);
    ASSERT_EQ(top.Width(), 5);
    ASSERT_EQ(top.Height(), 6 - n);
    PageRaster left = Numbered(6, 5);
    left.CropLeft(n);
    ASSERT_EQ(left.Width(), 6 - n);
    ASSERT_EQ(left.Height(), 5);
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < left.Width(); ++x) {
        EXPECT_EQ(left.PixelAt(x, y), NumberedAt(x + n, y));
      }
    }
    for (int y = 0; y < top.Height(); ++y) {
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(top.PixelAt(x, y), NumberedAt(x, y + n));
    }
  }
}

struct CopyCase {
  const char* Name;
  Rect Dest;
  Rect Src;
  // For destination column x and row y, the source pixel expected, or
  // (-1, -1) for an untouched (white) pixel.
  std::pair<int, int> (*Expected)(int x, int y);
};

TEST(PageRasterTest, CopyRectScalesAndClips) {
  const PageRaster src = Numbered(4, 3);
  const CopyCase cases[] = {
      {"exact copy at an offset",
       {1, 1, 5, 4},
       {0, 0, 4, 3},
       [](int x, int y) {
         return x >= 1 && x < 5 && y >= 1 && y < 4 ? std::pair{x - 1, y - 1} : std::pair{-1, -1};
       }},
      {"negative destination left clips",
       {-2, 0, 2, 3},
       {0, 0, 4, 3},
       [](int x, int y) {
         return x < 2 && y < 3 ? std::pair{x + 2, y} : std::pair{-1, -1};
       }},
      {"one column wider doubles column 0",
       {0, 0, 5, 3},
       {0, 0, 4, 3},
       [](int x, int y) {
         return x < 5 && y < 3 ? std::pair{x == 0 ? 0 : x - 1, y} : std::pair{-1, -1};
       }},
      {"twice the size repeats pixels",
       {0, 0, 8, 6},
       {0, 0, 4, 3},
       [](int x, int y) {
         return std::pair{x / 2, y / 2};
       }},
      {"half the size drops pixels",
       {0, 0, 2, 3},
       {0, 0, 4, 3},
       [](int x, int y) {
         return x < 2 && y < 3 ? std::pair{x * 2, y} : std::pair{-1, -1};
       }},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    PageRaster dest(8, 6);
    dest.CopyRect(c.Dest, src, c.Src);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        const auto [sx, sy] = c.Expected(x, y);
        EXPECT_EQ(dest.PixelAt(x, y), sx < 0 ? White : NumberedAt(sx, sy)) << x << "," << y;
      }
    }
  }
}

TEST(PageRasterTest, AnalysisImagesUseTruncatedMeanAndStrictThreshold) {
  PageRaster source(2, 1);
  Put(source, 0, 0, 10, 20, 30);
  Put(source, 1, 0, 255, 255, 254);
  for (auto [threshold, firstBlack] : {std::pair{20, false}, {21, true}}) {
    SCOPED_TRACE("threshold " + std::to_string(threshold));
    PageRaster gray(2, 1), binary(2, 1);
    MakeAnalysisImages(source, gray, binary, threshold);
    EXPECT_EQ(gray.PixelAt(0, 0), MakeColour(20, 20, 20));
    EXPECT_EQ(gray.PixelAt(1, 0), MakeColour(254, 254, 254));
    EXPECT_EQ(binary.PixelAt(0, 0), firstBlack ? 0 : White);
    EXPECT_EQ(binary.PixelAt(1, 0), White);
  }
}

TEST(PageRasterTest, ThresholdIsNotClamped) {
  PageRaster source(3, 1);
  Put(source, 0, 0, 0, 0, 0);
  Put(source, 1, 0, 128, 128, 128);
  Put(source, 2, 0, 255, 255, 255);
  for (auto [threshold, expected] : {std::pair{0, White}, {-5, White}, {256, 0}, {1000, 0}}) {
    SCOPED_TRACE("threshold " + std::to_string(threshold));
    PageRaster gray(3, 1), binary(3, 1);
    MakeAnalysisImages(source, gray, binary, threshold);
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(binary.PixelAt(x, 0), expected);
  }
}

TEST(PageRasterTest, EmptySourceLeavesAnalysisImagesAlone) {
  PageRaster gray = Numbered(2, 2), binary = Numbered(2, 2);
  MakeAnalysisImages(PageRaster(), gray, binary, 128);
  EXPECT_EQ(gray.PixelAt(1, 1), NumberedAt(1, 1));
  EXPECT_EQ(binary.PixelAt(0, 1), NumberedAt(0, 1));
}

TEST(PageRasterTest, AnalysisImagesMatchAPlainReferenceForEverySum) {
  // Widths that end in every position of a vector block, with every channel
  // sum from 0 to 765 somewhere in the rows.
  for (int width : {1, 15, 31, 33, 255, 766}) {
    SCOPED_TRACE("width " + std::to_string(width));
    PageRaster source(width, 3);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < width; ++x) {
        const int sum = (x * 3 + y * 257) % 766;
        Put(source, x, y, std::uint8_t(std::min(sum, 255)),
            std::uint8_t(std::clamp(sum - 255, 0, 255)), std::uint8_t(std::max(sum - 510, 0)));
      }
    }
    for (int threshold : {-1, 0, 1, 100, 128, 255, 256, 300}) {
      PageRaster gray(width, 3), binary(width, 3);
      MakeAnalysisImages(source, gray, binary, threshold);
      for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < width; ++x) {
          const std::uint8_t* p = source.Row(y) + x * 3;
          const int g = (p[0] + p[1] + p[2]) / 3;
          ASSERT_EQ(gray.PixelAt(x, y), MakeColour(g, g, g)) << x << "," << y;
          ASSERT_EQ(binary.PixelAt(x, y), g < threshold ? 0 : White) << x << "," << y;
        }
      }
    }
  }
}

// Copies share their pixels until one is written; none of that may show.
TEST(PageRasterTest, CopiesAndCropsNeverChangeEachOther) {
  const PageRaster original = Numbered(6, 5);
  PageRaster copy;
  copy.AssignFrom(original);
  Put(copy, 0, 0, 1, 2, 3);
  EXPECT_EQ(original.PixelAt(0, 0), NumberedAt(0, 0));
  EXPECT_EQ(copy.PixelAt(0, 0), MakeColour(1, 2, 3));

  // A crop of a shared page, written afterwards, leaves the other as it was.
  PageRaster cropped = original;
  cropped.CropLeft(2);
  cropped.CropTop(1);
  cropped.SetWidth(3);
  cropped.SetHeight(3);
  Put(cropped, 0, 0, 9, 9, 9);
  EXPECT_EQ(cropped.PixelAt(0, 0), MakeColour(9, 9, 9));
  EXPECT_EQ(cropped.PixelAt(2, 2), NumberedAt(4, 3));
  EXPECT_EQ(original.PixelAt(2, 1), NumberedAt(2, 1));
  EXPECT_EQ(original.Width(), 6);

  // Growing a cropped raster keeps its pixels and whitens the rest.
  PageRaster grown = original;
  grown.CropLeft(4);
  grown.SetWidth(4);
  grown.SetHeight(6);
  EXPECT_EQ(grown.PixelAt(1, 4), NumberedAt(5, 4));
  EXPECT_EQ(grown.PixelAt(2, 0), White);
  EXPECT_EQ(grown.PixelAt(0, 5), White);

  // A copy made after writing keeps what was written then.
  PageRaster writer = original;
  writer.Row(1)[0] = 1;
  const PageRaster snapshot = writer;
  writer.Row(1)[0] = 2;
  EXPECT_EQ(snapshot.Row(1)[0], 1);
  EXPECT_EQ(writer.Row(1)[0], 2);

  // Overwriting a shared raster, as a decoder does, leaves its copies alone.
  PageRaster decoded = original;
  decoded.ResetForOverwrite(2, 2);
  for (int y = 0; y < 2; ++y)
    std::fill_n(decoded.Row(y), decoded.RowBytes(), std::uint8_t(0));
  EXPECT_EQ(original.PixelAt(1, 1), NumberedAt(1, 1));

  // Drawing and copying from a raster that shares this one's pixels.
  PageRaster self = original;
  self.CopyRect({1, 0, 6, 5}, self, {0, 0, 5, 5});
  EXPECT_EQ(self.PixelAt(1, 2), NumberedAt(0, 2));
  EXPECT_EQ(self.PixelAt(0, 2), NumberedAt(0, 2));
  EXPECT_EQ(original.PixelAt(1, 2), NumberedAt(1, 2));
  PageRaster small = Numbered(2, 2);
  PageRaster drawn = original;
  drawn.DrawOver(small);
  EXPECT_EQ(drawn.PixelAt(1, 1), NumberedAt(1, 1));
  Put(small, 0, 0, 5, 5, 5);
  drawn.DrawOver(small);
  EXPECT_EQ(drawn.PixelAt(0, 0), MakeColour(5, 5, 5));
  EXPECT_EQ(drawn.PixelAt(5, 4), NumberedAt(5, 4));
  EXPECT_EQ(original.PixelAt(0, 0), NumberedAt(0, 0));
}

// ---- Gray rasters -------------------------------------------------------------

// Gray pixels, all distinct, stored in either format.
PageRaster GrayNumbered(int width, int height, PixelFormat format) {
  PageRaster r(width, height, format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      std::fill_n(r.Row(y) + x * r.BytesPerPixel(), r.BytesPerPixel(), std::uint8_t(x * 9 + y));
  }
  return r;
}

void ExpectSamePixels(const PageRaster& actual, const PageRaster& expected) {
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  for (int y = -1; y <= expected.Height(); ++y) {
    for (int x = -1; x <= expected.Width(); ++x)
      ASSERT_EQ(actual.PixelAt(x, y), expected.PixelAt(x, y)) << x << "," << y;
  }
}

TEST(PageRasterTest, GrayRasterBehavesLikeTheSamePixelsInColour) {
  const struct {
    const char* Name;
    void (*Change)(PageRaster& r);
  } cases[] = {
      {"as made", [](PageRaster&) {}},
      {"crops", [](PageRaster& r) { r.CropTop(2), r.CropLeft(3); }},
      {"cropped, then grown", [](PageRaster& r) { r.CropLeft(3), r.SetSize(12, 9); }},
      {"shrunk", [](PageRaster& r) { r.SetSize(4, 2); }},
      {"to nothing and back", [](PageRaster& r) { r.SetWidth(0), r.SetWidth(3); }},
      {"scaled copy onto itself",
       [](PageRaster& r) {
         r.CopyRect({1, 1, 9, 7}, r, {0, 0, 4, 3});
       }},
      {"smaller copy drawn over",
       [](PageRaster& r) {
         PageRaster part = r;
         part.CropLeft(2);
         part.SetHeight(3);
         r.DrawOver(part);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    PageRaster gray = GrayNumbered(8, 6, PixelFormat::Gray8);
    PageRaster colour = GrayNumbered(8, 6, PixelFormat::Bgr24);
    c.Change(gray);
    c.Change(colour);
    EXPECT_EQ(gray.Format(), PixelFormat::Gray8);
    ExpectSamePixels(gray, colour);
  }
}

// Drawing colour on a gray raster makes it colour; the source stays as it was.
TEST(PageRasterTest, AnalysisOfGrayPages) {
  PageRaster page = GrayNumbered(33, 7, PixelFormat::Gray8);
  PageRaster gray;
  MakeGrayImage(page, gray);
  EXPECT_TRUE(gray.SharesPixelsWith(page));  // a gray page is its own gray copy
  page.Row(0)[0] = 77;
  EXPECT_EQ(gray.PixelAt(0, 0), 0);

  // Built whole or in pieces of rows, from a gray page or the same in colour.
  for (const PixelFormat format : {PixelFormat::Gray8, PixelFormat::Bgr24}) {
    const PageRaster source = GrayNumbered(33, 7, format);
    for (int threshold : {0, 100, 256}) {
      SCOPED_TRACE(::testing::Message()
                   << "colour " << (format == PixelFormat::Bgr24) << ", threshold " << threshold);
      PageRaster binary, wholeGray, wholeBinary;
      MakeBinaryImage(source, binary, threshold);
      MakeAnalysisImages(source, wholeGray, wholeBinary, threshold);
      ExpectSamePixels(wholeGray, GrayNumbered(33, 7, PixelFormat::Bgr24));
      for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 33; ++x) {
          const int v = std::uint8_t(x * 9 + y);
          ASSERT_EQ(binary.PixelAt(x, y), v < threshold ? 0 : White) << x << "," << y;
        }
      }
      ExpectSamePixels(wholeBinary, binary);
      PageRaster pieceGray(33, 7, PixelFormat::Gray8), pieceBinary(33, 7, PixelFormat::Gray8);
      PageRaster onlyBinary(33, 7, PixelFormat::Gray8);
      for (auto [first, count] : {std::pair{0, 2}, {2, 1}, {3, 10}}) {
        AnalyseRows(source, &pieceGray, &pieceBinary, threshold, first, count);
        AnalyseRows(source, nullptr, &onlyBinary, threshold, first, count);
      }
      ExpectSamePixels(pieceGray, wholeGray);
      ExpectSamePixels(pieceBinary, binary);
      ExpectSamePixels(onlyBinary, binary);
    }
  }
}

}  // namespace
}  // namespace pagetrim

// ---- Pictures for the views, and the black-and-white image of colour -------

#include <random>

#include "reduced_picture.h"

namespace pagetrim {
namespace {

// Buffers of pages that went wait for the next pages; a small picture,
// such as a view's sample of a page, does not take one from them.
TEST(PageRasterTest, ASmallPictureTakesNoBufferAPageLeft) {
  { const PageRaster page(2000, 1500); }
  const std::size_t pooled = PooledBytes();
  ASSERT_GE(pooled, std::size_t(2000) * 1500 * 3);
  const PageRaster small(400, 500);
  EXPECT_EQ(PooledBytes(), pooled);
  const PageRaster next(2000, 1500);
  EXPECT_LT(PooledBytes(), pooled);
}

TEST(PageRasterTest, AReducedPictureSamplesEveryStepthPixel) {
  for (const PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Gray8}) {
    const PageRaster page =
        format == PixelFormat::Gray8 ? GrayNumbered(23, 17, format) : Numbered(23, 17);
    for (const int step : {1, 3, 5}) {
      SCOPED_TRACE(::testing::Message()
                   << "step " << step << ", gray " << (format == PixelFormat::Gray8));
      const ReducedPicture whole = ReducePage(page, step);
      ASSERT_EQ(whole.Pixels.Width(), (23 + step - 1) / step);
      ASSERT_EQ(whole.Pixels.Height(), (17 + step - 1) / step);
      EXPECT_EQ(whole.Pixels.Format(), format);
      EXPECT_EQ(whole.Region, (Rect{0, 0, 23, 17}));
      for (int y = 0; y < whole.Pixels.Height(); ++y) {
        for (int x = 0; x < whole.Pixels.Width(); ++x)
          ASSERT_EQ(whole.Pixels.PixelAt(x, y), page.PixelAt(x * step, y * step)) << x << "," << y;
      }
      // Rows arriving in pieces, as a decoder delivers them, give the same.
      PageRaster pieces;
      for (auto [first, count] : {std::pair{0, 4}, {4, 1}, {5, 7}, {12, 5}})
        ReduceRows(page, pieces, step, first, count);
      for (int y = 0; y < pieces.Height(); ++y) {
        for (int x = 0; x < pieces.Width(); ++x)
          ASSERT_EQ(pieces.PixelAt(x, y), whole.Pixels.PixelAt(x, y)) << x << "," << y;
      }
    }
  }
}

TEST(PageRasterTest, TheReductionStepLeavesASampleForEveryPixelAViewDraws) {
  EXPECT_EQ(ReductionStep(2480, 3508, 332, 514), 6);
  EXPECT_EQ(ReductionStep(4960, 7016, 332, 514), 13);
  EXPECT_EQ(ReductionStep(2480, 3508, 498, 676), 4);
  EXPECT_EQ(ReductionStep(300, 400, 332, 514), 1);  // smaller than the view: every pixel
  EXPECT_EQ(ReductionStep(2480, 3508, 0, 0), 0);    // nowhere to draw
  EXPECT_EQ(ReductionStep(0, 0, 332, 514), 0);
}

// The black-and-white image of colour pixels against the plain rule: black
// where (b + g + r) div 3 is below the threshold.
TEST(PageRasterTest, BlackAndWhiteOfColourFollowsTheGrayLevel) {
  std::mt19937 rng(5);
  PageRaster page(67, 9);
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* row = page.Row(y);
    for (std::size_t i = 0; i < page.RowBytes(); ++i)
      row[i] = std::uint8_t(rng());
  }
  for (const int threshold : {-5, 0, 1, 85, 127, 128, 129, 254, 255, 256, 300}) {
    SCOPED_TRACE(threshold);
    PageRaster binary;
    MakeBinaryImage(page, binary, threshold);
    for (int y = 0; y < page.Height(); ++y) {
      for (int x = 0; x < page.Width(); ++x) {
        const std::uint8_t* p = page.Row(y) + 3 * x;
        const int gray = (p[0] + p[1] + p[2]) / 3;
        ASSERT_EQ(binary.PixelAt(x, y), gray < threshold ? 0 : White) << x << "," << y;
      }
    }
    // Built in bands of columns, as a batch builds what its walks read.
    PageRaster bands(page.Width(), page.Height(), PixelFormat::Gray8);
    for (auto [first, count] : {std::pair{0, 10}, {10, 1}, {11, 50}, {61, 99}})
      AnalyseColumns(page, nullptr, &bands, threshold, first, count);
    for (int y = 0; y < page.Height(); ++y) {
      for (int x = 0; x < page.Width(); ++x)
        ASSERT_EQ(bands.PixelAt(x, y), binary.PixelAt(x, y)) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace pagetrim
