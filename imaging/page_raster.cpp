// PageRaster's size, copy and crop operations, and the analysis images.
#include "page_raster.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace pagetrim {

namespace {

constexpr std::uint8_t White = 0xFF;

int NonNegative(int v) {
  return v < 0 ? 0 : v;
}

// For each destination index, the source index it repeats; whole pixels only.
std::vector<int> ScaleMap(int destLength, int srcStart, int srcLength) {
  std::vector<int> map(static_cast<std::size_t>(NonNegative(destLength)));
  for (int i = 0; i < destLength; ++i) {
    map[std::size_t(i)] = srcStart + int((std::int64_t(i) * srcLength) / std::int64_t(destLength));
  }
  return map;
}

// Page-sized buffers released by one page are taken again by the next:
// fresh memory of that size would be mapped and zeroed by the system page by
// page, which costs as much as copying the page twice.
class BufferPool {
 public:
  static constexpr std::size_t MinimumPooled = std::size_t(1) << 20;
  static constexpr std::size_t Capacity = 4;

  std::vector<std::uint8_t> Take(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto best = buffers_.end();
    for (auto it = buffers_.begin(); it != buffers_.end(); ++it) {
      if (it->capacity() >= size && (best == buffers_.end() || it->capacity() < best->capacity())) {
        best = it;
      }
    }
    std::vector<std::uint8_t> bytes;
    if (best != buffers_.end()) {
      bytes = std::move(*best);
      buffers_.erase(best);
    }
    bytes.resize(size);
    return bytes;
  }

  void Give(std::vector<std::uint8_t>&& bytes) {
    if (bytes.capacity() < MinimumPooled)
      return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffers_.size() == Capacity) {
      // Keep the larger buffers: they serve every page size below them.
      auto smallest = std::min_element(buffers_.begin(), buffers_.end(), [](auto& a, auto& b) {
        return a.capacity() < b.capacity();
      });
      if (smallest->capacity() >= bytes.capacity())
        return;
      buffers_.erase(smallest);
    }
    buffers_.push_back(std::move(bytes));
  }

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::uint8_t>> buffers_;
};

BufferPool& Pool() {
  // Never destroyed, so that rasters destroyed at exit can still return theirs.
  static BufferPool* pool = new BufferPool;
  return *pool;
}

}  // namespace

struct PageRaster::Storage {
  explicit Storage(std::size_t size) : Bytes(Pool().Take(size)) {}
  ~Storage() { Pool().Give(std::move(Bytes)); }
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  std::vector<std::uint8_t> Bytes;
};

PageRaster::PageRaster(int width, int height) {
  SetSize(width, height);
}

std::uint8_t* PageRaster::Base() const {
  return storage_ ? storage_->Bytes.data() + offset_ : nullptr;
}

void PageRaster::Allocate(int width, int height) {
  width_ = NonNegative(width);
  height_ = NonNegative(height);
  stride_ = RowBytes();
  offset_ = 0;
  const std::size_t size = std::size_t(height_) * stride_;
  storage_ = size > 0 ? std::make_shared<Storage>(size) : nullptr;
}

void PageRaster::MakeUnique() {
  if (!storage_ || storage_.use_count() == 1)
    return;
  const PageRaster shared = *this;
  Allocate(width_, height_);
  for (int y = 0; y < height_; ++y)
    std::memcpy(Base() + std::size_t(y) * stride_, shared.Row(y), stride_);
}

void PageRaster::ResetForOverwrite(int width, int height) {
  width = NonNegative(width);
  height = NonNegative(height);
  const std::size_t size = std::size_t(width) * BytesPerPixel * std::size_t(height);
  if (storage_ && storage_.use_count() == 1 && storage_->Bytes.capacity() >= size) {
    storage_->Bytes.resize(size);
    width_ = width;
    height_ = height;
    stride_ = RowBytes();
    offset_ = 0;
    return;
  }
  storage_.reset();  // returns the old pixels to the pool before taking new ones
  Allocate(width, height);
}

void PageRaster::SetWidth(int width) {
  width = NonNegative(width);
  if (width == width_)
    return;
  if (width < width_ || height_ == 0) {
    // Narrower: the window onto the pixels closes from the right.
    width_ = width;
    if (storage_ == nullptr)
      stride_ = RowBytes();
    if (width_ == 0 || height_ == 0)
      *this = EmptyOfSize(width_, height_);
    return;
  }
  const PageRaster old = *this;
  Allocate(width, height_);
  const std::size_t kept = old.RowBytes();
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* dest = Base() + std::size_t(y) * stride_;
    if (kept > 0)
      std::memcpy(dest, old.Row(y), kept);
    std::memset(dest + kept, White, stride_ - kept);
  }
}

