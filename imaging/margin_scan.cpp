// The margin scans, reading the raster's rows directly. Every walk gives the
// same cursor positions as testing one line at a time with PixelAt.
#include "margin_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace pagetrim {

namespace {

// Columns tested together in one pass down the page: sixteen strides. Each
// row's share of the block is one run of bytes, compared at once with a run
// of background and narrowed to the left of the first ink it shows, so a pass
// reads about the cache lines that testing the sixteen stride columns alone
// would.
constexpr int BlockColumns = 16 * StepCoarse;

bool IsPixelColour(ColourValue colour) {
  return colour >= 0 && colour <= 0xFFFFFF;
}

// A row of the page as it would be stored if every pixel were background.
// Not matchable when no stored pixel of the page can have the colour
// (InvalidColour, or a colour that is not gray on a gray page): every pixel
// is then ink.
class BlankRow {
 public:
  BlankRow(const PageRaster& page, ColourValue colour) {
    const auto blue = std::uint8_t(colour >> 16), green = std::uint8_t(colour >> 8),
               red = std::uint8_t(colour);
    matchable_ = IsPixelColour(colour) &&
                 (page.Format() == PixelFormat::Bgr24 || (blue == green && green == red));
    if (!matchable_)
      return;
    bytes_.resize(page.RowBytes());
    if (page.Format() == PixelFormat::Gray8) {
      std::fill(bytes_.begin(), bytes_.end(), blue);
      return;
    }
    for (std::size_t i = 0; i < bytes_.size(); i += 3) {
      bytes_[i] = blue;
      bytes_[i + 1] = green;
      bytes_[i + 2] = red;
    }
  }

  bool Matchable() const { return matchable_; }
  const std::uint8_t* From(std::size_t byte) const { return bytes_.data() + byte; }

 private:
  bool matchable_ = false;
  std::vector<std::uint8_t> bytes_;
};

// Where two runs of n bytes first (last) differ; n (-1) when they are equal.
// Most runs in a margin are equal, and memcmp settles those fastest.
std::size_t FirstDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  if (std::memcmp(a, b, n) == 0)
    return n;
  std::size_t i = 0;
  while (a[i] == b[i])
    ++i;
  return i;
}

std::ptrdiff_t LastDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  if (std::memcmp(a, b, n) == 0)
    return -1;
  std::size_t i = n - 1;
  while (a[i] == b[i])
    --i;
  return std::ptrdiff_t(i);
}

// The ink tests of one direction over a run of lines inside the page; the
// walks handle lines outside it through OutsideInk.
class ColumnLines {
 public:
  ColumnLines(const PageRaster& page, ColourValue background)
      : page_(page),
        background_(background),
        blank_(page, background),
        bpp_(std::size_t(page.BytesPerPixel())) {}

  int Count() const { return page_.Width(); }

  // An outside column reads InvalidColour in every row.
  bool OutsideInk() const { return page_.Height() > 0 && background_ != InvalidColour; }

  // The first (last) column of first ... last that holds ink, or -1.
  int FirstInk(int first, int last) const {
    if (page_.Height() == 0)
      return -1;
    if (!blank_.Matchable())
      return first;
    for (int left = first; left <= last; left = left + std::min(BlockColumns, last - left + 1)) {
      const int hit = FirstInkInBlock(left, std::min(last, left + BlockColumns - 1));
      if (hit >= 0)
        return hit;
    }
    return -1;
  }

  int LastInk(int first, int last) const {
    if (page_.Height() == 0)
      return -1;
    if (!blank_.Matchable())
      return last;
    for (int right = last; right >= first;
         right = right - std::min(BlockColumns, right - first + 1)) {
      const int hit = LastInkInBlock(std::max(first, right - BlockColumns + 1), right);
      if (hit >= 0)
        return hit;
    }
    return -1;
  }

 private:
  // Once a row shows ink in column c, only columns left of c can still be the
  // first ink column, so each row narrows the run the next rows compare.
  int FirstInkInBlock(int left, int right) const {
    int end = right + 1;
    const std::size_t from = std::size_t(left) * bpp_;
    for (int y = 0; y < page_.Height() && end > left; ++y) {
      const std::size_t n = std::size_t(end - left) * bpp_;
      const std::size_t d = FirstDifference(page_.Row(y) + from, blank_.From(from), n);
      if (d < n)
        end = left + int(d / bpp_);
    }
    return end <= right ? end : -1;
  }

  int LastInkInBlock(int left, int right) const {
    int found = -1;
    for (int y = 0, begin = left; y < page_.Height() && begin <= right; ++y) {
      const std::size_t from = std::size_t(begin) * bpp_;
      const std::size_t n = std::size_t(right - begin + 1) * bpp_;
      const std::ptrdiff_t d = LastDifference(page_.Row(y) + from, blank_.From(from), n);
      if (d >= 0) {
        found = begin + int(std::size_t(d) / bpp_);
        begin = found + 1;
      }
    }
    return found;
  }

  const PageRaster& page_;
  ColourValue background_;
  BlankRow blank_;
  std::size_t bpp_;
};

