// The content box of a scanned page. The page is first reduced to a grid of
// about half a million cells, keeping each cell's darkest pixel (so that a
// hairline or a speck survives) and its mean (for the paper's shade). Ink is
// what is clearly darker than the paper around it; the marks it forms are
// sorted into content, specks and the dark edges a scanner leaves, and only
// the box's borders are then looked at again in full resolution.
#include "content_box.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

namespace pagetrim {
namespace {

constexpr double TargetCells = 400000.0;
// Fractions of the page's width (for the sides) or height (for the top and
// bottom). Edges lie within a narrow frame along the border, or within a
// wide one when they run along a good part of a side.
constexpr double NearBorder = 0.015;
constexpr double NarrowFrame = 0.05;
constexpr double WideFrame = 0.125;
// Shade whose inside holds more ink than this share is a picture.
constexpr double SmoothShade = 0.3;
// Bits of a page edge lie within this strip along the border.
constexpr double EdgeStrip = 0.03;
// The usual mark of a page's text is at least this high.
constexpr double SmallestLetterMm = 1.2;
// A mark whose contrast with the paper is below this share of the ink's is
// faint: dirt, or ink showing through from the back.
constexpr double FaintMark = 0.75;
// More tiny dots than this around one make a row of dots, not dust.
constexpr int DottedRow = 4;
// Below this share, a mark is a ghost: show-through, or dust in the light.
constexpr double GhostMark = 0.5;
// Page edges and gutter folds run across the page within this far of a side,
// dark in this share of the cells they cross, and reach this near to both
// ends.
constexpr double LineZone = 0.1;
constexpr double LineCovered = 0.85;
constexpr double LineEnds = 0.03;
// Stated resolutions that give a page outside these sizes, in inches, are
// taken for unknown.
constexpr double MinPageInches = 1.0;
constexpr double MaxPageInches = 40.0;
// A facing page lies beyond a gutter this wide, and is at most this wide.
constexpr double FacingGutter = 0.06;
constexpr double FacingWidth = 0.35;
constexpr double FoldCovered = 0.4;

// Memory the analysis reuses from page to page on the same thread. Its
// vectors of a few hundred kilobytes each would otherwise come fresh from
// the system for every page, and faulting their pages in and clearing them
// cost as much as a pass over the grid. Small blocks go to the heap as usual;
// the blocks kept are bounded.
class ScratchPool {
 public:
  static constexpr std::size_t SmallestKept = 16 * 1024;
  static constexpr std::size_t MostKept = 64 * 1024 * 1024;

  static void* Take(std::size_t bytes) {
    ScratchPool* pool = Mine();
    if (bytes < SmallestKept || pool == nullptr)
      return ::operator new(bytes);
    // The smallest free block that holds bytes.
    std::size_t best = pool->free_.size();
    for (std::size_t i = 0; i < pool->free_.size(); ++i) {
      const std::size_t size = pool->free_[i].Bytes;
      if (size >= bytes && (best == pool->free_.size() || size < pool->free_[best].Bytes))
        best = i;
    }
    if (best == pool->free_.size()) {
      void* block = ::operator new(bytes);
      pool->sizes_.push_back({block, bytes});
      return block;
    }
    void* block = pool->free_[best].Block;
    pool->held_ -= pool->free_[best].Bytes;
    pool->free_[best] = pool->free_.back();
    pool->free_.pop_back();
    return block;
  }

  static void Give(void* block, std::size_t bytes) {
    ScratchPool* pool = Mine();
    if (bytes < SmallestKept || pool == nullptr) {
      ::operator delete(block);
      return;
    }
    // The block's own size, which may be more than was asked of it.
    auto own = std::find_if(pool->sizes_.begin(), pool->sizes_.end(),
                            [&](const Free& f) { return f.Block == block; });
    if (own == pool->sizes_.end()) {  // taken before this thread's pool existed
      ::operator delete(block);
      return;
    }
    if (pool->held_ + own->Bytes > MostKept) {
      ::operator delete(block);
      *own = pool->sizes_.back();
      pool->sizes_.pop_back();
      return;
    }
    pool->held_ += own->Bytes;
    pool->free_.push_back(*own);
  }

  ~ScratchPool() {
    gone_ = true;
    for (const Free& f : free_)
      ::operator delete(f.Block);
  }