void PageRaster::SetHeight(int height) {
  height = NonNegative(height);
  if (height == height_)
    return;
  if (height < height_ || width_ == 0) {
    height_ = height;
    if (width_ == 0 || height_ == 0)
      *this = EmptyOfSize(width_, height_);
    return;
  }
  const PageRaster old = *this;
  Allocate(width_, height);
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* dest = Base() + std::size_t(y) * stride_;
    if (y < old.height_) {
      std::memcpy(dest, old.Row(y), stride_);
    } else {
      std::memset(dest, White, stride_);
    }
  }
}

PageRaster PageRaster::EmptyOfSize(int width, int height) {
  // A raster with no columns or no rows holds no pixels at all; growing it
  // again gives white.
  PageRaster empty;
  empty.width_ = width;
  empty.height_ = height;
  empty.stride_ = empty.RowBytes();
  return empty;
}

void PageRaster::SetSize(int width, int height) {
  SetWidth(width);
  SetHeight(height);
}

ColourValue PageRaster::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    return InvalidColour;
  const std::uint8_t* p = Row(y) + std::size_t(x) * BytesPerPixel;
  return MakeColour(p[2], p[1], p[0]);
}

void PageRaster::AssignFrom(const PageRaster& src) {
  if (&src != this)
    *this = src;
}

void PageRaster::DrawOver(const PageRaster& src) {
  if (&src == this)
    return;
  const int w = std::min(width_, src.width_);
  const int h = std::min(height_, src.height_);
  if (w <= 0 || h <= 0)
    return;
  if (w == width_ && h == height_ && src.width_ == width_ && src.height_ == height_) {
    *this = src;  // covers every pixel: share instead of copying
    return;
  }
  const PageRaster source = src;  // src may share this raster's pixels
  const std::size_t bytes = std::size_t(w) * BytesPerPixel;
  for (int y = 0; y < h; ++y)
    std::memcpy(Row(y), source.Row(y), bytes);
}

void PageRaster::CopyRect(const Rect& destRect, const PageRaster& src, const Rect& srcRect) {
  const int dw = destRect.Width();
  const int dh = destRect.Height();
  const int sw = srcRect.Width();
  const int sh = srcRect.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
    return;

  const std::vector<int> xs = ScaleMap(dw, srcRect.Left, sw);
  const std::vector<int> ys = ScaleMap(dh, srcRect.Top, sh);

  // Columns that land inside both rasters, grouped into runs of consecutive
  // source columns so that an unscaled or nearly unscaled copy is a few memcpys.
  struct Run {
    int DestX, SrcX, Length;
  };
  std::vector<Run> runs;
  for (int i = 0; i < dw; ++i) {
    const int dx = destRect.Left + i;
    const int sx = xs[std::size_t(i)];
    if (dx < 0 || dx >= width_ || sx < 0 || sx >= src.width_)
      continue;
    if (!runs.empty()) {
      Run& last = runs.back();
      if (last.DestX + last.Length == dx && last.SrcX + last.Length == sx) {
        ++last.Length;
        continue;
      }
    }
    runs.push_back({dx, sx, 1});
  }
  if (runs.empty())
    return;

  // A copy of the source's handle keeps its pixels as they are while this
  // raster is written, also when both are the same raster or share pixels.
  const PageRaster source = src;
  for (int j = 0; j < dh; ++j) {
    const int dy = destRect.Top + j;
    const int sy = ys[std::size_t(j)];
    if (dy < 0 || dy >= height_ || sy < 0 || sy >= source.height_)
      continue;
    const std::uint8_t* srcRow = source.Row(sy);
    std::uint8_t* destRow = Row(dy);
    for (const Run& run : runs) {
      std::memmove(destRow + std::size_t(run.DestX) * BytesPerPixel,
                   srcRow + std::size_t(run.SrcX) * BytesPerPixel,
                   std::size_t(run.Length) * BytesPerPixel);
    }
  }
}

void PageRaster::CropTop(int n) {
  if (n <= 0)
    return;
  if (n >= height_) {
    SetHeight(0);
    return;
  }
  offset_ += std::size_t(n) * stride_;
  height_ -= n;
}

void PageRaster::CropLeft(int n) {
  if (n <= 0)
    return;
  if (n >= width_) {
    SetWidth(0);
    return;
  }
  offset_ += std::size_t(n) * BytesPerPixel;
  width_ -= n;
}

}  // namespace pagetrim
