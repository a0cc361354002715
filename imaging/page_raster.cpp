// PageRaster's size, copy and crop operations, and the pool of page buffers.
#include "page_raster.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

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

constexpr std::size_t HugePage = std::size_t(2) << 20;

std::atomic<bool> hugePagesWanted{true};

// Page-sized memory straight from the system, in transparent huge pages
// where the system allows them and they are wanted (SetHugePageBuffers).
// Small buffers come from the heap. Either way the bytes are not zeroed
// first: a decoder overwrites every one of them.
class Buffer {
 public:
  Buffer() = default;
  // huge: in transparent huge pages, where they are wanted at all. Without
  // the memory the buffer stays empty (no bytes), so that a decoder can say
  // so instead of throwing through the codec.
  Buffer(std::size_t size, bool huge) {
    if (size < HugePage) {
      heap_.reset(new (std::nothrow) std::uint8_t[size]);
      bytes_ = heap_.get();
      capacity_ = bytes_ != nullptr ? size : 0;
      return;
    }
    // Over-allocated by one huge page, so that the buffer can start on a
    // huge-page boundary.
    const std::size_t length = (size + HugePage - 1) / HugePage * HugePage;
    if (length < size || length > SIZE_MAX - HugePage)
      return;
    void* mapped = ::mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
      return;
    auto* start = static_cast<std::uint8_t*>(mapped);
    auto* aligned = reinterpret_cast<std::uint8_t*>(
        (reinterpret_cast<std::uintptr_t>(start) + HugePage - 1) & ~(HugePage - 1));
    if (aligned > start)
      ::munmap(start, std::size_t(aligned - start));
    if (const std::size_t tail = HugePage - std::size_t(aligned - start); tail > 0)
      ::munmap(aligned + length, tail);
    ::madvise(aligned, length, huge && hugePagesWanted.load() ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    bytes_ = aligned;
    capacity_ = length;
  }
  Buffer(Buffer&& other) noexcept { *this = std::move(other); }
  Buffer& operator=(Buffer&& other) noexcept {
    Release();
    heap_ = std::move(other.heap_);
    bytes_ = std::exchange(other.bytes_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }
  ~Buffer() { Release(); }

  std::uint8_t* Bytes() const { return bytes_; }
  std::size_t Capacity() const { return capacity_; }

 private:
  void Release() {
    if (bytes_ != nullptr && !heap_)
      ::munmap(bytes_, capacity_);
    heap_.reset();
    bytes_ = nullptr;
    capacity_ = 0;
  }

  std::unique_ptr<std::uint8_t[]> heap_;
  std::uint8_t* bytes_ = nullptr;
  std::size_t capacity_ = 0;
};

// Page-sized buffers released by one page are taken again by the next:
// fresh memory of that size would be mapped and zeroed by the system page by
// page, which costs as much as copying the page twice. The pool holds about
// two pages of the largest size recently asked for, so buffers of a larger
// page seen once, or of a file that was refused, are not kept for good.
class BufferPool {
 public:
  static constexpr std::size_t MinimumPooled = std::size_t(1) << 20;

  Buffer Take(std::size_t size, bool huge) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      recent_[next_++ % recent_.size()] = size;
      auto best = buffers_.end();
      // A small picture (a view's sample of a page, say) would take the
      // smallest pooled buffer, one that a page needs next.
      for (auto it = buffers_.begin(); it != buffers_.end() && size >= MinimumPooled; ++it) {
        if (it->Capacity() >= size && (best == buffers_.end() || it->Capacity() < best->Capacity()))
          best = it;
      }
      if (best != buffers_.end()) {
        Buffer taken = std::move(*best);
        buffers_.erase(best);
        total_ -= taken.Capacity();
        TrimLocked();
        return taken;
      }
      TrimLocked();
    }
    return Buffer(size, huge);
  }

  void Give(Buffer&& buffer) {
    if (buffer.Capacity() < MinimumPooled)
      return;
    std::lock_guard<std::mutex> lock(mutex_);
    total_ += buffer.Capacity();
    buffers_.push_back(std::move(buffer));
    TrimLocked();
  }

  std::size_t Total() {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
  }

  void Reserve(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    reserve_ = bytes;
    TrimLocked();
  }

 private:
  void TrimLocked() {
    const std::size_t largest = *std::max_element(recent_.begin(), recent_.end());
    const std::size_t limit = std::min(MaxPooledBytes, std::max(2 * largest, reserve_));
    while (total_ > limit) {
      // The largest buffer first: it is the one a smaller page wastes most.
      auto victim = std::max_element(buffers_.begin(), buffers_.end(),
                                     [](auto& a, auto& b) { return a.Capacity() < b.Capacity(); });
      total_ -= victim->Capacity();
      buffers_.erase(victim);
    }
  }

  std::mutex mutex_;
  std::vector<Buffer> buffers_;
  std::size_t total_ = 0;
  std::size_t reserve_ = 0;
  // The sizes of the last few buffers asked for: a page, its analysis image
  // and a neighbour's, so that the limit follows pages, not single buffers.
  std::array<std::size_t, 8> recent_{};
  std::size_t next_ = 0;
};

BufferPool& Pool() {
  // Never destroyed, so that rasters destroyed at exit can still return theirs.
  static BufferPool* pool = new BufferPool;
  return *pool;
}

// One row of blue-green-red from one row of gray.
void ExpandRow(const std::uint8_t* gray, std::uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x, bgr += 3)
    bgr[0] = bgr[1] = bgr[2] = gray[x];
}

}  // namespace