 private:
  struct Free {
    void* Block;
    std::size_t Bytes;
  };
  static ScratchPool* Mine() {
    thread_local ScratchPool pool;
    return gone_ ? nullptr : &pool;
  }
  static thread_local bool gone_;
  std::vector<Free> sizes_;  // every block handed out or kept, with its size
  std::vector<Free> free_;
  std::size_t held_ = 0;
};
thread_local bool ScratchPool::gone_ = false;

template <typename T>
struct ScratchAllocator {
  using value_type = T;
  ScratchAllocator() = default;
  template <typename U>
  ScratchAllocator(const ScratchAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(ScratchPool::Take(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) { ScratchPool::Give(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const ScratchAllocator<U>&) const {
    return true;
  }
};

template <typename T>
using Scratch = std::vector<T, ScratchAllocator<T>>;

// Per channel, the stored value that white balancing maps each value to.
using ChannelLuts = std::array<std::array<std::uint8_t, 256>, 3>;

struct Grid {
  int Factor = 1;
  int Width = 0;
  int Height = 0;
  Scratch<std::uint8_t> Darkest;
  Scratch<std::uint8_t> Mean;
  ChannelLuts Luts{};
  int At(int x, int y) const { return y * Width + x; }
};

}  // namespace

// The page is reduced channel by channel: each cell's darkest value and mean
// per channel. Stored bytes are reduced as they lie (blue, green, red side by
// side), which keeps the one pass over the full page a plain byte loop.
int PageReduction::FactorFor(int width, int height) {
  const double pixels = double(width) * height;
  return std::clamp(int(std::ceil(std::sqrt(pixels / TargetCells))), 1, 256);
}

void PageReduction::Start(const PageRaster& page) {
  pageWidth_ = page.Width();
  pageHeight_ = page.Height();
  format_ = page.Format();
  factor_ = FactorFor(pageWidth_, pageHeight_);
  channels_ = page.BytesPerPixel();
  width_ = (pageWidth_ + factor_ - 1) / factor_;
  height_ = (pageHeight_ + factor_ - 1) / factor_;
  darkest_.assign(std::size_t(width_) * height_ * channels_, 0);
  mean_.assign(darkest_.size(), 0);
  columnMin_.assign(page.RowBytes(), 255);
  columnSum_.assign(page.RowBytes(), 0);
  rowsDone_ = 0;
  summedRows_ = 0;
}

void PageReduction::AddRows(const PageRaster& page, int first, int count) {
  if (first == 0)
    Start(page);
  if (first != rowsDone_ || page.Width() != pageWidth_ || page.Height() != pageHeight_ ||
      page.Format() != format_) {
    rowsDone_ = -1;
    return;
  }
  const std::size_t rowBytes = columnMin_.size();
  std::uint8_t* mins = columnMin_.data();
  std::uint16_t* sums = columnSum_.data();
  for (int y = first; y < std::min(pageHeight_, first + count); ++y) {
    const int cellRow = y / factor_;
    const int y0 = cellRow * factor_;
    const int y1 = std::min(pageHeight_, y0 + factor_);
    const std::uint8_t* row = page.Row(y);
    // Every row counts for the darkest value; two rows are enough for the
    // mean, which only has to tell paper from shade.
    if (y == y0 || y == y0 + (y1 - y0) / 2) {
      ++summedRows_;
      for (std::size_t i = 0; i < rowBytes; ++i) {
        mins[i] = std::min(mins[i], row[i]);
        sums[i] = std::uint16_t(sums[i] + row[i]);
      }
    } else {
      for (std::size_t i = 0; i < rowBytes; ++i)
        mins[i] = std::min(mins[i], row[i]);
    }
    if (y == y1 - 1)
      FinishCellRow(cellRow);
  }
  rowsDone_ = std::min(pageHeight_, first + count);
}

namespace {

// Per stored byte i, op over the count values i, i + stride, ... of values,
// for every i whose window lies within the n values: windows are doubled
// from the values themselves (destroying them), then joined per bit of
// count. The cells' windows then lie at every cell's first byte, and each
// pass is a plain loop that the compiler vectorises.
template <typename T, typename Op>
void WindowsOf(T* values, T* windows, std::size_t n, int count, std::size_t stride, Op op) {
  std::size_t span = stride;  // of the doubled windows in values
  std::size_t offset = 0;     // of the next window to join
  bool first = true;
  for (int bits = count; bits > 0; bits >>= 1) {
    if (bits & 1) {
      const std::size_t valid = n - std::min(n, offset);
      if (first) {
        std::copy_n(values + offset, valid, windows);
        first = false;
      } else {
        for (std::size_t i = 0; i < valid; ++i)
          windows[i] = op(windows[i], values[i + offset]);
      }
      offset += span;
    }
    if (bits > 1) {
      for (std::size_t i = 0; i + span < n; ++i)
        values[i] = op(values[i], values[i + span]);
      span *= 2;
    }
  }
}

}  // namespace

void PageReduction::FinishCellRow(int cellRow) {
  // Channel c of the row's first cell; the channels' planes lie plane apart.
  const std::size_t plane = std::size_t(width_) * height_;
  std::uint8_t* darkest = darkest_.data() + std::size_t(cellRow) * width_;
  std::uint8_t* mean = mean_.data() + std::size_t(cellRow) * width_;
  const std::uint8_t* mins = columnMin_.data();
  const std::uint16_t* sums = columnSum_.data();
  // Cells that are factor_ pixels wide are taken together while their sums
  // fit in 16 bits; the rest (a narrower last cell) cell by cell, first, as
  // the windows below take the rows' values.
  const int fullCells = factor_ * summedRows_ * 255 <= 0xFFFF ? pageWidth_ / factor_ : 0;
  for (int gx = fullCells; gx < width_; ++gx) {
    const int x0 = gx * factor_;
    const int x1 = std::min(pageWidth_, x0 + factor_);
    const int count = (x1 - x0) * summedRows_;
    // The cell's pixels lie side by side, channels interleaved.
    const std::size_t from = std::size_t(x0) * channels_, to = std::size_t(x1) * channels_;
    for (int c = 0; c < channels_; ++c) {
      int m = 255, sum = 0;
      for (std::size_t i = from + c; i < to; i += channels_) {
        m = std::min(m, int(mins[i]));
        sum += sums[i];
      }
      darkest[c * plane + gx] = std::uint8_t(m);
      mean[c * plane + gx] = std::uint8_t(sum / count);
    }
  }
  // A few dozen cells at a time, so that the windows stay in the fastest
  // cache. The mean's division is an exact multiply: sums stay below 2^16 and
  // the divisor at most 256, so 40 bits of fraction round every quotient
  // down as division does.
  constexpr int ChunkCells = 64;
  const std::size_t cellBytes = std::size_t(factor_) * channels_;
  windowMin_.resize(ChunkCells * cellBytes);
  windowSum_.resize(ChunkCells * cellBytes);
  const auto least = [](std::uint8_t a, std::uint8_t b) { return std::min(a, b); };
  const auto add = [](std::uint16_t a, std::uint16_t b) { return std::uint16_t(a + b); };
  const std::uint64_t scale =
      (std::uint64_t(1) << 40) / std::uint64_t(std::max(1, factor_ * summedRows_)) + 1;
  for (int first = 0; first < fullCells; first += ChunkCells) {
    const int cellCount = std::min(ChunkCells, fullCells - first);
    const std::size_t start = std::size_t(first) * cellBytes;
    const std::size_t n = std::size_t(cellCount) * cellBytes;
    std::uint8_t* chunkMins = columnMin_.data() + start;
    std::uint16_t* chunkSums = columnSum_.data() + start;
    WindowsOf(chunkMins, windowMin_.data(), n, factor_, std::size_t(channels_), least);
    WindowsOf(chunkSums, windowSum_.data(), n, factor_, std::size_t(channels_), add);
    for (int c = 0; c < channels_; ++c) {
      std::uint8_t* cellDarkest = darkest + c * plane + first;
      std::uint8_t* cellMean = mean + c * plane + first;
      for (std::size_t i = 0, from = std::size_t(c); from < n; ++i, from += cellBytes) {
        cellDarkest[i] = windowMin_[from];
        cellMean[i] = std::uint8_t((windowSum_[from] * scale) >> 40);
      }
    }
    std::fill_n(chunkMins, n, std::uint8_t(255));
    std::fill_n(chunkSums, n, std::uint16_t(0));
  }
  const std::size_t done = std::size_t(fullCells) * cellBytes;
  std::fill(columnMin_.begin() + long(done), columnMin_.end(), std::uint8_t(255));
  std::fill(columnSum_.begin() + long(done), columnSum_.end(), std::uint16_t(0));
  summedRows_ = 0;
}

bool PageReduction::Covers(const PageRaster& page) const {
  return rowsDone_ == pageHeight_ && pageHeight_ > 0 && page.Width() == pageWidth_ &&
         page.Height() == pageHeight_ && page.Format() == format_;
}

namespace {

// One value per cell: its darkest channel after scaling each channel so that
// the paper's colour becomes white. Every ink, black, blue, red or yellow, is
// then dark in some channel, while yellowed paper is as white as white paper.
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
  // sum of channels, between the 60th and 95th percentile): the sums
  // counted first, in four tables so that runs of paper do not wait on one
  // counter, then the channels of the cells within the range totalled in a
  // loop without branches.
  const std::uint8_t* __restrict blue = channels.Mean().data();
  const std::uint8_t* __restrict green = blue + cells;
  const std::uint8_t* __restrict red = green + cells;
  std::array<std::array<int, 766>, 4> parts{};
  std::size_t i = 0;
  for (; i + 4 <= cells; i += 4) {
    for (std::size_t k = 0; k < 4; ++k)
      ++parts[k][blue[i + k] + green[i + k] + red[i + k]];
  }
  for (; i < cells; ++i)
    ++parts[0][blue[i] + green[i] + red[i]];
  int low = 0, high = 765, seen = 0;
  for (int v = 0; v < 766; ++v) {
    seen += parts[0][v] + parts[1][v] + parts[2][v] + parts[3][v];
    if (seen < 0.6 * double(cells))
      low = v + 1;
    if (seen < 0.95 * double(cells))
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
    const double level = counted > 0 ? std::max(32.0, paper[c] / counted) : 255.0;
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

// The value at which the share of values at or below it reaches fraction.
int Percentile(const std::array<int, 256>& histogram, int total, double fraction) {
  const double wanted = fraction * total;
  int seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += histogram[v];
    if (seen >= wanted && seen > 0)
      return v;
  }
  return 255;
}

// How many of the count values lie at each level: four tables filled in
// turn, so that a run of equal values (paper) does not wait on one counter.
std::array<int, 256> HistogramOf(const std::uint8_t* values, std::size_t count) {
  std::array<std::array<int, 256>, 4> parts{};
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    ++parts[0][values[i]];
    ++parts[1][values[i + 1]];
    ++parts[2][values[i + 2]];
    ++parts[3][values[i + 3]];
  }
  for (; i < count; ++i)
    ++parts[0][values[i]];
  for (int v = 0; v < 256; ++v)
    parts[0][v] += parts[1][v] + parts[2][v] + parts[3][v];
  return parts[0];
}

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
      tileValue[ty * tilesX + tx] = Percentile(even[tx], total, 0.9);
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
    const int wx = int((fx - x0) * 256);
    for (int ty = 0; ty < tilesY; ++ty) {
      const int* local = tileValue.data() + ty * tilesX;
      const int* near = tileNear.data() + ty * tilesX;
      acrossLocal[std::size_t(ty) * grid.Width + x] =
          float(local[x0] * (256 - wx) + local[x1] * wx);
      acrossNear[std::size_t(ty) * grid.Width + x] = float(near[x0] * (256 - wx) + near[x1] * wx);
    }
  }
  for (int y = 0; y < grid.Height; ++y) {
    const double fy = std::clamp((y + 0.5) / tile - 0.5, 0.0, double(tilesY - 1));
    const int ty0 = int(fy);
    const int ty1 = std::min(ty0 + 1, tilesY - 1);
    const int wy = int((fy - ty0) * 256);
    const float topWeight = float(256 - wy), bottomWeight = float(wy);
    auto fill = [&](const Scratch<float>& across, Scratch<std::uint8_t>& out) {
      const float* __restrict top = across.data() + std::size_t(ty0) * grid.Width;
      const float* __restrict bottom = across.data() + std::size_t(ty1) * grid.Width;
      std::uint8_t* __restrict row = out.data() + std::size_t(y) * grid.Width;
      for (int x = 0; x < grid.Width; ++x) {
        const float sum = top[x] * topWeight + bottom[x] * bottomWeight + 32768.0f;
        row[x] = std::uint8_t(int(sum * (1.0f / 65536.0f)));
      }
    };
    fill(acrossLocal, maps.Local);
    fill(acrossNear, maps.Near);
  }
  return maps;
}

// Marks: 8-connected cells of a mask, with their bounds and size.
struct Blob {
  int Left = 0;
  int Top = 0;
  int Right = 0;  // exclusive
  int Bottom = 0;
  int Area = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

int FindRoot(Scratch<int>& parent, int i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

// A run of set cells along a row of a mask, and the blob it belongs to.
struct Run {
  int Y;
  int X0;
  int X1;  // exclusive
  int Blob;
};

// The blobs of the set cells of mask, and the runs they are made of: a run
// joins the runs of the row above that it touches, corners included.
Scratch<Blob> FindBlobs(const Scratch<std::uint8_t>& mask, int width, int height,
                        Scratch<Run>& runs) {
  runs.clear();
  Scratch<int> parent;
  std::size_t above = 0, aboveEnd = 0;  // the runs of the row above
  // Masks hold 0 and 1: eight cells at a time are all clear when their
  // word is 0, all set when it is all ones.
  constexpr std::uint64_t AllSet = 0x0101010101010101u;
  auto word = [](const std::uint8_t* at) {
    std::uint64_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
  };
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = mask.data() + std::size_t(y) * width;
    const std::size_t start = runs.size();
    for (int x = 0; x < width;) {
      if (!row[x]) {
        ++x;
        while (x + 8 <= width && word(row + x) == 0)
          x += 8;
        continue;
      }
      const int x0 = x;
      while (x + 8 <= width && word(row + x) == AllSet)
        x += 8;
      while (x < width && row[x])
        ++x;
      const int id = int(runs.size());
      runs.push_back({y, x0, x, -1});
      parent.push_back(id);
      while (above < aboveEnd && runs[above].X1 < x0)
        ++above;
      for (std::size_t k = above; k < aboveEnd && runs[k].X0 <= x; ++k) {
        const int a = FindRoot(parent, int(k)), b = FindRoot(parent, id);
        if (a != b)
          parent[std::max(a, b)] = std::min(a, b);
      }
    }
    above = start;
    aboveEnd = runs.size();
    // Runs of this row may still touch runs of the next row from the first.
  }
  Scratch<int> index(runs.size(), -1);
  Scratch<Blob> blobs;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    Run& run = runs[r];
    const int root = FindRoot(parent, int(r));
    if (index[root] < 0) {
      index[root] = int(blobs.size());
      blobs.push_back({run.X0, run.Y, run.X1, run.Y + 1, 0});
    }
    Blob& b = blobs[index[root]];
    b.Left = std::min(b.Left, run.X0);
    b.Right = std::max(b.Right, run.X1);
    b.Top = std::min(b.Top, run.Y);
    b.Bottom = std::max(b.Bottom, run.Y + 1);
    b.Area += run.X1 - run.X0;
    run.Blob = index[root];
  }
  return blobs;
}

// Labels the cells of the runs: labels[i] is the blob index, or -1.
void LabelRuns(const Scratch<Run>& runs, int width, int height, Scratch<int>& labels) {
  labels.assign(std::size_t(width) * height, -1);
  for (const Run& run : runs)
    std::fill_n(labels.data() + std::size_t(run.Y) * width + run.X0, run.X1 - run.X0, run.Blob);
}

template <bool Lightest>
void PickInto(std::uint8_t* out, const std::uint8_t* in, int count) {
  for (int i = 0; i < count; ++i)
    out[i] = Lightest ? std::max(out[i], in[i]) : std::min(out[i], in[i]);
}

template <bool Lightest>
Scratch<std::uint8_t> RankFilterOf(const Scratch<std::uint8_t>& values, int width, int height,
                                   int rx, int ry) {
  // Across: each row picked with itself shifted by 1..r either way; then
  // down: each row picked with the rows within r. Both are plain byte loops.
  Scratch<std::uint8_t> across(values);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = values.data() + std::size_t(y) * width;
    std::uint8_t* out = across.data() + std::size_t(y) * width;
    for (int d = 1; d <= rx && d < width; ++d) {
      PickInto<Lightest>(out, in + d, width - d);
      PickInto<Lightest>(out + d, in, width - d);
    }
  }
  Scratch<std::uint8_t> result(values.size());
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = result.data() + std::size_t(y) * width;
    std::copy_n(across.data() + std::size_t(y) * width, width, out);
    for (int dy = std::max(0, y - ry); dy <= std::min(height - 1, y + ry); ++dy)
      PickInto<Lightest>(out, across.data() + std::size_t(dy) * width, width);
  }
  return result;
}

