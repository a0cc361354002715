// The margin scans, reading the raster's rows directly. Every walk gives the
// same cursor positions as testing one line at a time with PixelAt.
#include "margin_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace pagetrim {

namespace {

// Stride positions tested together in one pass down the page. A column test
// touches one cache line per row, so testing several positions per row reads
// neighbouring lines together instead of walking the whole page once per
// position.
constexpr int CoarseBlock = 16;

bool IsPixelColour(ColourValue colour) {
  return colour >= 0 && colour <= 0xFFFFFF;
}

// The background's bytes in stored order: blue, green, red, or one gray byte.
// Matchable is false when no stored pixel of the page can have the colour
// (InvalidColour, or a colour that is not gray on a gray page): every pixel
// is then ink.
struct StoredPixel {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  bool Matchable = false;

  StoredPixel(ColourValue colour, PixelFormat format)
      : Blue(std::uint8_t(colour >> 16)),
        Green(std::uint8_t(colour >> 8)),
        Red(std::uint8_t(colour)),
        Matchable(IsPixelColour(colour) &&
                  (format == PixelFormat::Bgr24 || (Blue == Green && Green == Red))) {}

  bool Differs(const std::uint8_t* p, std::integral_constant<int, 3>) const {
    return ((p[0] ^ Blue) | (p[1] ^ Green) | (p[2] ^ Red)) != 0;
  }
  bool Differs(const std::uint8_t* p, std::integral_constant<int, 1>) const { return *p != Blue; }
};

// The ink tests of one direction. Positions passed to FirstInk lie inside the
// page; the walks handle lines outside it through OutsideInk.
class ColumnLines {
 public:
  ColumnLines(const PageRaster& page, ColourValue background)
      : page_(page), background_(background), pixel_(background, page.Format()) {}

  int Count() const { return page_.Width(); }

  // An outside column reads InvalidColour in every row.
  bool OutsideInk() const { return page_.Height() > 0 && background_ != InvalidColour; }

  // Index of the first of the count columns position, position + step, ...
  // that holds ink, or -1.
  int FirstInk(int position, int step, int count) const {
    if (count <= 0 || page_.Height() == 0)
      return -1;
    if (!pixel_.Matchable)
      return 0;
    if (page_.Format() == PixelFormat::Gray8)
      return FirstInkIn(position, step, count, std::integral_constant<int, 1>());
    return FirstInkIn(position, step, count, std::integral_constant<int, 3>());
  }

 private:
  // The columns are tested side by side, row by row; only the earliest ink
  // column matters, so each row narrows the columns still worth testing.
  template <int Bpp>
  int FirstInkIn(int position, int step, int count, std::integral_constant<int, Bpp> bpp) const {
    const std::ptrdiff_t stepBytes = std::ptrdiff_t(step) * Bpp;
    int limit = count;
    for (int y = 0; y < page_.Height(); ++y) {
      const std::uint8_t* p = page_.Row(y) + std::size_t(position) * Bpp;
      for (int i = 0; i < limit; ++i, p += stepBytes) {
        if (pixel_.Differs(p, bpp)) {
          limit = i;
          break;
        }
      }
      if (limit == 0)
        return 0;
    }
    return limit < count ? limit : -1;
  }

  const PageRaster& page_;
  ColourValue background_;
  StoredPixel pixel_;
};

class RowLines {
 public:
  RowLines(const PageRaster& page, ColourValue background)
      : page_(page), background_(background), pixel_(background, page.Format()) {
    if (pixel_.Matchable && page.Width() > 0) {
      blankRow_.resize(page.RowBytes());
      if (page.Format() == PixelFormat::Gray8) {
        std::memset(blankRow_.data(), pixel_.Blue, blankRow_.size());
      } else {
        for (std::size_t i = 0; i < blankRow_.size(); i += 3) {
          blankRow_[i] = pixel_.Blue;
          blankRow_[i + 1] = pixel_.Green;
          blankRow_[i + 2] = pixel_.Red;
        }
      }
    }
  }

  int Count() const { return page_.Height(); }

  bool OutsideInk() const { return page_.Width() > 0 && background_ != InvalidColour; }

