// The grid tools of the content box: scratch memory, histograms, blobs and
// rank filters, each a plain loop over the cells.
#include "cell_grid.h"

#include <cstring>
#include <new>

namespace pagetrim::box {
namespace {

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

int FindRoot(Scratch<int>& parent, int i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
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

}  // namespace

void* TakeScratch(std::size_t bytes) {
  return ScratchPool::Take(bytes);
}
void GiveScratch(void* block, std::size_t bytes) {
  ScratchPool::Give(block, bytes);
}

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

Scratch<Blob> FindBlobs(const Scratch<std::uint8_t>& mask, int width, int height,
                        Scratch<Run>& runs) {
  runs.clear();
  Scratch<int> parent;
  std::size_t above = 0, aboveEnd = 0;  // the runs of the row above
  // Masks hold 0 and 1: eight cells at a time are all clear when their
  // word is 0, all set when it is all ones.
  constexpr int WordCells = int(sizeof(std::uint64_t));
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
        while (x + WordCells <= width && word(row + x) == 0)
          x += WordCells;
        continue;
      }
      const int x0 = x;
      while (x + WordCells <= width && word(row + x) == AllSet)
        x += WordCells;
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

void LabelRuns(const Scratch<Run>& runs, int width, int height, Scratch<int>& labels) {
  labels.assign(std::size_t(width) * height, -1);
  for (const Run& run : runs)
    std::fill_n(labels.data() + std::size_t(run.Y) * width + run.X0, run.X1 - run.X0, run.Blob);
}

Scratch<std::uint8_t> RankFilter(const Scratch<std::uint8_t>& values, int width, int height, int r,
                                 bool lightest) {
  return lightest ? RankFilterOf<true>(values, width, height, r, r)
                  : RankFilterOf<false>(values, width, height, r, r);
}

}  // namespace pagetrim::box