// Lightest (or darkest) value in a square of radius r around every cell.
Scratch<std::uint8_t> RankFilter(const Scratch<std::uint8_t>& values, int width, int height, int r,
                                 bool lightest) {
  return lightest ? RankFilterOf<true>(values, width, height, r, r)
                  : RankFilterOf<false>(values, width, height, r, r);
}

// The page's resolution, to measure the border and the smallest letters by:
// its own, unless it is missing or gives a page no scanner makes.
double PageDpi(const PageRaster& page, float dpi) {
  const double longSide = std::max(page.Width(), page.Height());
  if (!(dpi > 0) || longSide / dpi > MaxPageInches || longSide / dpi < MinPageInches)
    return AssumedDpi;
  return dpi;
}

using Cell = ContentBoxTrace::Cell;

// The analysis in progress, on the reduced grid.
struct Analysis {
  const Grid& G;
  int PaperLevel = 255;
  int InkLevel = 0;
  int Contrast = 0;
  int InkDelta = 0;
  int LineDelta = 0;                // how much darker than the paper a fold or an edge is
  int SmallestLetter = 1;           // the least height in cells a mark of text has
  Scratch<std::uint8_t> Paper;      // local paper per cell
  Scratch<std::uint8_t> NearPaper;  // the lightest paper around
  Scratch<std::uint8_t> Ink;        // cell holds a pixel clearly darker than its paper
  Scratch<Cell> Class;

