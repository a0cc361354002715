// Plain references for the margin scans: every pixel read with PixelAt, one
// line at a time, in the order the walks fix.
#pragma once

#include <cstdint>
#include <functional>

#include "margin_scan.h"
#include "page_raster.h"

namespace pagetrim::test {

inline void Put(PageRaster& page, int x, int y, ColourValue colour) {
  std::uint8_t* p = page.Row(y) + x * 3;
  p[0] = std::uint8_t(colour >> 16);
  p[1] = std::uint8_t(colour >> 8);
  p[2] = std::uint8_t(colour);
}

inline void Block(PageRaster& page, int left, int top, int right, int bottom, ColourValue colour) {
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x)
      Put(page, x, y, colour);
  }
}

inline bool RefColumnInk(const PageRaster& page, int column, ColourValue background) {
  for (int y = 0; y < page.Height(); ++y) {
    if (page.PixelAt(column, y) != background)
      return true;
  }
  return false;
}

inline bool RefRowInk(const PageRaster& page, int row, ColourValue background) {
  for (int x = 0; x < page.Width(); ++x) {
    if (page.PixelAt(x, row) != background)
      return true;
  }
  return false;
}

// Strides of 20 until ink, one stride back if that stays at or after line 0,
// then one line at a time.
inline MarginScan RefForward(const std::function<bool(int)>& ink, int count, int start) {
  int cursor = start;
  while (cursor < count) {
    if (ink(cursor)) {
      if (cursor - 20 >= 0)
        cursor -= 20;
      break;
    }
    cursor += 20;
  }
  for (; cursor < count; ++cursor) {
    if (ink(cursor))
      return {cursor, true};
  }
  return {cursor, false};
}

// The same walk from the end: one stride back if that stays before count.
inline MarginScan RefBackward(const std::function<bool(int)>& ink, int count, int start) {
  int cursor = start;
  while (cursor >= 0) {
    if (ink(cursor)) {
      if (cursor + 20 < count)
        cursor += 20;
      break;
    }
    cursor -= 20;
  }
  for (; cursor >= 0; --cursor) {
    if (ink(cursor))
      return {cursor, true};
  }
  return {cursor, false};
}

}  // namespace pagetrim::test
