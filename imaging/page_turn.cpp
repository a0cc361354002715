// Turning a page as three shears (along rows, along columns, along rows
// again), streamed row by row: each row of the result needs a band of rows of
// the first shear as high as the page's width climbs, which is kept in a ring;
// nothing else of page size is made besides the result. Each shear is a cubic
// (Catmull-Rom) interpolation whose weights are fixed along a row for the row
// shears and down a column for the column shear, so the loops are plain
// multiply-adds over bytes that the compiler vectorises.
#include "page_turn.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace pagetrim {
namespace {

// Catmull-Rom weights: the inner taps (0 and 1) are never negative and the
// outer ones (-1 and 2) never positive, so a sum is the inner taps' part less
// the outer taps', each of which fits 16 bits: the loops below then work on
// eight or sixteen bytes at a time in 16-bit lanes, even on the oldest x86-64
// processors. A value v enters as v * 128; a weight w as w * 65536, and their
// product is taken by its high half (v * w * 128, rounded down).
struct Taps {
  std::uint16_t Outer0 = 0;  // minus the weight of tap -1
  std::uint16_t Inner0 = 0;  // tap 0
  std::uint16_t Inner1 = 0;  // tap 1
  std::uint16_t Outer1 = 0;  // minus the weight of tap 2
};

// The taps at fraction f of the way from tap 0 to tap 1. The weights sum to
// one exactly, so that flat paper stays flat to the last bit.
Taps CubicTaps(double f) {
  const double scale = 65536.0;
  const long outer0 = std::lround(f * (1 - f) * (1 - f) / 2 * scale);
  const long outer1 = std::lround(f * f * (1 - f) / 2 * scale);
  long inner1 = std::lround((-3 * f * f * f + 4 * f * f + f) / 2 * scale);
  long inner0 = 65536 + outer0 + outer1 - inner1;
  // A whole weight of one (no fraction) is kept a hair below, which the
  // final rounding takes back.
  inner0 = std::min(inner0, 65535L);
  inner1 = std::min(inner1, 65535L);
  return {std::uint16_t(outer0), std::uint16_t(inner0), std::uint16_t(inner1),
          std::uint16_t(outer1)};
}

// The two loops below run on every byte of a turned page three times: on
// x86-64 they are also built for AVX2, whose lanes are twice as wide, and the
// processor's own is picked when the program starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PAGETRIM_WIDE_LANES __attribute__((target_clones("avx2", "default")))
#else
#define PAGETRIM_WIDE_LANES
#endif

inline std::uint16_t Times(std::uint8_t value, std::uint16_t weight) {
  return std::uint16_t((std::uint32_t(value << 7) * weight) >> 16);
}

inline std::uint8_t Tapped(std::uint8_t v0, std::uint8_t v1, std::uint8_t v2, std::uint8_t v3,
                           std::uint16_t o0, std::uint16_t i0, std::uint16_t i1, std::uint16_t o1) {
  const std::uint16_t inner = std::uint16_t(Times(v1, i0) + Times(v2, i1));
  const std::uint16_t outer = std::uint16_t(Times(v0, o0) + Times(v3, o1));
  // Overshoot below black stops at black, above white at white.
  const std::uint16_t sum = inner > outer ? std::uint16_t(inner - outer) : std::uint16_t(0);
  const std::uint16_t rounded = std::uint16_t((sum + 64) >> 7);
  return std::uint8_t(rounded > 255 ? 255 : rounded);
}

// n bytes of out from four taps stride bytes apart, with fixed weights.
PAGETRIM_WIDE_LANES void ShearAlong(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                    std::size_t n, std::size_t stride, const Taps& taps) {
  const std::uint8_t* __restrict p0 = in;
  const std::uint8_t* __restrict p1 = in + stride;
  const std::uint8_t* __restrict p2 = in + 2 * stride;
  const std::uint8_t* __restrict p3 = in + 3 * stride;
  const std::uint16_t o0 = taps.Outer0, i0 = taps.Inner0, i1 = taps.Inner1, o1 = taps.Outer1;
  for (std::size_t i = 0; i < n; ++i)
    out[i] = Tapped(p0[i], p1[i], p2[i], p3[i], o0, i0, i1, o1);
}

// Weights per byte, for the column shear.
struct TapRows {
  std::vector<std::uint16_t> Outer0, Inner0, Inner1, Outer1;
};

// n bytes of out from the same bytes of four rows, with weights per byte.
PAGETRIM_WIDE_LANES void ShearAcross(
    const std::uint8_t* __restrict r0, const std::uint8_t* __restrict r1,
    const std::uint8_t* __restrict r2, const std::uint8_t* __restrict r3,
    const std::uint16_t* __restrict o0, const std::uint16_t* __restrict i0,
    const std::uint16_t* __restrict i1, const std::uint16_t* __restrict o1,
    std::uint8_t* __restrict out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    out[i] = Tapped(r0[i], r1[i], r2[i], r3[i], o0[i], i0[i], i1[i], o1[i]);
}

void Fill(std::uint8_t* out, std::size_t pixels, const std::uint8_t* fill, int channels) {
  if (channels == 1) {
    std::memset(out, fill[0], pixels);
    return;
  }
  for (std::size_t i = 0; i < pixels; ++i)
    std::memcpy(out + 3 * i, fill, 3);
}

bool IsBitonal(const PageRaster& page) {
  if (page.Format() != PixelFormat::Gray8)
    return false;
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* row = page.Row(y);
    // Bytes that are neither 0 nor 255 make 1 to 254 after adding 255.
    std::uint8_t odd = 0;
    for (int x = 0; x < page.Width(); ++x)
      odd |= std::uint8_t(std::uint8_t(row[x] + 1) > 1);
    if (odd)
      return false;
  }
  return true;
}

}  // namespace

