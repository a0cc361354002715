// Tests for LoadPage and SavePage on real files in a temporary folder.
#include "page_codec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>

#include "original_store.h"
#include "pages/hostile_files.h"
#include "pages/image_fixtures.h"
#include "support/as_another_user.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;

struct Bgr {
  int B, G, R;
};

PageRaster NoisePage(int width, int height, unsigned seed) {
  PageRaster raster(width, height);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster.Row(y);
    for (std::size_t i = 0; i < raster.RowBytes(); ++i)
      row[i] = std::uint8_t(random());
  }
  return raster;
}

void Fill(PageRaster& raster, const Rect& area, Bgr colour) {
  for (int y = area.Top; y < area.Bottom; ++y) {
    for (int x = area.Left; x < area.Right; ++x) {
      std::uint8_t* p = raster.Row(y) + x * 3;
      p[0] = std::uint8_t(colour.B);
      p[1] = std::uint8_t(colour.G);
      p[2] = std::uint8_t(colour.R);
    }
  }
}

// Four 16 x 16 blocks, aligned to JPEG's largest MCU so each stays flat.
PageRaster FourColours(Bgr a, Bgr b, Bgr c, Bgr d) {
  PageRaster raster(32, 32);
  Fill(raster, {0, 0, 16, 16}, a);
  Fill(raster, {16, 0, 32, 16}, b);
  Fill(raster, {0, 16, 16, 32}, c);
  Fill(raster, {16, 16, 32, 32}, d);
  return raster;
}

void ExpectNear(const PageRaster& raster, int x, int y, Bgr want, int tolerance) {
  SCOPED_TRACE(::testing::Message() << "pixel (" << x << ", " << y << ")");
  ASSERT_LT(x, raster.Width());
  ASSERT_LT(y, raster.Height());
  const ColourValue colour = raster.PixelAt(x, y);
  EXPECT_NEAR((colour >> 16) & 0xFF, want.B, tolerance);
  EXPECT_NEAR((colour >> 8) & 0xFF, want.G, tolerance);
  EXPECT_NEAR(colour & 0xFF, want.R, tolerance);
}

void ExpectSamePixels(const PageRaster& actual, const PageRaster& expected) {
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  for (int y = 0; y < expected.Height(); ++y) {
    for (int x = 0; x < expected.Width(); ++x) {
      if (actual.PixelAt(x, y) != expected.PixelAt(x, y)) {
        FAIL() << "first difference at (" << x << ", " << y << "): " << actual.PixelAt(x, y)
               << " instead of " << expected.PixelAt(x, y);
      }
    }
  }
}

class PageCodecTest : public ::testing::Test {
 protected:
  QString PathOf(const QString& name) const { return dir_.filePath(name); }
  QStringList Entries() const {
    return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }
  // LoadPage into a raster that already holds something, as in a batch.
  PageResolution Load(const QString& name, PageRaster& raster) {
    raster = PageRaster(5, 5);
    return LoadPage(PathOf(name), raster);
  }

  QTemporaryDir dir_;
};

// ---- Resolution -------------------------------------------------------------