  explicit Analysis(const Grid& grid) : G(grid), Class(grid.Darkest.size(), Cell::Paper) {}
  int W() const { return G.Width; }
  int H() const { return G.Height; }
  bool SetAside(int i) const { return Class[i] == Cell::Edge || Class[i] == Cell::Beyond; }
};

// How many set cells of a mask lie in a rectangle, in constant time.
class MaskSums {
 public:
  MaskSums(int width, int height) : width_(width), height_(height) {
    sums_.assign(std::size_t(width + 1) * (height + 1), 0);
  }
  // From a mask of 0 and 1.
  void Build(const std::uint8_t* mask) {
    const int stride = width_ + 1;
    for (int y = 0; y < height_; ++y) {
      const std::uint8_t* set = mask + std::size_t(y) * width_;
      int* out = sums_.data() + std::size_t(y + 1) * stride + 1;
      const int* above = out - stride;
      int row = 0;
      for (int x = 0; x < width_; ++x) {
        row += set[x];
        out[x] = row;
      }
      for (int x = 0; x < width_; ++x)
        out[x] += above[x];
    }
  }
  // The cells of the runs (in row order) whose blob is set.
  template <typename IsSet>
  void BuildFromRuns(const Scratch<Run>& runs, IsSet isSet) {
    Scratch<std::uint8_t> mask(std::size_t(width_) * height_);
    for (const Run& run : runs) {
      if (isSet(run.Blob))
        std::fill_n(mask.data() + std::size_t(run.Y) * width_ + run.X0, run.X1 - run.X0, 1);
    }
    Build(mask.data());
  }
  int In(int x0, int y0, int x1, int y1) const {
    x0 = std::clamp(x0, 0, width_), x1 = std::clamp(x1, 0, width_);
    y0 = std::clamp(y0, 0, height_), y1 = std::clamp(y1, 0, height_);
    if (x1 <= x0 || y1 <= y0)
      return 0;
    const int stride = width_ + 1;
    return sums_[y1 * stride + x1] - sums_[y0 * stride + x1] - sums_[y1 * stride + x0] +
           sums_[y0 * stride + x0];
  }

 private:
  int width_;
  int height_;
  Scratch<int> sums_;
};

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

// Shade wider than a stroke that lies along the page's border: the
// scanner's lid or bed, a dark page edge, a gutter shadow. It either stays
// within a narrow frame along the border, or runs along a quarter of a side
// or more within a wider one.
void MarkEdgeBands(Analysis& a) {
  const int w = a.W(), h = a.H(), cells = w * h;
  // Closing the cells' means takes the strokes of ink out of the shade, and
  // leaves what is wider.
  const Scratch<std::uint8_t> closed =
      RankFilter(RankFilter(a.G.Mean, w, h, 1, true), w, h, 1, false);
  const int shadeDelta = std::max(24, int(0.2 * a.Contrast));
  Scratch<std::uint8_t> shade(cells);
  for (int i = 0; i < cells; ++i)
    shade[i] = closed[i] + shadeDelta < a.PaperLevel;
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
  Scratch<int> inside(blobs.size()), inkInside(blobs.size());
  const Frame narrow(w, h, NarrowFrame), wide(w, h, WideFrame);
  constexpr int Depth = 2;
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
  }
  const int nearX = std::max(1, int(NearBorder * w)), nearY = std::max(1, int(NearBorder * h));
  Scratch<std::uint8_t> edge(blobs.size());
  for (std::size_t b = 0; b < blobs.size(); ++b) {
    const Blob& s = blobs[b];
    const bool nearSide = s.Left < nearX || s.Right > w - nearX;
    const bool nearEnd = s.Top < nearY || s.Bottom > h - nearY;
    if (!nearSide && !nearEnd)
      continue;
    const bool longBand = (nearSide && s.Height() >= h / 4) || (nearEnd && s.Width() >= w / 4);
    const bool smooth = inkInside[b] <= SmoothShade * inside[b];
    edge[b] = smooth && (outsideNarrow[b] == 0 || (longBand && outsideWide[b] == 0));
  }
  for (const Run& run : runs) {
    if (edge[run.Blob])
      std::fill(a.Class.begin() + run.Y * w + run.X0, a.Class.begin() + run.Y * w + run.X1,
                Cell::Edge);
  }
}

// Lines that run across the whole page near one of its sides, such as the
// edge of the page or the fold of the gutter: everything between such a line
// and the border lies beyond the page. A line may wander a few cells, and
// counts when it is dark in nearly every row (column) it crosses.
void MarkEdgeLines(Analysis& a) {
  const int w = a.W(), h = a.H();
  // Dark cells that could belong to a line: ones with paper a few cells away
  // on one side across the line (the middle of a broad dark area is no line),
  // and edges already found. Only the zones along the sides are looked at.
  constexpr int Across = 3;
  constexpr int Wander = 2;
  const int cells = w * h;
  // Per cell: 1 where dark, and 1 where an edge, as byte maps.
  Scratch<std::uint8_t> darkMap(static_cast<std::size_t>(cells)), edgeMap(darkMap.size());
  {
    const std::uint8_t* __restrict darkest = a.G.Darkest.data();
    const std::uint8_t* __restrict paper = a.NearPaper.data();
    const Cell* __restrict cls = a.Class.data();
    std::uint8_t* __restrict dark = darkMap.data();
    std::uint8_t* __restrict edge = edgeMap.data();
    const auto delta8 = std::uint8_t(a.LineDelta);  // 24 to 89: a byte holds it
    for (int i = 0; i < cells; ++i) {
      const std::uint8_t below = std::uint8_t(paper[i] - std::min(paper[i], delta8));
      dark[i] = darkest[i] < below ? 1 : 0;
      edge[i] = cls[i] == Cell::Edge ? 1 : 0;
    }
  }
  const std::uint8_t* dark = darkMap.data();
  const std::uint8_t* edge = edgeMap.data();
  const int zoneX = int(LineZone * w), zoneY = int(LineZone * h);
  // Per column (row) of the zones: the rows (columns) with such a cell within
  // Wander, and the first and last of them.
  struct Span {
    int Count = 0;
    int First = -1;
    int Last = -1;
  };
  Scratch<Span> columns(w), rows(h);
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
    const auto count = [&](int x) {
      std::uint8_t near = 0;
      for (int dx = std::max(0, x - Wander); dx <= std::min(w - 1, x + Wander); ++dx)
        near |= flags[dx];
      Span& span = columns[x];
      span.Count += near;
      span.First = span.First < 0 && near ? y : span.First;
      span.Last = near ? y : span.Last;
    };
    for (int x = 0; x < std::min(w, zoneX); ++x)
      count(x);
    for (int x = std::max(std::min(w, zoneX), w - zoneX); x < w; ++x)
      count(x);
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
  Scratch<std::uint8_t> nearRow(w);
  for (int y = 0; y < h; ++y) {
    if (y >= zoneY && y < h - zoneY)
      continue;
    std::fill(nearRow.begin(), nearRow.end(), std::uint8_t(0));
    for (int dy = std::max(0, y - Wander); dy <= std::min(h - 1, y + Wander); ++dy) {
      const std::uint8_t* __restrict from = rowFlags.data() + std::size_t(dy) * w;
      std::uint8_t* __restrict near = nearRow.data();
      for (int x = 0; x < w; ++x)
        near[x] |= from[x];
    }
    Span& span = rows[y];
    for (int x = 0; x < w; ++x)
      span.Count += nearRow[x];
    if (span.Count > 0) {
      span.First = int(std::find(nearRow.begin(), nearRow.end(), 1) - nearRow.begin());
      span.Last = w - 1 - int(std::find(nearRow.rbegin(), nearRow.rend(), 1) - nearRow.rbegin());
    }
  }
  // A line runs from border to border, though it may fade on the way.
  auto isLine = [](const Span& s, int length) {
    const double ends = LineEnds * length;
    return s.Count >= LineCovered * length && s.First <= ends && s.Last >= length - 1 - ends;
  };
  int beyondLeft = -1, beyondRight = w, beyondTop = -1, beyondBottom = h;
  for (int x = 0; x < zoneX; ++x) {
    if (isLine(columns[x], h))
      beyondLeft = x;
  }
  for (int x = w - 1; x >= w - zoneX; --x) {
    if (isLine(columns[x], h))
      beyondRight = x;
  }
  for (int y = 0; y < zoneY; ++y) {
    if (isLine(rows[y], w))
      beyondTop = y;
  }
  for (int y = h - 1; y >= h - zoneY; --y) {
    if (isLine(rows[y], w))
      beyondBottom = y;
  }
  for (int y = 0; y < h; ++y) {
    Cell* row = a.Class.data() + std::size_t(y) * w;
    if (y <= beyondTop || y >= beyondBottom) {
      std::fill(row, row + w, Cell::Beyond);
      continue;
    }
    std::fill(row, row + std::min(w, beyondLeft + 1), Cell::Beyond);
    std::fill(row + std::max(0, beyondRight), row + w, Cell::Beyond);
  }
}

