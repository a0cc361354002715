// Tools over the content box's grid of cells, which its stages share, and the
// memory they reuse from page to page.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pagetrim::box {

// Memory the analysis reuses from page to page on the same thread: see
// cell_grid.cpp. Blocks below a few kilobytes go to the heap as usual.
void* TakeScratch(std::size_t bytes);
void GiveScratch(void* block, std::size_t bytes);

template <typename T>
struct ScratchAllocator {
  using value_type = T;
  ScratchAllocator() = default;
  template <typename U>
  ScratchAllocator(const ScratchAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(TakeScratch(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) { GiveScratch(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const ScratchAllocator<U>&) const {
    return true;
  }
};

template <typename T>
using Scratch = std::vector<T, ScratchAllocator<T>>;

// The value at which the share of values at or below it reaches fraction.
int Percentile(const std::array<int, 256>& histogram, int total, double fraction);

// How many of the count values lie at each level.
std::array<int, 256> HistogramOf(const std::uint8_t* values, std::size_t count);

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

// A run of set cells along a row of a mask, and the blob it belongs to.
struct Run {
  int Y;
  int X0;
  int X1;  // exclusive
  int Blob;
};

// The blobs of the set cells of mask (0 or 1 per cell), and the runs they are
// made of, in row order: a run joins the runs of the row above that it
// touches, corners included.
Scratch<Blob> FindBlobs(const Scratch<std::uint8_t>& mask, int width, int height,
                        Scratch<Run>& runs);

// Labels the cells of the runs: labels[i] is the blob index, or -1.
void LabelRuns(const Scratch<Run>& runs, int width, int height, Scratch<int>& labels);

// Lightest (or darkest) value in a square of radius r around every cell.
Scratch<std::uint8_t> RankFilter(const Scratch<std::uint8_t>& values, int width, int height, int r,
                                 bool lightest);

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
  // Cells of [x0, x1) x [y0, y1), clipped to the mask.
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

}  // namespace pagetrim::box