TEST_F(PageCodecTest, ResolutionSurvivesRoundTripAndLowValuesAreRaised) {
  struct Case {
    const char* Name;
    const char* File;
    float InX, InY, OutX, OutY;
  };
  const Case cases[] = {
      {"jpeg 300 dpi stays 300", "a.jpg", 300, 300, 300, 300},
      {"jpeg 72 and 96 dpi become 144", "b.jpeg", 72, 96, 144, 144},
      {"jpeg unknown resolution becomes 144", "c.jpg", 0, 0, 144, 144},
      {"jpeg fractional dpi is rounded", "d.jpg", 299.72f, 600.4f, 300, 600},
      {"png 300 dpi stays 300", "e.png", 300, 300, 300, 300},
      {"png 72 dpi becomes 144", "f.PNG", 72, 72, 144, 144},
      {"png axes kept apart", "g.png", 200, 400, 200, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(SavePage(PathOf(c.File), NoisePage(20, 10, 1), c.InX, c.InY), SaveOutcome::Written);
    PageRaster loaded;
    const PageResolution resolution = Load(c.File, loaded);
    EXPECT_EQ(loaded.Width(), 20);
    EXPECT_FLOAT_EQ(resolution.X, c.OutX);
    EXPECT_FLOAT_EQ(resolution.Y, c.OutY);
  }
  // The JPEG density is written in dots per inch.
  const fixtures::JpegFileInfo header =
      fixtures::ReadJpegHeader(fixtures::ReadBytes(PathOf("a.jpg")));
  EXPECT_TRUE(header.Jfif);
  EXPECT_EQ(header.DensityUnit, 1);
}

TEST_F(PageCodecTest, PngPhysIsReadInDotsPerInch) {
  struct Case {
    const char* Name;
    png_uint_32 PpmX, PpmY;
    int Unit;
    bool Phys;
    float X, Y;
  };
  const Case cases[] = {
      {"11811 per metre snaps to 300", 11811, 11811, PNG_RESOLUTION_METER, true, 300, 300},
      {"3780 per metre snaps to 96", 3780, 5669, PNG_RESOLUTION_METER, true, 96, 144},
      {"11812 per metre is not a whole dpi", 11812, 11812, PNG_RESOLUTION_METER, true,
       float(11812 * 0.0254), float(11812 * 0.0254)},
      {"unit unknown is only an aspect ratio", 11811, 11811, PNG_RESOLUTION_UNKNOWN, true, 0, 0},
      {"no pHYs", 0, 0, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fixtures::PngFixture fixture;
    fixture.Width = 3;
    fixture.Height = 2;
    fixture.ColourType = PNG_COLOR_TYPE_GRAY;
    fixture.Rows.assign(2, Bytes{10, 20, 30});
    fixture.Phys = c.Phys;
    fixture.PpmX = c.PpmX;
    fixture.PpmY = c.PpmY;
    fixture.PhysUnit = c.Unit;
    ASSERT_TRUE(fixtures::WriteBytes(PathOf("p.png"), fixtures::EncodePngFixture(fixture)));
    PageRaster loaded;
    const PageResolution resolution = Load("p.png", loaded);
    EXPECT_EQ(loaded.Width(), 3);
    EXPECT_FLOAT_EQ(resolution.X, c.X);
    EXPECT_FLOAT_EQ(resolution.Y, c.Y);
  }
}

// A TIFF block with IFD0 holding the given resolution tags.
Bytes ExifBlock(bool bigEndian, std::uint32_t xNum, std::uint32_t xDen, std::uint32_t yNum,
                std::uint32_t yDen, int unit) {
  Bytes b = {'E', 'x', 'i', 'f', 0, 0};
  auto u16 = [&](std::uint32_t v) {
    if (bigEndian) {
      b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    } else {
      b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
    }
  };
  auto u32 = [&](std::uint32_t v) {
    if (bigEndian) {
      u16(v >> 16);
      u16(v & 0xFFFF);
    } else {
      u16(v & 0xFFFF);
      u16(v >> 16);
    }
  };
  b.insert(b.end(), bigEndian ? std::initializer_list<std::uint8_t>{'M', 'M'}
                              : std::initializer_list<std::uint8_t>{'I', 'I'});
  u16(42);
  u32(8);
  const std::uint32_t entries = unit != 0 ? 3 : 2;
  const std::uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
  u16(entries);
  u16(0x011A), u16(5), u32(1), u32(dataOffset);
  u16(0x011B), u16(5), u32(1), u32(dataOffset + 8);
  if (unit != 0)
    u16(0x0128), u16(3), u32(1), u16(std::uint32_t(unit)), u16(0);
  u32(0);
  u32(xNum), u32(xDen), u32(yNum), u32(yDen);
  return b;
}

TEST_F(PageCodecTest, JpegResolutionComesFromJfifThenExif) {
  struct Case {
    const char* Name;
    bool Jfif;
    int Unit, XDensity, YDensity;
    Bytes App1;
    float X, Y;
  };
  Bytes exifOffsetOutside = ExifBlock(true, 300, 1, 300, 1, 2);
  exifOffsetOutside[6 + 8 + 2 + 8 + 3] = 0xF0;  // X rational's offset points past the block
  Bytes ifdOutside = ExifBlock(false, 300, 1, 300, 1, 2);
  ifdOutside[6 + 4] = 0xFF;  // IFD0 offset
  ifdOutside[6 + 5] = 0xFF;
  const Case cases[] = {
      {"JFIF dots per inch", true, 1, 200, 400, {}, 200, 400},
      {"JFIF dots per centimetre", true, 2, 118, 118, {}, 118 * 2.54f, 118 * 2.54f},
      {"JFIF dpi wins over EXIF", true, 1, 150, 150, ExifBlock(true, 300, 1, 300, 1, 2), 150, 150},
      {"JFIF aspect ratio falls through to EXIF", true, 0, 1, 1, ExifBlock(true, 300, 1, 600, 1, 0),
       300, 600},
      {"EXIF only, little-endian rational", false, 0, 0, 0, ExifBlock(false, 72000, 240, 300, 1, 2),
       300, 300},
      {"EXIF in centimetres", false, 0, 0, 0, ExifBlock(true, 118, 1, 118, 1, 3), 118 * 2.54f,
       118 * 2.54f},
      {"EXIF value offset outside the block", false, 0, 0, 0, exifOffsetOutside, 0, 300},
      {"EXIF IFD outside the block", false, 0, 0, 0, ifdOutside, 0, 0},
      {"nothing stored", false, 0, 0, 0, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fixtures::JpegFixture fixture;
    fixture.Width = 8;
    fixture.Height = 8;
    fixture.Pixels.assign(8 * 8 * 3, 90);
    fixture.Jfif = c.Jfif;
    fixture.DensityUnit = c.Unit;
    fixture.XDensity = c.XDensity;
    fixture.YDensity = c.YDensity;
    fixture.App1 = c.App1;
    ASSERT_TRUE(fixtures::WriteBytes(PathOf("r.jpg"), fixtures::EncodeJpegFixture(fixture)));
    PageRaster loaded;
    const PageResolution resolution = Load("r.jpg", loaded);
    EXPECT_EQ(loaded.Width(), 8);
    EXPECT_FLOAT_EQ(resolution.X, c.X);
    EXPECT_FLOAT_EQ(resolution.Y, c.Y);
  }
}

// ---- Writing ----------------------------------------------------------------

TEST_F(PageCodecTest, FormatFollowsTheFileNameExtension) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.png"));
  struct Case {
    const char* File;
    bool Png;
  };
  const Case cases[] = {{"a.png", true},        {"b.PNG", true},   {"c.pNg", true},
                        {"d.jpg", false},       {"e.jpeg", false}, {"f.png.jpg", false},
                        {"g.jpg.png", true},    {"h", false},      {"i.", false},
                        {"folder.png/j", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    ASSERT_EQ(SavePage(PathOf(c.File), NoisePage(4, 4, 2), 300, 300), SaveOutcome::Written);
    const Bytes bytes = fixtures::ReadBytes(PathOf(c.File));
    ASSERT_GE(bytes.size(), 4u);
    if (c.Png) {
      EXPECT_EQ(bytes[1], 'P');
    } else {
      EXPECT_EQ(bytes[0], 0xFF);
      EXPECT_EQ(bytes[1], 0xD8);
    }
  }
}

TEST_F(PageCodecTest, PngIsWrittenInTheSmallestExactColourType) {
  std::mt19937 random(3);
  auto page = [&](int kind) {
    // 13 columns, so 1-bit rows end in a partly used byte.
    PageRaster raster(13, 9);
    for (int y = 0; y < raster.Height(); ++y) {
      for (int x = 0; x < raster.Width(); ++x) {
        std::uint8_t* p = raster.Row(y) + x * 3;
        const std::uint8_t v = kind == 0 ? ((random() & 1) ? 255 : 0) : std::uint8_t(random());
        p[0] = v;
        p[1] = v;
        p[2] = kind == 2 ? std::uint8_t(random()) : v;
      }
    }
    return raster;
  };
  struct Case {
    const char* Name;
    PageRaster Raster;
    int BitDepth, ColourType;
  };
  Case cases[] = {
      {"black and white is 1-bit gray", page(0), 1, PNG_COLOR_TYPE_GRAY},
      {"gray is 8-bit gray", page(1), 8, PNG_COLOR_TYPE_GRAY},
      {"colour is RGB", page(2), 8, PNG_COLOR_TYPE_RGB},
      {"one near-black pixel needs 8-bit gray", page(0), 8, PNG_COLOR_TYPE_GRAY},
      {"one tinted pixel needs RGB", page(0), 8, PNG_COLOR_TYPE_RGB},
  };
  Fill(cases[3].Raster, {12, 8, 13, 9}, {1, 1, 1});
  Fill(cases[4].Raster, {12, 8, 13, 9}, {255, 255, 254});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(SavePage(PathOf("t.png"), c.Raster, 300, 300), SaveOutcome::Written);
    const fixtures::PngHeader header =
        fixtures::ReadPngHeader(fixtures::ReadBytes(PathOf("t.png")));
    EXPECT_EQ(header.BitDepth, c.BitDepth);
    EXPECT_EQ(header.ColourType, c.ColourType);
    PageRaster loaded;
    Load("t.png", loaded);
    ExpectSamePixels(loaded, c.Raster);
  }
}

TEST_F(PageCodecTest, JpegOfAGrayPageHasOneChannel) {
  PageRaster gray = FourColours({0, 0, 0}, {90, 90, 90}, {200, 200, 200}, {255, 255, 255});
  PageRaster tinted = gray;
  Fill(tinted, {31, 31, 32, 32}, {255, 255, 254});
  struct Case {
    const char* Name;
    const PageRaster& Raster;
    int Components;
  };
  const Case cases[] = {{"all gray", gray, 1}, {"one tinted pixel", tinted, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(SavePage(PathOf("g.jpg"), c.Raster, 300, 300), SaveOutcome::Written);
    EXPECT_EQ(fixtures::ReadJpegHeader(fixtures::ReadBytes(PathOf("g.jpg"))).Components,
              c.Components);
    PageRaster loaded;
    Load("g.jpg", loaded);
    // A gray file is held at one byte per pixel.
    EXPECT_EQ(loaded.Format(), c.Components == 1 ? PixelFormat::Gray8 : PixelFormat::Bgr24);
    ExpectNear(loaded, 8, 8, {0, 0, 0}, 1);
    ExpectNear(loaded, 24, 8, {90, 90, 90}, 1);
    ExpectNear(loaded, 8, 24, {200, 200, 200}, 1);
  }
}

TEST_F(PageCodecTest, JpegKeepsColourChannelsInOrder) {
  const PageRaster page = FourColours({0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {40, 120, 200});
  ASSERT_EQ(SavePage(PathOf("c.jpg"), page, 300, 300), SaveOutcome::Written);
  PageRaster loaded;
  Load("c.jpg", loaded);
  ExpectNear(loaded, 8, 8, {0, 0, 255}, 6);
  ExpectNear(loaded, 24, 8, {0, 255, 0}, 6);
  ExpectNear(loaded, 8, 24, {255, 0, 0}, 6);
  ExpectNear(loaded, 24, 24, {40, 120, 200}, 6);
}

// ---- Decoding other writers' files -----------------------------------------

TEST_F(PageCodecTest, JpegVariantsDecode) {
  // Four flat blocks: red, green, blue, a mid colour; given as RGB.
  auto rgbPixels = [] {
    Bytes pixels(32 * 32 * 3);
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const int block = (y / 16) * 2 + x / 16;
        const std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 120, 40}};
        std::memcpy(&pixels[(y * 32 + x) * 3], colours[block], 3);
      }
    }
    return pixels;
  };
  // The same four colours as ink: red = magenta + yellow, green = cyan +
  // yellow, blue = cyan + magenta, and 50 % black for the fourth block.
  auto cmykPixels = [](bool adobeInverted) {
    Bytes pixels(32 * 32 * 4);
    const std::uint8_t inks[4][4] = {
        {0, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 0}, {0, 0, 0, 128}};
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const int block = (y / 16) * 2 + x / 16;
        for (int k = 0; k < 4; ++k) {
          pixels[(y * 32 + x) * 4 + k] =
              adobeInverted ? std::uint8_t(255 - inks[block][k]) : inks[block][k];
        }
      }
    }
    return pixels;
  };
  const Bgr fourthRgb = {40, 120, 200};
  const Bgr fourthCmyk = {127, 127, 127};

  struct Case {
    const char* Name;
    fixtures::JpegFixture Fixture;
    Bgr Fourth;
  };
  std::vector<Case> cases;
  {
    fixtures::JpegFixture f;
    f.Pixels = rgbPixels();
    cases.push_back({"baseline colour", f, fourthRgb});
    f.Progressive = true;
    cases.push_back({"progressive colour", f, fourthRgb});
  }
  {
    fixtures::JpegFixture f;
    f.Components = 4;
    f.Input = JCS_CMYK;
    f.File = JCS_CMYK;
    f.Pixels = cmykPixels(true);
    cases.push_back({"Adobe CMYK", f, fourthCmyk});
    f.File = JCS_YCCK;
    cases.push_back({"Adobe YCCK", f, fourthCmyk});
    f.File = JCS_CMYK;
    f.Progressive = true;
    cases.push_back({"progressive Adobe CMYK", f, fourthCmyk});
    f.Progressive = false;
    f.AdobeMarker = false;
    f.Pixels = cmykPixels(false);
    cases.push_back({"CMYK without the Adobe marker", f, fourthCmyk});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(fixtures::WriteBytes(PathOf("v.jpg"), fixtures::EncodeJpegFixture(c.Fixture)));
    PageRaster loaded;
    Load("v.jpg", loaded);
    ASSERT_EQ(loaded.Width(), 32);
    ASSERT_EQ(loaded.Height(), 32);
    ExpectNear(loaded, 8, 8, {0, 0, 255}, 6);
    ExpectNear(loaded, 24, 8, {0, 255, 0}, 6);
    ExpectNear(loaded, 8, 24, {255, 0, 0}, 6);
    ExpectNear(loaded, 24, 24, c.Fourth, 6);
  }

  fixtures::JpegFixture grayFixture;
  grayFixture.Components = 1;
  grayFixture.Input = JCS_GRAYSCALE;
  grayFixture.Pixels.assign(32 * 32, 77);
  ASSERT_TRUE(fixtures::WriteBytes(PathOf("gray.jpg"), fixtures::EncodeJpegFixture(grayFixture)));
  PageRaster gray;
  Load("gray.jpg", gray);
  ExpectNear(gray, 5, 5, {77, 77, 77}, 1);
}

