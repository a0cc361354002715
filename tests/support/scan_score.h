// Scoring a cut of a real scan against the page's hand-checked content box:
// the ink it loses and the margin it leaves. The real-scan test and
// bench/realscans (scripts/realscans) score alike through this.
//
// Ink, as counted here: a pixel whose gray ((blue + green + red) div 3) lies
// below the local paper by at least half the way from that paper to the
// page's ink (the 1st percentile of the hand box), and by at least 40 levels. Local paper is the
// 90th percentile of a tile of the page (tiles of a twelfth of the hand box's
// shorter side). Only pixels of ink marks that lie inside the hand box count:
// a mark (ink joined across gaps of up to 2 pixels) that reaches more than 0.4% of that side out of
// the box is an edge, shadow or neighbouring page the hand check left out,
// and a mark of fewer than (0.1% of that side)^2 pixels, at least 4, a speck;
// so is one of fewer than (0.3% of that side)^2 pixels with no other ink
// (but specks) within 1% of that side.
// Ink lost is counted ink outside the cut.
//
// Margin left: how far each side of the cut lies outside the hand box, in % of
// the page's width (left, right) or height (top, bottom); negative when the
// cut lies inside the box. The median and worst side count negative sides as
// 0. Targets: no ink lost, median side <= 1%, no side > 5%.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "page_raster.h"

namespace pagetrim::test {

struct HandChecked {
  QString Name;  // as content_boxes.json names it, relative to its folder
  Rect Box;
};

// The pages of content_boxes.json in folder, in the file's order; none when
// the file is missing.
inline std::vector<HandChecked> ReadHandChecked(const QString& folder) {
  QFile file(QDir(folder).filePath("content_boxes.json"));
  if (!file.open(QIODevice::ReadOnly))
    return {};
  std::vector<HandChecked> pages;
  const QJsonObject all = QJsonDocument::fromJson(file.readAll()).object();
  for (auto it = all.begin(); it != all.end(); ++it) {
    const QJsonArray b = it.value().toObject()["content_box"].toArray();
    pages.push_back({it.key(), {b[0].toInt(), b[1].toInt(), b[2].toInt(), b[3].toInt()}});
  }
  return pages;
}

// Gray as the program's analysis image has it: (blue + green + red) div 3.
inline std::vector<std::uint8_t> GrayValues(const PageRaster& page) {
  std::vector<std::uint8_t> v(std::size_t(page.Width()) * page.Height());
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x) {
      v[std::size_t(y) * page.Width() + x] =
          page.Format() == PixelFormat::Gray8
              ? row[x]
              : std::uint8_t((row[3 * x] + row[3 * x + 1] + row[3 * x + 2]) / 3);
    }
  }
  return v;
}

// Reorders values.
inline int PercentileOf(std::vector<std::uint8_t>& values, double fraction) {
  if (values.empty())
    return 255;
  const std::size_t k = std::min(values.size() - 1, std::size_t(fraction * values.size()));
  std::nth_element(values.begin(), values.begin() + long(k), values.end());
  return values[k];
}

struct InkCount {
  long Total = 0;
  long Lost = 0;
  // Per pixel: 0 no ink, 1 counted, 2 ink of a mark reaching out of the box.
  std::vector<std::uint8_t> Map;
};

