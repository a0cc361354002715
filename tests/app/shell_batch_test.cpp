// Batches run from the shell, in process: no display, and the core
// libraries alone.
#include "shell_batch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "page_codec.h"

namespace pagetrim {
namespace {

// Names that differ only by case are two pages, each trimmed from its own
// file, whichever of them names the book.
TEST(ShellBatch, PagesWhoseNamesDifferByCaseAreEachTrimmedFromTheirOwnFile) {
  int argc = 1;
  char name[] = "shell_batch_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);  // the settings file's place is the executable's
  for (const char* named : {"p1.png", "P1.png"}) {
    QTemporaryDir dir;
    for (const auto& [page, width] : {std::pair{"p1.png", 200}, std::pair{"P1.png", 300}}) {
      PageRaster raster(width, 100);  // ink between blank margins of 50 columns
      for (int y = 10; y < 90; ++y)
        std::fill(raster.Row(y) + 150, raster.Row(y) + 3 * (width - 50), std::uint8_t(0));
      ASSERT_EQ(SavePage(dir.filePath(page), raster, 300, 300), SaveOutcome::Written);
    }
    EXPECT_EQ(RunShellBatch({"pagetrim", "--batch", "lr", dir.filePath(named)}), 0) << named;
    PageRaster saved;
    LoadPage(dir.filePath("p1.png"), saved);
    EXPECT_EQ(saved.Width(), 100) << named;
    LoadPage(dir.filePath("P1.png"), saved);
    EXPECT_EQ(saved.Width(), 200) << named;
  }
}

}  // namespace
}  // namespace pagetrim