  // A row is one contiguous run of bytes, so each test is one compare
  // against a row of background.
  int FirstInk(int position, int step, int count) const {
    if (count <= 0 || page_.Width() == 0)
      return -1;
    if (!pixel_.Matchable)
      return 0;
    for (int i = 0; i < count; ++i) {
      const int row = position + i * step;
      if (std::memcmp(page_.Row(row), blankRow_.data(), blankRow_.size()) != 0)
        return i;
    }
    return -1;
  }

 private:
  const PageRaster& page_;
  ColourValue background_;
  StoredPixel pixel_;
  std::vector<std::uint8_t> blankRow_;
};

template <class Lines>
bool LineHasInk(const Lines& lines, int position) {
  if (position < 0 || position >= lines.Count())
    return lines.OutsideInk();
  return lines.FirstInk(position, 1, 1) == 0;
}

// Cursor arithmetic is done in 64 bits so that a start far outside the page
// cannot overflow; stretches outside the page are all blank or all ink, so
// they are stepped over in one move rather than stride by stride.
template <class Lines>
MarginScan WalkForward(const Lines& lines, int start) {
  const std::int64_t count = lines.Count();
  std::int64_t cursor = start;
  std::int64_t inkAt = 0;
  bool coarseHit = false;
  while (cursor < count) {
    if (cursor < 0) {
      if (lines.OutsideInk()) {
        inkAt = cursor;  // stepping back would leave the page
        coarseHit = true;
        break;
      }
      cursor += StepCoarse * ((-cursor + StepCoarse - 1) / StepCoarse);
      continue;
    }
    const std::int64_t n =
        std::min<std::int64_t>(CoarseBlock, (count - 1 - cursor) / StepCoarse + 1);
    const int hit = lines.FirstInk(int(cursor), StepCoarse, int(n));
    if (hit < 0) {
      cursor += StepCoarse * n;
      continue;
    }
    cursor += std::int64_t(StepCoarse) * hit;
    inkAt = cursor;
    coarseHit = true;
    if (cursor - StepCoarse >= 0)
      cursor -= StepCoarse;
    break;
  }
  if (!coarseHit)
    return {int(cursor), false};
  // The fine walk ends at the stride position that held ink at the latest.
  if (cursor < inkAt) {
    const int hit = lines.FirstInk(int(cursor), 1, int(inkAt - cursor));
    if (hit >= 0)
      return {int(cursor + hit), true};
  }
  return {int(inkAt), true};
}

template <class Lines>
MarginScan WalkBackward(const Lines& lines, int start) {
  const std::int64_t count = lines.Count();
  std::int64_t cursor = start;
  std::int64_t inkAt = 0;
  bool coarseHit = false;
  while (cursor >= 0) {
    if (cursor >= count) {
      if (lines.OutsideInk()) {
        inkAt = cursor;
        coarseHit = true;
        break;
      }
      cursor -= StepCoarse * ((cursor - count) / StepCoarse + 1);
      continue;
    }
    const std::int64_t n = std::min<std::int64_t>(CoarseBlock, cursor / StepCoarse + 1);
    const int hit = lines.FirstInk(int(cursor), -StepCoarse, int(n));
    if (hit < 0) {
      cursor -= StepCoarse * n;
      continue;
    }
    cursor -= std::int64_t(StepCoarse) * hit;
    inkAt = cursor;
    coarseHit = true;
    if (cursor + StepCoarse < count)
      cursor += StepCoarse;
    break;
  }
  if (!coarseHit)
    return {int(cursor), false};
  if (cursor > inkAt) {
    const int hit = lines.FirstInk(int(cursor), -1, int(cursor - inkAt));
    if (hit >= 0)
      return {int(cursor - hit), true};
  }
  return {int(inkAt), true};
}

}  // namespace

bool ColumnHasInk(const PageRaster& page, int column, ColourValue background) {
  return LineHasInk(ColumnLines(page, background), column);
}

bool RowHasInk(const PageRaster& page, int row, ColourValue background) {
  return LineHasInk(RowLines(page, background), row);
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