// Packs samples into PNG rows and, beside them, the colour a correct decoder
// must give for each pixel (alpha composed onto white).
struct PngCase {
  const char* Name;
  int ColourType;
  int BitDepth;
  bool Interlaced;
  bool Trns;
};

void BuildPng(const PngCase& c, fixtures::PngFixture& fixture, std::vector<Bgr>& expected,
              std::vector<int>& alphas) {
  const int width = 11;
  const int height = 7;
  std::mt19937 random(unsigned(c.ColourType * 100 + c.BitDepth));
  const int channels = c.ColourType == PNG_COLOR_TYPE_GRAY         ? 1
                       : c.ColourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                       : c.ColourType == PNG_COLOR_TYPE_RGB        ? 3
                       : c.ColourType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                                   : 1;
  const int maxSample = (1 << c.BitDepth) - 1;
  fixture.Width = width;
  fixture.Height = height;
  fixture.BitDepth = c.BitDepth;
  fixture.ColourType = c.ColourType;
  fixture.Interlaced = c.Interlaced;
  if (c.ColourType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i <= maxSample; ++i) {
      fixture.Palette.push_back(
          {std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random())});
      if (c.Trns)
        fixture.PaletteAlpha.push_back(i % 3 == 0 ? 0 : i % 3 == 1 ? 255 : 100);
    }
  }
  if (c.Trns && c.ColourType != PNG_COLOR_TYPE_PALETTE) {
    png_color_16 key{};
    key.gray = key.red = key.green = key.blue = png_uint_16(c.BitDepth == 16 ? 5 * 257 : 1);
    fixture.Transparent = key;
  }
  for (int y = 0; y < height; ++y) {
    Bytes row((std::size_t(width) * channels * c.BitDepth + 7) / 8);
    for (int x = 0; x < width; ++x) {
      int samples[4];
      int eight[4];  // the samples at 8 bits
      for (int k = 0; k < channels; ++k) {
        if (c.BitDepth == 16) {
          eight[k] = int(random() % 256);
          samples[k] = eight[k] * 257;
        } else {
          samples[k] = int(random() % unsigned(maxSample + 1));
          eight[k] = samples[k] * 255 / maxSample;
        }
        if (x == 0 && c.Trns) {  // make sure the tRNS key occurs
          samples[k] = c.BitDepth == 16 ? 5 * 257 : 1;
          eight[k] = samples[k] * 255 / (c.BitDepth == 16 ? 65535 : maxSample);
        }
      }
      for (int k = 0; k < channels; ++k) {
        const std::size_t bit = (std::size_t(x) * channels + k) * c.BitDepth;
        if (c.BitDepth == 16) {
          row[bit / 8] = std::uint8_t(samples[k] >> 8);
          row[bit / 8 + 1] = std::uint8_t(samples[k]);
        } else {
          row[bit / 8] |= std::uint8_t(samples[k] << (8 - c.BitDepth - bit % 8));
        }
      }
      int r, g, b, a = 255;
      switch (c.ColourType) {
        case PNG_COLOR_TYPE_PALETTE: {
          const png_color& entry = fixture.Palette[std::size_t(samples[0])];
          r = entry.red, g = entry.green, b = entry.blue;
          if (c.Trns)
            a = fixture.PaletteAlpha[std::size_t(samples[0])];
          break;
        }
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_GRAY_ALPHA:
          r = g = b = eight[0];
          if (channels == 2)
            a = eight[1];
          if (c.Trns && samples[0] == int(fixture.Transparent->gray))
            a = 0;
          break;
        default:
          r = eight[0], g = eight[1], b = eight[2];
          if (channels == 4)
            a = eight[3];
          if (c.Trns && samples[0] == int(fixture.Transparent->red) &&
              samples[1] == int(fixture.Transparent->green) &&
              samples[2] == int(fixture.Transparent->blue)) {
            a = 0;
          }
      }
      auto blend = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
      expected.push_back({blend(b), blend(g), blend(r)});
      alphas.push_back(a);
    }
    fixture.Rows.push_back(row);
  }
}

