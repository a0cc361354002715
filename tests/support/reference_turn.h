// Pages turned by known angles, written plainly and apart from the program's
// own turn, so that the skew tests and the benchmark do not check that turn
// against itself: every pixel of the turned page is the average of n x n
// points (3 x 3 unless said) mapped back into the page, each read by bilinear
// interpolation.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "page_raster.h"

namespace pagetrim::test {

struct ReferenceTurned {
  PageRaster Page;
  // One byte per pixel of Page, 1 where the nearest pixel of the page as it
  // was is content; empty when no content mask was given.
  std::vector<std::uint8_t> Content;
};

// page turned counter-clockwise by degrees about its centre, onto a canvas of
// width x height whose centre is the page's centre (as a scanner's frame
// stays put while the sheet lies turned in it). What lies outside the page
// is fill (blue, green, red; its gray on a gray page). A bitonal page is read in gray and
// thresholded at the midpoint, as a scanner would. content: the page's content mask, or null.
inline ReferenceTurned ReferenceTurn(const PageRaster& page, double degrees, int width, int height,
                                     const std::uint8_t (&fill)[3], bool bitonal,
                                     const std::vector<std::uint8_t>* content = nullptr,
                                     int n = 3) {
  const int w = page.Width(), h = page.Height();
  const int channels = page.BytesPerPixel();
  const double a = degrees * std::numbers::pi / 180.0;
  const double c = std::cos(a), s = std::sin(a);
  ReferenceTurned out;
  out.Page = PageRaster(width, height, page.Format());
  if (content != nullptr)
    out.Content.assign(std::size_t(width) * height, 0);
  // The page's value of channel k at (u, v), pixel centres at whole numbers
  // plus a half; fill beyond the page.
  const double fillGray = (fill[0] + fill[1] + fill[2]) / 3;
  auto at = [&](int x, int y, int k) -> double {
    if (x < 0 || y < 0 || x >= w || y >= h)
      return channels == 1 ? fillGray : fill[k];
    return page.Row(y)[x * channels + k];
  };
  auto bilinear = [&](double u, double v, int k) {
    const double fx = u - 0.5, fy = v - 0.5;
    const int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
    const double tx = fx - x0, ty = fy - y0;
    return (1 - ty) * ((1 - tx) * at(x0, y0, k) + tx * at(x0 + 1, y0, k)) +
           ty * ((1 - tx) * at(x0, y0 + 1, k) + tx * at(x0 + 1, y0 + 1, k));
  };
  // A point of the turned canvas back on the page: the inverse turn.
  auto back = [&](double x, double y, double& u, double& v) {
    const double qx = x - width / 2.0, qy = y - height / 2.0;
    u = c * qx - s * qy + w / 2.0;
    v = s * qx + c * qy + h / 2.0;
  };
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = out.Page.Row(y);
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < channels; ++k) {
        double sum = 0;
        for (int j = 0; j < n; ++j) {
          for (int i = 0; i < n; ++i) {
            double u, v;
            back(x + (i + 0.5) / n, y + (j + 0.5) / n, u, v);
            sum += bilinear(u, v, k);
          }
        }
        const double value = sum / (n * n);
        row[x * channels + k] =
            std::uint8_t(bitonal ? (value < 127.5 ? 0 : 255) : std::clamp(value + 0.5, 0.0, 255.0));
      }
      if (content != nullptr) {
        double u, v;
        back(x + 0.5, y + 0.5, u, v);
        const int px = int(std::floor(u)), py = int(std::floor(v));
        if (px >= 0 && py >= 0 && px < w && py < h)
          out.Content[std::size_t(y) * width + x] = (*content)[std::size_t(py) * w + px];
      }
    }
  }
  return out;
}

// The same onto a canvas of the page's own size.
inline ReferenceTurned ReferenceTurn(const PageRaster& page, double degrees,
                                     const std::uint8_t (&fill)[3], bool bitonal,
                                     const std::vector<std::uint8_t>* content = nullptr) {
  return ReferenceTurn(page, degrees, page.Width(), page.Height(), fill, bitonal, content);
}

// Whether every pixel of a gray page is 0 or 255.
inline bool IsBitonalPage(const PageRaster& page) {
  if (page.Format() != PixelFormat::Gray8)
    return false;
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x) {
      if (row[x] != 0 && row[x] != 255)
        return false;
    }
  }
  return true;
}

}  // namespace pagetrim::test
