// Drawing realistic pages: the paper and the facing page's strip, then the
// content (recorded pixel by pixel), then what the scanner and the paper add
// over it, and last the page's pixel format.
#include "support/realistic_page.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace pagetrim::test {

namespace {

struct Bgr {
  int B = 255, G = 255, R = 255;
};

Bgr GrayInk(int level) {
  level = std::clamp(level, 0, 255);
  return {level, level, level};
}

class Canvas {
 public:
  Canvas(int width, int height, Bgr paper)
      : Width(width),
        Height(height),
        pixels_(std::size_t(width) * std::size_t(height), paper),
        content_(std::size_t(width) * std::size_t(height), 0) {}

  const int Width;
  const int Height;

  bool Inside(int x, int y) const { return x >= 0 && x < Width && y >= 0 && y < Height; }
  Bgr& At(int x, int y) { return pixels_[Index(x, y)]; }
  std::uint8_t& ContentAt(int x, int y) { return content_[Index(x, y)]; }

  void Paint(int x, int y, Bgr colour) {
    if (Inside(x, y))
      At(x, y) = colour;
  }
  void Ink(int x, int y, Bgr colour) {
    if (!Inside(x, y))
      return;
    At(x, y) = colour;
    ContentAt(x, y) = 1;
  }
  void InkRect(int left, int top, int right, int bottom, Bgr colour) {
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x)
        Ink(x, y, colour);
    }
  }
  // Distance of (x, y) from the page edge on side, 0 on the edge's own line.
  int FromEdge(int x, int y, PageSide side) const {
    switch (side) {
      case PageSide::Left:
        return x;
      case PageSide::Top:
        return y;
      case PageSide::Right:
        return Width - 1 - x;
      case PageSide::Bottom:
        return Height - 1 - y;
    }
    return 0;
  }
  // Position along the edge of side.
  static int AlongEdge(int x, int y, PageSide side) {
    return side == PageSide::Left || side == PageSide::Right ? y : x;
  }

  std::vector<std::uint8_t> TakeContent() { return std::move(content_); }

 private:
  std::size_t Index(int x, int y) const { return std::size_t(y) * std::size_t(Width) + x; }

  std::vector<Bgr> pixels_;
  std::vector<std::uint8_t> content_;
};

class Painter {
 public:
  Painter(const RealisticPageOptions& o, Canvas& canvas) : o_(o), c_(canvas) {}

  // Each drawing step draws its own random numbers, so that turning one
  // difficulty on leaves everything else as it was.
  void Step(unsigned step) { rng_.seed(o_.Seed * 1000003u + step); }

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  Bgr TextInk() { return GrayInk(o_.TextGray + Uniform(-6, 6)); }

  // A glyph-like blob of 2-px strokes whose left stem is its first column;
  // top is the top of the x-height band. Its width, or 0 when it does not fit.
  int Glyph(int x, int top, int right, int kind, Bgr ink, bool mark) {
    const int h = o_.GlyphHeight;
    const int w = kind == 2 ? 3 : Uniform(4, 8);
    if (x + w > right)
      return 0;
    auto stroke = [&](int l, int t, int r, int b) {
      for (int y = t; y < b; ++y) {
        for (int xx = l; xx < r; ++xx) {
          if (mark)
            c_.Ink(xx, y, ink);
          else
            c_.Paint(xx, y, ink);
        }
      }
    };
    switch (kind) {
      case 0:  // n
        stroke(x, top, x + 2, top + h);
        stroke(x + w - 2, top, x + w, top + h);
        stroke(x, top, x + w, top + 2);
        break;
      case 1:  // o
        stroke(x, top, x + 2, top + h);
        stroke(x + w - 2, top, x + w, top + h);
        stroke(x, top, x + w, top + 2);
        stroke(x, top + h - 2, x + w, top + h);
        break;
      case 2:  // l, with an ascender
        stroke(x, top - 4, x + 2, top + h);
        break;
      case 3:  // p, with a descender
        stroke(x, top, x + 2, top + h + 4);
        stroke(x + w - 2, top, x + w, top + h / 2 + 1);
        stroke(x, top, x + w, top + 2);
        stroke(x, top + h / 2, x + w, top + h / 2 + 2);
        break;
      default:  // e
        stroke(x, top, x + 2, top + h);
        stroke(x, top, x + w, top + 2);
        stroke(x, top + h / 2 - 1, x + w, top + h / 2 + 1);
        stroke(x, top + h - 2, x + w, top + h);
        break;
    }
    return w;
  }

