// Files made to hurt the decoder: pictures declared far larger than their
// data, endless progressions; and the real pages that the same limits must
// still let through.
#include "pages/hostile_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <optional>
#include <random>

#include "page_codec.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;
using namespace hostile;

long VmPeakKb() {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmPeak:"))
      return line.mid(7).trimmed().split(' ').first().toLong();
  }
  return -1;
}

long MaxRssKb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class HostileFilesTest : public ::testing::Test {
 protected:
  QString Write(const char* name, const Bytes& bytes) {
    EXPECT_TRUE(fixtures::WriteBytes(dir_.filePath(name), bytes));
    return dir_.filePath(name);
  }

  QTemporaryDir dir_;
};

// Each declares 2^28 pixels in a few kilobytes at most. Refusing one must
// not cost a page: the reads run in a child process, whose peak memory
// starts where the parent is now rather than at the parent's largest page.
TEST_F(HostileFilesTest, PictureBombsAreRefusedWithoutAllocatingAPage) {
  fixtures::JpegFixture cmyk = FlatJpeg(16, 16, {0, 0, 0, 0});
  cmyk.Progressive = true;
  const struct {
    const char* Name;
    Bytes File;
    std::size_t MaxSize;
  } bombs[] = {
      {"baseline JPEG", Declaring(EncodeJpegFixture(FlatJpeg(16, 16, {255})), Largest, Largest),
       1024},
      {"progressive CMYK JPEG", Declaring(EncodeJpegFixture(cmyk), Largest, Largest), 1024},
      {"8-bit gray PNG", DeclaringHeight(WhitePng(Largest, 64, 8), Largest), 4096},
  };
  constexpr int Count = int(std::size(bombs));
  std::vector<QString> paths;
  for (const auto& bomb : bombs) {
    SCOPED_TRACE(bomb.Name);
    EXPECT_LT(bomb.File.size(), bomb.MaxSize);
    paths.push_back(Write(bomb.Name, bomb.File));
  }

  // Per bomb: width, height and rows decoded; then the rises in peak
  // resident and peak virtual memory, in kB.
  std::array<long, 3 * Count + 2> results{};
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    const long rss = MaxRssKb(), vm = VmPeakKb();
    for (int i = 0; i < Count; ++i) {
      long rows = 0;
      PageRaster raster;
      ReadPageFile(paths[std::size_t(i)], raster,
                   {[&](const PageRaster&, int, int count, bool) { rows += count; }, nullptr});
      results[std::size_t(3 * i)] = raster.Width();
      results[std::size_t(3 * i + 1)] = raster.Height();
      results[std::size_t(3 * i + 2)] = rows;
    }
    results[3 * Count] = MaxRssKb() - rss;
    results[3 * Count + 1] = VmPeakKb() - vm;
    const bool sent = ::write(channel[1], results.data(), sizeof(results)) == sizeof(results);
    ::_exit(sent ? 0 : 1);
  }
  ::close(channel[1]);
  const bool received = ::read(channel[0], results.data(), sizeof(results)) == sizeof(results);
  ::close(channel[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(received && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int i = 0; i < Count; ++i) {
    SCOPED_TRACE(bombs[i].Name);
    EXPECT_EQ(results[std::size_t(3 * i)], 0);
    EXPECT_EQ(results[std::size_t(3 * i + 1)], 0);
    EXPECT_EQ(results[std::size_t(3 * i + 2)], 0) << "rows decoded";
  }
  EXPECT_LT(results[3 * Count], 100 << 10) << "peak resident memory rose, kB";
  EXPECT_LT(results[3 * Count + 1], 100 << 10) << "peak virtual memory rose, kB";
}

// A valid progression of the given number of scans: the DC scan, then one
// AC coefficient per scan and component.
std::vector<jpeg_scan_info> SingleCoefficientScans(int components, int count) {
  std::vector<jpeg_scan_info> scans = {{components, {0, 1, 2, 3}, 0, 0, 0, 0}};
  for (int k = 1; k < 64; ++k) {
    for (int c = 0; c < components; ++c)
      scans.push_back({1, {c}, k, k, 0, 0});
  }
  scans.resize(std::size_t(count));
  return scans;
}

TEST_F(HostileFilesTest, ProgressionsOfMoreThan40ScansAreRefused) {
  std::mt19937 random(5);
  Bytes noise(64 * 64 * 3);
  for (std::uint8_t& sample : noise)
    sample = std::uint8_t(random());
  const struct {
    const char* Name;
    int Components, Scans;
    bool Decodes;
  } cases[] = {
      {"gray, 40 scans", 1, 40, true},
      {"gray, 41 scans", 1, 41, false},
      {"colour, 190 scans", 3, 190, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fixtures::JpegFixture fixture = FlatJpeg(64, 64, Bytes(std::size_t(c.Components), 0));
    fixture.Pixels.assign(noise.begin(), noise.begin() + 64 * 64 * c.Components);
    fixture.Scans = SingleCoefficientScans(c.Components, c.Scans);
    PageRaster raster;
    ReadPageFile(Write("scans.jpg", EncodeJpegFixture(fixture)), raster);
    EXPECT_EQ(raster.Width(), c.Decodes ? 64 : 0);
  }
}

// The limits against bombs must let every real page through, also the
// smallest files libjpeg and zlib can make of the largest blank pages.
TEST_F(HostileFilesTest, RealPagesAreNotRefused) {
  std::mt19937 random(6);
  fixtures::JpegFixture noisy = FlatJpeg(300, 200, {0, 0, 0});
  noisy.Pixels.resize(300 * 200 * 3);
  for (std::uint8_t& sample : noisy.Pixels)
    sample = std::uint8_t(random());
  fixtures::JpegFixture progressive = FlatJpeg(640, 480, {255, 255, 255});
  progressive.Progressive = true;
  fixtures::JpegFixture largestGray = FlatJpeg(Largest, Largest, {255});
  largestGray.Progressive = true;
  fixtures::JpegFixture cmyk = FlatJpeg(600, 800, {255, 255, 255, 255});  // Adobe: 255 is no ink
  const struct {
    const char* Name;
    Bytes File;
    int Width, Height;
    PixelFormat Format;
    std::optional<int> Gray;  // the page's value, when it is blank
  } cases[] = {
      {"white colour", EncodeJpegFixture(FlatJpeg(640, 480, {255, 255, 255})), 640, 480,
       PixelFormat::Bgr24, 255},
      {"blank gray", EncodeJpegFixture(FlatJpeg(500, 700, {128})), 500, 700, PixelFormat::Gray8,
       128},
      {"noisy colour", EncodeJpegFixture(noisy), 300, 200, PixelFormat::Bgr24, std::nullopt},
      {"white progressive colour", EncodeJpegFixture(progressive), 640, 480, PixelFormat::Bgr24,
       255},
      {"white CMYK", EncodeJpegFixture(cmyk), 600, 800, PixelFormat::Bgr24, 255},
      {"white colour baseline, 8192 x 8192",
       EncodeJpegFixture(FlatJpeg(8192, 8192, {255, 255, 255})), 8192, 8192, PixelFormat::Bgr24,
       255},
      {"white gray progressive, largest", EncodeJpegFixture(largestGray), Largest, Largest,
       PixelFormat::Gray8, 255},
      {"white bitonal PNG, largest", WhitePng(Largest, Largest, 1), Largest, Largest,
       PixelFormat::Gray8, 255},
      {"white gray PNG, largest", WhitePng(Largest, Largest, 8), Largest, Largest,
       PixelFormat::Gray8, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Name << ", " << c.File.size() << " bytes");
    PageRaster raster;
    EXPECT_TRUE(ReadPageFile(Write("real", c.File), raster).Decoded());
    ASSERT_EQ(raster.Width(), c.Width);
    ASSERT_EQ(raster.Height(), c.Height);
    EXPECT_EQ(raster.Format(), c.Format);
    if (c.Gray) {
      for (const auto& [x, y] : {std::pair{0, 0}, {c.Width / 2, c.Height / 2}, {c.Width - 1, 0}}) {
        const ColourValue colour = raster.PixelAt(x, y);
        for (int shift : {0, 8, 16})
          EXPECT_NEAR((colour >> shift) & 0xFF, *c.Gray, 1) << x << ", " << y;
      }
    }
  }
}

// Buffers of pages that went are kept for the next pages, but only about
// two pages' worth of the largest recent size, and never over the limit.
TEST_F(HostileFilesTest, BufferPoolStaysWithinItsLimits) {
  // Tiny rasters, after which no earlier size is recent: the pool empties.
  const auto forgetSizes = [] {
    for (int i = 0; i < 8; ++i)
      PageRaster(1, 1);
    ASSERT_EQ(PooledBytes(), 0u);
  };
  forgetSizes();

  const QString large = Write("large.jpg", EncodeJpegFixture(FlatJpeg(4000, 4000, {9, 9, 90})));
  const QString small = Write("small.jpg", EncodeJpegFixture(FlatJpeg(50, 50, {9, 9, 90})));
  constexpr std::size_t Page = std::size_t(4000) * 4000 * 3;
  {
    std::vector<PageRaster> pages(4);
    for (PageRaster& page : pages) {
      ReadPageFile(large, page);
      ASSERT_EQ(page.Width(), 4000);
    }
  }
  EXPECT_GE(PooledBytes(), Page);  // the next large page takes a pooled buffer
  EXPECT_LE(PooledBytes(), 2 * Page);
  PageRaster page;
  ReadPageFile(small, page);
  EXPECT_EQ(page.Width(), 50);
  page = PageRaster();
  EXPECT_LE(PooledBytes(), 2 * Page);

  // Pages of 400 MB: two would exceed the limit. Never written, so they
  // cost address space only.
  forgetSizes();
  {
    std::vector<PageRaster> huge(3);
    for (PageRaster& raster : huge)
      raster.ResetForOverwrite(10000, 13334);
  }
  EXPECT_GT(PooledBytes(), 0u);
  EXPECT_LE(PooledBytes(), MaxPooledBytes);
}

}  // namespace
}  // namespace pagetrim
