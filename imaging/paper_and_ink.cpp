// The paper's and the ink's levels on the grid: white balance, the paper's
// usual shade and its shade around every cell, how dark the ink is, and the
// cells that hold ink.
#include "paper_and_ink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pagetrim::box {
namespace {

// Levels are of 0 (black) to 255 (white), on the white-balanced grid, where
// the page's paper lies near 255. Lengths in cells are given for a 300 dpi A4
// page, whose cells are 5 pixels, 0.42 mm, across.

// The paper's colour is the mean colour of the cells whose sum of channels
// lies between these shares of the page's cells, counted from the darkest:
// above the ink, shade and edges, below glare and the white of the scanner's
// lid.
constexpr double PaperColourFrom = 0.6;
constexpr double PaperColourTo = 0.95;
// A channel's paper is taken for no darker than this, so that white balance
// scales no channel more than eightfold, even on paper of a strong colour.
constexpr double DarkestPaperChannel = 32.0;
// A cell's sum of three channels lies within 0 to 765.
constexpr int SumLevels = 3 * 255 + 1;
// Tables counted in turn, so that a run of equal values (paper) does not
// wait on one counter.
constexpr std::size_t Counters = 4;

// The paper's usual shade: three quarters of the cells are no lighter, for
// paper covers most of a page, however much ink, shade and edge it holds.
constexpr double PaperShare = 0.75;
// The tiles that the local paper is measured in: the page's shorter side in
// this many, 9 mm of an A4 page, and no fewer than SmallestTile cells (1.7 mm).
constexpr double TilesAcross = 24.0;
constexpr int SmallestTile = 4;
// A tile's paper: the shade that nine tenths of its cells are no lighter
// than, so that its ink and its shade do not darken it.
constexpr double TilePaperShare = 0.9;
// Tile weights in fixed point, out of this.
constexpr int WeightOne = 256;

// A cell is dark, for measuring the ink, when its darkest pixel lies this far
// below the local paper: well past the paper's grain, a light gray pencil.
constexpr std::uint8_t DarkBelowPaper = 40;
// Cells that are not dark, in the table of dark values.
constexpr std::uint8_t NotDark = 255;
// Cells skipped at a time, as one word of bytes.
constexpr int WordCells = int(sizeof(std::uint64_t));
// The ink's level: the value that the darkest tenth of the dark cells reach,
// black on a printed page, the darkest strokes of a faint one.
constexpr double InkShare = 0.1;
// Ink lies at least this far below the paper around it: 0.35 of the contrast
// between paper and ink, and never less than 24 levels, past the noise JPEG
// leaves around strokes.
constexpr double InkDeltaShare = 0.35;
constexpr int LeastInkDelta = 24;
// A fold or a page edge is at least this far below the paper: a quarter of
// the contrast, and never less than 24 levels.
constexpr double LineDeltaShare = 0.25;
constexpr int LeastLineDelta = 24;
// Ink is measured against the lightest mean within this many cells (0.85 mm
// of an A4 page): a stroke has paper that near, shade does not.
constexpr int InkPaperReach = 2;

// The paper's shade around every cell: a light percentile of the cell means
// in tiles, interpolated between the tiles' centres, so that gutter shading
// and yellowing from the edges are paper too. Near is the lightest paper of
// the tile and its neighbours: against it, a dark band that fills whole
// tiles still reads as dark.
struct PaperMaps {
  Scratch<std::uint8_t> Local;
  Scratch<std::uint8_t> Near;
};

PaperMaps LocalPaper(const Grid& grid, int tile) {
  const int tilesX = (grid.Width + tile - 1) / tile;
  const int tilesY = (grid.Height + tile - 1) / tile;
  Scratch<int> tileValue(std::size_t(tilesX) * tilesY);
  // A row of tiles at a time: every cell row adds to the histograms of its
  // tiles side by side.
  // Even and odd cells count in two sets, so that runs of paper do not wait
  // on one counter.
  Scratch<std::array<int, 256>> even(tilesX), odd(tilesX);
  for (int ty = 0; ty < tilesY; ++ty) {
    std::fill(even.begin(), even.end(), std::array<int, 256>{});
    std::fill(odd.begin(), odd.end(), std::array<int, 256>{});
    const int y1 = std::min(grid.Height, (ty + 1) * tile);
    for (int y = ty * tile; y < y1; ++y) {
      const std::uint8_t* row = grid.Mean.data() + std::size_t(y) * grid.Width;
      for (int tx = 0; tx < tilesX; ++tx) {
        std::array<int, 256>& first = even[tx];
        std::array<int, 256>& second = odd[tx];
        const int x1 = std::min(grid.Width, (tx + 1) * tile);
        int x = tx * tile;
        for (; x + 1 < x1; x += 2) {
          ++first[row[x]];
          ++second[row[x + 1]];
        }
        if (x < x1)
          ++first[row[x]];
      }
    }
    for (int tx = 0; tx < tilesX; ++tx) {
      for (int v = 0; v < 256; ++v)
        even[tx][v] += odd[tx][v];
      const int total = (y1 - ty * tile) * (std::min(grid.Width, (tx + 1) * tile) - tx * tile);
      tileValue[ty * tilesX + tx] = Percentile(even[tx], total, TilePaperShare);
    }
  }
  Scratch<int> tileNear(tileValue.size());
  for (int ty = 0; ty < tilesY; ++ty) {
    for (int tx = 0; tx < tilesX; ++tx) {
      int v = 0;
      for (int y = std::max(0, ty - 1); y <= std::min(tilesY - 1, ty + 1); ++y) {
        for (int x = std::max(0, tx - 1); x <= std::min(tilesX - 1, tx + 1); ++x)
          v = std::max(v, tileValue[y * tilesX + x]);
      }
      tileNear[ty * tilesX + tx] = v;
    }
  }
  PaperMaps maps;
  maps.Local.resize(grid.Darkest.size());
  maps.Near.resize(grid.Darkest.size());
  // Bilinear between tile centres, in fixed point (weights out of 256):
  // across first, once per row of tiles, then down for every cell row. The
  // sums stay below 2^24, so floats hold them exactly, and the loop down
  // runs four cells at a time.
  Scratch<float> acrossLocal(std::size_t(tilesY) * grid.Width);
  Scratch<float> acrossNear(acrossLocal.size());
  for (int x = 0; x < grid.Width; ++x) {
    const double fx = std::clamp((x + 0.5) / tile - 0.5, 0.0, double(tilesX - 1));
    const int x0 = int(fx);
    const int x1 = std::min(x0 + 1, tilesX - 1);
    const int wx = int((fx - x0) * WeightOne);
    for (int ty = 0; ty < tilesY; ++ty) {
      const int* local = tileValue.data() + ty * tilesX;
      const int* near = tileNear.data() + ty * tilesX;
      acrossLocal[std::size_t(ty) * grid.Width + x] =
          float(local[x0] * (WeightOne - wx) + local[x1] * wx);
      acrossNear[std::size_t(ty) * grid.Width + x] =
          float(near[x0] * (WeightOne - wx) + near[x1] * wx);
    }
  }
  for (int y = 0; y < grid.Height; ++y) {
    const double fy = std::clamp((y + 0.5) / tile - 0.5, 0.0, double(tilesY - 1));
    const int ty0 = int(fy);
    const int ty1 = std::min(ty0 + 1, tilesY - 1);
    const int wy = int((fy - ty0) * WeightOne);
    const float topWeight = float(WeightOne - wy), bottomWeight = float(wy);
    // The weights of both ways multiply: the sum is out of WeightOne^2, and
    // half of that rounds it.
    constexpr float Whole = float(WeightOne * WeightOne), Half = Whole / 2;
    auto fill = [&](const Scratch<float>& across, Scratch<std::uint8_t>& out) {
      const float* __restrict top = across.data() + std::size_t(ty0) * grid.Width;
      const float* __restrict bottom = across.data() + std::size_t(ty1) * grid.Width;
      std::uint8_t* __restrict row = out.data() + std::size_t(y) * grid.Width;
      for (int x = 0; x < grid.Width; ++x) {
        const float sum = top[x] * topWeight + bottom[x] * bottomWeight + Half;
        row[x] = std::uint8_t(int(sum * (1.0f / Whole)));
      }
    };
    fill(acrossLocal, maps.Local);
    fill(acrossNear, maps.Near);
  }
  return maps;
}

}  // namespace