  // Words of glyphs from left to at most right; the first glyph starts at left.
  void TextLine(int left, int right, int top, bool mark, int firstKind = -1) {
    int x = left;
    bool first = true;
    while (x < right) {
      const int glyphs = Uniform(1, 7);
      for (int g = 0; g < glyphs; ++g) {
        const int kind = first && firstKind >= 0 ? firstKind : Uniform(0, 4);
        first = false;
        const int w = Glyph(x, top, right, kind, TextInk(), mark);
        if (w == 0)
          return;
        x += w + Uniform(1, 2);
      }
      x += Uniform(5, 8);
    }
  }

  void Text() {
    const int blockRight = c_.Width - o_.MarginRight;
    const int gap = 24;
    const int columns = std::clamp(o_.Columns, 1, 2);
    const int columnWidth = (blockRight - o_.MarginLeft - (columns - 1) * gap) / columns;
    for (int col = 0; col < columns; ++col) {
      const int left = o_.MarginLeft + col * (columnWidth + gap);
      const int right = col == columns - 1 ? blockRight : left + columnWidth;
      int line = 0;
      for (int y = o_.MarginTop; y + o_.GlyphHeight + 8 <= c_.Height - o_.MarginBottom;
           y += o_.LineHeight, ++line) {
        if (line % 9 == 8)
          continue;  // between paragraphs
        const int end = line % 9 == 7 ? left + (right - left) * Uniform(30, 80) / 100 : right;
        // The block's first line starts with an ascender in its top-left corner.
        TextLine(left, end, y + 4, true, line == 0 ? 2 : -1);
      }
    }
  }

  void Rules() {
    const int left = o_.MarginLeft, right = c_.Width - o_.MarginRight;
    const int top = o_.MarginTop, bottom = c_.Height - o_.MarginBottom;
    const Bgr ink = GrayInk(o_.TextGray);
    if (o_.HorizontalRule > 0) {
      const int y = o_.HorizontalRuleAt >= 0 ? o_.HorizontalRuleAt : top - 12 - o_.HorizontalRule;
      c_.InkRect(left, y, right, y + o_.HorizontalRule, ink);
    }
    if (o_.VerticalRule > 0) {
      const int between = left + (right - left) / 2 - o_.VerticalRule / 2;
      const int x = o_.VerticalRuleAt >= 0 ? o_.VerticalRuleAt
                    : o_.Columns == 2      ? between
                                           : left - 14 - o_.VerticalRule;
      c_.InkRect(x, top, x + o_.VerticalRule, bottom, ink);
    }
    if (o_.DottedRule && o_.DottedRuleVertical) {
      const int x = o_.DottedRuleAt >= 0 ? o_.DottedRuleAt : left - 12;
      for (int y = top; y < bottom; y += 6)
        c_.InkRect(x, y, x + 2, y + 2, ink);
    } else if (o_.DottedRule) {
      const int y = o_.DottedRuleAt >= 0 ? o_.DottedRuleAt : bottom + 10;
      for (int x = left; x < right; x += 6)
        c_.InkRect(x, y, x + 2, y + 2, ink);
    }
  }

  void PageNumber() {
    const int n = o_.PageNumberDigits;
    if (n <= 0)
      return;
    const int width = 7 * n + 3 * (n - 1);
    const int x0 = o_.PageNumberX >= 0 ? o_.PageNumberX : (c_.Width - width) / 2;
    const int y0 = o_.PageNumberY >= 0 ? o_.PageNumberY : c_.Height - o_.MarginBottom / 2 - 5;
    const Bgr ink = GrayInk(o_.TextGray);
    for (int d = 0, x = x0; d < n; ++d, x += 10) {
      switch (Uniform(0, 2)) {
        case 0:  // 0
          c_.InkRect(x, y0, x + 2, y0 + 11, ink);
          c_.InkRect(x + 5, y0, x + 7, y0 + 11, ink);
          c_.InkRect(x, y0, x + 7, y0 + 2, ink);
          c_.InkRect(x, y0 + 9, x + 7, y0 + 11, ink);
          break;
        case 1:  // 1: a stem in the middle, on a foot as wide as the digit
          c_.InkRect(x + 3, y0, x + 5, y0 + 11, ink);
          c_.InkRect(x, y0 + 9, x + 7, y0 + 11, ink);
          break;
        default:  // 4
          c_.InkRect(x, y0, x + 2, y0 + 7, ink);
          c_.InkRect(x, y0 + 5, x + 7, y0 + 7, ink);
          c_.InkRect(x + 5, y0, x + 7, y0 + 11, ink);
          break;
      }
    }
  }