// Paper that edges cut off from the page's own paper lies beyond the page:
// the facing page behind a gutter shadow, the bed beyond a page edge.
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

// The marks of ink on the page's own paper.
struct Marks {
  Scratch<std::uint8_t> Mask;
  Scratch<Run> Runs;
  Scratch<int> Labels;
  Scratch<Blob> Blobs;
  Scratch<Cell> Kind;    // per blob: Content, Speck or Edge
  Scratch<int> Darkest;  // per blob, its darkest value
  int Typical = 3;       // the usual height of a mark, in cells
};

Marks FindMarks(const Analysis& a) {
  const int w = a.W(), h = a.H(), cells = w * h;
  // Ink right beside an edge is the edge's own outline.
  Scratch<std::uint8_t> aside(cells);
  for (int i = 0; i < cells; ++i)
    aside[i] = a.SetAside(i) ? 255 : 0;
  aside = RankFilter(aside, w, h, 1, true);
  Marks marks;
  marks.Mask.resize(cells);
  for (int i = 0; i < cells; ++i)
    marks.Mask[i] = a.Ink[i] & std::uint8_t(aside[i] == 0);
  marks.Blobs = FindBlobs(marks.Mask, w, h, marks.Runs);
  LabelRuns(marks.Runs, w, h, marks.Labels);
  marks.Kind.assign(marks.Blobs.size(), Cell::Content);
  marks.Darkest.assign(marks.Blobs.size(), 255);
  for (const Run& run : marks.Runs) {
    const std::size_t from = std::size_t(run.Y) * w + run.X0;
    const std::uint8_t* darkest = a.G.Darkest.data() + from;
    marks.Darkest[run.Blob] = std::min<int>(
        marks.Darkest[run.Blob], *std::min_element(darkest, darkest + (run.X1 - run.X0)));
  }
  Scratch<int> heights;
  for (const Blob& b : marks.Blobs) {
    if (b.Height() >= 2 && b.Height() <= h / 10)
      heights.push_back(b.Height());
  }
  if (!heights.empty()) {
    std::nth_element(heights.begin(), heights.begin() + long(heights.size() / 2), heights.end());
    marks.Typical = heights[heights.size() / 2];
  }
  // Text is never smaller than this, however many specks there are.
  marks.Typical = std::max({3, marks.Typical, a.SmallestLetter});
  return marks;
}

// Marks at the border that stand apart from the page's content are what the
// scanner left there: a clip, a finger, the corner of the lid, bits of a
// page edge too faint to be seen as one line.
void SetAsideBorderMarks(const Analysis& a, Marks& marks) {
  const int w = a.W(), h = a.H();
  const int stripX = std::max(1, int(EdgeStrip * w)), stripY = std::max(1, int(EdgeStrip * h));
  const std::size_t count = marks.Blobs.size();
  // What lies within reach of an edge: set-aside cells, and marks already
  // taken for bits of an edge.
  const int reach = std::max(2, int(std::lround(0.008 * std::min(w, h))));
  auto besideEdge = [&](const Blob& m) {
    for (int y = std::max(0, m.Top - reach); y < std::min(h, m.Bottom + reach); ++y) {
      for (int x = std::max(0, m.Left - reach); x < std::min(w, m.Right + reach); ++x) {
        const int i = y * w + x;
        const int l = marks.Labels[i];
        if (a.SetAside(i) || (l >= 0 && marks.Kind[l] == Cell::Edge))
          return true;
      }
    }
    return false;
  };

  struct Shape {
    bool Touching = false;  // reaches the border
    bool Corner = false;    // touches it within a corner of the narrow frame
    bool Lone = false;      // at the border, and to be set aside if it stands alone
    bool Fragment = false;  // thinner than letters (or faint), along a side, in the outer strip
    bool Along = false;     // a line beside an edge, within the narrow frame
    bool Trail = false;     // a faint bit or a crumb, that may continue an edge
  };
  Scratch<Shape> shapes(count);
  for (std::size_t b = 0; b < count; ++b) {
    const Blob& m = marks.Blobs[b];
    Shape& s = shapes[b];
    const bool atSide = m.Left <= 1 || m.Right >= w - 1;
    s.Touching = atSide || m.Top <= 1 || m.Bottom >= h - 1;
    const bool leftFrame = m.Right <= NarrowFrame * w, rightFrame = m.Left >= w - NarrowFrame * w;
    const bool topFrame = m.Bottom <= NarrowFrame * h, bottomFrame = m.Top >= h - NarrowFrame * h;
    const bool sideFrame = leftFrame || rightFrame, endFrame = topFrame || bottomFrame;
    s.Corner = s.Touching && sideFrame && endFrame;
    const bool tallShape = m.Height() >= 4 * m.Width(), wideShape = m.Width() >= 4 * m.Height();
    const bool small = m.Width() <= WideFrame * w && m.Height() <= WideFrame * h;
    const bool streak = atSide ? tallShape && sideFrame : wideShape && endFrame;
    const bool crumb = 2 * std::max(m.Width(), m.Height()) <= marks.Typical;
    s.Lone = s.Touching && (small || streak || crumb);
    const bool faint = a.PaperLevel - marks.Darkest[b] < FaintMark * a.Contrast;
    const int thin = faint ? std::max(2, stripX / 3) : std::max(1, marks.Typical / 3);
    const bool tall = m.Width() <= thin && m.Height() >= 2 * m.Width();
    const bool wide = m.Height() <= thin && m.Width() >= 2 * m.Height();
    s.Fragment = (tall && (m.Right <= stripX || m.Left >= w - stripX)) ||
                 (wide && (m.Bottom <= stripY || m.Top >= h - stripY));
    const bool sideZone = m.Right <= WideFrame * w || m.Left >= w - WideFrame * w;
    const bool endZone = m.Bottom <= WideFrame * h || m.Top >= h - WideFrame * h;
    s.Along = (tallShape && sideFrame) || (wideShape && endFrame);
    const bool letterSized = std::max(m.Width(), m.Height()) <= marks.Typical;
    s.Trail = crumb || (faint && (letterSized || (tallShape && sideZone && tall) ||
                                  (wideShape && endZone && wide)));
  }

  // Corners, crumbs on the border itself, and marks at the border or bits in
  // the outer strip that stand apart: no mark of the page within the gap,
  // not counting specks, other such marks and whatever lies beside an edge.
  Scratch<std::uint8_t> inPage(count);
  const int tiny = std::max(1, marks.Typical / 2);
  for (std::size_t b = 0; b < count; ++b) {
    const Blob& m = marks.Blobs[b];
    const Shape& s = shapes[b];
    const bool inStrip =
        m.Right <= stripX || m.Left >= w - stripX || m.Bottom <= stripY || m.Top >= h - stripY;
    const bool beside = (s.Along || s.Trail) && besideEdge(m);
    inPage[b] =
        !s.Lone && !s.Fragment && !beside && !inStrip && std::max(m.Width(), m.Height()) > tiny;
  }
  MaskSums page(w, h);
  page.BuildFromRuns(marks.Runs, [&](int l) { return inPage[l] != 0; });
  const int gap = std::max(2 * marks.Typical, int(0.015 * std::min(w, h)));
  for (std::size_t b = 0; b < count; ++b) {
    const Blob& m = marks.Blobs[b];
    const Shape& s = shapes[b];
    const bool alone = page.In(m.Left - gap, m.Top - gap, m.Right + gap, m.Bottom + gap) == 0;
    const int nearX = std::max(1, int(NearBorder * w)), nearY = std::max(1, int(NearBorder * h));
    const bool nearBorder =
        m.Left < nearX || m.Right > w - nearX || m.Top < nearY || m.Bottom > h - nearY;
    const bool crumb = nearBorder && 2 * std::max(m.Width(), m.Height()) <= marks.Typical;
    if (s.Corner || crumb || (alone && (s.Lone || s.Fragment)))
      marks.Kind[b] = Cell::Edge;
  }

  // Lines beside an edge, and faint bits and crumbs beside an edge or beside
  // those, a few steps out.
  for (int round = 0; round < 4; ++round) {
    bool changed = false;
    for (std::size_t b = 0; b < count; ++b) {
      const Blob& m = marks.Blobs[b];
      const bool follows = shapes[b].Trail || (round == 0 && shapes[b].Along);
      if (marks.Kind[b] == Cell::Content && follows && besideEdge(m)) {
        marks.Kind[b] = Cell::Edge;
        changed = true;
      }
    }
    if (!changed)
      break;
  }
}