Grid WhiteBalanced(const PageReduction& channels) {
  Grid grid;
  grid.Factor = channels.Factor();
  grid.Width = channels.Width();
  grid.Height = channels.Height();
  const std::size_t cells = std::size_t(grid.Width) * grid.Height;
  for (int v = 0; v < 256; ++v)
    grid.Luts[0][v] = grid.Luts[1][v] = grid.Luts[2][v] = std::uint8_t(v);
  if (channels.Channels() == 1) {
    grid.Darkest.assign(channels.Darkest().begin(), channels.Darkest().end());
    grid.Mean.assign(channels.Mean().begin(), channels.Mean().end());
    return grid;
  }
  // The paper's colour: the mean colour of the lightest cells (by their
  // sum of channels, between PaperColourFrom and PaperColourTo): the sums
  // counted first, in Counters tables, then the channels of the cells within
  // the range totalled in a loop without branches.
  const std::uint8_t* __restrict blue = channels.Mean().data();
  const std::uint8_t* __restrict green = blue + cells;
  const std::uint8_t* __restrict red = green + cells;
  std::array<std::array<int, SumLevels>, Counters> parts{};
  std::size_t i = 0;
  for (; i + Counters <= cells; i += Counters) {
    for (std::size_t k = 0; k < Counters; ++k)
      ++parts[k][blue[i + k] + green[i + k] + red[i + k]];
  }
  for (; i < cells; ++i)
    ++parts[0][blue[i] + green[i] + red[i]];
  int low = 0, high = SumLevels - 1, seen = 0;
  for (int v = 0; v < SumLevels; ++v) {
    for (std::size_t k = 0; k < Counters; ++k)
      seen += parts[k][v];
    if (seen < PaperColourFrom * double(cells))
      low = v + 1;
    if (seen < PaperColourTo * double(cells))
      high = v + 1;
  }
  // Sums stay below 2^32: 255 times the cells of any grid.
  std::uint32_t blueTotal = 0, greenTotal = 0, redTotal = 0, counted = 0;
  // (low never passes high.)
  const std::uint32_t from = std::uint32_t(low), span = std::uint32_t(high - low);
  for (std::size_t k = 0; k < cells; ++k) {
    const std::uint32_t in = std::uint32_t(blue[k] + green[k] + red[k]) - from <= span ? 1u : 0u;
    blueTotal += in * blue[k];
    greenTotal += in * green[k];
    redTotal += in * red[k];
    counted += in;
  }
  const std::array<std::int64_t, 3> totals{blueTotal, greenTotal, redTotal};
  const std::array<double, 3> paper{double(totals[0]), double(totals[1]), double(totals[2])};
  ChannelLuts& lut = grid.Luts;
  // The same scaling in floats, which a loop can do four cells at a time,
  // where it gives every value of the tables.
  std::array<float, 3> scales{};
  bool exact = true;
  for (int c = 0; c < 3; ++c) {
    const double level = counted > 0 ? std::max(DarkestPaperChannel, paper[c] / counted) : 255.0;
    scales[c] = float(255.0 / level);
    for (int v = 0; v < 256; ++v) {
      lut[c][v] = std::uint8_t(std::min(255.0, std::round(v * 255.0 / level)));
      exact = exact && lut[c][v] == std::min(255, int(float(v) * scales[c] + 0.5f));
    }
  }
  grid.Darkest.resize(cells);
  grid.Mean.resize(cells);
  const auto balance = [&](const std::uint8_t* from, std::uint8_t* __restrict to) {
    const std::uint8_t* __restrict blue = from;
    const std::uint8_t* __restrict green = from + cells;
    const std::uint8_t* __restrict red = from + 2 * cells;
    if (!exact) {
      for (std::size_t i = 0; i < cells; ++i)
        to[i] = std::min({lut[0][blue[i]], lut[1][green[i]], lut[2][red[i]]});
      return;
    }
    const float b = scales[0], g = scales[1], r = scales[2];
    for (std::size_t i = 0; i < cells; ++i) {
      const int least = std::min({int(float(blue[i]) * b + 0.5f), int(float(green[i]) * g + 0.5f),
                                  int(float(red[i]) * r + 0.5f)});
      to[i] = std::uint8_t(std::min(255, least));
    }
  };
  balance(channels.Darkest().data(), grid.Darkest.data());
  balance(channels.Mean().data(), grid.Mean.data());
  return grid;
}

