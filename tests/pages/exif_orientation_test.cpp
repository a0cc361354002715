// Pages stored turned: the EXIF orientation turns them upright at read, with
// their resolution, and they are written upright with no orientation left.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "page_codec.h"
#include "pages/image_fixtures.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;

struct Entry {
  std::uint32_t Tag, Type, Count, Value;
};

constexpr std::uint32_t Orientation = 0x0112, Short = 3, Long = 4;

// A TIFF structure whose first directory holds entries, values inline.
Bytes Tiff(const std::vector<Entry>& entries, bool little = false) {
  Bytes tiff;
  const auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      const int shift = little ? 8 * i : 8 * (bytes - 1 - i);
      tiff.push_back(std::uint8_t(value >> shift));
    }
  };
  tiff.push_back(little ? 'I' : 'M');
  tiff.push_back(little ? 'I' : 'M');
  put(42, 2);
  put(8, 4);
  put(std::uint32_t(entries.size()), 2);
  for (const Entry& e : entries) {
    put(e.Tag, 2);
    put(e.Type, 2);
    put(e.Count, 4);
    // A short value sits in the first two bytes of the value field.
    put(e.Value, e.Type == Short ? 2 : 4);
    if (e.Type == Short)
      put(0, 2);
  }
  put(0, 4);
  return tiff;
}

Bytes App1(const Bytes& tiff) {
  Bytes app1(6 + tiff.size(), 0);
  std::memcpy(app1.data(), "Exif", 4);
  std::copy(tiff.begin(), tiff.end(), app1.begin() + 6);
  return app1;
}

// Six flat blocks of 16 x 16, three across and two down, each its own colour.
constexpr int Width = 48, Height = 32;
const std::uint8_t BlockColours[6][3] = {{200, 30, 30},  {30, 200, 30},  {30, 30, 200},
                                         {200, 200, 30}, {30, 200, 200}, {120, 60, 160}};

Bytes Blocks() {
  Bytes pixels;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const std::uint8_t* c = BlockColours[(y / 16) * 3 + x / 16];
      pixels.insert(pixels.end(), c, c + 3);
    }
  }
  return pixels;
}

Bytes TurnedJpeg(const Bytes& app1, int lumaH = 1, int lumaV = 1) {
  fixtures::JpegFixture fixture;
  fixture.Width = Width;
  fixture.Height = Height;
  fixture.Pixels = Blocks();
  fixture.LumaH = lumaH;
  fixture.LumaV = lumaV;
  fixture.App1 = app1;
  fixture.DensityUnit = 1;
  fixture.XDensity = 300;
  fixture.YDensity = 150;
  return fixtures::EncodeJpegFixture(fixture);
}

enum Corner { TopLeft, TopRight, BottomLeft, BottomRight };

// The colour of the upright page near a corner, against a stored block's.
void ExpectCorner(const PageRaster& page, Corner corner, int block) {
  const int x = corner == TopLeft || corner == BottomLeft ? 4 : page.Width() - 5;
  const int y = corner == TopLeft || corner == TopRight ? 4 : page.Height() - 5;
  const ColourValue colour = page.PixelAt(x, y);
  const std::uint8_t* want = BlockColours[block];
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR((colour >> (8 * c)) & 0xFF, want[c], 3) << "corner " << corner;
}

class ExifOrientationTest : public ::testing::Test {
 protected:
  QString Write(const char* name, const Bytes& bytes) {
    EXPECT_TRUE(fixtures::WriteBytes(dir_.filePath(name), bytes));
    return dir_.filePath(name);
  }
  QTemporaryDir dir_;
};

TEST_F(ExifOrientationTest, EachOfTheEightOrientationsIsTurnedUpright) {
  // Where the stored top-left and top-right corners are seen, as EXIF
  // defines each value.
  const struct {
    int Value;
    Corner StoredTopLeft, StoredTopRight;
  } cases[] = {{1, TopLeft, TopRight},       {2, TopRight, TopLeft},   {3, BottomRight, BottomLeft},
               {4, BottomLeft, BottomRight}, {5, TopLeft, BottomLeft}, {6, TopRight, BottomRight},
               {7, BottomRight, TopRight},   {8, BottomLeft, TopLeft}};
  for (const auto& c : cases) {
    for (const bool little : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "orientation " << c.Value << (little ? " II" : " MM"));
      const Bytes tiff = Tiff({{Orientation, Short, 1, std::uint32_t(c.Value)}}, little);
      PageRaster page;
      const PageFileInfo info = ReadPageFile(Write("turned.jpg", TurnedJpeg(App1(tiff))), page);
      ASSERT_TRUE(info.Decoded());
      const bool quarter = c.Value >= 5;
      ASSERT_EQ(page.Width(), quarter ? Height : Width);
      ASSERT_EQ(page.Height(), quarter ? Width : Height);
      EXPECT_EQ(info.Resolution.X, quarter ? 150 : 300);
      EXPECT_EQ(info.Resolution.Y, quarter ? 300 : 150);
      EXPECT_EQ(info.Source.Turned, c.Value != 1);
      ExpectCorner(page, c.StoredTopLeft, 0);
      ExpectCorner(page, c.StoredTopRight, 2);
    }
  }

  // A PNG page's eXIf chunk is read the same way.
  fixtures::PngFixture png;
  png.Width = Width;
  png.Height = Height;
  const Bytes rgb = Blocks();
  for (int y = 0; y < Height; ++y)
    png.Rows.emplace_back(rgb.begin() + y * Width * 3, rgb.begin() + (y + 1) * Width * 3);
  png.Exif = Tiff({{Orientation, Short, 1, 8}});
  PageRaster page;
  ReadPageFile(Write("turned.png", fixtures::EncodePngFixture(png)), page);
  ASSERT_EQ(page.Width(), Height);
  ExpectCorner(page, BottomLeft, 0);
  ExpectCorner(page, TopLeft, 2);
}