TEST_F(PageCodecTest, PngInputsOfEveryKindDecodeOntoWhite) {
  const PngCase cases[] = {
      {"gray 1-bit", PNG_COLOR_TYPE_GRAY, 1, false, false},
      {"gray 2-bit", PNG_COLOR_TYPE_GRAY, 2, false, false},
      {"gray 4-bit interlaced", PNG_COLOR_TYPE_GRAY, 4, true, false},
      {"gray 8-bit with tRNS", PNG_COLOR_TYPE_GRAY, 8, false, true},
      {"gray 16-bit", PNG_COLOR_TYPE_GRAY, 16, false, false},
      {"palette 1-bit", PNG_COLOR_TYPE_PALETTE, 1, false, false},
      {"palette 4-bit with tRNS", PNG_COLOR_TYPE_PALETTE, 4, false, true},
      {"palette 8-bit interlaced with tRNS", PNG_COLOR_TYPE_PALETTE, 8, true, true},
      {"gray+alpha 8-bit", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
      {"gray+alpha 16-bit", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false},
      {"RGB 8-bit", PNG_COLOR_TYPE_RGB, 8, false, false},
      {"RGB 8-bit interlaced", PNG_COLOR_TYPE_RGB, 8, true, false},
      {"RGB 16-bit with tRNS", PNG_COLOR_TYPE_RGB, 16, false, true},
      {"RGBA 8-bit", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
      {"RGBA 8-bit interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false},
      {"RGBA 16-bit", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
  };
  for (const PngCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fixtures::PngFixture fixture;
    std::vector<Bgr> expected;
    std::vector<int> alphas;
    BuildPng(c, fixture, expected, alphas);
    ASSERT_TRUE(fixtures::WriteBytes(PathOf("in.png"), fixtures::EncodePngFixture(fixture)));
    PageRaster loaded;
    Load("in.png", loaded);
    ASSERT_EQ(loaded.Width(), int(fixture.Width));
    ASSERT_EQ(loaded.Height(), int(fixture.Height));
    for (int y = 0; y < loaded.Height(); ++y) {
      for (int x = 0; x < loaded.Width(); ++x) {
        const std::size_t i = std::size_t(y) * fixture.Width + std::size_t(x);
        // Fully opaque and fully transparent pixels are exact; partial
        // transparency may round either way.
        const int tolerance = alphas[i] == 0 || alphas[i] == 255 ? 0 : 1;
        ExpectNear(loaded, x, y, expected[i], tolerance);
        if (HasFailure())
          return;
      }
    }
  }
}

TEST_F(PageCodecTest, DecoderFollowsContentNotExtension) {
  ASSERT_EQ(SavePage(PathOf("real.png"), NoisePage(6, 4, 5), 300, 300), SaveOutcome::Written);
  ASSERT_EQ(SavePage(PathOf("real.jpg"), NoisePage(7, 4, 5), 300, 300), SaveOutcome::Written);
  ASSERT_TRUE(QFile::rename(PathOf("real.png"), PathOf("png-inside.jpg")));
  ASSERT_TRUE(QFile::rename(PathOf("real.jpg"), PathOf("jpeg-inside.png")));
  PageRaster loaded;
  Load("png-inside.jpg", loaded);
  EXPECT_EQ(loaded.Width(), 6);
  ExpectSamePixels(loaded, NoisePage(6, 4, 5));
  Load("jpeg-inside.png", loaded);
  EXPECT_EQ(loaded.Width(), 7);
}

// ---- Damaged files ----------------------------------------------------------

Bytes Truncated(Bytes bytes, std::size_t keep) {
  bytes.resize(keep);
  return bytes;
}

// Sets the size in the first SOF0 segment of a baseline JPEG.
Bytes WithJpegSize(Bytes bytes, int width, int height) {
  for (std::size_t i = 2; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 5] = std::uint8_t(height >> 8);
      bytes[i + 6] = std::uint8_t(height);
      bytes[i + 7] = std::uint8_t(width >> 8);
      bytes[i + 8] = std::uint8_t(width);
      return bytes;
    }
  }
  ADD_FAILURE() << "no SOF0 marker";
  return bytes;
}

// The middle of a single-scan JPEG's picture data, not inside a stuffed 0xFF.
std::size_t MiddleOfPictureData(const Bytes& jpeg) {
  std::size_t start = 0;
  for (std::size_t i = 2; i + 3 < jpeg.size() && start == 0; ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)  // start of scan
      start = i + 2 + ((std::size_t(jpeg[i + 2]) << 8) | jpeg[i + 3]);
  }
  std::size_t middle = start + (jpeg.size() - 2 - start) / 2;
  while (jpeg[middle - 1] == 0xFF)
    ++middle;
  return middle;
}

Bytes CutInPictureData(Bytes jpeg) {
  jpeg.resize(MiddleOfPictureData(jpeg));
  jpeg.insert(jpeg.end(), {0xFF, 0xD9});
  return jpeg;
}

// 80 one bits: at least 16 of them start a code, and no Huffman code is all ones.
Bytes BadHuffmanCode(Bytes jpeg) {
  const std::size_t middle = MiddleOfPictureData(jpeg);
  for (std::size_t i = 0; i < 20; i += 2) {
    jpeg[middle + i] = 0xFF;
    jpeg[middle + i + 1] = 0x00;
  }
  return jpeg;
}

Bytes BlankBitonalPng(png_uint_32 width, png_uint_32 height) {
  fixtures::PngFixture fixture;
  fixture.Width = width;
  fixture.Height = height;
  fixture.BitDepth = 1;
  fixture.ColourType = PNG_COLOR_TYPE_GRAY;
  fixture.Rows.assign(height, Bytes((width + 7) / 8, 0));
  return fixtures::EncodePngFixture(fixture);
}

// Sets the precision or the coding process of the first SOF0 segment.
Bytes WithJpegFrame(Bytes bytes, std::uint8_t marker, std::uint8_t precision) {
  for (std::size_t i = 2; i + 4 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 1] = marker;
      bytes[i + 4] = precision;
      return bytes;
    }
  }
  ADD_FAILURE() << "no SOF0 marker";
  return bytes;
}

