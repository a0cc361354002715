// Scores the content box on real scans against their hand-checked boxes.
//   realscans FOLDER [--draw DIR]
// FOLDER holds the pages and content_boxes.json ({"name": {"content_box":
// [x0, y0, x1, y1], "width": W, "height": H}}). For every page it prints the
// hand-checked box, the cut the content box gives (content plus its border),
// the ink that cut loses and the margin it leaves on each side.
//
// Ink, as counted here: a pixel whose gray ((blue + green + red) div 3) lies
// below the local paper by at least half the way from that paper to the
// page's ink (the 1st
// percentile of the hand box), and by at least 40 levels. Local paper is the
// 90th percentile of a tile of the page (tiles of a twelfth of the hand box's
// shorter side). Only pixels of ink marks that lie inside the hand box count:
// a mark (ink joined across gaps of 0.4% of the page's longer side, so that a
// broken line is one mark) that reaches more than 0.4% of that side out of
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
//
// --draw DIR writes each page, reduced, with the hand box in green, the cut in
// red and the content box in blue, the ink lost in magenta, and the cells the
// analysis set aside tinted: edges orange, beyond an edge violet, specks cyan.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "content_box.h"
#include "page_codec.h"

namespace pagetrim {
namespace {

// Gray as the program's analysis image has it: (blue + green + red) div 3.
std::vector<std::uint8_t> GrayValues(const PageRaster& page) {
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

int PercentileOf(std::vector<std::uint8_t> values, double fraction) {
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

int Find(std::vector<int>& parent, int i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

InkCount CountInk(const PageRaster& page, const Rect& box, const Rect& cut) {
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
  // Marks: ink joined across gaps of up to 2 * reach pixels, with their
  // bounding boxes, so that a broken line is one mark.
  const int reach = std::max(1, int(std::lround(0.002 * std::max(w, h))));
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
          parent[Find(parent, i)] = Find(parent, j);
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
      ++pixels[Find(parent, i)];
      Rect& b = bounds[Find(parent, i)];
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
      row += ink[i] && pixels[Find(parent, i)] >= speck;
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
      const Rect& b = bounds[Find(parent, i)];
      count.Map[i] = 2;
      if (pixels[Find(parent, i)] < speck || isolatedSpeck(Find(parent, i)))
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

void DrawRect(PageRaster& page, const Rect& r, ColourValue colour, int thickness) {
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

void Draw(const QString& path, const PageRaster& source, const ContentBoxTrace& trace,
          const Rect& box, const ContentBox& found, const InkCount& ink) {
  PageRaster page;
  page.AssignFrom(source);
  page.ConvertToColour();
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x) {
      const std::size_t i = std::size_t(y) * page.Width() + x;
      if (ink.Map[i] == 1 && !(x >= found.Cut.Left && x < found.Cut.Right && y >= found.Cut.Top &&
                               y < found.Cut.Bottom)) {
        row[3 * x] = 255;  // ink lost: magenta
        row[3 * x + 1] = 0;
        row[3 * x + 2] = 255;
        continue;
      }
      const int cell = (y / trace.Factor) * trace.Width + x / trace.Factor;
      std::array<int, 3> tint{};
      switch (trace.Cells[cell]) {
        case ContentBoxTrace::Edge:
          tint = {0, 140, 255};
          break;
        case ContentBoxTrace::Beyond:
          tint = {255, 0, 160};
          break;
        case ContentBoxTrace::Speck:
          tint = {255, 255, 0};
          break;
        default:
          continue;
      }
      for (int c = 0; c < 3; ++c)
        row[3 * x + c] = std::uint8_t((row[3 * x + c] + tint[c]) / 2);
    }
  }
  const int thickness = std::max(1, std::max(page.Width(), page.Height()) / 800);
  DrawRect(page, box, MakeColour(0, 200, 0), thickness);
  if (found.HasContent) {
    DrawRect(page, found.Content, MakeColour(0, 0, 255), thickness);
    DrawRect(page, found.Cut, MakeColour(255, 0, 0), thickness);
  }
  const double scale = 1200.0 / std::max(page.Width(), page.Height());
  PageRaster small(std::max(1, int(page.Width() * scale)), std::max(1, int(page.Height() * scale)));
  small.CopyRect({0, 0, small.Width(), small.Height()}, page, {0, 0, page.Width(), page.Height()});
  SavePage(path, small, 150, 150);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: realscans FOLDER [--draw DIR]\n");
    return 2;
  }
  const QDir folder(args[1]);
  const int drawAt = int(args.indexOf("--draw"));
  const QString drawDir = drawAt > 0 && drawAt + 1 < args.size() ? args[drawAt + 1] : QString();
  QFile json(folder.filePath("content_boxes.json"));
  if (!json.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "realscans: cannot read %s\n", qPrintable(json.fileName()));
    return 2;
  }
  const QJsonObject pages = QJsonDocument::fromJson(json.readAll()).object();
  std::printf("%-22s %-10s %-21s %-21s %9s %6s %6s %6s %6s %6s\n", "page", "size", "hand box",
              "cut", "ink", "lost", "left%", "top%", "right%", "bott%");
  std::vector<double> sides;
  int losing = 0;
  for (const QString& name : pages.keys()) {
    const QJsonArray b = pages[name].toObject()["content_box"].toArray();
    const Rect box{b[0].toInt(), b[1].toInt(), b[2].toInt(), b[3].toInt()};
    PageRaster page;
    const PageFileInfo info = ReadPageFile(folder.filePath(name), page);
    if (!info.Decoded) {
      std::printf("%-22s cannot be read\n", qPrintable(name));
      losing++;
      continue;
    }
    ContentBoxTrace trace;
    const ContentBox found = FindContentBox(page, info.Resolution.X, &trace);
    const Rect cut = found.HasContent ? found.Cut : Rect{0, 0, page.Width(), page.Height()};
    const InkCount ink = CountInk(page, box, cut);
    const double w = page.Width(), h = page.Height();
    const double margins[4] = {100.0 * (box.Left - cut.Left) / w, 100.0 * (box.Top - cut.Top) / h,
                               100.0 * (cut.Right - box.Right) / w,
                               100.0 * (cut.Bottom - box.Bottom) / h};
    for (double m : margins)
      sides.push_back(std::max(0.0, m));
    losing += ink.Lost > 0;
    const QString size = QString("%1x%2").arg(page.Width()).arg(page.Height());
    const QString hand =
        QString("%1,%2,%3,%4").arg(box.Left).arg(box.Top).arg(box.Right).arg(box.Bottom);
    const QString got =
        QString("%1,%2,%3,%4").arg(cut.Left).arg(cut.Top).arg(cut.Right).arg(cut.Bottom);
    std::printf("%-22s %-10s %-21s %-21s %9ld %6ld %6.2f %6.2f %6.2f %6.2f\n", qPrintable(name),
                qPrintable(size), qPrintable(hand), qPrintable(got), ink.Total, ink.Lost,
                margins[0], margins[1], margins[2], margins[3]);
    if (!drawDir.isEmpty()) {
      QDir().mkpath(drawDir);
      Draw(QDir(drawDir).filePath(QString(name).replace('/', '_').section('.', 0, 0) + ".png"),
           page, trace, box, found, ink);
    }
  }
  const double worst = sides.empty() ? 0 : *std::max_element(sides.begin(), sides.end());
  std::printf("pages losing ink: %d of %lld   median side %.2f%%   worst side %.2f%%\n", losing,
              static_cast<long long>(pages.size()), Median(sides), worst);
  return losing == 0 && Median(sides) <= 1.0 && worst <= 5.0 ? 0 : 1;
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char** argv) {
  return pagetrim::Main(argc, argv);
}
