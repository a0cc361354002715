// Drawing realistic pages: the paper and the facing page's strip, then the
// content (recorded pixel by pixel), then what the scanner and the paper add
// over it, the ground the paper lies on, and last the page's pixel format.
#include "realistic_page.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace pagetrim::samples {

namespace {

constexpr double Pi = 3.14159265358979323846;

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
        content_(std::size_t(width) * std::size_t(height), 0),
        paper_(paper) {}

  const int Width;
  const int Height;

  bool Inside(int x, int y) const { return x >= 0 && x < Width && y >= 0 && y < Height; }
  Bgr& At(int x, int y) { return pixels_[Index(x, y)]; }
  const Bgr& At(int x, int y) const { return pixels_[Index(x, y)]; }
  std::uint8_t& ContentAt(int x, int y) { return content_[Index(x, y)]; }
  std::uint8_t ContentAt(int x, int y) const { return content_[Index(x, y)]; }

  void Paint(int x, int y, Bgr colour) {
    if (Inside(x, y))
      At(x, y) = colour;
  }
  void Ink(int x, int y, Bgr colour) {
    if (!Inside(x, y))
      return;
    At(x, y) = colour;
    ContentAt(x, y) = 1;
    if (tracking_) {
      tracked_ = {std::min(tracked_.Left, x), std::min(tracked_.Top, y),
                  std::max(tracked_.Right, x + 1), std::max(tracked_.Bottom, y + 1)};
    }
  }
  // Ink while tracking widens the tracked box.
  void Track(bool on) { tracking_ = on; }
  Rect Tracked() const { return tracked_.Right > tracked_.Left ? tracked_ : Rect{}; }
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
  // The pixel d from the edge of side, at along along it.
  void OnSide(PageSide side, int along, int d, int& x, int& y) const {
    x = side == PageSide::Left ? d : side == PageSide::Right ? Width - 1 - d : along;
    y = side == PageSide::Top ? d : side == PageSide::Bottom ? Height - 1 - d : along;
  }
  // Position along the edge of side.
  static int AlongEdge(int x, int y, PageSide side) {
    return side == PageSide::Left || side == PageSide::Right ? y : x;
  }

  std::vector<std::uint8_t> TakeContent() { return std::move(content_); }
  Bgr Paper() const { return paper_; }

 private:
  std::size_t Index(int x, int y) const { return std::size_t(y) * std::size_t(Width) + x; }

  std::vector<Bgr> pixels_;
  std::vector<std::uint8_t> content_;
  Bgr paper_;
  bool tracking_ = false;
  Rect tracked_{Width, Height, 0, 0};
};

class Painter {
 public:
  Painter(const RealisticPageOptions& o, Canvas& canvas) : o_(o), c_(&canvas) {}

  // The canvas drawn on last, where the paper lies on it, and the text
  // block's ink there.
  Canvas& Result() { return *c_; }
  Rect PaperOnResult(const Canvas& paper) const {
    return {paperX_, paperY_, paperX_ + paper.Width, paperY_ + paper.Height};
  }
  Rect TextBox() const { return textBox_; }

  // Each drawing step draws its own random numbers, so that turning one
  // difficulty on leaves everything else as it was.
  void Step(unsigned step) { rng_.seed(o_.Seed * 1000003u + step); }

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  Bgr TextInk() { return GrayInk(o_.TextGray + Uniform(-6, 6)); }

  // A glyph-like blob of 2-px strokes whose left stem is its first column;
  // top is the top of the x-height band. Its width, or 0 when it does not fit.
  int Glyph(int x, int top, int right, int kind, Bgr ink, bool mark, int h, int s) {
    const int w = kind == 2 ? 3 * s / 2 : Uniform(2 * s, 4 * s);
    if (x + w > right)
      return 0;
    auto stroke = [&](int l, int t, int r, int b) {
      for (int y = t; y < b; ++y) {
        for (int xx = l; xx < r; ++xx) {
          if (mark)
            c_->Ink(xx, y, ink);
          else
            c_->Paint(xx, y, ink);
        }
      }
    };
    switch (kind) {
      case 0:  // n
        stroke(x, top, x + s, top + h);
        stroke(x + w - s, top, x + w, top + h);
        stroke(x, top, x + w, top + s);
        break;
      case 1:  // o
        stroke(x, top, x + s, top + h);
        stroke(x + w - s, top, x + w, top + h);
        stroke(x, top, x + w, top + s);
        stroke(x, top + h - s, x + w, top + h);
        break;
      case 2:  // l, with an ascender
        stroke(x, top - 2 * s, x + s, top + h);
        break;
      case 3:  // p, with a descender
        stroke(x, top, x + s, top + h + 2 * s);
        stroke(x + w - s, top, x + w, top + h / 2 + s - s / 2);
        stroke(x, top, x + w, top + s);
        stroke(x, top + h / 2, x + w, top + h / 2 + s);
        break;
      default:  // e
        stroke(x, top, x + s, top + h);
        stroke(x, top, x + w, top + s);
        stroke(x, top + h / 2 - s / 2, x + w, top + h / 2 + s - s / 2);
        stroke(x, top + h - s, x + w, top + h);
        break;
    }
    return w;
  }

