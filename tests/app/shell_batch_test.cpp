// Batches run from the shell, in process: no display, and the core
// libraries alone.
#include "shell_batch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include "batch_commands.h"
#include "editing/recording_page_window.h"
#include "page_codec.h"
#include "page_commands.h"
#include "realistic_page.h"

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

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// --batch auto writes the very bytes the window's 全頁自動削除 writes, kept
// originals included, on colour, gray, 1-bit and blank pages.
TEST(ShellBatch, AutoWritesWhatTheWindowsBatchWrites) {
  int argc = 1;
  char name[] = "shell_batch_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QTemporaryDir window, shell;
  const struct {
    const char* Name;
    samples::PageKind Kind;
    bool Blank;
  } pages[] = {{"p1.jpg", samples::PageKind::Colour, false},
               {"p2.png", samples::PageKind::Gray, false},
               {"p3.png", samples::PageKind::Bitonal, false},
               {"p4.jpg", samples::PageKind::Colour, true}};
  for (const auto& page : pages) {
    samples::RealisticPageOptions o;
    o.Kind = page.Kind;
    o.Seed = unsigned(page.Kind) + 3;
    o.DarkEdge = {12, 0, 0, 30};
    o.Speckles = 40;
    if (page.Blank)
      o.MarginTop = o.Height;
    const PageRaster raster = samples::MakeRealisticPage(o).Page;
    for (const QTemporaryDir* dir : {&window, &shell})
      ASSERT_EQ(SavePage(dir->filePath(page.Name), raster, 300, 300), SaveOutcome::Written);
  }
  EditState state;
  test::RecordingPageWindow recording;
  ASSERT_TRUE(OpenPageSet(state, recording, window.filePath("p1.jpg")));
  TrimAllToContent(state, recording);
  ASSERT_EQ(RunShellBatch({"pagetrim", "--batch", "auto", shell.filePath("p1.jpg")}), 0);

  int compared = 0;
  QDirIterator files(window.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    const QString path = files.next();
    const QString other = shell.path() + path.mid(window.path().size());
    if (path.contains("/.pagetrim-written/")) {
      // A note names each file pagetrim wrote by its size and digest, and by
      // an inode and time that are its folder's own.
      const auto bytesNamed = [](const QString& note) {
        QList<QByteArray> named;
        for (const QByteArray& line : ReadAll(note).split('\n')) {
          const QList<QByteArray> fields = line.split(' ');
          if (fields.size() == 5)
            named.append(fields[2] + ' ' + fields[4]);
        }
        return named;
      };
      EXPECT_EQ(bytesNamed(path), bytesNamed(other)) << path.toStdString();
    } else {
      EXPECT_EQ(ReadAll(path), ReadAll(other)) << path.toStdString();
    }
    ++compared;
  }
  EXPECT_EQ(compared, 12);  // four pages, their four originals and four notes
  PageRaster cut;
  LoadPage(shell.filePath("p1.jpg"), cut);
  EXPECT_LT(cut.Width(), 850 - 12);
}

}  // namespace
}  // namespace pagetrim
