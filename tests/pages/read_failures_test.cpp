// Page files that cannot be read for reasons other than their bytes: what
// stands in the page's place, its permissions, the system's errors and the
// memory at hand. Each read gives an empty page and the real reason.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <random>

#include "codecs.h"
#include "page_codec.h"
#include "pages/image_fixtures.h"
#include "support/as_another_user.h"

namespace pagetrim {
namespace {

class ReadFailures : public ::testing::Test {
 protected:
  QString PathOf(const char* name) const { return dir_.filePath(name); }
  // A small page that reads well, to be put where a page should be.
  QString GoodPage(const char* name) {
    EXPECT_TRUE(SavePage(PathOf(name), PageRaster(16, 16), 300, 300).Ok());
    return PathOf(name);
  }
  static Result Read(const QString& path) {
    PageRaster raster(5, 5);
    const PageFileInfo info = ReadPageFile(path, raster);
    EXPECT_TRUE(raster.IsEmpty() || info.Decoded());
    return info.Read;
  }

  QTemporaryDir dir_;
};

TEST_F(ReadFailures, WhatStandsInAPagesPlaceSaysWhatItIs) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.jpg"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(PathOf("pipe.jpg")).constData(), 0644), 0);
  // Larger than any page file may be, without taking the disk's space.
  ASSERT_TRUE(QFile::resize(GoodPage("huge.jpg"), qint64(codecs::MaxPageFileBytes) + 1));
  EXPECT_EQ(Read(PathOf("folder.jpg")), Result::FromReadError(EISDIR));
  EXPECT_EQ(Read(PathOf("folder.jpg")).Why, Reason::FolderInTheWay);
  // Opened without waiting for a writer, and refused.
  EXPECT_EQ(Read(PathOf("pipe.jpg")), Result::Failed(Reason::NotAFile));
  EXPECT_EQ(Read(PathOf("huge.jpg")), Result::Failed(Reason::ImageTooLarge));
  EXPECT_EQ(Read(PathOf("missing.jpg")), Result::FromReadError(ENOENT));
  EXPECT_TRUE(Read(GoodPage("good.jpg")).Ok());
}

// Tests run as root, who reads every file: the page is read as another user.
TEST_F(ReadFailures, APageWithoutReadPermissionSaysSo) {
  const QString page = GoodPage("locked.jpg");
  ASSERT_EQ(::chmod(QFile::encodeName(page).constData(), 0200), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0777), 0);
  const int status = test::RunAsAnotherUser([&] {
    PageRaster raster;
    const PageFileInfo info = ReadPageFile(page, raster);
    if (info.Read != Result::FromReadError(EACCES))
      return 1;
    return info.Read.Why == Reason::ReadNotPermitted && !info.Identity && raster.IsEmpty() ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
}

// A real read error: a kernel attribute that the system lets anyone open but
// that answers every read with EIO, reached through a page's name as a
// symbolic link would make it.
TEST_F(ReadFailures, AReadErrorGivesTheSystemsReason) {
  QString failing;
  const QDir devices("/sys/devices");
  for (const QString& device : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    const QString candidate = devices.filePath(device + "/power/autosuspend_delay_ms");
    QFile file(candidate);
    if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
      char byte;
      errno = 0;
      if (::read(file.handle(), &byte, 1) < 0 && errno == EIO) {
        failing = candidate;
        break;
      }
    }
  }
  if (failing.isEmpty())
    GTEST_SKIP() << "no file under /sys/devices answers a read with EIO here";
  ASSERT_TRUE(QFile::link(failing, PathOf("p.jpg")));
  const Result read = Read(PathOf("p.jpg"));
  EXPECT_EQ(read, Result::FromReadError(EIO));
  EXPECT_EQ(read.Why, Reason::ReadFailed);
}

long VirtualKb() {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmSize:"))
      return line.mid(7).trimmed().split(' ').first().toLong();
  }
  return -1;
}

// With no memory to spare, reading and writing a page say so; nothing throws
// and nothing calls the page damaged. Run in a fresh process (the death
// test's own, started anew), whose address space is capped a megabyte above
// what it uses: memory that earlier tests freed would otherwise serve.
TEST_F(ReadFailures, WithoutMemoryAPageSaysSo) {
  fixtures::PngFixture png;
  png.Width = png.Height = 1024;
  png.ColourType = PNG_COLOR_TYPE_RGB;
  png.Rows.assign(1024, fixtures::Bytes(3 * 1024));
  for (std::size_t y = 0; y < png.Rows.size(); ++y) {
    for (std::size_t x = 0; x < png.Rows[y].size(); ++x)
      png.Rows[y][x] = std::uint8_t((x * 7 + y * 3) & 0xF0);
  }
  const QString path = PathOf("p.png");
  ASSERT_TRUE(fixtures::WriteBytes(path, fixtures::EncodePngFixture(png)));
  png.Rows.clear();
  ASSERT_LT(QFile(path).size(), 200 << 10);  // the file fits, its 3 MB of pixels do not
  // Noise, which neither encoder can make much smaller than its pixels.
  PageRaster page(1024, 1024);
  std::mt19937 random(3);
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* row = page.Row(y);
    for (std::size_t i = 0; i < page.RowBytes(); ++i)
      row[i] = std::uint8_t(random());
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto withoutMemory = [&] {
    const rlimit cap{rlim_t(VirtualKb() + 1024) * 1024, RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &cap) != 0)
      ::_exit(10);
    PageRaster read;
    const Result results[] = {ReadPageFile(path, read).Read, EncodePage("p.jpg", page, 300, 300),
                              EncodePage("p.png", page, 300, 300)};
    for (int i = 0; i < 3; ++i) {
      if (results[i] != Result::Failed(Reason::OutOfMemory)) {
        std::fprintf(stderr, "step %d (read, JPEG, PNG) gave reason %d\n", i, int(results[i].Why));
        ::_exit(1 + i);
      }
    }
    ::_exit(0);
  };
  EXPECT_EXIT(withoutMemory(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace pagetrim