struct PageRaster::Storage {
  explicit Storage(std::size_t size, bool huge = true) : Memory(Pool().Take(size, huge)) {}
  ~Storage() { Pool().Give(std::move(Memory)); }
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  Buffer Memory;
};

PageBuffer::PageBuffer(std::size_t size)
    : storage_(size > 0 ? std::make_unique<PageRaster::Storage>(size, false) : nullptr),
      size_(size) {
  if (storage_ && storage_->Memory.Bytes() == nullptr) {
    storage_.reset();
    size_ = 0;
  }
}

PageBuffer::PageBuffer() noexcept = default;
PageBuffer::PageBuffer(PageBuffer&&) noexcept = default;
PageBuffer& PageBuffer::operator=(PageBuffer&&) noexcept = default;
PageBuffer::~PageBuffer() = default;

std::uint8_t* PageBuffer::Bytes() const {
  return storage_ ? storage_->Memory.Bytes() : nullptr;
}

std::size_t PooledBytes() {
  return Pool().Total();
}

void ReservePooledBytes(std::size_t bytes) {
  Pool().Reserve(bytes);
}

void SetHugePageBuffers(bool wanted) {
  hugePagesWanted.store(wanted);
}

PageRaster::PageRaster(int width, int height, PixelFormat format) : format_(format) {
  stride_ = RowBytes();
  SetSize(width, height);
}

std::uint8_t* PageRaster::Base() const {
  return storage_ ? storage_->Memory.Bytes() + offset_ : nullptr;
}

bool PageRaster::TryAllocate(int width, int height) {
  width_ = NonNegative(width);
  height_ = NonNegative(height);
  stride_ = RowBytes();
  offset_ = 0;
  const std::size_t size = std::size_t(height_) * stride_;
  storage_ = size > 0 ? std::make_shared<Storage>(size) : nullptr;
  if (storage_ && storage_->Memory.Bytes() == nullptr) {
    *this = PageRaster();
    return false;
  }
  return true;
}

void PageRaster::Allocate(int width, int height) {
  if (!TryAllocate(width, height))
    throw std::bad_alloc();
}

void PageRaster::MakeUnique() {
  if (!storage_ || storage_.use_count() == 1)
    return;
  const PageRaster shared = *this;
  Allocate(width_, height_);
  for (int y = 0; y < height_; ++y)
    std::memcpy(Base() + std::size_t(y) * stride_, shared.Row(y), stride_);
}

void PageRaster::ResetForOverwrite(int width, int height, PixelFormat format) {
  if (!TryResetForOverwrite(width, height, format))
    throw std::bad_alloc();
}

bool PageRaster::TryResetForOverwrite(int width, int height, PixelFormat format) {
  width = NonNegative(width);
  height = NonNegative(height);
  const std::size_t size = std::size_t(width) * std::size_t(BytesPerPixelOf(format)) * height;
  format_ = format;
  if (storage_ && storage_.use_count() == 1 && storage_->Memory.Capacity() >= size) {
    width_ = width;
    height_ = height;
    stride_ = RowBytes();
    offset_ = 0;
    return true;
  }
  storage_.reset();  // returns the old pixels to the pool before taking new ones
  return TryAllocate(width, height);
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
      *this = EmptyOfSize(width_, height_, format_);
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
      *this = EmptyOfSize(width_, height_, format_);
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

PageRaster PageRaster::EmptyOfSize(int width, int height, PixelFormat format) {
  // A raster with no columns or no rows holds no pixels at all; growing it
  // again gives white.
  PageRaster empty;
  empty.width_ = width;
  empty.height_ = height;
  empty.format_ = format;
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
  const std::uint8_t* p = Row(y) + std::size_t(x) * BytesPerPixel();
  if (format_ == PixelFormat::Gray8)
    return MakeColour(p[0], p[0], p[0]);
  return MakeColour(p[2], p[1], p[0]);
}

void PageRaster::AssignFrom(const PageRaster& src) {
  if (&src != this)
    *this = src;
}

void PageRaster::ConvertToColour() {
  if (format_ == PixelFormat::Bgr24)
    return;
  const PageRaster gray = *this;
  format_ = PixelFormat::Bgr24;
  Allocate(width_, height_);
  for (int y = 0; y < height_; ++y)
    ExpandRow(gray.Row(y), Base() + std::size_t(y) * stride_, width_);
}

PageRaster PageRaster::MatchFormats(const PageRaster& src) {
  PageRaster source = src;  // src may share this raster's pixels
  if (source.format_ == format_)
    return source;
  if (format_ == PixelFormat::Gray8)
    ConvertToColour();
  source.ConvertToColour();
  return source;
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
  const PageRaster source = MatchFormats(src);
  const std::size_t bytes = std::size_t(w) * BytesPerPixel();
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
  const PageRaster source = MatchFormats(src);
  const std::size_t bpp = std::size_t(BytesPerPixel());
  for (int j = 0; j < dh; ++j) {
    const int dy = destRect.Top + j;
    const int sy = ys[std::size_t(j)];
    if (dy < 0 || dy >= height_ || sy < 0 || sy >= source.height_)
      continue;
    const std::uint8_t* srcRow = source.Row(sy);
    std::uint8_t* destRow = Row(dy);
    for (const Run& run : runs) {
      std::memmove(destRow + std::size_t(run.DestX) * bpp, srcRow + std::size_t(run.SrcX) * bpp,
                   std::size_t(run.Length) * bpp);
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
  offset_ += std::size_t(n) * BytesPerPixel();
  width_ -= n;
}

}  // namespace pagetrim