Bytes WithPngSize(Bytes png, png_uint_32 width, png_uint_32 height) {
  for (int i = 0; i < 4; ++i)
    png[16 + i] = std::uint8_t(width >> (24 - 8 * i));
  return hostile::DeclaringHeight(std::move(png), height);  // and the checksum
}

TEST_F(PageCodecTest, DamagedFilesGiveAnEmptyPageWithoutResolutionAndSayWhy) {
  const PageRaster noise = NoisePage(64, 64, 7);
  ASSERT_EQ(SavePage(PathOf("good.jpg"), noise, 300, 300), SaveOutcome::Written);
  ASSERT_EQ(SavePage(PathOf("good.png"), noise, 300, 300), SaveOutcome::Written);
  const Bytes jpeg = fixtures::ReadBytes(PathOf("good.jpg"));
  const Bytes png = fixtures::ReadBytes(PathOf("good.png"));
  ASSERT_EQ(SavePage(PathOf("good256.jpg"), NoisePage(256, 256, 7), 300, 300),
            SaveOutcome::Written);
  const Bytes jpeg256 = fixtures::ReadBytes(PathOf("good256.jpg"));
  fixtures::JpegFixture progressive;
  progressive.Width = 64;
  progressive.Height = 64;
  progressive.Pixels.assign(noise.Row(0), noise.Row(0) + 64 * 64 * 3);
  progressive.Progressive = true;
  progressive.DensityUnit = 1;
  progressive.XDensity = progressive.YDensity = 300;
  const Bytes progressiveJpeg = fixtures::EncodeJpegFixture(progressive);

  const Result damaged = Result::Failed(Reason::DamagedImage);
  const Result tooLarge = Result::Failed(Reason::ImageTooLarge);
  const Result unsupported = Result::Failed(Reason::UnreadableImage);
  struct Case {
    const char* Name;
    const char* File;
    std::optional<Bytes> Content;  // none: the file does not exist
    Result Why;
  };
  const std::vector<Case> cases = {
      {"zero bytes", "zero.jpg", Bytes{}, damaged},
      {"text named .jpg", "text.jpg", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'g'},
       damaged},
      {"JPEG signature then garbage", "sig.jpg", Bytes{0xFF, 0xD8, 0xFF, 0x00, 0x13, 0x37},
       damaged},
      {"PNG signature only", "sig.png", Truncated(png, 8), damaged},
      {"JPEG cut in the middle", "half.jpg", Truncated(jpeg, jpeg.size() * 6 / 10), damaged},
      {"JPEG cut in its header", "head.jpg", Truncated(jpeg, 30), damaged},
      {"progressive JPEG cut", "prog.jpg",
       Truncated(progressiveJpeg, progressiveJpeg.size() * 6 / 10), damaged},
      {"PNG cut in the middle", "half.png", Truncated(png, png.size() * 6 / 10), damaged},
      {"JPEG cut halfway through its picture data, end marker appended", "cut.jpg",
       CutInPictureData(jpeg256), damaged},
      {"JPEG with a bad Huffman code in its picture data", "huffman.jpg", BadHuffmanCode(jpeg256),
       damaged},
      {"JPEG declaring 4096 x 4096 in 2 kB", "bomb.jpg", WithJpegSize(jpeg, 4096, 4096), damaged},
      {"JPEG declaring 65535 x 65535", "huge.jpg", WithJpegSize(jpeg, 65535, 65535), tooLarge},
      {"PNG wider than 65535", "wide.png", BlankBitonalPng(65536, 1), tooLarge},
      {"PNG above 2^28 pixels", "many.png", BlankBitonalPng(16385, 16385), tooLarge},
      {"PNG declaring 70000 x 70000", "70000.png", WithPngSize(png, 70000, 70000), tooLarge},
      {"JPEG of 12-bit samples", "12bit.jpg", WithJpegFrame(jpeg, 0xC0, 12), unsupported},
      {"lossless JPEG", "lossless.jpg", WithJpegFrame(jpeg, 0xC3, 8), unsupported},
      {"missing file", "missing.jpg", std::nullopt, Result::FromReadError(ENOENT)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Content) {
      ASSERT_TRUE(fixtures::WriteBytes(PathOf(c.File), *c.Content));
    }
    PageRaster loaded(5, 5);
    const PageFileInfo info = ReadPageFile(PathOf(c.File), loaded);
    EXPECT_EQ(info.Read, c.Why);
    EXPECT_FALSE(info.Decoded());
    EXPECT_EQ(loaded.Width(), 0);
    EXPECT_EQ(loaded.Height(), 0);
    EXPECT_EQ(info.Resolution.X, 0);
    EXPECT_EQ(info.Resolution.Y, 0);
    EXPECT_EQ(info.Identity.has_value(), c.Content.has_value());
  }
  PageRaster loaded(5, 5);
  EXPECT_EQ(ReadPageFile(QString(), loaded).Read, Result::FromReadError(ENOENT));
  EXPECT_TRUE(loaded.IsEmpty());
}