  // Halftone dots on a 4-px grid laid from the page edge; the darkest dots
  // fill their cells and the lightest still reach the edge's own line.
  void Picture() {
    if (o_.PictureDepth <= 0)
      return;
    const PageSide side = o_.PictureSide;
    const bool across = side == PageSide::Left || side == PageSide::Right;
    const int length = across ? c_.Height : c_.Width;
    const int from = length * 35 / 100, to = length * 60 / 100;
    const Bgr dot{120, 70, 30};
    for (int y = 0; y < c_.Height; ++y) {
      for (int x = 0; x < c_.Width; ++x) {
        const int u = c_.FromEdge(x, y, side), v = Canvas::AlongEdge(x, y, side) - from;
        if (u >= o_.PictureDepth || v < 0 || v >= to - from)
          continue;
        const double tone = 0.5 + 0.45 * (0.5 + 0.5 * std::sin(v * 0.031 + u * 0.047));
        const double r = 0.6 + 2.0 * tone;
        const double du = u % 4 - 1.5, dv = v % 4 - 1.5;
        if (du * du + dv * dv <= r * r)
          c_.Ink(x, y, dot);
      }
    }
  }

  // The facing page beyond the gutter: slightly darker paper, its edge as a
  // dark line, and pieces of its text lines.
  void FacingStrip() {
    const int width = o_.FacingStrip;
    if (width <= 0)
      return;
    const PageSide side = o_.FacingSide;
    for (int y = 0; y < c_.Height; ++y) {
      for (int x = 0; x < c_.Width; ++x) {
        const int d = c_.FromEdge(x, y, side);
        if (d >= width)
          continue;
        Bgr& p = c_.At(x, y);
        if (d >= width - 3) {
          p = GrayInk(80);
        } else {
          p = {p.B * 93 / 100, p.G * 93 / 100, p.R * 93 / 100};
        }
      }
    }
    // Text pieces, drawn without marking them as content.
    const bool across = side == PageSide::Left || side == PageSide::Right;
    const int inner = width - 8;
    if (inner < 8)
      return;
    for (int along = o_.MarginTop; along + o_.LineHeight < (across ? c_.Height : c_.Width);
         along += o_.LineHeight) {
      if (!across)
        break;  // a strip above or below the page shows no whole lines
      const int left = side == PageSide::Left ? Uniform(0, inner / 2) : c_.Width - inner;
      const int right = side == PageSide::Left ? inner : c_.Width - Uniform(0, inner / 2);
      TextLine(left, right, along + 4, false);
    }
  }

  void GutterShadow() {
    if (o_.GutterShading <= 0)
      return;
    for (int y = 0; y < c_.Height; ++y) {
      for (int x = 0; x < c_.Width; ++x) {
        const int d = c_.FromEdge(x, y, o_.GutterSide);
        if (d >= o_.GutterShading)
          continue;
        const double f = 0.4 + 0.6 * std::pow(double(d) / o_.GutterShading, 0.6);
        Bgr& p = c_.At(x, y);
        p = {int(p.B * f), int(p.G * f), int(p.R * f)};
      }
    }
  }

  // Dark bands with a ragged inner edge; whatever they cover is no longer
  // seen, so it is no longer content either.
  void DarkEdges() {
    for (int s = 0; s < 4; ++s) {
      const int width = o_.DarkEdge[std::size_t(s)];
      if (width <= 0)
        continue;
      const PageSide side = PageSide(s);
      const int length = side == PageSide::Left || side == PageSide::Right ? c_.Height : c_.Width;
      std::vector<int> reach(static_cast<std::size_t>(length));
      int jitter = 0;
      for (int& r : reach) {
        jitter = std::clamp(jitter + Uniform(-1, 1), -2, 2);
        r = std::max(1, width + jitter);
      }
      for (int y = 0; y < c_.Height; ++y) {
        for (int x = 0; x < c_.Width; ++x) {
          if (c_.FromEdge(x, y, side) < reach[std::size_t(Canvas::AlongEdge(x, y, side))]) {
            c_.At(x, y) = GrayInk(Uniform(20, 50));
            c_.ContentAt(x, y) = 0;
          }
        }
      }
    }
  }