// A speck is much smaller than the page's usual mark and lies away from every
// larger one. Dirt may be as large as a small letter when it lies far away
// from any other mark and is fainter than the page's ink; faint words of a
// caption keep each other.
void SetAsideSpecks(const Analysis& a, Marks& marks) {
  const int w = a.W(), h = a.H();
  const int tiny = std::max(1, marks.Typical / 2);
  auto size = [&](const Blob& b) { return std::max(b.Width(), b.Height()); };
  auto faint = [&](int b) { return a.PaperLevel - marks.Darkest[b] < FaintMark * a.Contrast; };
  auto ghost = [&](int b) { return a.PaperLevel - marks.Darkest[b] < GhostMark * a.Contrast; };
  auto isLetter = [&](int l) {
    return marks.Kind[l] == Cell::Content && size(marks.Blobs[l]) > tiny;
  };
  // Dots in a row, such as a dotted rule or leaders, keep each other: dust
  // seldom lies so close together.
  Scratch<std::uint8_t> dotAt(std::size_t(w) * h);
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    const Blob& m = marks.Blobs[b];
    if (marks.Kind[b] == Cell::Content && size(m) <= tiny && !ghost(int(b)))
      dotAt[std::size_t(m.Top) * w + m.Left] = 1;
  }
  MaskSums dots(w, h);
  dots.Build(dotAt.data());
  // Faint dirt first, so that it keeps no speck beside it.
  MaskSums letters(w, h);
  bool lettersChanged = true;
  for (const bool tinyOnes : {false, true}) {
    if (lettersChanged)
      letters.BuildFromRuns(marks.Runs, isLetter);
    lettersChanged = false;
    for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
      const Blob& m = marks.Blobs[b];
      if (marks.Kind[b] != Cell::Content || size(m) > marks.Typical)
        continue;
      const bool isTiny = size(m) <= tiny;
      if (isTiny != tinyOnes || (!isTiny && !faint(int(b))))
        continue;
      const int t = marks.Typical;
      if (isTiny && !ghost(int(b)) &&
          dots.In(m.Left - t, m.Top - t, m.Right + t, m.Bottom + t) > DottedRow)
        continue;
      // A tiny mark beside a letter may be its full stop or its dot.
      const int reach = isTiny ? std::max(2, tiny) : 4 * t;
      const int own = isLetter(int(b)) ? m.Area : 0;
      if (letters.In(m.Left - reach, m.Top - reach, m.Right + reach, m.Bottom + reach) == own) {
        marks.Kind[b] = Cell::Speck;
        lettersChanged = true;
      }
    }
  }
}

// A block of content cut by the left or right border and parted from the
// rest by a gutter is the facing page: the gutter is wider than any gap
// between columns, and the fold or shadow of the binding runs down it.
void SetAsideFacingPage(const Analysis& a, Marks& marks) {
  const int w = a.W(), h = a.H();
  // The gap is looked for in the middle of the page's height, and may hold a
  // thin fold running down it; rules and edges across the top or bottom do
  // not bridge it.
  const int thin = std::max(2, int(0.01 * w));
  const int middleTop = int(0.1 * h), middleBottom = h - int(0.1 * h);
  Scratch<int> columnMarks(w);
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    const Blob& m = marks.Blobs[b];
    if (marks.Kind[b] != Cell::Content || m.Bottom <= middleTop || m.Top >= middleBottom)
      continue;
    if ((m.Width() <= thin && m.Height() >= 6 * m.Width()) ||
        2 * std::max(m.Width(), m.Height()) <= marks.Typical)
      continue;
    for (int x = m.Left; x < m.Right; ++x)
      ++columnMarks[x];
  }
  // Whether something dark runs down most of the page within columns x0..x1.
  auto foldIn = [&](int x0, int x1) {
    int best = 0;
    for (int x = x0; x < x1; ++x) {
      int rows = 0;
      for (int y = 0; y < h; ++y) {
        for (int dx = std::max(x0, x - thin); dx <= std::min(x1 - 1, x + thin); ++dx) {
          const int i = y * w + dx;
          if (a.G.Darkest[i] + a.LineDelta < a.NearPaper[i] || a.SetAside(i)) {
            ++rows;
            break;
          }
        }
      }
      best = std::max(best, rows);
    }
    return best >= FoldCovered * h;
  };
  const int nearX = std::max(1, int(NearBorder * w));
  const int gutter = int(FacingGutter * w);
  const int widest = int(FacingWidth * w);
  auto setAsideColumns = [&](int x0, int x1) {
    for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
      if (marks.Kind[b] == Cell::Content && marks.Blobs[b].Left >= x0 && marks.Blobs[b].Right <= x1)
        marks.Kind[b] = Cell::Beyond;
    }
  };
  // From the right: a block that reaches the border, then the gutter.
  int x = w - 1;
  while (x >= w - nearX && columnMarks[x] == 0)
    --x;
  if (x >= w - nearX) {
    int blockStart = x;
    while (blockStart > 0 && columnMarks[blockStart - 1] > 0)
      --blockStart;
    int gapStart = blockStart;
    while (gapStart > 0 && columnMarks[gapStart - 1] == 0)
      --gapStart;
    if (gapStart > 0 && blockStart - gapStart >= gutter && w - blockStart <= widest &&
        foldIn(gapStart, blockStart))
      setAsideColumns(gapStart, w);
  }
  x = 0;
  while (x < nearX && columnMarks[x] == 0)
    ++x;
  if (x < nearX) {
    int blockEnd = x;
    while (blockEnd + 1 < w && columnMarks[blockEnd + 1] > 0)
      ++blockEnd;
    int gapEnd = blockEnd;
    while (gapEnd + 1 < w && columnMarks[gapEnd + 1] == 0)
      ++gapEnd;
    if (gapEnd + 1 < w && gapEnd - blockEnd >= gutter && blockEnd + 1 <= widest &&
        foldIn(blockEnd + 1, gapEnd + 1))
      setAsideColumns(0, gapEnd + 1);
  }
}