TEST_F(PageCodecTest, StrayBytesBeforeAMarkerKeepThePicture) {
  const PageRaster noise = NoisePage(32, 32, 8);
  ASSERT_EQ(SavePage(PathOf("good.jpg"), noise, 300, 300), SaveOutcome::Written);
  const Bytes jpeg = fixtures::ReadBytes(PathOf("good.jpg"));
  PageRaster reference;
  Load("good.jpg", reference);
  ASSERT_EQ(reference.Width(), 32);

  // libjpeg warns about bytes between the JFIF segment and the next marker.
  Bytes stray = jpeg;
  const std::size_t afterApp0 = 4 + ((std::size_t(jpeg[4]) << 8) | jpeg[5]);
  ASSERT_EQ(stray[afterApp0], 0xFF);
  stray.insert(stray.begin() + std::ptrdiff_t(afterApp0), {0x00, 0x00});
  ASSERT_TRUE(fixtures::WriteBytes(PathOf("stray.jpg"), stray));
  PageRaster loaded;
  const PageResolution resolution = Load("stray.jpg", loaded);
  EXPECT_FLOAT_EQ(resolution.X, 300);
  ExpectSamePixels(loaded, reference);
}

// ---- Replacing the file -----------------------------------------------------

TEST_F(PageCodecTest, EmptyRasterIsNeverWritten) {
  ASSERT_EQ(SavePage(PathOf("page.jpg"), NoisePage(8, 8, 9), 300, 300), SaveOutcome::Written);
  const Bytes before = fixtures::ReadBytes(PathOf("page.jpg"));
  for (const PageRaster& empty : {PageRaster(), PageRaster(5, 0), PageRaster(0, 5)}) {
    SCOPED_TRACE(::testing::Message() << empty.Width() << " x " << empty.Height());
    EXPECT_EQ(SavePage(PathOf("page.jpg"), empty, 300, 300), SaveOutcome::WriteFailed);
    EXPECT_EQ(SavePage(PathOf("new.png"), empty, 300, 300), SaveOutcome::WriteFailed);
  }
  EXPECT_EQ(fixtures::ReadBytes(PathOf("page.jpg")), before);
  EXPECT_EQ(Entries(), QStringList{"page.jpg"});
}

