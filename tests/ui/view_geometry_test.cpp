// Where the views draw, and how view points map back to page pixels.
#include "view_geometry.h"

#include <gtest/gtest.h>

#include "image_view.h"

namespace pagetrim {
namespace {

TEST(ViewDrawRect, KeepsProportionsAnchoredTopLeft) {
  struct Row {
    const char* Name;
    int W, H, CW, CH;
    QRect Expected;
  };
  const Row rows[] = {
      {"portrait limited by width", 1000, 1414, 332, 514, {0, 0, 332, 469}},
      {"portrait limited by height", 1000, 1414, 400, 514, {0, 0, 363, 514}},
      {"landscape limited by width", 1600, 1000, 332, 514, {0, 0, 332, 207}},
      {"landscape limited by height", 2000, 1000, 800, 300, {0, 0, 600, 300}},
      {"square counts as portrait", 500, 500, 332, 514, {0, 0, 332, 332}},
      {"small pictures are enlarged", 10, 20, 332, 514, {0, 0, 257, 514}},
      {"empty picture fills the view", 0, 0, 332, 514, {0, 0, 332, 514}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(ViewDrawRect(row.W, row.H, row.CW, row.CH), row.Expected);
  }
}

TEST(MapViewToImage, FollowsTheIntegerRule) {
  // 1414/1000 < 510/332: the widths set the scale.
  EXPECT_EQ(MapViewToImage({166, 255}, 1000, 1414, 332, 510), QPoint(500, 768));
  // 2000/1000 > 510/332: the heights set the scale.
  EXPECT_EQ(MapViewToImage({100, 255}, 1000, 2000, 332, 510), QPoint(392, 1000));
  // Points beside the drawn page map outside it.
  EXPECT_GE(MapViewToImage({331, 10}, 1000, 2000, 332, 510).x(), 1000);
  // Truncation toward zero for points left of the view.
  EXPECT_EQ(MapViewToImage({-1, -1}, 1000, 1414, 332, 510), QPoint(-3, -3));
  // 32-bit products wrap around instead of overflowing.
  // 70000 * 65535 = 4587450000 wraps to 292482704.
  EXPECT_EQ(MapViewToImage({70000, 0}, 65535, 65535, 1, 1000000).x(), 292482704);
}

TEST(ScaleForView, PicksWholePixels) {
  PageRaster raster(2, 1);
  raster.Row(0)[0] = 0;  // left pixel blue channel 0: yellow
  const QImage image = ScaleForView(raster, 4, 2);
  ASSERT_EQ(image.size(), QSize(4, 2));
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 0));
  EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 0));
  EXPECT_EQ(image.pixel(2, 0), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(3, 1), qRgb(255, 255, 255));
}

// A reduced picture stands each sample for the step x step block it starts:
// on a page even over such blocks it draws exactly what the page draws, for
// the whole page or any part of it.
TEST(ScaleForView, AReducedPictureDrawsWhatThePageDraws) {
  constexpr int Step = 3;
  PageRaster page(61, 92);
  for (int y = 0; y < page.Height(); ++y) {
    for (int x = 0; x < page.Width(); ++x) {
      std::uint8_t* p = page.Row(y) + 3 * x;
      p[0] = std::uint8_t(x / Step * 11);
      p[1] = std::uint8_t(y / Step * 7);
      p[2] = std::uint8_t((x / Step + y / Step) % 2 * 200);
    }
  }
  const ReducedPicture reduced = ReducePage(page, Step);
  for (const Rect region : {Rect{0, 0, 61, 92}, Rect{7, 0, 50, 92}, Rect{0, 5, 61, 80}}) {
    PageRaster crop = page;
    crop.CropLeft(region.Left);
    crop.CropTop(region.Top);
    crop.SetWidth(region.Width());
    crop.SetHeight(region.Height());
    ReducedPicture part = reduced;
    part.Region = region;
    for (const QSize size : {QSize(20, 30), QSize(61, 92), QSize(130, 200)}) {
      SCOPED_TRACE(::testing::Message() << region.Left << "," << region.Top << " in "
                                        << size.width() << "x" << size.height());
      EXPECT_EQ(ScaleForView(part, size.width(), size.height()),
                ScaleForView(crop, size.width(), size.height()));
    }
  }
}

}  // namespace
}  // namespace pagetrim