  void Speckles() {
    for (int i = 0; i < o_.Speckles; ++i) {
      const int size = Uniform(1, std::max(1, o_.SpeckleSize));
      const int x0 = Uniform(0, c_.Width - 1), y0 = Uniform(0, c_.Height - 1);
      const Bgr ink = GrayInk(Uniform(0, 80));
      const double r = size / 2.0;
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          const double dx = x + 0.5 - r, dy = y + 0.5 - r;
          if (size <= 2 || dx * dx + dy * dy <= r * r)
            c_.Paint(x0 + x, y0 + y, ink);
        }
      }
    }
  }

  // What a JPEG does to a page, roughly: 8 x 8 blocks holding an edge get
  // noise of the full amplitude, flat blocks a third of it.
  void JpegNoise() {
    const int a = o_.JpegNoise;
    if (a <= 0)
      return;
    for (int by = 0; by < c_.Height; by += 8) {
      for (int bx = 0; bx < c_.Width; bx += 8) {
        int lo = 255, hi = 0;
        for (int y = by; y < std::min(by + 8, c_.Height); ++y) {
          for (int x = bx; x < std::min(bx + 8, c_.Width); ++x) {
            const Bgr& p = c_.At(x, y);
            lo = std::min(lo, (p.B + p.G + p.R) / 3);
            hi = std::max(hi, (p.B + p.G + p.R) / 3);
          }
        }
        const int amplitude = hi - lo > 40 ? a : a / 3;
        for (int y = by; y < std::min(by + 8, c_.Height); ++y) {
          for (int x = bx; x < std::min(bx + 8, c_.Width); ++x) {
            Bgr& p = c_.At(x, y);
            for (int* channel : {&p.B, &p.G, &p.R})
              *channel = std::clamp(*channel + Uniform(-amplitude, amplitude), 0, 255);
          }
        }
      }
    }
  }

 private:
  const RealisticPageOptions& o_;
  Canvas& c_;
  std::mt19937 rng_;
};

}  // namespace

long long RealisticPage::ContentOutside(const Rect& kept) const {
  long long lost = 0;
  for (int y = 0; y < Page.Height(); ++y) {
    for (int x = 0; x < Page.Width(); ++x) {
      const bool inside = x >= kept.Left && x < kept.Right && y >= kept.Top && y < kept.Bottom;
      lost += !inside && IsContent(x, y);
    }
  }
  return lost;
}

RealisticPage MakeRealisticPage(const RealisticPageOptions& o) {
  const int width = std::max(o.Width, 0), height = std::max(o.Height, 0);
  Canvas canvas(width, height, o.Yellowed ? Bgr{190, 228, 240} : Bgr{});
  Painter painter(o, canvas);
  void (Painter::*const steps[])() = {
      &Painter::FacingStrip, &Painter::Text,     &Painter::Rules,
      &Painter::PageNumber,  &Painter::Picture,  &Painter::GutterShadow,
      &Painter::DarkEdges,   &Painter::Speckles, &Painter::JpegNoise};
  for (unsigned i = 0; i < std::size(steps); ++i) {
    if (steps[i] == &Painter::JpegNoise && o.Kind == PageKind::Bitonal)
      continue;  // a bitonal page is a PNG
    painter.Step(i);
    (painter.*steps[i])();
  }

  RealisticPage result;
  const bool colour = o.Kind == PageKind::Colour;
  result.Page = PageRaster(width, height, colour ? PixelFormat::Bgr24 : PixelFormat::Gray8);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = result.Page.Row(y);
    for (int x = 0; x < width; ++x) {
      const Bgr& p = canvas.At(x, y);
      if (colour) {
        row[3 * x] = std::uint8_t(p.B);
        row[3 * x + 1] = std::uint8_t(p.G);
        row[3 * x + 2] = std::uint8_t(p.R);
        continue;
      }
      const int gray = (p.B + p.G + p.R) / 3;
      row[x] = std::uint8_t(o.Kind == PageKind::Bitonal ? (gray < 128 ? 0 : 255) : gray);
      // Content too light to survive the bitonal scan is gone from the page.
      if (o.Kind == PageKind::Bitonal && row[x] != 0)
        canvas.ContentAt(x, y) = 0;
    }
  }
  Rect box{width, height, 0, 0};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (canvas.ContentAt(x, y) != 0) {
        box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
               std::max(box.Bottom, y + 1)};
      }
    }
  }
  result.ContentBox = box.Right > box.Left ? box : Rect{};
  result.Content = canvas.TakeContent();
  return result;
}

}  // namespace pagetrim::test