PageTurn::PageTurn(int width, int height, double degrees)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      degrees_(degrees),
      cos_(std::cos(degrees * std::numbers::pi / 180.0)),
      sin_(std::sin(degrees * std::numbers::pi / 180.0)),
      turnedWidth_(width_),
      turnedHeight_(height_) {
  if (degrees == 0 || width_ == 0 || height_ == 0) {
    cos_ = 1;
    sin_ = 0;
    return;
  }
  // The turned page's bounding box, grown by whole pixels on both sides
  // alike so that the page's centre stays on the same point of a pixel, and
  // by one pixel more for the interpolation's reach beyond the page's edge.
  const double c = std::abs(cos_), s = std::abs(sin_);
  auto grown = [](int side, double bound) {
    const double extra = std::max(0.0, bound - side);
    return side + 2 * int(std::ceil(extra / 2 - 1e-9)) + 2;
  };
  turnedWidth_ = grown(width_, width_ * c + height_ * s);
  turnedHeight_ = grown(height_, width_ * s + height_ * c);
}

PagePoint PageTurn::ToTurned(PagePoint p) const {
  const double x = p.X - width_ / 2.0, y = p.Y - height_ / 2.0;
  return {cos_ * x + sin_ * y + turnedWidth_ / 2.0, -sin_ * x + cos_ * y + turnedHeight_ / 2.0};
}

PagePoint PageTurn::ToPage(PagePoint p) const {
  const double x = p.X - turnedWidth_ / 2.0, y = p.Y - turnedHeight_ / 2.0;
  return {cos_ * x - sin_ * y + width_ / 2.0, sin_ * x + cos_ * y + height_ / 2.0};
}

Rect PageTurn::TurnedBox(const Rect& box) const {
  if (box.Width() <= 0 || box.Height() <= 0)
    return {};
  double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
  for (const PagePoint corner :
       {PagePoint{double(box.Left), double(box.Top)}, PagePoint{double(box.Right), double(box.Top)},
        PagePoint{double(box.Left), double(box.Bottom)},
        PagePoint{double(box.Right), double(box.Bottom)}}) {
    const PagePoint q = ToTurned(corner);
    left = std::min(left, q.X);
    top = std::min(top, q.Y);
    right = std::max(right, q.X);
    bottom = std::max(bottom, q.Y);
  }
  // A hair of slack, so that a corner computed a rounding error past a
  // pixel's edge does not take in the next pixel.
  constexpr double Slack = 1e-6;
  return {std::max(0, int(std::floor(left + Slack))), std::max(0, int(std::floor(top + Slack))),
          std::min(turnedWidth_, int(std::ceil(right - Slack))),
          std::min(turnedHeight_, int(std::ceil(bottom - Slack)))};
}