// A row is one contiguous run of bytes, so each test is one compare against
// a row of background.
class RowLines {
 public:
  RowLines(const PageRaster& page, ColourValue background)
      : page_(page), background_(background), blank_(page, background) {}

  int Count() const { return page_.Height(); }

  bool OutsideInk() const { return page_.Width() > 0 && background_ != InvalidColour; }

  int FirstInk(int first, int last) const {
    for (int row = first; row <= last; ++row) {
      if (HasInk(row))
        return row;
    }
    return -1;
  }

  int LastInk(int first, int last) const {
    for (int row = last; row >= first; --row) {
      if (HasInk(row))
        return row;
    }
    return -1;
  }

 private:
  bool HasInk(int row) const {
    if (page_.Width() == 0)
      return false;
    return !blank_.Matchable() ||
           std::memcmp(page_.Row(row), blank_.From(0), page_.RowBytes()) != 0;
  }

  const PageRaster& page_;
  ColourValue background_;
  BlankRow blank_;
};

// The first (last) line of first ... last that holds ink, lines outside the
// page included. Positions are 64-bit, so that a start far outside the page
// cannot overflow; lines outside the page are all blank or all ink.
template <class Lines>
std::optional<std::int64_t> FirstInkIn(const Lines& lines, std::int64_t first, std::int64_t last) {
  const std::int64_t count = lines.Count();
  if (first > last)
    return std::nullopt;
  if (first < 0 && lines.OutsideInk())
    return first;
  const std::int64_t lo = std::max<std::int64_t>(first, 0), hi = std::min(last, count - 1);
  if (lo <= hi) {
    const int hit = lines.FirstInk(int(lo), int(hi));
    if (hit >= 0)
      return hit;
  }
  if (last >= count && lines.OutsideInk())
    return std::max(first, count);
  return std::nullopt;
}

template <class Lines>
std::optional<std::int64_t> LastInkIn(const Lines& lines, std::int64_t first, std::int64_t last) {
  const std::int64_t count = lines.Count();
  if (first > last)
    return std::nullopt;
  if (last >= count && lines.OutsideInk())
    return last;
  const std::int64_t lo = std::max<std::int64_t>(first, 0), hi = std::min(last, count - 1);
  if (lo <= hi) {
    const int hit = lines.LastInk(int(lo), int(hi));
    if (hit >= 0)
      return hit;
  }
  if (first < 0 && lines.OutsideInk())
    return std::min<std::int64_t>(last, -1);
  return std::nullopt;
}

// A stride that meets ink steps back to the line the walk last tested, which
// held none, and the fine walk from there ends on the first ink line the
// stride passed over. So once the start line holds no ink, the walk ends on
// the first ink line after it, and all its strides together read each line
// once: that is what is computed, block by block.
template <class Lines>
MarginScan WalkForward(const Lines& lines, int start) {
  const std::int64_t count = lines.Count();
  const std::int64_t s = start;
  if (s >= count)
    return {start, false};
  if (FirstInkIn(lines, s, s)) {
    // Ink on the start line: one stride back when that stays in the page,
    // then line by line; the start line ends the fine walk at the latest.
    const std::int64_t from = s - StepCoarse >= 0 ? s - StepCoarse : s;
    return {int(*FirstInkIn(lines, from, s)), true};
  }
  if (const auto hit = FirstInkIn(lines, s + 1, count - 1))
    return {int(*hit), true};
  // No ink: the cursor stops at the first stride position past the page.
  return {int(s + StepCoarse * ((count - s + StepCoarse - 1) / StepCoarse)), false};
}

template <class Lines>
MarginScan WalkBackward(const Lines& lines, int start) {
  const std::int64_t count = lines.Count();
  const std::int64_t s = start;
  if (s < 0)
    return {start, false};
  if (LastInkIn(lines, s, s)) {
    const std::int64_t to = s + StepCoarse < count ? s + StepCoarse : s;
    return {int(*LastInkIn(lines, s, to)), true};
  }
  if (const auto hit = LastInkIn(lines, 0, s - 1))
    return {int(*hit), true};
  return {int(s - StepCoarse * (s / StepCoarse + 1)), false};
}

}  // namespace

bool ColumnHasInk(const PageRaster& page, int column, ColourValue background) {
  return FirstInkIn(ColumnLines(page, background), column, column).has_value();
}

bool RowHasInk(const PageRaster& page, int row, ColourValue background) {
  return FirstInkIn(RowLines(page, background), row, row).has_value();
}

MarginScan ScanFromLeft(const PageRaster& page, int startColumn, ColourValue background) {
  return WalkForward(ColumnLines(page, background), startColumn);
}

MarginScan ScanFromRight(const PageRaster& page, int startColumn, ColourValue background) {
  return WalkBackward(ColumnLines(page, background), startColumn);
}

MarginScan ScanFromTop(const PageRaster& page, int startRow, ColourValue background) {
  return WalkForward(RowLines(page, background), startRow);
}

MarginScan ScanFromBottom(const PageRaster& page, int startRow, ColourValue background) {
  return WalkBackward(RowLines(page, background), startRow);
}

}  // namespace pagetrim