TEST_F(PageCodecTest, OverwriteKeepsPermissions) {
  const QString path = PathOf("page.png");
  ASSERT_EQ(SavePage(path, NoisePage(8, 8, 10), 300, 300), SaveOutcome::Written);
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  ASSERT_EQ(SavePage(path, NoisePage(9, 9, 11), 300, 300), SaveOutcome::Written);
  struct stat info {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  PageRaster loaded;
  Load("page.png", loaded);
  EXPECT_EQ(loaded.Width(), 9);
}

TEST_F(PageCodecTest, SymbolicLinkIsWrittenThrough) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("store"));
  ASSERT_EQ(SavePage(PathOf("store/target.jpg"), NoisePage(8, 8, 12), 300, 300),
            SaveOutcome::Written);
  ASSERT_EQ(::symlink("store/target.jpg", QFile::encodeName(PathOf("link.jpg")).constData()), 0);

  ASSERT_EQ(SavePage(PathOf("link.jpg"), NoisePage(7, 5, 13), 300, 300), SaveOutcome::Written);
  const QFileInfo link(PathOf("link.jpg"));
  EXPECT_TRUE(link.isSymLink());
  EXPECT_EQ(link.symLinkTarget(), QFileInfo(PathOf("store/target.jpg")).absoluteFilePath());
  PageRaster loaded;
  Load("store/target.jpg", loaded);
  EXPECT_EQ(loaded.Width(), 7);
  EXPECT_EQ(loaded.Height(), 5);
  EXPECT_EQ(Entries(), (QStringList{"link.jpg", "store"}));
  EXPECT_EQ(QDir(PathOf("store")).entryList(QDir::Files | QDir::Hidden), QStringList{"target.jpg"});
}

TEST_F(PageCodecTest, WriteIntoMissingFolderFails) {
  EXPECT_EQ(SavePage(PathOf("nowhere/page.jpg"), NoisePage(4, 4, 14), 300, 300),
            SaveOutcome::WriteFailed);
  EXPECT_TRUE(Entries().isEmpty());
}

// A write that fails midway (here: the file size limit, which holds even for
// root) must leave the old page byte for byte, and no temporary file.
TEST_F(PageCodecTest, FailedWriteLeavesThePageIntact) {
  for (const char* name : {"page.jpg", "page.png"}) {
    SCOPED_TRACE(name);
    const QString path = PathOf(name);
    ASSERT_EQ(SavePage(path, NoisePage(16, 16, 15), 300, 300), SaveOutcome::Written);
    const Bytes before = fixtures::ReadBytes(path);
    const PageRaster larger = NoisePage(200, 200, 16);  // encodes to far more than the limit

    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{4096, 4096};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        ::_exit(10);
      const SaveResult saved = SavePage(path, larger, 300, 300);
      ::_exit(saved == Result::FromError(EFBIG) ? 0 : saved.Ok() ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported Written, 2: another reason";
    EXPECT_EQ(fixtures::ReadBytes(path), before);
    EXPECT_EQ(Entries(), QStringList{name});
    ASSERT_TRUE(QFile::remove(path));
  }
}

// Every entry of a folder with its bytes; folders with none.
std::map<QString, Bytes> Snapshot(const QString& folder) {
  std::map<QString, Bytes> entries;
  for (const QFileInfo& entry :
       QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
    entries[entry.fileName()] = entry.isDir() ? Bytes{} : fixtures::ReadBytes(entry.filePath());
  }
  return entries;
}

TEST_F(PageCodecTest, RefusedSavesSayWhyAndTouchNothing) {
  using Prepare = std::function<std::optional<FileIdentity>(const QString& path)>;
  // Saves a page and reads it, then lets another program change it.
  const auto readThen = [](std::function<void(const QString&)> change) -> Prepare {
    return [change](const QString& path) {
      EXPECT_EQ(SavePage(path, NoisePage(8, 8, 20), 300, 300), SaveOutcome::Written);
      PageRaster raster;
      const std::optional<FileIdentity> read = ReadPageFile(path, raster).Identity;
      change(path);
      return read;
    };
  };
  struct Case {
    const char* Name;
    const char* File;
    Prepare Setup;
    Result Why;
    bool EmptyRaster;
  };
  const Case cases[] = {
      {"missing folder", "nowhere/p.jpg", [](const QString&) { return std::nullopt; },
       Result::FromError(ENOENT), false},
      {"a folder in the page's place", "folder.jpg",
       [](const QString& path) {
         EXPECT_TRUE(QDir().mkdir(path));
         return std::nullopt;
       },
       Result::FromError(EISDIR), false},
      {"replaced by another program", "p.jpg", readThen([](const QString& path) {
         // Written beside it and renamed over it, as editors save.
         EXPECT_TRUE(fixtures::WriteBytes(path + ".new", Bytes{'n', 'e', 'w'}));
         EXPECT_EQ(::rename(QFile::encodeName(path + ".new").constData(),
                            QFile::encodeName(path).constData()),
                   0);
       }),
       Result::Failed(Reason::ChangedElsewhere), false},
      {"edited in place, modification time put back", "p.jpg", readThen([](const QString& path) {
         struct stat info {};
         ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
         QFile file(path);
         ASSERT_TRUE(file.open(QIODevice::Append));
         file.write("tail");
         file.close();
         const timespec times[2] = {info.st_atim, info.st_mtim};
         EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
       }),
       Result::Failed(Reason::ChangedElsewhere), false},
      {"deleted", "p.jpg", readThen([](const QString& path) { EXPECT_TRUE(QFile::remove(path)); }),
       Result::FromError(ENOENT), false},
      {"empty raster", "p.jpg", readThen([](const QString&) {}), Result::Failed(Reason::EmptyPage),
       true},
  };
  for (const Case& c : cases) {
    for (const bool keep : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.Name << (keep ? ", keeping the original" : ""));
      QTemporaryDir dir;
      const QString path = dir.filePath(c.File);
      const SaveOptions options{c.Setup(path), keep, {}};
      const auto before = Snapshot(dir.path());
      const SaveResult result =
          SavePage(path, c.EmptyRaster ? PageRaster() : NoisePage(9, 9, 21), 300, 300, options);
      EXPECT_EQ(result, SaveOutcome::WriteFailed);
      EXPECT_EQ(result, c.Why);
      EXPECT_EQ(Snapshot(dir.path()), before);
    }
  }
  // A page wider than a JPEG file can hold is refused for its size, not for
  // memory; a PNG file holds it.
  EXPECT_EQ(EncodePage("p.jpg", PageRaster(65501, 1), 300, 300),
            Result::Failed(Reason::ImageTooLarge));
  EXPECT_TRUE(EncodePage("p.png", PageRaster(65501, 1), 300, 300).Ok());
}

