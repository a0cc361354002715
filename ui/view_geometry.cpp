// The views' drawing rectangle and the inverse mapping used to aim trims.
#include "view_geometry.h"

#include <cmath>
#include <cstdint>

namespace pagetrim {

namespace {

// Trunc of a double into an int without undefined behaviour at the extremes.
int TruncToInt(double v) {
  if (!(v > -2147483648.0))
    return INT32_MIN;
  if (!(v < 2147483647.0))
    return INT32_MAX;
  return int(std::trunc(v));
}

// The product of two 32-bit integers as a 32-bit integer: it wraps around on
// overflow, like the integer arithmetic the mapping has always used.
std::int32_t Product32(std::int32_t a, std::int32_t b) {
  return std::int32_t(std::uint32_t(std::int64_t(a) * std::int64_t(b)));
}

}  // namespace

QRect ViewDrawRect(int pictureWidth, int pictureHeight, int viewWidth, int viewHeight) {
  if (pictureWidth == 0 || pictureHeight == 0)
    return QRect(0, 0, viewWidth, viewHeight);
  const double aspect = double(pictureWidth) / double(pictureHeight);
  int w = 0;
  int h = 0;
  if (pictureWidth > pictureHeight) {
    w = viewWidth;
    h = TruncToInt(viewWidth / aspect);
    if (h > viewHeight) {
      h = viewHeight;
      w = TruncToInt(viewHeight * aspect);
    }
  } else {
    h = viewHeight;
    w = TruncToInt(viewHeight * aspect);
    if (w > viewWidth) {
      w = viewWidth;
      h = TruncToInt(viewWidth / aspect);
    }
  }
  return QRect(0, 0, w, h);
}

QPoint MapViewToImage(QPoint viewPoint, int pageWidth, int pageHeight, int viewWidth,
                      int viewHeight) {
  const double pageRatio = double(pageHeight) / double(pageWidth);
  const double viewRatio = double(viewHeight) / double(viewWidth);
  // The quotients may be infinite or undefined for empty pages or views; the
  // comparison then falls to the widths, as it always has.
  if (pageRatio > viewRatio) {
    return QPoint(TruncToInt(Product32(viewPoint.x(), pageHeight) / double(viewHeight)),
                  TruncToInt(Product32(viewPoint.y(), pageHeight) / double(viewHeight)));
  }
  return QPoint(TruncToInt(Product32(viewPoint.x(), pageWidth) / double(viewWidth)),
                TruncToInt(Product32(viewPoint.y(), pageWidth) / double(viewWidth)));
}

}  // namespace pagetrim