void MeasurePaper(Analysis& a) {
  const Grid& grid = a.G;
  const int cells = a.W() * a.H();
  const std::array<int, 256> meanHistogram = HistogramOf(grid.Mean.data(), grid.Mean.size());
  a.PaperLevel = Percentile(meanHistogram, cells, PaperShare);
  const int tile = std::max(SmallestTile, int(std::lround(std::min(a.W(), a.H()) / TilesAcross)));
  PaperMaps paper = LocalPaper(grid, tile);
  a.Paper = std::move(paper.Local);
  a.NearPaper = std::move(paper.Near);
}

void MeasureInk(Analysis& a) {
  const int cells = a.W() * a.H();
  // A dark cell is below 255 - DarkBelowPaper (paper is at most 255), so the
  // others are marked NotDark, skipped a word at a time, and their count
  // dropped.
  static_assert(NotDark == 255 && DarkBelowPaper > 0);
  Scratch<std::uint8_t> darkValues(static_cast<std::size_t>(cells));
  {
    const std::uint8_t* __restrict darkest = a.G.Darkest.data();
    const std::uint8_t* __restrict paper = a.Paper.data();
    std::uint8_t* __restrict out = darkValues.data();
    for (int i = 0; i < cells; ++i) {
      const std::uint8_t below = std::uint8_t(paper[i] - std::min(paper[i], DarkBelowPaper));
      out[i] = darkest[i] < below ? darkest[i] : NotDark;
    }
  }
  std::array<int, 256> darkHistogram{};
  for (int i = 0; i < cells; ++i) {
    std::uint64_t word = 0;
    while (i + WordCells <= cells) {
      std::memcpy(&word, darkValues.data() + i, sizeof word);
      if (word != ~std::uint64_t(0))
        break;
      i += WordCells;
    }
    if (i < cells)
      ++darkHistogram[darkValues[i]];
  }
  darkHistogram[NotDark] = 0;
  int darkCount = 0;
  for (int v = 0; v < 256; ++v)
    darkCount += darkHistogram[v];
  a.InkLevel = darkCount > 0 ? Percentile(darkHistogram, darkCount, InkShare) : a.PaperLevel;
  a.Contrast = std::max(0, a.PaperLevel - a.InkLevel);
  a.InkDelta = std::max(LeastInkDelta, int(InkDeltaShare * a.Contrast));
  a.LineDelta = std::max(LeastLineDelta, int(LineDeltaShare * a.Contrast));
}

void MarkInk(Analysis& a) {
  const int cells = a.W() * a.H();
  // Ink is clearly darker than the lightest cell around it: a stroke always
  // has paper within a few cells, while shading changes too slowly for that.
  a.Around = RankFilter(a.G.Mean, a.W(), a.H(), InkPaperReach, true);
  a.Ink.resize(cells);
  const std::uint8_t* __restrict darkest = a.G.Darkest.data();
  const std::uint8_t* __restrict light = a.Around.data();
  std::uint8_t* __restrict ink = a.Ink.data();
  const auto delta8 = std::uint8_t(a.InkDelta);  // 24 to 89: a byte holds it
  for (int i = 0; i < cells; ++i) {
    const std::uint8_t below = std::uint8_t(light[i] - std::min(light[i], delta8));
    ink[i] = darkest[i] < below ? 1 : 0;
  }
}

}  // namespace pagetrim::box
