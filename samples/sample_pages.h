// Synthetic scanned pages with known margins, for trying the program, the
// end-to-end tests and the benchmarks.
#pragma once

#include <QString>
#include <QStringList>

#include "book_generator.h"
#include "page_raster.h"

namespace pagetrim {

struct SampleMargins {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

// A white page of width x height whose ink (lines of word-like blocks, in
// colour when colour is true, else in black) lies exactly inside the margins:
// the first ink column is margins.Left, the last is width - 1 - margins.Right,
// and likewise for rows.
PageRaster MakeSamplePage(int width, int height, SampleMargins margins, unsigned seed, bool colour);

// Writes a page file at exactly the given resolution. Saving a page raises a
// low resolution to the program's minimum, but samples must also show pages
// scanned at 72 dpi.
bool WriteSamplePage(const QString& path, const PageRaster& page, float dpi);

// Writes the bundled sample book into folder (which must exist) and returns
// the page paths in page order: JPEG and PNG pages at 300 and 72 dpi.
QStringList WriteSampleBook(const QString& folder);

// Writes a book of pages with the faults of real paper into folder (which
// must exist): dark scanner edges, a gutter's shadow, a strip of the facing
// page, specks, yellowed paper and a picture running off the page, in
// colour, gray and 1-bit. Returns the page paths in page order.
QStringList WriteRealPaperBook(const QString& folder);

// Writes a generated book into folder (which must exist), named in page
// order (p001.jpg, ...; p001.png, ... for a bitonal book), JPEG pages at a
// scanner's quality, and, when truthPath is not empty, the truth about every
// page as JSON to truthPath (see WriteBookTruth). Returns the page paths in
// page order; none, with reason set, when a page or the truth could not be
// written.
QStringList WriteGeneratedBook(const QString& folder, const samples::BookOptions& options,
                               const QString& truthPath, QString* reason = nullptr);

// The truth about a book's pages as JSON: the book's dpi, seed and kind, how
// to read the placement, and per page its file name, kind, side, scan size
// and dpi, turn, placement, whether it lies on a bed, and its boxes as
// [x0, y0, x1, y1] (x1 and y1 exclusive; null when empty).
QByteArray BookTruthJson(const samples::BookOptions& options,
                         const std::vector<samples::BookPageTruth>& pages);

}  // namespace pagetrim