TEST_F(ExifOrientationTest, AnAbsentOrDamagedOrientationMeansAsStored) {
  Bytes truncated = Tiff({{Orientation, Short, 1, 6}});
  truncated.resize(truncated.size() - 8);
  Bytes badOrder = Tiff({{Orientation, Short, 1, 6}});
  badOrder[0] = badOrder[1] = 'X';
  const struct {
    const char* Name;
    Bytes Tiff;
  } cases[] = {{"no orientation", Tiff({{0x011A, 5, 1, 0}})},
               {"value 0", Tiff({{Orientation, Short, 1, 0}})},
               {"value 9", Tiff({{Orientation, Short, 1, 9}})},
               {"a long", Tiff({{Orientation, Long, 1, 6}})},
               {"two values", Tiff({{Orientation, Short, 2, 6}})},
               {"cut short", truncated},
               {"unknown byte order", badOrder}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    PageRaster page;
    const PageFileInfo info = ReadPageFile(Write("stored.jpg", TurnedJpeg(App1(c.Tiff))), page);
    ASSERT_TRUE(info.Decoded());
    EXPECT_EQ(page.Width(), Width);
    EXPECT_EQ(info.Resolution.X, 300);
    EXPECT_FALSE(info.Source.Turned);
    ExpectCorner(page, TopLeft, 0);
  }
}

TEST_F(ExifOrientationTest, RowsAreHandedOnUprightAndTheUprightPageIsWrittenWithoutATurn) {
  // 4:2:2 stored turned a quarter: upright, its chroma is halved downwards.
  const QString path =
      Write("turned.jpg", TurnedJpeg(App1(Tiff({{Orientation, Short, 1, 6}})), 2, 1));
  PageRaster page;
  PageRaster seen;
  int next = 0;
  ReadOptions options;
  options.RowsDecoded = [&](const PageRaster& raster, int first, int count, bool) {
    EXPECT_EQ(first, next);
    if (first == 0)
      seen = PageRaster(raster.Width(), raster.Height(), raster.Format());
    for (int y = first; y < first + count; ++y)
      std::memcpy(seen.Row(y), raster.Row(y), raster.RowBytes());
    next = first + count;
  };
  const PageFileInfo info = ReadPageFile(path, page, options);
  ASSERT_EQ(next, page.Height());
  for (int y = 0; y < page.Height(); ++y) {
    for (int x = 0; x < page.Width(); ++x)
      ASSERT_EQ(seen.PixelAt(x, y), page.PixelAt(x, y)) << x << ", " << y;
  }

  // Written from the upright pixels: no EXIF, so read back as it is.
  const EncodedPage written = EncodePage(path, page, info.Resolution.X, info.Resolution.Y,
                                         info.Source, Rect{0, 0, page.Width(), page.Height()});
  ASSERT_TRUE(written.Ok());
  EXPECT_FALSE(written.Copied);
  const Bytes bytes(written.Bytes.Data(), written.Bytes.Data() + written.Bytes.Size());
  PageRaster again;
  const PageFileInfo reread = ReadPageFile(Write("upright.jpg", bytes), again);
  EXPECT_FALSE(reread.Source.Turned);
  EXPECT_EQ(again.Width(), Height);
  EXPECT_EQ(reread.Resolution.X, 150);
  ExpectCorner(again, TopRight, 0);
  ASSERT_TRUE(reread.Source.Jpeg.has_value());
  EXPECT_EQ(reread.Source.Jpeg->Components[0].H, 1);
  EXPECT_EQ(reread.Source.Jpeg->Components[0].V, 2);
}

}  // namespace
}  // namespace pagetrim
