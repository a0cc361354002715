// The page's edges on the grid: bands of shade along the border, lines that
// run across the whole page near a side, and the paper they cut off.
#include "page_edges.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pagetrim::box {
namespace {

// Lengths in cells are given for a 300 dpi A4 page, whose cells are 5 pixels,
// 0.42 mm, across; levels are of 0 (black) to 255 (white), paper lying near
// 255.

// Page edges and gutter folds run across the page within this far of a side
// (21 mm across an A4 page, 30 mm down it), dark in this share of the cells
// they cross, and reach this near to both ends: down the page 15 mm, for a
// page on the scanner's lid ends a few millimetres short of the border;
// across it 6 mm, for a line of text across the page would pass for a line
// if allowed to stop further short.
constexpr double LineZone = 0.1;
constexpr double LineCovered = 0.85;
constexpr double LineEndsDown = 0.05;
constexpr double LineEndsAcross = 0.03;
// Lines are followed at slopes of up to this, a page turned by 2 degrees.
constexpr double LineTurn = 0.035;

// Which cells lie within depth of the page's border, depth being a fraction
// of the page's width for the sides and of its height for the top and bottom.
struct Frame {
  int SideX;
  int EndY;
  Frame(int w, int h, double depth)
      : SideX(int(std::ceil(depth * w))), EndY(int(std::ceil(depth * h))) {}
  bool RowInside(int y, int h) const { return y < EndY || y >= h - EndY; }
  bool ColumnInside(int x, int w) const { return x < SideX || x >= w - SideX; }
};

// Whether ink runs on from the shade s further into the page than the shade
// reaches by more than a stroke: then s is a stroke of a mark running off
// the page, which closing cannot take out at the border. The ink is
// followed within s's box grown by s's larger side.
bool InkRunsOn(const Analysis& a, const Blob& s, bool fromSide, bool fromEnd) {
  const int w = a.W(), h = a.H();
  const int grow = std::max(s.Width(), s.Height());
  const int x0 = std::max(0, s.Left - grow), x1 = std::min(w, s.Right + grow);
  const int y0 = std::max(0, s.Top - grow), y1 = std::min(h, s.Bottom + grow);
  const int bw = x1 - x0;
  Scratch<std::uint8_t> seen(std::size_t(bw) * (y1 - y0));
  Scratch<int> todo;
  for (int y = s.Top; y < s.Bottom; ++y) {
    for (int x = s.Left; x < s.Right; ++x) {
      if (a.Ink[std::size_t(y) * w + x]) {
        seen[std::size_t(y - y0) * bw + (x - x0)] = 1;
        todo.push_back(y * w + x);
      }
    }
  }
  Blob reached = s;
  while (!todo.empty()) {
    const int i = todo.back();
    todo.pop_back();
    const int x = i % w, y = i / w;
    reached.Left = std::min(reached.Left, x), reached.Right = std::max(reached.Right, x + 1);
    reached.Top = std::min(reached.Top, y), reached.Bottom = std::max(reached.Bottom, y + 1);
    for (int ny = std::max(y0, y - 1); ny <= std::min(y1 - 1, y + 1); ++ny) {
      for (int nx = std::max(x0, x - 1); nx <= std::min(x1 - 1, x + 1); ++nx) {
        std::uint8_t& was = seen[std::size_t(ny - y0) * bw + (nx - x0)];
        if (!was && a.Ink[std::size_t(ny) * w + nx]) {
          was = 1;
          todo.push_back(ny * w + nx);
        }
      }
    }
  }
  const int stroke = 2 * StrokeRadius + 1;
  const bool across =
      s.Left < w - s.Right ? reached.Right - s.Right > stroke : s.Left - reached.Left > stroke;
  const bool down =
      s.Top < h - s.Bottom ? reached.Bottom - s.Bottom > stroke : s.Top - reached.Top > stroke;
  return (fromSide && across) || (fromEnd && down);
}

}  // namespace