inline int FindMark(std::vector<int>& parent, int i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

inline InkCount CountInk(const PageRaster& page, const Rect& box, const Rect& cut) {
  const int w = page.Width();
  const int h = page.Height();
  const std::vector<std::uint8_t> v = GrayValues(page);
  std::vector<std::uint8_t> inBox;
  for (int y = box.Top; y < box.Bottom; ++y) {
    for (int x = box.Left; x < box.Right; ++x)
      inBox.push_back(v[std::size_t(y) * w + x]);
  }
  const int darkest = PercentileOf(inBox, 0.01);
  const int tile = std::max(16, std::min(box.Width(), box.Height()) / 12);
  const int tilesX = (w + tile - 1) / tile;
  const int tilesY = (h + tile - 1) / tile;
  std::vector<int> paper(std::size_t(tilesX) * tilesY);
  for (int ty = 0; ty < tilesY; ++ty) {
    for (int tx = 0; tx < tilesX; ++tx) {
      std::vector<std::uint8_t> values;
      for (int y = ty * tile; y < std::min(h, (ty + 1) * tile); ++y) {
        for (int x = tx * tile; x < std::min(w, (tx + 1) * tile); ++x)
          values.push_back(v[std::size_t(y) * w + x]);
      }
      paper[ty * tilesX + tx] = PercentileOf(values, 0.9);
    }
  }
  std::vector<std::uint8_t> ink(v.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int p = paper[(y / tile) * tilesX + x / tile];
      const double limit = p - std::max(40.0, (p - darkest) / 2.0);
      ink[std::size_t(y) * w + x] = v[std::size_t(y) * w + x] < limit;
    }
  }
  // Marks: ink joined across gaps of up to 2 pixels, the breaks a scanner's
  // threshold leaves in a line; wider gaps, such as between a letter and an
  // edge beside it, part marks.
  const int reach = 1;
  std::vector<std::uint8_t> across(v.size()), near(v.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      bool any = false;
      for (int dx = std::max(0, x - reach); dx <= std::min(w - 1, x + reach) && !any; ++dx)
        any = ink[std::size_t(y) * w + dx];
      across[std::size_t(y) * w + x] = any;
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      bool any = false;
      for (int dy = std::max(0, y - reach); dy <= std::min(h - 1, y + reach) && !any; ++dy)
        any = across[std::size_t(dy) * w + x];
      near[std::size_t(y) * w + x] = any;
    }
  }
  std::vector<int> parent(v.size());
  std::iota(parent.begin(), parent.end(), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      if (!near[i])
        continue;
      auto join = [&](int j) {
        if (near[j])
          parent[FindMark(parent, i)] = FindMark(parent, j);
      };
      if (x > 0)
        join(i - 1);
      if (y > 0) {
        join(i - w);
        if (x > 0)
          join(i - w - 1);
        if (x + 1 < w)
          join(i - w + 1);
      }
    }
  }
  std::vector<Rect> bounds(v.size(), Rect{w, h, -1, -1});
  std::vector<int> pixels(v.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      if (!ink[i])
        continue;
      ++pixels[FindMark(parent, i)];
      Rect& b = bounds[FindMark(parent, i)];
      b.Left = std::min(b.Left, x);
      b.Top = std::min(b.Top, y);
      b.Right = std::max(b.Right, x + 1);
      b.Bottom = std::max(b.Bottom, y + 1);
    }
  }
  const int tolerance = int(std::ceil(0.004 * std::max(w, h)));
  const int longer = std::max(w, h);
  const int speck = std::max(4, int(std::ceil(std::pow(0.001 * longer, 2))));
  // Isolated specks: small marks with no other ink nearby.
  const int smallMark = std::max(4, int(std::ceil(std::pow(0.003 * longer, 2))));
  const int isolation = int(std::ceil(0.01 * longer));
  std::vector<long> inkSum(std::size_t(w + 1) * (h + 1));
  for (int y = 0; y < h; ++y) {
    long row = 0;
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      row += ink[i] && pixels[FindMark(parent, i)] >= speck;
      inkSum[std::size_t(y + 1) * (w + 1) + x + 1] = inkSum[std::size_t(y) * (w + 1) + x + 1] + row;
    }
  }
  auto inkIn = [&](int x0, int y0, int x1, int y1) {
    x0 = std::clamp(x0, 0, w), x1 = std::clamp(x1, 0, w);
    y0 = std::clamp(y0, 0, h), y1 = std::clamp(y1, 0, h);
    const std::size_t s = w + 1;
    return inkSum[y1 * s + x1] - inkSum[y0 * s + x1] - inkSum[y1 * s + x0] + inkSum[y0 * s + x0];
  };
  auto isolatedSpeck = [&](int root) {
    const Rect& b = bounds[root];
    return pixels[root] < smallMark &&
           inkIn(b.Left - isolation, b.Top - isolation, b.Right + isolation,
                 b.Bottom + isolation) == pixels[root];
  };
  InkCount count;
  count.Map.assign(v.size(), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      if (!ink[i])
        continue;
      const Rect& b = bounds[FindMark(parent, i)];
      count.Map[i] = 2;
      if (pixels[FindMark(parent, i)] < speck || isolatedSpeck(FindMark(parent, i)))
        continue;
      if (b.Left < box.Left - tolerance || b.Top < box.Top - tolerance ||
          b.Right > box.Right + tolerance || b.Bottom > box.Bottom + tolerance)
        continue;
      if (x < box.Left || x >= box.Right || y < box.Top || y >= box.Bottom)
        continue;
      count.Map[i] = 1;
      ++count.Total;
      if (x < cut.Left || x >= cut.Right || y < cut.Top || y >= cut.Bottom)
        ++count.Lost;
    }
  }
  return count;
}

// How far each side of cut lies outside box, in % of the page's width (left,
// right) or height (top, bottom); negative when the cut lies inside.
inline std::array<double, 4> MarginsLeft(const PageRaster& page, const Rect& box, const Rect& cut) {
  const double w = page.Width(), h = page.Height();
  return {100.0 * (box.Left - cut.Left) / w, 100.0 * (box.Top - cut.Top) / h,
          100.0 * (cut.Right - box.Right) / w, 100.0 * (cut.Bottom - box.Bottom) / h};
}

inline double MedianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Draws the outline of r, thickness pixels wide, just outside it on a Bgr24
// page, for the pictures the scores draw.
inline void DrawOutline(PageRaster& page, const Rect& r, ColourValue colour, int thickness) {
  auto put = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= page.Width() || y >= page.Height())
      return;
    std::uint8_t* p = page.Row(y) + 3 * x;
    p[0] = std::uint8_t(colour >> 16);
    p[1] = std::uint8_t(colour >> 8);
    p[2] = std::uint8_t(colour);
  };
  for (int t = 0; t < thickness; ++t) {
    for (int x = r.Left - t - 1; x <= r.Right + t; ++x) {
      put(x, r.Top - 1 - t);
      put(x, r.Bottom + t);
    }
    for (int y = r.Top - t - 1; y <= r.Bottom + t; ++y) {
      put(r.Left - 1 - t, y);
      put(r.Right + t, y);
    }
  }
}

}  // namespace pagetrim::test
