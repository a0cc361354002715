// Turning a page about its centre by a small angle, onto a canvas grown so
// that no pixel of the page is lost, and where each point of the page lands.
#pragma once

#include <functional>

#include "content_box.h"
#include "page_raster.h"

namespace pagetrim {

// A point in pixels from the top-left corner of a page's first pixel: pixel
// (x, y) covers [x, x + 1) x [y, y + 1), and its centre is (x + 0.5, y + 0.5).
struct PagePoint {
  double X = 0;
  double Y = 0;
};

// Turns are made within this far either way; a page is never turned farther
// than a quarter turn's half.
inline constexpr double MaxTurnDegrees = 45.0;

// The geometry of turning a page of width x height counter-clockwise by
// degrees about its centre. The turned canvas holds the whole turned page and
// one pixel more on every side, so that nothing of it is lost, and keeps the
// page's centre at its own. A turn by 0 is the page itself.
class PageTurn {
 public:
  PageTurn(int width, int height, double degrees);

  double Degrees() const { return degrees_; }
  // The turned canvas.
  int Width() const { return turnedWidth_; }
  int Height() const { return turnedHeight_; }

  // Where a point of the page as read lies on the turned page, and back.
  PagePoint ToTurned(PagePoint p) const;
  PagePoint ToPage(PagePoint p) const;
  // The smallest box of whole pixels on the turned page that holds the
  // pixels of box.
  Rect TurnedBox(const Rect& box) const;

 private:
  int width_;
  int height_;
  double degrees_;
  double cos_;
  double sin_;
  int turnedWidth_;
  int turnedHeight_;
};

struct TurnOptions {
  // What the turn brings in around the page: the page's paper (PaperColour).
  // A gray page takes its gray, a 1-bit page black or white.
  ColourValue Fill = MakeColour(255, 255, 255);
  // Called with rows [first, first + count) of the turned page as they are
  // finished, in order, while they are still in the cache: to reduce the
  // turned page for its content box without another pass over it.
  std::function<void(const PageRaster& turned, int first, int count)> RowsTurned;
};

// page turned counter-clockwise by degrees (within MaxTurnDegrees) about its
// centre, onto the canvas of PageTurn: three shears, each a cubic
// interpolation along rows or columns. Colour stays colour and gray stays
// gray; a 1-bit page (gray holding only 0 and 255) is interpolated in gray and
// thresholded back at the midpoint. Besides the source and the result, the
// turn holds only a band of rows as high as the turn makes the page's width
// climb. A turn by 0 gives the page itself, untouched. Throws
// std::invalid_argument for a farther or non-finite angle.
PageRaster TurnPage(const PageRaster& page, double degrees, const TurnOptions& options = {});

// The colour of the page's paper, as the mean colour of its lighter cells (the
// 60th to 95th percentile of their brightness): what fills the corners a
// turn brings in. White for an empty reduction.
ColourValue PaperColour(const PageReduction& reduction);

}  // namespace pagetrim