  // Words of glyphs from left to at most right; the first glyph starts at left.
  // Glyphs of glyphHeight and stroke, 0 for the page's.
  void TextLine(int left, int right, int top, bool mark, int firstKind = -1, int glyphHeight = 0,
                int stroke = 0) {
    const int h = glyphHeight > 0 ? glyphHeight : o_.GlyphHeight;
    const int s = std::max(1, stroke > 0 ? stroke : o_.Stroke);
    int x = left;
    bool first = true;
    while (x < right) {
      const int glyphs = Uniform(1, 7);
      for (int g = 0; g < glyphs; ++g) {
        const int kind = first && firstKind >= 0 ? firstKind : Uniform(0, 4);
        first = false;
        const int w = Glyph(x, top, right, kind, TextInk(), mark, h, s);
        if (w == 0)
          return;
        x += w + Uniform(std::max(1, s / 2), s);
      }
      x += Uniform(5 * s / 2, 4 * s);
    }
  }

  void Text() {
    if (o_.Staves > 0)
      return;  // music instead
    const int s = std::max(1, o_.Stroke);
    const int blockRight = c_->Width - o_.MarginRight;
    const int gap = 12 * s;
    const int columns = std::clamp(o_.Columns, 1, 2);
    const int columnWidth = (blockRight - o_.MarginLeft - (columns - 1) * gap) / columns;
    for (int col = 0; col < columns; ++col) {
      const int left = o_.MarginLeft + col * (columnWidth + gap);
      const int right = col == columns - 1 ? blockRight : left + columnWidth;
      int line = 0;
      for (int y = o_.MarginTop; y + o_.GlyphHeight + 4 * s <= c_->Height - o_.MarginBottom;
           y += o_.LineHeight, ++line) {
        if (line % 9 == 8)
          continue;  // between paragraphs
        const int end = line % 9 == 7 ? left + (right - left) * Uniform(30, 80) / 100 : right;
        // The block's first line starts with an ascender in its top-left corner.
        c_->Track(true);
        TextLine(left, end, y + 2 * s, true, line == 0 ? 2 : -1);
        c_->Track(false);
      }
    }
    textBox_ = c_->Tracked();
  }

  void Rules() {
    const int left = o_.MarginLeft, right = c_->Width - o_.MarginRight;
    const int top = o_.MarginTop, bottom = c_->Height - o_.MarginBottom;
    const Bgr ink = GrayInk(o_.TextGray);
    if (o_.HorizontalRule > 0) {
      const int y = o_.HorizontalRuleAt >= 0 ? o_.HorizontalRuleAt : top - 12 - o_.HorizontalRule;
      c_->InkRect(left, y, right, y + o_.HorizontalRule, ink);
    }
    if (o_.VerticalRule > 0) {
      const int between = left + (right - left) / 2 - o_.VerticalRule / 2;
      const int x = o_.VerticalRuleAt >= 0 ? o_.VerticalRuleAt
                    : o_.Columns == 2      ? between
                                           : left - 14 - o_.VerticalRule;
      c_->InkRect(x, top, x + o_.VerticalRule, bottom, ink);
    }
    if (o_.DottedRule && o_.DottedRuleVertical) {
      const int x = o_.DottedRuleAt >= 0 ? o_.DottedRuleAt : left - 12;
      for (int y = top; y < bottom; y += 6)
        c_->InkRect(x, y, x + 2, y + 2, ink);
    } else if (o_.DottedRule) {
      const int y = o_.DottedRuleAt >= 0 ? o_.DottedRuleAt : bottom + 10;
      for (int x = left; x < right; x += 6)
        c_->InkRect(x, y, x + 2, y + 2, ink);
    }
  }