void MarkEdgeBands(Analysis& a) {
  const int w = a.W(), h = a.H(), cells = w * h;
  // Closing the cells' means takes the strokes of ink out of the shade, and
  // leaves what is wider.
  const Scratch<std::uint8_t>& closed = a.Closed;
  const int shadeDelta = ShadeDelta(a);
  Scratch<std::uint8_t> shade(cells);
  {
    // Plain pointers and a local level: a store of a byte may alias the
    // vectors' own pointers and the analysis's fields, which would keep the
    // loop from being vectorised.
    const std::uint8_t* __restrict from = closed.data();
    std::uint8_t* __restrict to = shade.data();
    const int paperLevel = a.PaperLevel;
    for (int i = 0; i < cells; ++i)
      to[i] = from[i] + shadeDelta < paperLevel;
  }
  Scratch<Run> runs;
  const Scratch<Blob> blobs = FindBlobs(shade, w, h, runs);
  if (blobs.empty())
    return;
  Scratch<int> labels;
  LabelRuns(runs, w, h, labels);
  // A band of shade is smooth inside; a picture running off the page is
  // not: its inside is full of ink, the dots of a halftone or the strokes of
  // a drawing.
  Scratch<int> outsideNarrow(blobs.size()), outsideWide(blobs.size());
  Scratch<int> inside(blobs.size()), inkInside(blobs.size()), framed(blobs.size());
  const Frame narrow(w, h, NarrowFrame), wide(w, h, WideFrame);
  constexpr int Depth = 2;  // cells, 0.85 mm
  // The cells of a run within [from, to).
  const auto within = [](const Run& run, int from, int to) {
    return std::max(0, std::min(run.X1, to) - std::max(run.X0, from));
  };
  for (const Run& run : runs) {
    const int y = run.Y, l = run.Blob;
    const int* row = labels.data() + std::size_t(y) * w;
    const std::uint8_t* ink = a.Ink.data() + std::size_t(y) * w;
    if (!narrow.RowInside(y, h))
      outsideNarrow[l] += within(run, narrow.SideX, w - narrow.SideX);
    if (!wide.RowInside(y, h))
      outsideWide[l] += within(run, wide.SideX, w - wide.SideX);
    // Past the page's border counts as the same band.
    const int* up = y >= Depth ? row - Depth * w : nullptr;
    const int* down = y + Depth < h ? row + Depth * w : nullptr;
    int in = 0, inkIn = 0;
    for (int x = run.X0; x < run.X1; ++x) {
      if ((x - Depth < run.X0 ? x < Depth || row[x - Depth] == l : true) &&
          (x + Depth >= run.X1 ? x + Depth >= w || row[x + Depth] == l : true) &&
          (up == nullptr || up[x] == l) && (down == nullptr || down[x] == l)) {
        ++in;
        inkIn += ink[x];
      }
    }
    inside[l] += in;
    inkInside[l] += inkIn;
    if (!a.OwnFrame.empty())
      framed[l] += int(std::count(a.OwnFrame.begin() + std::size_t(y) * w + run.X0,
                                  a.OwnFrame.begin() + std::size_t(y) * w + run.X1, 1));
  }
  const int nearX = std::max(1, int(NearBorder * w)), nearY = std::max(1, int(NearBorder * h));
  Scratch<std::uint8_t> edge(blobs.size());
  for (std::size_t b = 0; b < blobs.size(); ++b) {
    const Blob& s = blobs[b];
    const bool nearSide = s.Left < nearX || s.Right > w - nearX;
    const bool nearEnd = s.Top < nearY || s.Bottom > h - nearY;
    if ((!nearSide && !nearEnd) || framed[b] > 0)
      continue;
    const bool longBand =
        (nearSide && s.Height() >= h / LongBandPart) || (nearEnd && s.Width() >= w / LongBandPart);
    const bool smooth = inkInside[b] <= SmoothShade * inside[b];
    edge[b] = smooth && (outsideNarrow[b] == 0 || (longBand && outsideWide[b] == 0));
    if (edge[b] && inside[b] == 0 && !longBand && InkRunsOn(a, s, nearSide, nearEnd))
      edge[b] = 0;
  }
  for (const Run& run : runs) {
    if (edge[run.Blob])
      std::fill(a.Class.begin() + run.Y * w + run.X0, a.Class.begin() + run.Y * w + run.X1,
                Cell::Edge);
  }
}

