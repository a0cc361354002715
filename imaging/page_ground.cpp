// The ground the sheet lies on, where the scan shows it around the page: a
// dark bed or cloth, told from the page's own dark frame by the paper along
// its inner end.
#include "page_ground.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pagetrim::box {
namespace {

// The ground is darker than the paper by this share of the contrast between
// paper and ink, its strokes closed away.
constexpr double GroundShare = 0.5;
// Past the ground's inner end, the page shows blank paper: from this far
// past it, beyond the paper's rough and shaded edge, to this far, within the
// margin of any page.
constexpr double MarginFromMm = 0.5;
constexpr double MarginToMm = 2.5;
// The paper along a side is flat: the shades past the ground that lie between
// these shares of them differ by no more than FlatSpread levels. It holds
// no more ink than text does.
constexpr double FlatFrom = 0.1;
constexpr double FlatTo = 0.9;
constexpr int FlatSpread = 24;
constexpr double MostInkAlong = 0.5;
// Along a side, the ground's inner end lies within this share of the side's
// length (for a sheet turned by 3 degrees), or MarginToMm, between the same
// shares of its walks.
constexpr double StraightShare = 0.05;

}  // namespace

void CloseStrokes(Analysis& a) {
  a.Closed = RankFilter(RankFilter(a.G.Mean, a.W(), a.H(), StrokeRadius, true), a.W(), a.H(),
                        StrokeRadius, false);
}

// The ground is measured from the border inwards, along every row and
// column that starts in it: per side, whether the page's paper lies along
// its inner end, and where that paper begins.
void MarkGround(Analysis& a) {
  const int w = a.W(), h = a.H(), cells = w * h;
  const int darkest = a.PaperLevel - int(GroundShare * a.Contrast);
  Scratch<std::uint8_t> dark(static_cast<std::size_t>(cells));
  {
    const std::uint8_t* __restrict from = a.Closed.data();
    std::uint8_t* __restrict to = dark.data();
    for (int i = 0; i < cells; ++i)
      to[i] = from[i] < darkest;
  }
  Scratch<Run> runs;
  const Scratch<Blob> blobs = FindBlobs(dark, w, h, runs);
  auto atBorder = [&](const Blob& b) {
    return ((b.Left == 0 || b.Right == w) && b.Height() >= h / LongBandPart) ||
           ((b.Top == 0 || b.Bottom == h) && b.Width() >= w / LongBandPart);
  };
  if (std::none_of(blobs.begin(), blobs.end(), atBorder))
    return;
  Scratch<int> labels;
  LabelRuns(runs, w, h, labels);
  const int from = std::max(1, int(std::lround(MarginFromMm * a.CellsPerMm)));
  const int to = std::max(from + 1, int(std::lround(MarginToMm * a.CellsPerMm)));
  const int shadeDelta = ShadeDelta(a);
  auto blank = [&](int i) { return !a.Ink[i] && a.Around[i] + shadeDelta >= a.PaperLevel; };
  // The walks inwards from each side: step k of walk j is the cell
  // Start + j * Along + k * In.
  struct Walk {
    int Length;  // of the side
    int Depth;   // of the image across it
    int Start;
    int Along;
    int In;
  };
  const Walk walks[4] = {
      {h, w, 0, w, 1}, {w, h, 0, 1, w}, {h, w, w - 1, w, -1}, {w, h, (h - 1) * w, 1, -w}};
  // Every walk that starts in ground l, with its side, its first cell and
  // how many of its cells lie in the ground.
  auto forEachWalkIn = [&](int l, auto&& visit) {
    for (int side = 0; side < 4; ++side) {
      const Walk& k = walks[side];
      for (int j = 0; j < k.Length; ++j) {
        const int first = k.Start + j * k.Along;
        int d = 0;
        while (d < k.Depth && labels[first + d * k.In] == l)
          ++d;
        if (d > 0)
          visit(side, k, first, d);
      }
    }
  };
  for (std::size_t b = 0; b < blobs.size(); ++b) {
    const Blob& g = blobs[b];
    if (!atBorder(g) || g.Area > cells / 2)
      continue;
    const int l = int(b);
    // Per side: the walks that start in the ground, the ink and the shades
    // of the paper past it.
    std::array<int, 4> walked{}, seen{}, inked{};
    std::array<std::array<int, 256>, 4> tones{};
    std::array<Scratch<int>, 4> depths;
    forEachWalkIn(l, [&](int side, const Walk& k, int first, int d) {
      // A walk past the middle runs along the ground beside another side.
      if (2 * d > k.Depth)
        return;
      ++walked[side];
      depths[side].push_back(d);
      for (int e = d + from; e < std::min(k.Depth, d + to); ++e) {
        const int i = first + e * k.In;
        ++seen[side];
        inked[side] += a.Ink[i];
        ++tones[side][a.Around[i]];
      }
    });
    // The page's paper lies along a side where it is light, flat and holds
    // no more ink than text; a picture changes its shade along the side, a
    // screened one is ink throughout.
    int paper = 0, other = 0, inside = 0, inkInside = 0;
    for (int side = 0; side < 4; ++side) {
      if (walked[side] < walks[side].Length / LongBandPart || seen[side] == 0)
        continue;
      const int low = Percentile(tones[side], seen[side], FlatFrom);
      const int high = Percentile(tones[side], seen[side], FlatTo);
      // The sheet's edge runs straight along the side, as far as its turn
      // and its rough edge let it; the picture's dark shapes do not.
      Scratch<int>& d = depths[side];
      const auto at = [&](double share) {
        const auto k = d.begin() + long(share * double(d.size() - 1));
        std::nth_element(d.begin(), k, d.end());
        return *k;
      };
      const int straight = std::max(to, int(StraightShare * walks[side].Length));
      const bool isPaper = inked[side] <= MostInkAlong * seen[side] && high - low <= FlatSpread &&
                           high + shadeDelta >= a.PaperLevel &&
                           at(FlatTo) - at(FlatFrom) <= straight;
      paper += isPaper;
      other += !isPaper;
    }
    for (const Run& run : runs) {
      if (run.Blob != l)
        continue;
      const std::uint8_t* ink = a.Ink.data() + std::size_t(run.Y) * w;
      for (int x = run.X0; x < run.X1; ++x)
        inkInside += ink[x];
      inside += run.X1 - run.X0;
    }
    if (other >= 2) {
      // Content lies right against it on more than one side: the page's
      // own dark frame, or a picture running off the page.
      if (a.OwnFrame.empty())
        a.OwnFrame.assign(std::size_t(cells), 0);
      for (const Run& run : runs) {
        if (run.Blob == l)
          std::fill_n(a.OwnFrame.data() + std::size_t(run.Y) * w + run.X0, run.X1 - run.X0, 1);
      }
      continue;
    }
    // The sheet's edge may be shaded where it is bound, or show the next
    // page there: one side without paper is allowed.
    if (paper <= other || inkInside > SmoothShade * inside)
      continue;
    for (const Run& run : runs) {
      if (run.Blob == l)
        std::fill(a.Class.begin() + run.Y * w + run.X0, a.Class.begin() + run.Y * w + run.X1,
                  Cell::Beyond);
    }
    // And the sheet's rough edge, up to its blank paper: no further than
    // the margin's first part, where text may begin.
    forEachWalkIn(l, [&](int, const Walk& k, int first, int d) {
      for (int e = d; e < std::min(k.Depth, d + from) && !blank(first + e * k.In); ++e)
        a.Class[first + e * k.In] = Cell::Beyond;
    });
  }
}

}  // namespace pagetrim::box
