// The content box's grid tools against plain references on random grids of
// many sizes, tiny and odd ones included: each fast kernel must give what the
// obvious loop gives.
#include "cell_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace pagetrim::box {
namespace {

struct Size {
  int Width, Height;
};
// 1 x 1, single rows and columns, widths on both sides of the eight cells a
// word holds, and a few larger ones.
const Size Sizes[] = {{1, 1},  {1, 9},  {9, 1},  {2, 2},   {7, 3},  {8, 8},  {9, 5},   {15, 17},
                      {16, 1}, {17, 4}, {64, 3}, {65, 33}, {1, 70}, {70, 1}, {127, 9}, {200, 150}};

std::string Name(Size s) {
  return std::to_string(s.Width) + "x" + std::to_string(s.Height);
}

// Paper-like values: mostly light, sometimes anything.
Scratch<std::uint8_t> RandomValues(std::mt19937& random, std::size_t n) {
  Scratch<std::uint8_t> values(n);
  for (auto& v : values)
    v = std::uint8_t(random() % 3 == 0 ? random() % 256 : 200 + random() % 56);
  return values;
}

// Masks of 0 and 1: scattered cells at several densities, and rows of runs
// long enough to be skipped a word at a time.
Scratch<std::uint8_t> RandomMask(std::mt19937& random, Size s, int kind) {
  Scratch<std::uint8_t> mask(std::size_t(s.Width) * s.Height);
  if (kind < 3) {
    const unsigned percent[] = {5, 45, 95};
    for (auto& v : mask)
      v = random() % 100 < percent[kind] ? 1 : 0;
    return mask;
  }
  for (int y = 0; y < s.Height; ++y) {
    std::uint8_t set = random() % 2;
    for (int x = 0; x < s.Width;) {
      const int run = 1 + int(random() % 20);
      for (int i = x; i < std::min(s.Width, x + run); ++i)
        mask[std::size_t(y) * s.Width + i] = set;
      x += run;
      set ^= 1;
    }
  }
  return mask;
}

TEST(CellGrid, HistogramCountsEveryValue) {
  std::mt19937 random(11);
  for (std::size_t n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 1000, 4099}) {
    SCOPED_TRACE(n);
    Scratch<std::uint8_t> values = RandomValues(random, n);
    // Runs of one value, as paper gives.
    if (n > 100)
      std::fill_n(values.begin() + 10, 50, std::uint8_t(251));
    std::array<int, 256> expected{};
    for (std::uint8_t v : values)
      ++expected[v];
    EXPECT_EQ(HistogramOf(values.data(), values.size()), expected);
  }
}

// The percentile is the order statistic: the k-th smallest value, k being
// the fraction of the count rounded up (at least 1), or 255 when there are
// fewer values than that.
TEST(CellGrid, PercentileIsTheOrderStatistic) {
  std::mt19937 random(12);
  for (std::size_t n : {0, 1, 2, 3, 10, 333, 1000}) {
    Scratch<std::uint8_t> values = RandomValues(random, n);
    const std::array<int, 256> histogram = HistogramOf(values.data(), values.size());
    std::sort(values.begin(), values.end());
    for (double fraction : {0.0, 0.1, 0.25, 0.5, 0.6, 0.75, 0.9, 0.95, 1.0, 1.5}) {
      SCOPED_TRACE(std::to_string(n) + " values, fraction " + std::to_string(fraction));
      const std::size_t k = std::max<std::size_t>(1, std::size_t(std::ceil(fraction * n)));
      const int expected = k <= n ? values[k - 1] : 255;
      EXPECT_EQ(Percentile(histogram, int(n), fraction), expected);
    }
  }
}

// The components of a mask by a plain flood fill, 8-connected: a label per
// cell (-1 where clear), and each component's bounds and area.
struct Components {
  std::vector<int> Labels;
  std::vector<Blob> Blobs;
};