// A line may wander a few cells, and counts when it is dark in nearly every
// row (column) it crosses. A page lies turned by a degree or two: lines are
// followed at slopes up to LineTurn, in steps that move their ends by the
// wander.
void MarkEdgeLines(Analysis& a) {
  const int w = a.W(), h = a.H();
  // Dark cells that could belong to a line: ones with paper a few cells away
  // on one side across the line (the middle of a broad dark area is no line),
  // and edges already found. Only the zones along the sides are looked at.
  constexpr int Across = 3;  // cells, 1.3 mm
  constexpr int Wander = 2;  // cells, 0.85 mm
  const int cells = w * h;
  // Per cell: 1 where dark, and 1 where an edge, as byte maps.
  Scratch<std::uint8_t> darkMap(static_cast<std::size_t>(cells)), edgeMap(darkMap.size());
  {
    const std::uint8_t* __restrict darkest = a.G.Darkest.data();
    const std::uint8_t* __restrict paper = a.NearPaper.data();
    const Cell* __restrict cls = a.Class.data();
    std::uint8_t* __restrict dark = darkMap.data();
    std::uint8_t* __restrict edge = edgeMap.data();
    const auto delta8 = std::uint8_t(a.LineDelta);  // 24 to 63: a byte holds it
    for (int i = 0; i < cells; ++i) {
      const std::uint8_t below = std::uint8_t(paper[i] - std::min(paper[i], delta8));
      dark[i] = darkest[i] < below ? 1 : 0;
      edge[i] = cls[i] == Cell::Edge ? 1 : 0;
    }
  }
  const std::uint8_t* dark = darkMap.data();
  const std::uint8_t* edge = edgeMap.data();
  const int zoneX = int(LineZone * w), zoneY = int(LineZone * h);
  // Per cell of the zones: whether such a cell lies within Wander across the
  // line, for lines down the page (columns) and across it (rows).
  Scratch<std::uint8_t> nearColumns(static_cast<std::size_t>(cells));
  Scratch<std::uint8_t> nearRows(static_cast<std::size_t>(cells));
  // The zones' columns: [0, leftEnd) and [rightStart, w).
  const int leftEnd = std::min(w, zoneX + Wander);
  const int rightStart = std::max(leftEnd, w - zoneX - Wander);
  Scratch<std::uint8_t> flags(w);
  for (int y = 0; y < h; ++y) {
    const std::size_t row = std::size_t(y) * w;
    const auto flag = [&](int x) {
      const std::size_t i = row + x;
      flags[x] = edge[i] | (dark[i] & std::uint8_t(x < Across || x >= w - Across ||
                                                   !dark[i - Across] || !dark[i + Across]));
    };
    for (int x = 0; x < leftEnd; ++x)
      flag(x);
    for (int x = rightStart; x < w; ++x)
      flag(x);
    const auto mark = [&](int x) {
      std::uint8_t near = 0;
      for (int dx = std::max(0, x - Wander); dx <= std::min(w - 1, x + Wander); ++dx)
        near |= flags[dx];
      nearColumns[row + x] = near;
    };
    for (int x = 0; x < std::min(w, zoneX); ++x)
      mark(x);
    for (int x = std::max(std::min(w, zoneX), w - zoneX); x < w; ++x)
      mark(x);
  }
  Scratch<std::uint8_t> rowFlags(static_cast<std::size_t>(cells));
  for (int y = 0; y < h; ++y) {
    if (y >= zoneY + Wander && y < h - zoneY - Wander)
      continue;
    const std::size_t row = std::size_t(y) * w;
    std::uint8_t* __restrict out = rowFlags.data() + row;
    if (y < Across || y >= h - Across) {
      for (int x = 0; x < w; ++x)
        out[x] = edge[row + x] | dark[row + x];
      continue;
    }
    const std::uint8_t* up = dark + row - std::size_t(Across) * w;
    const std::uint8_t* down = dark + row + std::size_t(Across) * w;
    for (int x = 0; x < w; ++x)
      out[x] = edge[row + x] | (dark[row + x] & std::uint8_t((up[x] & down[x]) ^ 1));
  }
  for (int y = 0; y < h; ++y) {
    if (y >= zoneY && y < h - zoneY)
      continue;
    std::uint8_t* __restrict near = nearRows.data() + std::size_t(y) * w;
    for (int dy = std::max(0, y - Wander); dy <= std::min(h - 1, y + Wander); ++dy) {
      const std::uint8_t* __restrict from = rowFlags.data() + std::size_t(dy) * w;
      for (int x = 0; x < w; ++x)
        near[x] |= from[x];
    }
  }
  // The inner edge of the page's own dark frame is no page edge: a line
  // with mostly frame between it and the border is none. Frame cells per
  // column and row, counted from each border.
  Scratch<int> frameLeft(w + 1), frameRight(w + 1), frameTop(h + 1), frameBottom(h + 1);
  for (int y = 0; y < h && !a.OwnFrame.empty(); ++y) {
    const std::uint8_t* framed = a.OwnFrame.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x) {
      frameLeft[x + 1] += framed[x];
      frameTop[y + 1] += framed[x];
    }
  }
  for (int x = 0; x < w; ++x) {
    frameRight[x + 1] = frameRight[x] + frameLeft[w - x];
    frameLeft[x + 1] += frameLeft[x];
  }
  for (int y = 0; y < h; ++y) {
    frameBottom[y + 1] = frameBottom[y] + frameTop[h - y];
    frameTop[y + 1] += frameTop[y];
  }
  // The innermost line of one side's zone, as its place across (0 at the
  // border, growing inwards) at every step along it; none when there is
  // none. near(across, along) is the zone's near map, seen from that side.
  const auto innermost = [&](int length, double endsShare, int zone, int slantZone,
                             const Scratch<int>& frame, int breadth, auto near, auto darkAt,
                             Scratch<int>& place) {
    // Cells within reach of each place across, to skip places no line of
    // any slope can run through.
    const int slopes = int(std::ceil(LineTurn * length / (2.0 * Wander)));
    const int reach = slopes * Wander;
    Scratch<int> total(zone + 1);
    for (int p = 0; p < zone; ++p) {
      int n = 0;
      for (int t = 0; t < length; ++t)
        n += near(p, t);
      total[p + 1] = total[p] + n;
    }
    const double ends = endsShare * length;
    int bestOuter = std::numeric_limits<int>::min(), bestSlope = 0, bestAt = -1;
    for (int p = 0; p < zone; ++p) {
      if (total[std::min(zone, p + reach + 1)] - total[std::max(0, p - reach)] <
          LineCovered * length)
        continue;
      for (int k = 0; k <= slopes; ++k) {
        for (const int slope : {k, -k}) {
          if (slope != k && k == 0)
            continue;
          // The line's place across at step t: p at the middle, moved by
          // the slope's Wander-steps at either end.
          const auto at = [&](int t) {
            return p + int(std::lround(double(slope) * Wander * (2.0 * t - length) / length));
          };
          const int outer = p - k * Wander;
          // A turned line is a page edge only near the border: farther in, a
          // rule of the page's own turned with it looks the same.
          if (k > 0 && p + k * Wander >= slantZone)
            continue;
          if (outer < bestOuter || (outer == bestOuter && k >= std::abs(bestSlope)))
            continue;
          int count = 0, first = -1, last = -1;
          for (int t = 0; t < length; ++t) {
            const int q = at(t);
            if (q >= 0 && q < zone && near(q, t)) {
              ++count;
              first = first < 0 ? t : first;
              last = t;
            }
          }
          const bool line = count >= LineCovered * length && first >= 0 && first <= ends &&
                            last >= length - 1 - ends;
          const int framedTo = std::clamp(outer + 1, 0, zone);
          if (!line || 2 * frame[framedTo] >= framedTo * breadth)
            continue;
          bestOuter = outer, bestSlope = slope, bestAt = p;
        }
      }
    }
    place.assign(length, -1);
    if (bestAt < 0)
      return;
    // The line's own dark cells just inside it go with it: a turned line
    // wanders across the place followed.
    for (int t = 0; t < length; ++t) {
      int q = std::clamp(
          bestAt + int(std::lround(double(bestSlope) * Wander * (2.0 * t - length) / length)), 0,
          zone - 1);
      for (const int last = q + 2 * Wander + 1;
           q + 1 < std::min(zone, last + 1) && darkAt(q + 1, t);)
        ++q;
      place[t] = q;
    }
  };
  Scratch<int> left, right, top, bottom;
  const std::uint8_t* columnsNear = nearColumns.data();
  const std::uint8_t* rowsNear = nearRows.data();
  const int slantX = int(NarrowFrame * w), slantY = int(NarrowFrame * h);
  innermost(
      h, LineEndsDown, zoneX, slantX, frameLeft, h,
      [&](int p, int t) { return columnsNear[std::size_t(t) * w + p]; },
      [&](int p, int t) { return dark[std::size_t(t) * w + p]; }, left);
  innermost(
      h, LineEndsDown, zoneX, slantX, frameRight, h,
      [&](int p, int t) { return columnsNear[std::size_t(t) * w + (w - 1 - p)]; },
      [&](int p, int t) { return dark[std::size_t(t) * w + (w - 1 - p)]; }, right);
  innermost(
      w, LineEndsAcross, zoneY, slantY, frameTop, w,
      [&](int p, int t) { return rowsNear[std::size_t(p) * w + t]; },
      [&](int p, int t) { return dark[std::size_t(p) * w + t]; }, top);
  innermost(
      w, LineEndsAcross, zoneY, slantY, frameBottom, w,
      [&](int p, int t) { return rowsNear[std::size_t(h - 1 - p) * w + t]; },
      [&](int p, int t) { return dark[std::size_t(h - 1 - p) * w + t]; }, bottom);
  // Everything between a line and its border lies beyond the page.
  for (int y = 0; y < h; ++y) {
    Cell* row = a.Class.data() + std::size_t(y) * w;
    std::fill(row, row + left[y] + 1, Cell::Beyond);
    std::fill(row + (w - 1 - right[y]), row + w, Cell::Beyond);
  }
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y <= top[x]; ++y)
      a.Class[std::size_t(y) * w + x] = Cell::Beyond;
    for (int y = h - 1 - bottom[x]; y < h && bottom[x] >= 0; ++y)
      a.Class[std::size_t(y) * w + x] = Cell::Beyond;
  }
}

void MarkCutOff(Analysis& a) {
  const int w = a.W(), h = a.H(), cells = w * h;
  Scratch<std::uint8_t> open(cells);
  bool anyAside = false;
  for (int i = 0; i < cells; ++i) {
    open[i] = !a.SetAside(i);
    anyAside = anyAside || !open[i];
  }
  if (!anyAside)
    return;
  Scratch<Run> runs;
  const Scratch<Blob> regions = FindBlobs(open, w, h, runs);
  if (regions.size() < 2)
    return;
  Scratch<int> inkIn(regions.size());
  for (const Run& run : runs) {
    const std::uint8_t* ink = a.Ink.data() + std::size_t(run.Y) * w;
    int count = 0;
    for (int x = run.X0; x < run.X1; ++x)
      count += ink[x];
    inkIn[run.Blob] += count;
  }
  const int main = int(std::max_element(inkIn.begin(), inkIn.end()) - inkIn.begin());
  for (const Run& run : runs) {
    if (run.Blob != main)
      std::fill(a.Class.begin() + run.Y * w + run.X0, a.Class.begin() + run.Y * w + run.X1,
                Cell::Beyond);
  }
}

}  // namespace pagetrim::box