PageRaster TurnPage(const PageRaster& page, double degrees, const TurnOptions& options) {
  if (!std::isfinite(degrees) || std::abs(degrees) > MaxTurnDegrees)
    throw std::invalid_argument("TurnPage: a page is turned by at most 45 degrees either way");
  if (degrees == 0 || page.IsEmpty()) {
    if (options.RowsTurned && !page.IsEmpty())
      options.RowsTurned(page, 0, page.Height());
    return page;
  }
  const PageTurn turn(page.Width(), page.Height(), degrees);
  const int w = page.Width(), h = page.Height();
  const int turnedW = turn.Width(), turnedH = turn.Height();
  const int ch = page.BytesPerPixel();
  const bool bitonal = IsBitonal(page);
  std::uint8_t fill[3];
  {
    const int red = options.Fill & 0xFF, green = (options.Fill >> 8) & 0xFF,
              blue = (options.Fill >> 16) & 0xFF;
    if (ch == 3) {
      fill[0] = std::uint8_t(blue), fill[1] = std::uint8_t(green), fill[2] = std::uint8_t(red);
    } else {
      const int gray = (red + green + blue) / 3;
      fill[0] = fill[1] = fill[2] = std::uint8_t(bitonal ? (gray < 128 ? 0 : 255) : gray);
    }
  }

  // Forward, about the centres: x1 = x + a y; y2 = y + b x1; x3 = x1 + a y2,
  // which together turn by the angle. Each shear is made backwards: every
  // pixel it makes is read from where it came from.
  const double angle = degrees * std::numbers::pi / 180.0;
  const double a = std::tan(angle / 2), b = -std::sin(angle);
  // The first shear's canvas: wide enough for every column the last shear
  // reads (and so for the sheared page), with room for the cubic's taps.
  const int sheared = turnedW + 2 * int(std::ceil(std::abs(a) * turnedH / 2)) + 8;
  const std::size_t shearedBytes = std::size_t(sheared) * ch;

  // The column shear: stage-two pixel (u, y) reads rows y + rowShift[u] - 1
  // .. + 2 of stage one, with weights fixed per column, kept per byte.
  std::vector<int> rowShift(static_cast<std::size_t>(sheared));
  TapRows columnTaps;
  for (auto* weights :
       {&columnTaps.Outer0, &columnTaps.Inner0, &columnTaps.Inner1, &columnTaps.Outer1})
    weights->resize(shearedBytes);
  for (int u = 0; u < sheared; ++u) {
    const double t = (h - turnedH) / 2.0 - b * (u + 0.5 - sheared / 2.0);
    const double k = std::floor(t);
    rowShift[std::size_t(u)] = int(k);
    const Taps taps = CubicTaps(t - k);
    const std::ptrdiff_t at = std::ptrdiff_t(u) * ch;
    std::fill_n(columnTaps.Outer0.begin() + at, ch, taps.Outer0);
    std::fill_n(columnTaps.Inner0.begin() + at, ch, taps.Inner0);
    std::fill_n(columnTaps.Inner1.begin() + at, ch, taps.Inner1);
    std::fill_n(columnTaps.Outer1.begin() + at, ch, taps.Outer1);
  }
  const auto [leastShift, mostShift] = std::minmax_element(rowShift.begin(), rowShift.end());
  // Runs of columns that read the same rows: the first column of each, and
  // the end.
  std::vector<int> runStarts;
  for (int u = 0; u < sheared; ++u) {
    if (u == 0 || rowShift[std::size_t(u)] != rowShift[std::size_t(u - 1)])
      runStarts.push_back(u);
  }
  runStarts.push_back(sheared);
  const int ringRows = *mostShift - *leastShift + 4;

  // Stage-one rows, by source row: rows off the page are all fill.
  std::vector<std::uint8_t> fillRow(shearedBytes);
  Fill(fillRow.data(), std::size_t(sheared), fill, ch);
  std::vector<std::uint8_t> ring(std::size_t(ringRows) * shearedBytes);
  std::vector<int> ringHolds(std::size_t(ringRows), -1);  // the source row each slot holds
  // A source row with four pixels of fill on either side, for the taps.
  constexpr int Pad = 4;
  std::vector<std::uint8_t> padded(std::size_t(w + 2 * Pad) * ch);
  Fill(padded.data(), Pad, fill, ch);
  Fill(padded.data() + std::size_t(w + Pad) * ch, Pad, fill, ch);
  auto stageOne = [&](int y) -> const std::uint8_t* {
    if (y < 0 || y >= h)
      return fillRow.data();
    const std::size_t slot = std::size_t(y % ringRows);
    std::uint8_t* row = ring.data() + slot * shearedBytes;
    if (ringHolds[slot] == y)
      return row;
    ringHolds[slot] = y;
    std::memcpy(padded.data() + std::size_t(Pad) * ch, page.Row(y), page.RowBytes());
    // Stage-one pixel u reads the source at u + t.
    const double t = (w - sheared) / 2.0 - a * (y + 0.5 - h / 2.0);
    const int k = int(std::floor(t));
    const Taps taps = CubicTaps(t - k);
    // Where the taps (u + k - 1 .. u + k + 2) touch the page.
    const int from = std::clamp(-k - 2, 0, sheared), to = std::clamp(w + 1 - k, from, sheared);
    std::memcpy(row, fillRow.data(), std::size_t(from) * ch);
    ShearAlong(padded.data() + std::ptrdiff_t(from + k - 1 + Pad) * ch,
               row + std::size_t(from) * ch, std::size_t(to - from) * ch, std::size_t(ch), taps);
    std::memcpy(row + std::size_t(to) * ch, fillRow.data(), std::size_t(sheared - to) * ch);
    return row;
  };

  PageRaster turned;
  turned.ResetForOverwrite(turnedW, turnedH, page.Format());
  std::vector<std::uint8_t> stageTwo(shearedBytes);
  constexpr int RowsPerCall = 16;
  int reported = 0;
  for (int y = 0; y < turnedH; ++y) {
    // The last shear reads stage two at x + t for turned pixel x.
    const double t = (sheared - turnedW) / 2.0 - a * (y + 0.5 - turnedH / 2.0);
    const int k = int(std::floor(t));
    const int from = std::max(0, k - 1), to = std::min(sheared, k + turnedW + 3);
    // Stage two over those columns, run by run of columns that read the
    // same rows of stage one.
    std::size_t run = std::size_t(std::upper_bound(runStarts.begin(), runStarts.end(), from) -
                                  runStarts.begin() - 1);
    for (int u = from; u < to; ++run) {
      const int shift = rowShift[std::size_t(u)];
      const int end = std::min(to, runStarts[run + 1]);
      const std::size_t at = std::size_t(u) * ch, n = std::size_t(end - u) * ch;
      const std::uint8_t* rows[4];
      for (int j = 0; j < 4; ++j)
        rows[j] = stageOne(y + shift - 1 + j) + at;
      ShearAcross(rows[0], rows[1], rows[2], rows[3], columnTaps.Outer0.data() + at,
                  columnTaps.Inner0.data() + at, columnTaps.Inner1.data() + at,
                  columnTaps.Outer1.data() + at, stageTwo.data() + at, n);
      u = end;
    }
    std::uint8_t* out = turned.Row(y);
    ShearAlong(stageTwo.data() + std::ptrdiff_t(k - 1) * ch, out, std::size_t(turnedW) * ch,
               std::size_t(ch), CubicTaps(t - k));
    if (bitonal) {
      for (int x = 0; x < turnedW; ++x)
        out[x] = out[x] < 128 ? 0 : 255;
    }
    if (options.RowsTurned && (y + 1 - reported == RowsPerCall || y + 1 == turnedH)) {
      options.RowsTurned(turned, reported, y + 1 - reported);
      reported = y + 1;
    }
  }
  return turned;
}