Components FloodFill(const Scratch<std::uint8_t>& mask, Size s) {
  Components c;
  c.Labels.assign(mask.size(), -1);
  for (int start = 0; start < int(mask.size()); ++start) {
    if (!mask[start] || c.Labels[start] >= 0)
      continue;
    const int label = int(c.Blobs.size());
    Blob blob{s.Width, s.Height, 0, 0, 0};
    std::vector<int> stack{start};
    c.Labels[start] = label;
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      const int x = i % s.Width, y = i / s.Width;
      blob = {std::min(blob.Left, x), std::min(blob.Top, y), std::max(blob.Right, x + 1),
              std::max(blob.Bottom, y + 1), blob.Area + 1};
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= s.Width || ny >= s.Height)
            continue;
          const int n = ny * s.Width + nx;
          if (mask[n] && c.Labels[n] < 0) {
            c.Labels[n] = label;
            stack.push_back(n);
          }
        }
      }
    }
    c.Blobs.push_back(blob);
  }
  return c;
}

TEST(CellGrid, BlobsAndLabelsMatchAFloodFill) {
  std::mt19937 random(13);
  for (Size s : Sizes) {
    for (int kind = 0; kind < 4; ++kind) {
      SCOPED_TRACE(Name(s) + ", mask kind " + std::to_string(kind));
      const Scratch<std::uint8_t> mask = RandomMask(random, s, kind);
      Scratch<box::Run> runs;
      const Scratch<Blob> blobs = FindBlobs(mask, s.Width, s.Height, runs);
      Scratch<int> labels;
      LabelRuns(runs, s.Width, s.Height, labels);
      const Components expected = FloodFill(mask, s);
      ASSERT_EQ(blobs.size(), expected.Blobs.size());
      ASSERT_EQ(labels.size(), mask.size());
      // The same partition: one blob of the kernel for each component.
      std::map<int, int> toKernel;
      for (std::size_t i = 0; i < mask.size(); ++i) {
        ASSERT_EQ(labels[i] < 0, expected.Labels[i] < 0) << "cell " << i;
        if (labels[i] < 0)
          continue;
        const auto [at, added] = toKernel.emplace(expected.Labels[i], labels[i]);
        ASSERT_EQ(at->second, labels[i]) << "cell " << i;
      }
      ASSERT_EQ(toKernel.size(), blobs.size());  // no two components share a blob
      for (const auto& [component, blob] : toKernel) {
        const Blob& want = expected.Blobs[component];
        const Blob& got = blobs[blob];
        EXPECT_EQ(got.Left, want.Left);
        EXPECT_EQ(got.Top, want.Top);
        EXPECT_EQ(got.Right, want.Right);
        EXPECT_EQ(got.Bottom, want.Bottom);
        EXPECT_EQ(got.Area, want.Area);
      }
      // Runs in row order, each a maximal run of set cells.
      for (std::size_t r = 0; r < runs.size(); ++r) {
        const box::Run& run = runs[r];
        const std::uint8_t* row = mask.data() + std::size_t(run.Y) * s.Width;
        EXPECT_TRUE(run.X0 == 0 || !row[run.X0 - 1]);
        EXPECT_TRUE(run.X1 == s.Width || !row[run.X1]);
        if (r > 0) {
          EXPECT_TRUE(runs[r - 1].Y < run.Y || runs[r - 1].X1 < run.X0);
        }
      }
    }
  }
}

TEST(CellGrid, RankFilterTakesTheLightestOrDarkestOfItsSquare) {
  std::mt19937 random(14);
  for (Size s : Sizes) {
    const Scratch<std::uint8_t> values = RandomValues(random, std::size_t(s.Width) * s.Height);
    for (int r : {0, 1, 2, 3, 5}) {
      for (bool lightest : {true, false}) {
        SCOPED_TRACE(Name(s) + ", radius " + std::to_string(r) + (lightest ? " max" : " min"));
        const Scratch<std::uint8_t> got = RankFilter(values, s.Width, s.Height, r, lightest);
        int wrong = 0;
        for (int y = 0; y < s.Height; ++y) {
          for (int x = 0; x < s.Width; ++x) {
            int want = lightest ? 0 : 255;
            for (int yy = std::max(0, y - r); yy <= std::min(s.Height - 1, y + r); ++yy) {
              for (int xx = std::max(0, x - r); xx <= std::min(s.Width - 1, x + r); ++xx) {
                const int v = values[std::size_t(yy) * s.Width + xx];
                want = lightest ? std::max(want, v) : std::min(want, v);
              }
            }
            wrong += got[std::size_t(y) * s.Width + x] != want;
          }
        }
        EXPECT_EQ(wrong, 0);
      }
    }
  }
}