// The page's pixel values as the grid sees them, white balanced.
int PixelValue(const PageRaster& page, const Grid& grid, int x, int y) {
  const std::uint8_t* row = page.Row(y);
  if (page.Format() == PixelFormat::Gray8)
    return row[x];
  const std::uint8_t* p = row + 3 * x;
  return std::min({grid.Luts[0][p[0]], grid.Luts[1][p[1]], grid.Luts[2][p[2]]});
}

// The box of content cells, narrowed to the outermost ink pixels of its
// border cells.
Rect RefineBox(const PageRaster& page, const Analysis& a, const Scratch<std::uint8_t>& around,
               const Blob& box) {
  const int f = a.G.Factor, w = a.W();
  const int pageW = page.Width(), pageH = page.Height();
  auto inkAt = [&](int x, int y) {
    const int cell = (y / f) * w + x / f;
    return PixelValue(page, a.G, x, y) + a.InkDelta < around[cell];
  };
  auto contentCell = [&](int cx, int cy) { return a.Class[cy * w + cx] == Cell::Content; };
  Rect r{box.Left * f, box.Top * f, std::min(pageW, box.Right * f),
         std::min(pageH, box.Bottom * f)};
  // Each side: the first pixel line, from outside in, that holds ink within
  // the content cells of the box's border row or column.
  auto firstColumn = [&](int cx, bool fromLeft) {
    const int x0 = cx * f, x1 = std::min(pageW, x0 + f);
    int best = fromLeft ? x1 - 1 : x0;
    for (int cy = box.Top; cy < box.Bottom; ++cy) {
      if (!contentCell(cx, cy))
        continue;
      for (int y = cy * f; y < std::min(pageH, cy * f + f); ++y) {
        if (fromLeft) {
          for (int x = x0; x < best; ++x) {
            if (inkAt(x, y)) {
              best = x;
              break;
            }
          }
        } else {
          for (int x = x1 - 1; x > best; --x) {
            if (inkAt(x, y)) {
              best = x;
              break;
            }
          }
        }
      }
    }
    return best;
  };
  auto firstRow = [&](int cy, bool fromTop) {
    const int y0 = cy * f, y1 = std::min(pageH, y0 + f);
    int best = fromTop ? y1 - 1 : y0;
    for (int cx = box.Left; cx < box.Right; ++cx) {
      if (!contentCell(cx, cy))
        continue;
      const int x0 = cx * f, x1 = std::min(pageW, cx * f + f);
      if (fromTop) {
        for (int y = y0; y < best; ++y) {
          for (int x = x0; x < x1; ++x) {
            if (inkAt(x, y)) {
              best = y;
              break;
            }
          }
        }
      } else {
        for (int y = y1 - 1; y > best; --y) {
          for (int x = x0; x < x1; ++x) {
            if (inkAt(x, y)) {
              best = y;
              break;
            }
          }
        }
      }
    }
    return best;
  };
  if (f > 1) {
    r.Left = firstColumn(box.Left, true);
    r.Right = firstColumn(box.Right - 1, false) + 1;
    r.Top = firstRow(box.Top, true);
    r.Bottom = firstRow(box.Bottom - 1, false) + 1;
  }
  return r;
}

// The grid may see only part of a letter or a mark at the box's border (the
// rest fell in a cell taken for an edge, or was too faint for the grid), and a
// cut through it loses ink. So each side moves out a pixel line at a time
// while the line beyond it holds ink touching ink of the side's own line, and
// the marks the side crosses are kept whole. A mark that still goes on after
// 1% of the page is something the side runs into, such as a dark edge or a
// finger, not a mark the grid missed: the side then stays where it was.
Rect KeepWholeMarks(const PageRaster& page, const Analysis& a, const Scratch<std::uint8_t>& around,
                    Rect r) {
  const int f = a.G.Factor, w = a.W();
  auto inkAt = [&](int x, int y) {
    return PixelValue(page, a.G, x, y) + a.InkDelta < around[(y / f) * w + x / f];
  };
  // line(i) and along(j) give the pixel of the i-th line out from the side
  // and j-th position along it; the side's own line is i = 0.
  auto grow = [&](int length, int reach, int beforeBorder, auto pixel) {
    const int room = std::min(reach, beforeBorder);
    Scratch<std::uint8_t> touching(length), next(length);
    for (int j = 0; j < length; ++j)
      touching[j] = pixel(0, j) ? 1 : 0;
    int moved = 0;
    for (int i = 1; i <= room; ++i) {
      bool any = false;
      for (int j = 0; j < length; ++j) {
        next[j] =
            (touching[j] || (j > 0 && touching[j - 1]) || (j + 1 < length && touching[j + 1])) &&
            pixel(i, j);
        any = any || next[j];
      }
      if (!any)
        break;
      // Ink joined along the line belongs to the same mark.
      for (int j = 1; j < length; ++j)
        next[j] = next[j] || (next[j - 1] && pixel(i, j));
      for (int j = length - 2; j >= 0; --j)
        next[j] = next[j] || (next[j + 1] && pixel(i, j));
      touching.swap(next);
      moved = i;
    }
    // Reaching the page's border is no sign of an edge: a mark may run off.
    return moved < reach || moved == beforeBorder ? moved : 0;
  };
  const int reachX = std::max(1, page.Width() / 100), reachY = std::max(1, page.Height() / 100);
  const Rect in = r;
  const int width = in.Right - in.Left, height = in.Bottom - in.Top;
  r.Left -=
      grow(height, reachX, in.Left, [&](int i, int j) { return inkAt(in.Left - i, in.Top + j); });
  r.Right += grow(height, reachX, page.Width() - in.Right,
                  [&](int i, int j) { return inkAt(in.Right - 1 + i, in.Top + j); });
  r.Top -=
      grow(width, reachY, in.Top, [&](int i, int j) { return inkAt(in.Left + j, in.Top - i); });
  r.Bottom += grow(width, reachY, page.Height() - in.Bottom,
                   [&](int i, int j) { return inkAt(in.Left + j, in.Bottom - 1 + i); });
  return r;
}