TEST_F(PageCodecTest, PageNameOf250BytesSaves) {
  const QString path = PathOf(QString(246, u'a') + ".jpg");
  ASSERT_EQ(SavePage(path, NoisePage(8, 8, 22), 300, 300), SaveOutcome::Written);
  const Bytes first = fixtures::ReadBytes(path);
  const SaveResult kept =
      SavePage(path, NoisePage(9, 9, 23), 300, 300, {IdentityOf(path), true, {}});
  EXPECT_EQ(kept, SaveOutcome::Written);
  // One byte more is too long a name for the file system.
  EXPECT_EQ(SavePage(PathOf(QString(252, u'a') + ".jpg"), NoisePage(8, 8, 22), 300, 300).Why,
            Reason::NameTooLong);
  EXPECT_EQ(fixtures::ReadBytes(KeptOriginalOf(path)), first);
  PageRaster loaded;
  LoadPage(path, loaded);
  EXPECT_EQ(loaded.Width(), 9);
}

// ---- Gray pages -------------------------------------------------------------

TEST_F(PageCodecTest, GrayFilesDecodeToOneBytePerPixel) {
  fixtures::JpegFixture jpeg;
  jpeg.Components = 1;
  jpeg.Input = JCS_GRAYSCALE;
  jpeg.Pixels.assign(32 * 32, 77);
  const auto grayPng = [](int bitDepth, Bytes row) {
    fixtures::PngFixture png;
    png.Width = 3;
    png.Height = 2;
    png.BitDepth = bitDepth;
    png.ColourType = PNG_COLOR_TYPE_GRAY;
    png.Rows = {row};
    return fixtures::EncodePngFixture(png);
  };
  const struct {
    const char* Name;
    Bytes File;
    int First, Second;  // the first two gray values
  } cases[] = {
      {"gray JPEG", fixtures::EncodeJpegFixture(jpeg), 77, 77},
      {"8-bit gray PNG", grayPng(8, {10, 200, 30}), 10, 200},
      {"16-bit gray PNG", grayPng(16, {10, 0, 200, 0, 30, 0}), 10, 200},
      {"1-bit PNG", grayPng(1, {0b10100000}), 255, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(fixtures::WriteBytes(PathOf("gray"), c.File));
    PageRaster loaded;
    Load("gray", loaded);
    EXPECT_EQ(loaded.Format(), PixelFormat::Gray8);
    ExpectNear(loaded, 0, 1, {c.First, c.First, c.First}, 1);
    ExpectNear(loaded, 1, 1, {c.Second, c.Second, c.Second}, 1);
  }
}

// A page held in one byte per pixel is written exactly as the previous
// version, which held every page in three, wrote it.
TEST_F(PageCodecTest, GrayRasterEncodesLikeTheSamePixelsInColour) {
  std::mt19937 random(4);
  for (const bool bitonal : {false, true}) {
    PageRaster gray(37, 21, PixelFormat::Gray8);
    PageRaster colour(37, 21);
    for (int y = 0; y < gray.Height(); ++y) {
      for (int x = 0; x < gray.Width(); ++x) {
        const auto v = std::uint8_t(bitonal ? ((random() & 1) ? 255 : 0) : random());
        gray.Row(y)[x] = v;
        std::memset(colour.Row(y) + 3 * x, v, 3);
      }
    }
    for (const char* file : {"e.jpg", "e.png"}) {
      SCOPED_TRACE(::testing::Message() << file << (bitonal ? ", bitonal" : ", gray"));
      const EncodedPage fromGray = EncodePage(PathOf(file), gray, 300, 300);
      const EncodedPage fromColour = EncodePage(PathOf(file), colour, 300, 300);
      ASSERT_TRUE(fromGray.Ok() && fromColour.Ok());
      EXPECT_EQ(Bytes(fromGray.Bytes.Data(), fromGray.Bytes.Data() + fromGray.Bytes.Size()),
                Bytes(fromColour.Bytes.Data(), fromColour.Bytes.Data() + fromColour.Bytes.Size()));
      // A cut of a 1-bit page is written without the encoder reading it
      // through, and comes out the same.
      PageSource oneBit;
      oneBit.Bitonal = bitonal;
      for (const PageRaster* raster : {&gray, &colour}) {
        const EncodedPage known = EncodePage(PathOf(file), *raster, 300, 300, oneBit,
                                             Rect{0, 0, raster->Width(), raster->Height()});
        ASSERT_TRUE(known.Ok());
        EXPECT_EQ(Bytes(known.Bytes.Data(), known.Bytes.Data() + known.Bytes.Size()),
                  Bytes(fromGray.Bytes.Data(), fromGray.Bytes.Data() + fromGray.Bytes.Size()));
      }
    }
  }
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// Replacing a page takes only a writable folder; a page file its owner made
// read-only is refused all the same, with or without keeping originals.
TEST_F(PageCodecTest, AReadOnlyPageIsNotReplaced) {
  const QString path = PathOf("page.jpg");
  ASSERT_EQ(SavePage(path, NoisePage(8, 8, 17), 300, 300), SaveOutcome::Written);
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0777), 0);
  const Bytes before = fixtures::ReadBytes(path);
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    const int status = test::RunAsAnotherUser([&] {
      SaveOptions options;
      options.KeepOriginal = keep;
      const SaveResult result = SavePage(path, NoisePage(9, 9, 18), 300, 300, options);
      return result == Result::FromError(EACCES) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(fixtures::ReadBytes(path), before);
  }
  EXPECT_EQ(Entries(), QStringList{"page.jpg"});
}

}  // namespace
}  // namespace pagetrim