TEST(CellGrid, MaskSumsCountTheSetCellsOfAnyRectangle) {
  std::mt19937 random(15);
  for (Size s : Sizes) {
    SCOPED_TRACE(Name(s));
    const Scratch<std::uint8_t> mask = RandomMask(random, s, int(random() % 4));
    auto count = [&](const Scratch<std::uint8_t>& m, int x0, int y0, int x1, int y1) {
      int n = 0;
      for (int y = std::max(0, y0); y < std::min(s.Height, y1); ++y) {
        for (int x = std::max(0, x0); x < std::min(s.Width, x1); ++x)
          n += m[std::size_t(y) * s.Width + x];
      }
      return n;
    };
    MaskSums sums(s.Width, s.Height);
    sums.Build(mask.data());
    // From the runs, only the blobs of odd index.
    Scratch<box::Run> runs;
    FindBlobs(mask, s.Width, s.Height, runs);
    Scratch<int> labels;
    LabelRuns(runs, s.Width, s.Height, labels);
    Scratch<std::uint8_t> odd(mask.size());
    for (std::size_t i = 0; i < mask.size(); ++i)
      odd[i] = labels[i] >= 0 && labels[i] % 2 == 1;
    MaskSums oddSums(s.Width, s.Height);
    oddSums.BuildFromRuns(runs, [](int blob) { return blob % 2 == 1; });
    // Rectangles within, across and beyond the mask, and empty ones.
    for (int k = 0; k < 300; ++k) {
      const int x0 = int(random() % (s.Width + 6)) - 3, y0 = int(random() % (s.Height + 6)) - 3;
      const int x1 = x0 + int(random() % (s.Width + 4)) - 1;
      const int y1 = y0 + int(random() % (s.Height + 4)) - 1;
      ASSERT_EQ(sums.In(x0, y0, x1, y1), count(mask, x0, y0, x1, y1))
          << x0 << "," << y0 << "," << x1 << "," << y1;
      ASSERT_EQ(oddSums.In(x0, y0, x1, y1), count(odd, x0, y0, x1, y1))
          << x0 << "," << y0 << "," << x1 << "," << y1;
    }
  }
}

// Each window is op over count values stride apart, for every start whose
// window lies within the values.
TEST(CellGrid, DoublingWindowsJoinCountValuesStrideApart) {
  std::mt19937 random(16);
  const auto least = [](std::uint8_t a, std::uint8_t b) { return std::min(a, b); };
  const auto add = [](std::uint16_t a, std::uint16_t b) { return std::uint16_t(a + b); };
  for (int k = 0; k < 400; ++k) {
    const std::size_t stride = 1 + random() % 4;
    const int count = 1 + int(random() % 40);
    const std::size_t n = 1 + random() % 300;
    SCOPED_TRACE("n " + std::to_string(n) + ", count " + std::to_string(count) + ", stride " +
                 std::to_string(stride));
    const Scratch<std::uint8_t> bytes = RandomValues(random, n);
    Scratch<std::uint8_t> mins(bytes), minWindows(n);
    Scratch<std::uint16_t> sums(bytes.begin(), bytes.end()), sumWindows(n);
    WindowsOf(mins.data(), minWindows.data(), n, count, stride, least);
    WindowsOf(sums.data(), sumWindows.data(), n, count, stride, add);
    for (std::size_t i = 0; i + (count - 1) * stride < n; ++i) {
      int darkest = 255, sum = 0;
      for (int j = 0; j < count; ++j) {
        darkest = std::min<int>(darkest, bytes[i + j * stride]);
        sum += bytes[i + j * stride];
      }
      ASSERT_EQ(minWindows[i], darkest) << "at " << i;
      ASSERT_EQ(sumWindows[i], sum) << "at " << i;
    }
  }
}

}  // namespace
}  // namespace pagetrim::box