  void PageNumber() {
    const int n = o_.PageNumberDigits;
    if (n <= 0)
      return;
    // Digits of 7 x 11 px in strokes of 2, scaled with the page's stroke.
    const int s = std::max(1, o_.Stroke);
    auto u = [s](int v) { return v * s / 2; };
    const int width = u(7) * n + u(3) * (n - 1);
    const int x0 = o_.PageNumberX >= 0 ? o_.PageNumberX : (c_->Width - width) / 2;
    const int y0 = o_.PageNumberY >= 0 ? o_.PageNumberY : c_->Height - o_.MarginBottom / 2 - u(5);
    const Bgr ink = GrayInk(o_.TextGray);
    for (int d = 0, x = x0; d < n; ++d, x += u(10)) {
      switch (Uniform(0, 2)) {
        case 0:  // 0
          c_->InkRect(x, y0, x + u(2), y0 + u(11), ink);
          c_->InkRect(x + u(5), y0, x + u(7), y0 + u(11), ink);
          c_->InkRect(x, y0, x + u(7), y0 + u(2), ink);
          c_->InkRect(x, y0 + u(9), x + u(7), y0 + u(11), ink);
          break;
        case 1:  // 1: a stem in the middle, on a foot as wide as the digit
          c_->InkRect(x + u(3), y0, x + u(5), y0 + u(11), ink);
          c_->InkRect(x, y0 + u(9), x + u(7), y0 + u(11), ink);
          break;
        default:  // 4
          c_->InkRect(x, y0, x + u(2), y0 + u(7), ink);
          c_->InkRect(x, y0 + u(5), x + u(7), y0 + u(7), ink);
          c_->InkRect(x + u(5), y0, x + u(7), y0 + u(11), ink);
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
    const int length = across ? c_->Height : c_->Width;
    const int from = length * 35 / 100, to = length * 60 / 100;
    const Bgr dot{120, 70, 30};
    for (int y = 0; y < c_->Height; ++y) {
      for (int x = 0; x < c_->Width; ++x) {
        const int u = c_->FromEdge(x, y, side), v = Canvas::AlongEdge(x, y, side) - from;
        if (u >= o_.PictureDepth || v < 0 || v >= to - from)
          continue;
        const double tone = 0.5 + 0.45 * (0.5 + 0.5 * std::sin(v * 0.031 + u * 0.047));
        const double r = 0.6 + 2.0 * tone;
        const double du = u % 4 - 1.5, dv = v % 4 - 1.5;
        if (du * du + dv * dv <= r * r)
          c_->Ink(x, y, dot);
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
    for (int y = 0; y < c_->Height; ++y) {
      for (int x = 0; x < c_->Width; ++x) {
        const int d = c_->FromEdge(x, y, side);
        if (d >= width)
          continue;
        Bgr& p = c_->At(x, y);
        if (o_.FacingLines) {
          // As a photograph shows the fold: no hard edge, the facing page
          // darkening towards it.
          const double fold = std::max(3, width / 4);
          const double f = 0.93 * (width - 1 - d < fold ? 0.5 + 0.5 * (width - 1 - d) / fold : 1.0);
          p = {int(p.B * f), int(p.G * f), int(p.R * f)};
        } else if (d >= width - 3) {
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
    if (o_.FacingLines) {
      FacingPageLines(side, inner);
      return;
    }
    for (int along = o_.MarginTop; along + o_.LineHeight < (across ? c_->Height : c_->Width);
         along += o_.LineHeight) {
      if (!across)
        break;  // a strip above or below the page shows no whole lines
      const int left = side == PageSide::Left ? Uniform(0, inner / 2) : c_->Width - inner;
      const int right = side == PageSide::Left ? inner : c_->Width - Uniform(0, inner / 2);
      TextLine(left, right, along + 4, false);
    }
  }

  // The facing page's own lines, of the page's glyphs: on the right they
  // start at its margin, on the left they end there, and either way they run
  // off the image. Its lines need not lie level with the page's.
  void FacingPageLines(PageSide side, int inner) {
    if (side != PageSide::Left && side != PageSide::Right)
      return;
    const int s = std::max(1, o_.Stroke);
    const int offImage = 40 * s;
    int line = 0;
    for (int y = o_.MarginTop + Uniform(-o_.LineHeight / 2, o_.LineHeight / 2);
         y + o_.GlyphHeight + 4 * s <= c_->Height - o_.MarginBottom; y += o_.LineHeight, ++line) {
      if (line % 9 == 8)
        continue;
      const bool lastOfParagraph = line % 9 == 7;
      if (side == PageSide::Right) {
        const int left = c_->Width - inner + 2 * s * (line % 9 == 0);  // indented paragraphs
        const int right =
            lastOfParagraph ? left + Uniform(inner / 4, inner + offImage) : c_->Width + offImage;
        TextLine(left, right, y + 2 * s, false);
      } else {
        // Started off the image at a varying place, the lines end near the
        // facing page's margin, the last of a paragraph anywhere before it.
        const int end = lastOfParagraph ? Uniform(-inner, inner) : inner;
        TextLine(-Uniform(0, offImage), end, y + 2 * s, false);
      }
    }
  }

  void GutterShadow() {
    if (o_.GutterShading <= 0)
      return;
    for (int y = 0; y < c_->Height; ++y) {
      for (int x = 0; x < c_->Width; ++x) {
        const int d = c_->FromEdge(x, y, o_.GutterSide);
        if (d >= o_.GutterShading)
          continue;
        const double f = 0.4 + 0.6 * std::pow(double(d) / o_.GutterShading, 0.6);
        Bgr& p = c_->At(x, y);
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
      const int length = side == PageSide::Left || side == PageSide::Right ? c_->Height : c_->Width;
      std::vector<int> reach(static_cast<std::size_t>(length));
      int jitter = 0;
      for (int& r : reach) {
        jitter = std::clamp(jitter + Uniform(-1, 1), -2, 2);
        r = std::max(1, width + jitter);
      }
      for (int y = 0; y < c_->Height; ++y) {
        for (int x = 0; x < c_->Width; ++x) {
          if (c_->FromEdge(x, y, side) < reach[std::size_t(Canvas::AlongEdge(x, y, side))]) {
            c_->At(x, y) = GrayInk(Uniform(20, 50));
            c_->ContentAt(x, y) = 0;
          }
        }
      }
    }
  }

  void Speckles() {
    for (int i = 0; i < o_.Speckles; ++i) {
      const int size = Uniform(1, std::max(1, o_.SpeckleSize));
      const int x0 = Uniform(0, c_->Width - 1), y0 = Uniform(0, c_->Height - 1);
      const Bgr ink = GrayInk(Uniform(0, 80));
      const double r = size / 2.0;
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          const double dx = x + 0.5 - r, dy = y + 0.5 - r;
          if (size <= 2 || dx * dx + dy * dy <= r * r)
            c_->Paint(x0 + x, y0 + y, ink);
        }
      }
    }
  }

  // ---- Kinds of paper the usual faults above do not cover ----

  // A print: two slow waves of sepia tones and a darker band across, as a
  // landscape's horizon, inside a frame rule. Every pixel of it is content,
  // light or dark, as a photograph's box is.
  void Plate() {
    const Rect r{std::max(0, o_.Plate.Left), std::max(0, o_.Plate.Top),
                 std::min(c_->Width, o_.Plate.Right), std::min(c_->Height, o_.Plate.Bottom)};
    if (r.Width() <= 0 || r.Height() <= 0)
      return;
    const double p1 = Uniform(0, 628) / 100.0, p2 = Uniform(0, 628) / 100.0;
    const double f1 = Uniform(2, 5) * Pi / r.Width(), f2 = Uniform(1, 3) * Pi / r.Height();
    const double horizon = r.Top + r.Height() * Uniform(35, 65) / 100.0;
    const double band = 0.08 * r.Height() + 1;
    std::vector<double> across(std::size_t(r.Width()));
    for (int x = r.Left; x < r.Right; ++x)
      across[std::size_t(x - r.Left)] = std::sin((x - r.Left) * f1 + p1);
    const Bgr dark{40, 55, 75}, light{205, 222, 235};
    const int frame = o_.PlateFrame > 0 ? o_.PlateFrame : std::max(2, 2 * o_.Stroke);
    for (int y = r.Top; y < r.Bottom; ++y) {
      const double down = std::cos((y - r.Top) * f2 + p2);
      const double sky = 0.35 * std::exp(-std::pow((y - horizon) / band, 2));
      const bool frameRow = y - r.Top < frame || r.Bottom - 1 - y < frame;
      for (int x = r.Left; x < r.Right; ++x) {
        if (frameRow || x - r.Left < frame || r.Right - 1 - x < frame) {
          c_->Ink(x, y, GrayInk(o_.TextGray));
          continue;
        }
        const double t = std::clamp(
            0.6 + 0.25 * across[std::size_t(x - r.Left)] * down - sky + Uniform(-4, 4) / 100.0, 0.0,
            1.0);
        c_->Ink(x, y,
                {int(dark.B + t * (light.B - dark.B)), int(dark.G + t * (light.G - dark.G)),
                 int(dark.R + t * (light.R - dark.R))});
      }
    }
  }

  // Music: systems of five-line staves across the text block, each opened by
  // a clef and closed by a double bar, with note heads on lines and spaces
  // (on ledger lines beyond the staff), their stems, and bar lines.
  void Staves() {
    if (o_.Staves <= 0)
      return;
    const int left = o_.MarginLeft, right = c_->Width - o_.MarginRight;
    const int top = o_.MarginTop, bottom = c_->Height - o_.MarginBottom;
    const int space = std::max(3, o_.GlyphHeight * 2 / 3);
    const int line = std::max(1, o_.Stroke / 2);
    const int pitch = (bottom - top) / o_.Staves;
    if (pitch < 10 * space || right - left < 16 * space)
      return;
    const Bgr ink = GrayInk(o_.TextGray);
    c_->Track(true);
    for (int system = 0; system < o_.Staves; ++system) {
      // Notes reach three spaces above the top line.
      const int y0 = top + system * pitch + 3 * space;
      const int staffBottom = y0 + 4 * space + line;
      for (int l = 0; l < 5; ++l)
        c_->InkRect(left, y0 + l * space, right, y0 + l * space + line, ink);
      c_->InkRect(left, y0, left + line, staffBottom, ink);
      c_->InkRect(right - 4 * line - space / 2, y0, right - 3 * line - space / 2, staffBottom, ink);
      c_->InkRect(right - 3 * line, y0, right, staffBottom, ink);
      // A clef: a stem beyond the staff, with a ring round its lower lines.
      const int clef = left + 2 * space;
      c_->InkRect(clef, y0 - space, clef + 2 * line, y0 + 5 * space, ink);
      InkEllipse(clef + line, y0 + 3 * space, 1.2 * space, 1.0 * space, 2.0 * line, ink);
      int x = left + 5 * space, sinceBar = 0;
      while (x < right - 5 * space) {
        const int pos = Uniform(-4, 12);  // half-spaces below the top line
        const int cy = y0 + pos * space / 2 + line / 2;
        const double rx = 0.7 * space, ry = 0.5 * space;
        InkEllipse(x, cy, rx, ry, 0, ink);
        for (int p = -2; p >= pos; p -= 2)
          c_->InkRect(x - space, y0 + p * space / 2, x + space, y0 + p * space / 2 + line, ink);
        for (int p = 10; p <= pos; p += 2)
          c_->InkRect(x - space, y0 + p * space / 2, x + space, y0 + p * space / 2 + line, ink);
        const int stem = 7 * space / 2, r = int(rx);
        if (pos >= 4)  // low notes have their stems up, on the right
          c_->InkRect(x + r - line, cy - stem, x + r, cy, ink);
        else
          c_->InkRect(x - r, cy, x - r + line, cy + stem, ink);
        x += Uniform(2 * space, 4 * space);
        if (++sinceBar == 4 && x < right - 6 * space) {
          c_->InkRect(x, y0, x + line, staffBottom, ink);
          x += 2 * space;
          sinceBar = 0;
        }
      }
    }
    c_->Track(false);
    textBox_ = c_->Tracked();
  }

  // An ellipse centred on (cx, cy); a ring this thick, or filled for 0.
  void InkEllipse(int cx, int cy, double rx, double ry, double ring, Bgr ink) {
    for (int y = cy - int(ry) - 1; y <= cy + int(ry) + 1; ++y) {
      for (int x = cx - int(rx) - 1; x <= cx + int(rx) + 1; ++x) {
        const double dx = (x - cx) / rx, dy = (y - cy) / ry;
        const double r = std::sqrt(dx * dx + dy * dy);
        if (r <= 1.0 && (ring <= 0 || r >= 1.0 - ring / std::min(rx, ry)))
          c_->Ink(x, y, ink);
      }
    }
  }

  void Runs() {
    for (const RealisticPageOptions::TextRun& run : o_.Runs)
      TextLine(run.X, run.X + run.Width, run.Y, true, -1, run.GlyphHeight, run.Stroke);
  }

  // Old paper's own edge: a band of darker, browner paper with a ragged
  // inner border, mottled, and full of short dark fibres. Ink on it stays.
  void FibrousEdge() {
    const int width = o_.FibrousEdge;
    if (width <= 0)
      return;
    const PageSide side = o_.FibrousSide;
    const int length = side == PageSide::Left || side == PageSide::Right ? c_->Height : c_->Width;
    std::vector<int> reach(static_cast<std::size_t>(length));
    const int swing = std::max(1, width / 4);
    int jitter = 0;
    for (int& r : reach) {
      jitter = std::clamp(jitter + Uniform(-1, 1), -swing, swing);
      r = std::max(1, width + jitter);
    }
    const int s = std::max(1, o_.Stroke);
    const double p1 = Uniform(0, 628) / 100.0, p2 = Uniform(0, 628) / 100.0;
    for (int y = 0; y < c_->Height; ++y) {
      for (int x = 0; x < c_->Width; ++x) {
        const int d = c_->FromEdge(x, y, side), along = Canvas::AlongEdge(x, y, side);
        const int r = reach[std::size_t(along)];
        if (d >= r)
          continue;
        const double depth = 1.0 - double(d) / r;  // 1 on the edge itself
        const double mottle = 0.5 + 0.3 * std::sin(along * 0.12 / s + d * 0.2 / s + p1) +
                              0.2 * std::sin(along * 0.03 / s + p2);
        const double f = 0.9 - 0.25 * depth - 0.15 * mottle + Uniform(-4, 4) / 100.0;
        Bgr& p = c_->At(x, y);
        p = {int(p.B * f * 0.82), int(p.G * f * 0.92), int(p.R * f)};
      }
    }
    // Fibres: short dark strands, mostly along the edge, that wander.
    const int fibres = length * width / (10 * s * s);
    for (int i = 0; i < fibres; ++i) {
      double along = Uniform(0, length - 1), d = Uniform(0, width - 1);
      double angle = Uniform(-45, 45) * Pi / 180;
      const int steps = Uniform(2 * s, 8 * s);
      const double f = Uniform(50, 80) / 100.0;
      for (int k = 0; k < steps; ++k) {
        along += std::cos(angle);
        d += std::sin(angle);
        angle += Uniform(-15, 15) * Pi / 180;
        const int a = int(along), e = int(d);
        if (a < 0 || a >= length || e < 0 || e >= reach[std::size_t(a)])
          break;
        int x = 0, y = 0;
        c_->OnSide(side, a, e, x, y);
        if (c_->ContentAt(x, y) != 0)
          continue;
        Bgr& p = c_->At(x, y);
        p = {int(p.B * f), int(p.G * f), int(p.R * f)};
      }
    }
  }

  // The paper laid on its ground (a scanner's bed or a cloth), with an open
  // book's neighbouring page beyond the gutter. Its outer edges are a little
  // ragged and shaded; what the rag takes off the paper, content and all, is
  // ground.
  void PlaceOnGround() {
    const std::array<int, 4>& b = o_.Beyond;
    const bool open =
        o_.Neighbour > 0 && (o_.GutterSide == PageSide::Left || o_.GutterSide == PageSide::Right);
    if (b == std::array<int, 4>{} && !open)
      return;
    const Canvas& paper = *c_;
    const int before = open && o_.GutterSide == PageSide::Left ? o_.Neighbour : 0;
    const int after = open && o_.GutterSide == PageSide::Right ? o_.Neighbour : 0;
    paperX_ = std::max(0, b[0]) + before;
    paperY_ = std::max(0, b[1]);
    ground_ = std::make_unique<Canvas>(paper.Width + paperX_ + after + std::max(0, b[2]),
                                       paper.Height + paperY_ + std::max(0, b[3]), Bgr{});
    c_ = ground_.get();
    const int s = std::max(1, o_.Stroke);
    Ground();

    // The light comes from the top left: the paper's edge casts a faint
    // shadow right of it and below it.
    const int shade = 3 * s;
    for (int y = paperY_ + shade; y < paperY_ + paper.Height + shade; ++y) {
      for (int x = paperX_ + shade; x < paperX_ + paper.Width + shade; ++x) {
        if (c_->Inside(x, y)) {
          Bgr& p = c_->At(x, y);
          p = {p.B * 7 / 10, p.G * 7 / 10, p.R * 7 / 10};
        }
      }
    }
    if (open)
      NeighbourPage(paper, before > 0 ? paperX_ - before : paperX_ + paper.Width);

    // The paper, its outer edges ragged by up to a stroke's width (not along
    // the fold of an open book) and darkening towards them.
    std::array<std::vector<int>, 4> rag;
    for (int side = 0; side < 4; ++side) {
      if (open && PageSide(side) == o_.GutterSide)
        continue;
      const bool across = PageSide(side) == PageSide::Left || PageSide(side) == PageSide::Right;
      rag[std::size_t(side)].resize(std::size_t(across ? paper.Height : paper.Width));
      int walk = Uniform(0, s);
      for (int& r : rag[std::size_t(side)]) {
        walk = std::clamp(walk + Uniform(-1, 1), 0, s);
        r = walk;
      }
    }
    for (int y = 0; y < paper.Height; ++y) {
      for (int x = 0; x < paper.Width; ++x) {
        int nearest = shade;
        bool torn = false;
        for (int side = 0; side < 4 && !torn; ++side) {
          const std::vector<int>& r = rag[std::size_t(side)];
          if (r.empty())
            continue;
          const int d = paper.FromEdge(x, y, PageSide(side)) -
                        r[std::size_t(Canvas::AlongEdge(x, y, PageSide(side)))];
          torn = d < 0;
          nearest = std::min(nearest, d);
        }
        if (torn)
          continue;
        Bgr p = paper.At(x, y);
        const int f = 90 + 10 * nearest / shade;
        p = {p.B * f / 100, p.G * f / 100, p.R * f / 100};
        c_->At(paperX_ + x, paperY_ + y) = p;
        c_->ContentAt(paperX_ + x, paperY_ + y) = paper.ContentAt(x, y);
      }
    }
    if (textBox_.Right > textBox_.Left) {
      textBox_ = {textBox_.Left + paperX_, textBox_.Top + paperY_, textBox_.Right + paperX_,
                  textBox_.Bottom + paperY_};
    }
  }

  // A bed is level and noisy, a little lighter towards one corner; cloth is
  // woven, lies in soft folds and carries light lint.
  void Ground() {
    const int s = std::max(1, o_.Stroke);
    const int base = o_.UnderGray;
    const int w = c_->Width, h = c_->Height;
    if (o_.Under == RealisticPageOptions::Ground::ScannerBed) {
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
          c_->At(x, y) = GrayInk(base + (x + y) * 8 / (w + h) + Uniform(-5, 5));
      }
      return;
    }
    const double phase = Uniform(0, 628) / 100.0;
    for (int y = 0; y < h; ++y) {
      const double bend = 0.8 * std::sin(y / (70.0 * s) + phase) + phase;
      for (int x = 0; x < w; ++x) {
        const int weave = (x / s + y / s) % 2 == 0 ? 3 : -3;
        const double ridge = std::max(0.0, std::sin(x / (40.0 * s) + bend));
        const int fold = int(24 * std::pow(ridge, 6));
        c_->At(x, y) = GrayInk(base + weave + fold + Uniform(-4, 4));
      }
    }
    const int lint = w * h / (3000 * s * s);
    for (int i = 0; i < lint; ++i) {
      double x = Uniform(0, w - 1), y = Uniform(0, h - 1);
      double angle = Uniform(0, 359) * Pi / 180;
      const Bgr light = GrayInk(Uniform(70, 150));
      for (int k = Uniform(3 * s, 12 * s); k > 0; --k) {
        c_->Paint(int(x), int(y), light);
        x += std::cos(angle);
        y += std::sin(angle);
        angle += Uniform(-20, 20) * Pi / 180;
      }
    }
  }

  // The open book's other page, from the fold at x0 on: paper like the
  // page's, shaded into the fold, shifted a little up or down, with its own
  // lines of text (not content) between margins that mirror the page's.
  void NeighbourPage(const Canvas& paper, int x0) {
    const int s = std::max(1, o_.Stroke);
    const int width = o_.Neighbour;
    const bool onLeft = o_.GutterSide == PageSide::Left;
    const int shift = Uniform(-paper.Height / 80, paper.Height / 80);
    const int y0 = paperY_ + shift, y1 = y0 + paper.Height;
    const Bgr tone = paper.Paper();
    const double fold = std::max(4, width / 5);
    for (int y = std::max(0, y0); y < std::min(c_->Height, y1); ++y) {
      for (int x = x0; x < x0 + width; ++x) {
        const int d = onLeft ? x0 + width - 1 - x : x - x0;  // from the fold
        const double f = 0.94 * (d < fold ? 0.45 + 0.55 * std::sqrt(d / fold) : 1.0);
        c_->At(x, y) = {int(tone.B * f), int(tone.G * f), int(tone.R * f)};
      }
    }
    // Its inner margin is the page's on the fold side, its outer the other.
    const int inner = onLeft ? o_.MarginLeft : o_.MarginRight;
    const int outer = onLeft ? o_.MarginRight : o_.MarginLeft;
    const int left = onLeft ? x0 + width - paper.Width + outer : x0 + inner;
    const int right = onLeft ? x0 + width - inner : x0 + paper.Width - outer;
    for (int y = y0 + o_.MarginTop; y + o_.GlyphHeight + 4 * s <= y1 - o_.MarginBottom;
         y += o_.LineHeight) {
      TextLine(left, std::min(right, x0 + width + 40 * s), y + 2 * s, false);
    }
  }

  // What a JPEG does to a page, roughly: 8 x 8 blocks holding an edge get
  // noise of the full amplitude, flat blocks a third of it.
  void JpegNoise() {
    const int a = o_.JpegNoise;
    if (a <= 0)
      return;
    for (int by = 0; by < c_->Height; by += 8) {
      for (int bx = 0; bx < c_->Width; bx += 8) {
        int lo = 255, hi = 0;
        for (int y = by; y < std::min(by + 8, c_->Height); ++y) {
          for (int x = bx; x < std::min(bx + 8, c_->Width); ++x) {
            const Bgr& p = c_->At(x, y);
            lo = std::min(lo, (p.B + p.G + p.R) / 3);
            hi = std::max(hi, (p.B + p.G + p.R) / 3);
          }
        }
        const int amplitude = hi - lo > 40 ? a : a / 3;
        for (int y = by; y < std::min(by + 8, c_->Height); ++y) {
          for (int x = bx; x < std::min(bx + 8, c_->Width); ++x) {
            Bgr& p = c_->At(x, y);
            for (int* channel : {&p.B, &p.G, &p.R})
              *channel = std::clamp(*channel + Uniform(-amplitude, amplitude), 0, 255);
          }
        }
      }
    }
  }

 private:
  const RealisticPageOptions& o_;
  Canvas* c_;  // the paper's, or once the paper lies on its ground, the ground's
  std::unique_ptr<Canvas> ground_;
  int paperX_ = 0;  // where the paper lies on the canvas
  int paperY_ = 0;
  Rect textBox_;
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

RealisticPageOptions LetterPage(int dpi, PageKind kind) {
  RealisticPageOptions o;
  auto at = [dpi](int hundredDpi) { return hundredDpi * dpi / 100; };
  o.Width = at(850);
  o.Height = at(1100);
  o.Kind = kind;
  o.MarginLeft = o.MarginRight = at(90);
  o.MarginTop = at(100);
  o.MarginBottom = at(110);
  o.LineHeight = at(22);
  o.GlyphHeight = at(11);
  o.Stroke = at(2);
  o.PageNumberDigits = 2;
  o.JpegNoise = kind == PageKind::Bitonal ? 0 : 6;
  return o;
}

RealisticPage MakeRealisticPage(const RealisticPageOptions& o) {
  const int paperWidth = std::max(o.Width, 0), paperHeight = std::max(o.Height, 0);
  Canvas paper(paperWidth, paperHeight, o.Yellowed ? Bgr{190, 228, 240} : Bgr{});
  Painter painter(o, paper);
  // Each step keeps the seed it was given when it was added, so that pages
  // made without the later kinds stay exactly as they were.
  struct Step {
    unsigned Seed;
    void (Painter::*Draw)();
  };
  const Step steps[] = {
      {0, &Painter::FacingStrip},    {1, &Painter::Text},       {10, &Painter::Staves},
      {2, &Painter::Rules},          {3, &Painter::PageNumber}, {4, &Painter::Picture},
      {9, &Painter::Plate},          {11, &Painter::Runs},      {5, &Painter::GutterShadow},
      {12, &Painter::FibrousEdge},   {6, &Painter::DarkEdges},  {7, &Painter::Speckles},
      {13, &Painter::PlaceOnGround}, {8, &Painter::JpegNoise}};
  for (const Step& step : steps) {
    if (step.Draw == &Painter::JpegNoise && o.Kind == PageKind::Bitonal)
      continue;  // a bitonal page is a PNG
    painter.Step(step.Seed);
    (painter.*step.Draw)();
  }
  Canvas& canvas = painter.Result();
  const int width = canvas.Width, height = canvas.Height;

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
  result.TextBox = painter.TextBox();
  result.Paper = painter.PaperOnResult(paper);
  result.Content = canvas.TakeContent();
  return result;
}

}  // namespace pagetrim::samples