// The content box plus border pixels of paper on each side, as far as paper
// reaches: the border stops at the first edge or strip beyond the page that
// it would reach into (aside(i) tells their cells).
template <typename Aside>
Rect WithBorder(const PageRaster& page, const Analysis& a, Aside aside, const Rect& content,
                int border) {
  const int f = a.G.Factor, w = a.W();
  const int cx0 = content.Left / f, cx1 = (content.Right - 1) / f + 1;
  const int cy0 = content.Top / f, cy1 = (content.Bottom - 1) / f + 1;
  auto columnFree = [&](int x) {
    for (int cy = cy0; cy < cy1; ++cy) {
      if (aside(cy * w + x / f))
        return false;
    }
    return true;
  };
  auto rowFree = [&](int y) {
    for (int cx = cx0; cx < cx1; ++cx) {
      if (aside(y / f * w + cx))
        return false;
    }
    return true;
  };
  Rect cut = content;
  for (int i = 0; i < border && cut.Left > 0 && columnFree(cut.Left - 1); ++i)
    --cut.Left;
  for (int i = 0; i < border && cut.Right < page.Width() && columnFree(cut.Right); ++i)
    ++cut.Right;
  for (int i = 0; i < border && cut.Top > 0 && rowFree(cut.Top - 1); ++i)
    --cut.Top;
  for (int i = 0; i < border && cut.Bottom < page.Height() && rowFree(cut.Bottom); ++i)
    ++cut.Bottom;
  return cut;
}

}  // namespace

ContentBox FindContentBox(const PageRaster& page, float dpi, ContentBoxTrace* trace) {
  // Kept for the thread's next page, for the same reason as the scratch pool.
  thread_local PageReduction reduction;
  if (!page.IsEmpty())
    reduction.AddRows(page, 0, page.Height());
  return FindContentBox(page, dpi, reduction, trace);
}

ContentBox FindContentBox(const PageRaster& page, float dpi, const PageReduction& reduction,
                          ContentBoxTrace* trace) {
  ContentBox result;
  if (page.IsEmpty())
    return result;
  if (!reduction.Covers(page))
    return FindContentBox(page, dpi, trace);
  const int factor = reduction.Factor();
  const Grid grid = WhiteBalanced(reduction);
  const int gw = grid.Width;
  const int gh = grid.Height;
  const int cells = gw * gh;
  Analysis a(grid);
  a.SmallestLetter = int(SmallestLetterMm / 25.4 * PageDpi(page, dpi) / factor);

  // The paper: its usual shade, and the shade around every cell.
  const std::array<int, 256> meanHistogram = HistogramOf(grid.Mean.data(), grid.Mean.size());
  a.PaperLevel = Percentile(meanHistogram, cells, 0.75);
  const int tile = std::max(4, int(std::lround(std::min(gw, gh) / 24.0)));
  PaperMaps paper = LocalPaper(grid, tile);
  a.Paper = std::move(paper.Local);
  a.NearPaper = std::move(paper.Near);

  // The ink's contrast: how far the darker marks lie below the paper.
  // A dark cell is below 215 (paper is at most 255), so the others are
  // marked 255, skipped eight at a time, and their count dropped.
  Scratch<std::uint8_t> darkValues(static_cast<std::size_t>(cells));
  {
    const std::uint8_t* __restrict darkest = grid.Darkest.data();
    const std::uint8_t* __restrict paper = a.Paper.data();
    std::uint8_t* __restrict out = darkValues.data();
    for (int i = 0; i < cells; ++i) {
      const std::uint8_t below = std::uint8_t(paper[i] - std::min(paper[i], std::uint8_t(40)));
      out[i] = darkest[i] < below ? darkest[i] : std::uint8_t(255);
    }
  }
  std::array<int, 256> darkHistogram{};
  for (int i = 0; i < cells; ++i) {
    std::uint64_t word = 0;
    while (i + 8 <= cells) {
      std::memcpy(&word, darkValues.data() + i, sizeof word);
      if (word != ~std::uint64_t(0))
        break;
      i += 8;
    }
    if (i < cells)
      ++darkHistogram[darkValues[i]];
  }
  darkHistogram[255] = 0;
  int darkCount = 0;
  for (int v = 0; v < 256; ++v)
    darkCount += darkHistogram[v];
  a.InkLevel = darkCount > 0 ? Percentile(darkHistogram, darkCount, 0.1) : a.PaperLevel;
  a.Contrast = std::max(0, a.PaperLevel - a.InkLevel);
  a.InkDelta = std::max(24, int(0.35 * a.Contrast));
  a.LineDelta = std::max(24, int(0.25 * a.Contrast));
  // Ink is clearly darker than the lightest cell around it: a stroke always
  // has paper within a few cells, while shading changes too slowly for that.
  const Scratch<std::uint8_t> around = RankFilter(grid.Mean, gw, gh, 2, true);
  a.Ink.resize(cells);
  {
    const std::uint8_t* __restrict darkest = grid.Darkest.data();
    const std::uint8_t* __restrict light = around.data();
    std::uint8_t* __restrict ink = a.Ink.data();
    const auto delta8 = std::uint8_t(a.InkDelta);  // 24 to 89: a byte holds it
    for (int i = 0; i < cells; ++i) {
      const std::uint8_t below = std::uint8_t(light[i] - std::min(light[i], delta8));
      ink[i] = darkest[i] < below ? 1 : 0;
    }
  }

  MarkEdgeBands(a);
  MarkEdgeLines(a);
  MarkCutOff(a);
  Marks marks = FindMarks(a);
  SetAsideBorderMarks(a, marks);
  SetAsideSpecks(a, marks);
  SetAsideFacingPage(a, marks);
  // What the border stops at: edges and strips, and bits of edges larger than
  // a speck (specks at the border it may cover, as a cut page shows them).
  // (A mark's cells are never set aside themselves: marks lie off edges.)
  auto aside = [&](int i) {
    const int l = marks.Labels[i];
    if (l < 0)
      return a.SetAside(i);
    const Blob& m = marks.Blobs[l];
    return marks.Kind[l] == Cell::Edge && 2 * std::max(m.Width(), m.Height()) > marks.Typical;
  };
  for (const Run& run : marks.Runs)
    std::fill_n(a.Class.data() + std::size_t(run.Y) * gw + run.X0, run.X1 - run.X0,
                marks.Kind[run.Blob]);
  bool any = false;
  Blob box;
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    if (marks.Kind[b] != Cell::Content)
      continue;
    const Blob& m = marks.Blobs[b];
    if (!any) {
      box = m;
      any = true;
    }
    box.Left = std::min(box.Left, m.Left);
    box.Top = std::min(box.Top, m.Top);
    box.Right = std::max(box.Right, m.Right);
    box.Bottom = std::max(box.Bottom, m.Bottom);
  }
  if (any) {
    result.HasContent = true;
    result.Content = KeepWholeMarks(page, a, around, RefineBox(page, a, around, box));
    const int border = int(std::lround(CutBorderMm / 25.4 * PageDpi(page, dpi)));
    result.Cut = WithBorder(page, a, aside, result.Content, border);
    result.Room = WithBorder(page, a, aside, result.Content, 2 * border);
  }
  if (trace != nullptr) {
    trace->Factor = factor;
    trace->Width = gw;
    trace->Height = gh;
    trace->Cells.assign(a.Class.begin(), a.Class.end());
  }
  return result;
}

Rect CutOnGrid(const ContentBox& box, int gridX, int gridY) {
  // The grid line between from and to (from <= to) nearest to want, if any.
  auto nearest = [](int from, int to, int want, int grid, int keep) {
    if (grid <= 1)
      return keep;
    const int below = want / grid * grid, above = below + grid;
    const bool belowFits = below >= from && below <= to;
    const bool aboveFits = above >= from && above <= to;
    if (belowFits && (!aboveFits || want - below < above - want))
      return below;
    return aboveFits ? above : keep;
  };
  Rect cut = box.Cut;
  if (!box.HasContent)
    return cut;
  cut.Left = nearest(box.Room.Left, box.Content.Left, box.Cut.Left, gridX, cut.Left);
  cut.Top = nearest(box.Room.Top, box.Content.Top, box.Cut.Top, gridY, cut.Top);
  return cut;
}

}  // namespace pagetrim
