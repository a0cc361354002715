// Plain references for the margin scans: every pixel read with PixelAt, one
// line at a time, in the order the walks fix, and the earlier walk that
// tested only the lines its strides landed on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

#include "margin_scan.h"
#include "page_raster.h"

namespace pagetrim::test {

// On a gray raster the colour's red stands for all three.
inline void Put(PageRaster& page, int x, int y, ColourValue colour) {
  if (page.Format() == PixelFormat::Gray8) {
    page.Row(y)[x] = std::uint8_t(colour);
    return;
  }
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

// Strides of 20 until a stride meets ink: the start line holds ink, or a
// line the stride passes over does (those before the last line, when it runs
// past it). Then one stride back (from the start line only when that stays
// at or after line 0) and one line at a time.
inline MarginScan RefForward(const std::function<bool(int)>& ink, int count, int start) {
  int cursor = start;
  if (cursor >= count)
    return {cursor, false};
  if (ink(cursor)) {
    if (cursor - 20 >= 0)
      cursor -= 20;
  } else {
    bool met = false;
    while (!met && cursor < count) {
      const int previous = cursor;
      cursor += 20;
      for (int line = previous + 1; line <= cursor && line < count; ++line)
        met = met || ink(line);
      if (met)
        cursor = previous;
    }
    if (!met)
      return {cursor, false};
  }
  for (; cursor < count; ++cursor) {
    if (ink(cursor))
      return {cursor, true};
  }
  return {cursor, false};
}

// The same walk from the end: one stride back from the start line if that
// stays before count.
inline MarginScan RefBackward(const std::function<bool(int)>& ink, int count, int start) {
  int cursor = start;
  if (cursor < 0)
    return {cursor, false};
  if (ink(cursor)) {
    if (cursor + 20 < count)
      cursor += 20;
  } else {
    bool met = false;
    while (!met && cursor >= 0) {
      const int previous = cursor;
      cursor -= 20;
      for (int line = previous - 1; line >= cursor && line >= 0; --line)
        met = met || ink(line);
      if (met)
        cursor = previous;
    }
    if (!met)
      return {cursor, false};
  }
  for (; cursor >= 0; --cursor) {
    if (ink(cursor))
      return {cursor, true};
  }
  return {cursor, false};
}

// The earlier walk, which tested only the lines its strides landed on and so
// could step over a thin line of ink; its results must stand wherever it
// stepped over none. It reports whether it did: ink on a line strictly
// between a start without ink and where the walk ended.
struct StrideOnlyScan {
  MarginScan Scan;
  bool SteppedOverInk = false;
};

inline StrideOnlyScan StrideOnlyForward(const std::function<bool(int)>& ink, int count, int start) {
  int cursor = start;
  while (cursor < count) {
    if (ink(cursor)) {
      if (cursor - 20 >= 0)
        cursor -= 20;
      break;
    }
    cursor += 20;
  }
  for (; cursor < count && !ink(cursor); ++cursor) {
  }
  StrideOnlyScan result{{cursor, cursor < count}, false};
  for (int line = start + 1; line < std::min(cursor, count) && !ink(start); ++line)
    result.SteppedOverInk = result.SteppedOverInk || ink(line);
  return result;
}

inline StrideOnlyScan StrideOnlyBackward(const std::function<bool(int)>& ink, int count,
                                         int start) {
  int cursor = start;
  while (cursor >= 0) {
    if (ink(cursor)) {
      if (cursor + 20 < count)
        cursor += 20;
      break;
    }
    cursor -= 20;
  }
  for (; cursor >= 0 && !ink(cursor); --cursor) {
  }
  StrideOnlyScan result{{cursor, cursor >= 0}, false};
  for (int line = start - 1; line > std::max(cursor, -1) && !ink(start); --line)
    result.SteppedOverInk = result.SteppedOverInk || ink(line);
  return result;
}

}  // namespace pagetrim::test
