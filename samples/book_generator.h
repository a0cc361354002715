// Generated books: forty-odd pages of one layout, each scanned as a real
// session scans a book (placed with a little jitter and turn, on the
// scanner's lid or now and then on a dark bed, with specks, the gutter's
// shadow and yellowed paper), and the truth about every page: its kind and
// side, and where its text block and content lie, straight and in the scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "page_raster.h"
#include "realistic_page.h"

namespace pagetrim::samples {

enum class BookPageKind { Cover, Full, ChapterOpening, ChapterEnd, Blank, Plate };
const char* BookPageKindName(BookPageKind kind);

// By place in the page list: even indices are rectos (right-hand pages,
// bound at their left), odd ones versos (bound at their right).
enum class BookSide { Recto, Verso };

struct BookOptions {
  int Dpi = 300;
  unsigned Seed = 1;
  int Pages = 44;  // at least 4
  // Colour and gray books are written as JPEG, bitonal ones as 1-bit PNG.
  PageKind Kind = PageKind::Colour;
};

// Where the straight page lies in the scan. A point (x, y) of the straight
// page (pixel edges at whole numbers) lands at
//   X = OriginX + x cos t + y sin t,   Y = OriginY - x sin t + y cos t
// where t is Turn in radians: the page as written is turned by Turn degrees,
// counter-clockwise positive, from straight.
struct Placement {
  double OriginX = 0;
  double OriginY = 0;
  double Turn = 0;

  void Map(double x, double y, double& scanX, double& scanY) const;
  void Unmap(double scanX, double scanY, double& x, double& y) const;
};

struct BookPageTruth {
  std::string Name;  // p001.jpg, p002.jpg, ... (p001.png, ... for a bitonal book)
  BookPageKind Kind = BookPageKind::Full;
  BookSide Side = BookSide::Recto;
  int Width = 0;  // the scan's
  int Height = 0;
  int Dpi = 0;
  int PageWidth = 0;  // the straight page's
  int PageHeight = 0;
  Placement Place;
  bool OnBed = false;  // the page lies on a dark bed, not on the scanner's lid
  // In the straight page: the body text's ink, without running head and page
  // number, and all of the page's content. Empty when there is none.
  Rect TextBlock;
  Rect Content;
  // In the scan: the box of every content pixel; empty when there is none.
  Rect ScanContent;
};

struct BookPage {
  BookPageTruth Truth;
  PageRaster Scan;  // Bgr24 in colour; Gray8 in gray, and bitonal with only 0 and 255
  // One byte per scan pixel, row by row: 1 where the scan shows the page's
  // own content (never the lid, bed, specks or shadows).
  std::vector<std::uint8_t> Content;

  bool IsContent(int x, int y) const {
    return Content[std::size_t(y) * std::size_t(Scan.Width()) + std::size_t(x)] != 0;
  }
};

// The kind of every page, in page order; it depends on the page count alone.
std::vector<BookPageKind> BookPlan(int pages);

// Page index of the book: made alone, so that a caller needs no more than
// one page in memory; the same options give the same page, byte for byte.
BookPage MakeBookPage(const BookOptions& options, int index);

// Draws straight (Bgr24, with content one byte per pixel) onto scan (Bgr24)
// through place, sampling bilinearly; scan pixels the page does not cover
// keep their own colour and blend with it along the page's edge. A scan
// pixel is content when at least a fifth of it comes from content, so that
// no content pixel of the straight page is lost at turns of a few degrees.
void PlaceTurned(const PageRaster& straight, const std::vector<std::uint8_t>& content,
                 const Placement& place, PageRaster& scan, std::vector<std::uint8_t>& scanContent);

}  // namespace pagetrim::samples