ColourValue PaperColour(const PageReduction& reduction) {
  const std::size_t cells = std::size_t(reduction.Width()) * reduction.Height();
  const int channels = reduction.Channels();
  if (cells == 0 || reduction.Mean().size() < cells * channels)
    return MakeColour(255, 255, 255);
  const std::uint8_t* mean = reduction.Mean().data();
  std::vector<int> histogram(std::size_t(255 * channels + 1), 0);
  for (std::size_t i = 0; i < cells; ++i) {
    int sum = 0;
    for (int c = 0; c < channels; ++c)
      sum += mean[c * cells + i];
    ++histogram[std::size_t(sum)];
  }
  int low = 0, high = 255 * channels;
  long seen = 0;
  for (int v = 0; v <= 255 * channels; ++v) {
    seen += histogram[std::size_t(v)];
    if (seen < 0.6 * double(cells))
      low = v + 1;
    if (seen < 0.95 * double(cells))
      high = v + 1;
  }
  std::array<double, 3> total{};
  long counted = 0;
  for (std::size_t i = 0; i < cells; ++i) {
    int sum = 0;
    for (int c = 0; c < channels; ++c)
      sum += mean[c * cells + i];
    if (sum < low || sum > high)
      continue;
    for (int c = 0; c < channels; ++c)
      total[std::size_t(c)] += mean[c * cells + i];
    ++counted;
  }
  auto level = [&](int c) { return std::uint8_t(std::lround(total[std::size_t(c)] / counted)); };
  if (channels == 1) {
    const std::uint8_t g = level(0);
    return MakeColour(g, g, g);
  }
  return MakeColour(level(2), level(1), level(0));  // planes lie blue, green, red
}

}  // namespace pagetrim
