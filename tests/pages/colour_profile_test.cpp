// Embedded colour profiles: checked, carried through reading and saving byte
// for byte, and deciding whether a page of gray pixels is written in colour.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <random>

#include "codecs.h"
#include "page_codec.h"
#include "pages/image_fixtures.h"

namespace pagetrim {
namespace {

using codecs::ProfileSpace;
using fixtures::Bytes;

Bytes ToBytes(const QByteArray& bytes) {
  return Bytes(bytes.begin(), bytes.end());
}

const QByteArray Rgb = fixtures::IccProfile("RGB ", 70000);  // more than one JPEG marker holds
const QByteArray Gray = fixtures::IccProfile("GRAY", 3000);

class ColourProfileTest : public ::testing::Test {
 protected:
  QString PathOf(const char* name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
};

// Colour channels of a file as written: JPEG components, or 3 for an RGB PNG.
int ChannelsOf(const QString& path) {
  const Bytes bytes = fixtures::ReadBytes(path);
  if (bytes[0] == 0xFF)
    return fixtures::ReadJpegHeader(bytes).Components;
  return fixtures::ReadPngHeader(bytes).ColourType == PNG_COLOR_TYPE_RGB ? 3 : 1;
}

TEST_F(ColourProfileTest, ProfilesSurviveReadingAndSaving) {
  std::mt19937 random(8);
  const auto jpeg = [&](int components, bool grayPixels, const QByteArray& profile) {
    fixtures::JpegFixture fixture;
    fixture.Components = components;
    fixture.Input = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    for (int i = 0; i < 32 * 32; ++i)
      fixture.Pixels.insert(fixture.Pixels.end(), std::size_t(components), std::uint8_t(random()));
    if (!grayPixels)
      fixture.Pixels[1] ^= 0x80;
    fixture.Icc = ToBytes(profile);
    return fixtures::EncodeJpegFixture(fixture);
  };
  const auto png = [&](int colourType, bool grayPixels, const QByteArray& profile) {
    fixtures::PngFixture fixture;
    fixture.Width = fixture.Height = 16;
    fixture.ColourType = colourType;
    const int channels = colourType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    for (int y = 0; y < 16; ++y) {
      fixture.Rows.emplace_back();
      for (int x = 0; x < 16; ++x) {
        fixture.Rows.back().insert(fixture.Rows.back().end(), std::size_t(channels),
                                   std::uint8_t(random()));
      }
    }
    if (!grayPixels)
      fixture.Rows[0][1] ^= 0x80;
    fixture.Icc = ToBytes(profile);
    return fixtures::EncodePngFixture(fixture);
  };
  const struct {
    const char* Name;
    const char* File;
    Bytes Content;
    QByteArray Profile;
    int Channels;
  } cases[] = {
      {"colour JPEG, RGB profile in two markers", "c.jpg", jpeg(3, false, Rgb), Rgb, 3},
      {"gray JPEG, gray profile", "g.jpg", jpeg(1, true, Gray), Gray, 1},
      {"colour JPEG of gray pixels, RGB profile", "cg.jpg", jpeg(3, true, Rgb), Rgb, 3},
      {"colour PNG, RGB profile", "c.png", png(PNG_COLOR_TYPE_RGB, false, Rgb), Rgb, 3},
      {"gray PNG, gray profile", "g.png", png(PNG_COLOR_TYPE_GRAY, true, Gray), Gray, 1},
      {"colour PNG of gray pixels, RGB profile", "cg.png", png(PNG_COLOR_TYPE_RGB, true, Rgb), Rgb,
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString path = PathOf(c.File);
    ASSERT_TRUE(fixtures::WriteBytes(path, c.Content));
    PageRaster raster;
    const PageFileInfo read = ReadPageFile(path, raster);
    ASSERT_TRUE(read.Decoded());
    EXPECT_TRUE(read.Source.IccProfile == c.Profile)
        << read.Source.IccProfile.size() << " bytes read";
    ASSERT_EQ(SavePage(path, raster, 300, 300, {read.Identity, false, read.Source.IccProfile}),
              SaveOutcome::Written);
    EXPECT_EQ(ChannelsOf(path), c.Channels);
    PageRaster again;
    EXPECT_TRUE(ReadPageFile(path, again).Source.IccProfile == c.Profile);
  }
}

TEST_F(ColourProfileTest, DamagedProfilesAreDroppedNotThePage) {
  QByteArray longer = Rgb;
  fixtures::Put32(longer, 0, std::uint32_t(Rgb.size() + 4));
  QByteArray tagOutside = Rgb;
  fixtures::Put32(tagOutside, 152, 0x7FFFFFFF);

  fixtures::JpegFixture fixture;
  fixture.Pixels.assign(32 * 32 * 3, 200);
  fixture.Pixels[0] = 0;
  fixture.Icc = ToBytes(longer);
  ASSERT_TRUE(fixtures::WriteBytes(PathOf("read.jpg"), fixtures::EncodeJpegFixture(fixture)));
  PageRaster raster;
  const PageFileInfo read = ReadPageFile(PathOf("read.jpg"), raster);
  EXPECT_TRUE(read.Decoded());
  EXPECT_TRUE(read.Source.IccProfile.isEmpty());

  for (const char* file : {"saved.jpg", "saved.png"}) {
    for (const QByteArray& profile : {longer, tagOutside}) {
      SCOPED_TRACE(::testing::Message() << file << ", profile of " << profile.size() << " bytes");
      ASSERT_EQ(SavePage(PathOf(file), raster, 300, 300, {std::nullopt, false, profile}),
                SaveOutcome::Written);
      QFile saved(PathOf(file));
      ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
      const QByteArray written = saved.readAll();
      EXPECT_FALSE(written.contains("ICC_PROFILE") || written.contains("iCCP"));
      PageRaster again;
      EXPECT_EQ(ReadPageFile(PathOf(file), again).Decoded(), true);
      EXPECT_EQ(again.Width(), 32);
    }
  }
}

}  // namespace
}  // namespace pagetrim
