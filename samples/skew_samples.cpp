// Drawing staves and photographs over a realistic page that holds only their
// title or caption, so that their text is the same as on every other page.
#include "skew_samples.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace pagetrim::samples {

namespace {

// Draws one gray or colour pixel in the page's own format, and marks it as
// content. A bitonal page keeps what is darker than the midpoint.
class Drawing {
 public:
  Drawing(RealisticPage& page, PageKind kind) : page_(page), kind_(kind) {}

  void Put(int x, int y, int blue, int green, int red) {
    PageRaster& p = page_.Page;
    if (x < 0 || y < 0 || x >= p.Width() || y >= p.Height())
      return;
    std::uint8_t* row = p.Row(y);
    const std::size_t i = std::size_t(y) * std::size_t(p.Width()) + std::size_t(x);
    if (kind_ == PageKind::Colour) {
      row[3 * x] = std::uint8_t(std::clamp(blue, 0, 255));
      row[3 * x + 1] = std::uint8_t(std::clamp(green, 0, 255));
      row[3 * x + 2] = std::uint8_t(std::clamp(red, 0, 255));
      page_.Content[i] = 1;
      return;
    }
    const int gray = std::clamp((blue + green + red) / 3, 0, 255);
    if (kind_ == PageKind::Bitonal) {
      row[x] = gray < 128 ? 0 : 255;
      page_.Content[i] = row[x] == 0 ? 1 : page_.Content[i];
      return;
    }
    row[x] = std::uint8_t(gray);
    page_.Content[i] = 1;
  }
  void Ink(int x, int y, int gray) { Put(x, y, gray, gray, gray); }
  void InkRect(int left, int top, int right, int bottom, int gray) {
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x)
        Ink(x, y, gray);
    }
  }

  // The box of every content pixel, once drawing is done.
  void UpdateBox() {
    const PageRaster& p = page_.Page;
    Rect box{p.Width(), p.Height(), 0, 0};
    for (int y = 0; y < p.Height(); ++y) {
      for (int x = 0; x < p.Width(); ++x) {
        if (page_.IsContent(x, y))
          box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
                 std::max(box.Bottom, y + 1)};
      }
    }
    page_.ContentBox = box.Right > box.Left ? box : Rect{};
  }

 private:
  RealisticPage& page_;
  PageKind kind_;
};

// A page holding only lines of text from row top, lines of them at most,
// between left and right.
RealisticPage TextOnly(const SkewSampleOptions& o, int left, int right, int top, int lines) {
  RealisticPageOptions text;
  text.Width = o.Width;
  text.Height = o.Height;
  text.Kind = o.Kind;
  text.Seed = o.Seed;
  const double scale = o.Width / 850.0;
  text.LineHeight = std::max(8, int(std::lround(22 * scale)));
  text.GlyphHeight = std::max(4, int(std::lround(11 * scale)));
  text.MarginLeft = left;
  text.MarginRight = o.Width - right;
  text.MarginTop = top;
  // The text generator fills its block with lines while one more fits.
  text.MarginBottom =
      o.Height - top - (lines - 1) * text.LineHeight - text.GlyphHeight - 8 - text.LineHeight / 2;
  return MakeRealisticPage(text);
}

}  // namespace

RealisticPage MakeStavesPage(const SkewSampleOptions& o) {
  const double scale = o.Width / 850.0;
  const int margin = int(90 * scale);
  RealisticPage page = TextOnly(o, o.Width / 3, o.Width - o.Width / 3, int(70 * scale), 1);
  Drawing draw(page, o.Kind);
  std::mt19937 rng(o.Seed * 7919u + 3u);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int space = std::max(4, int(std::lround(8 * scale)));  // between two staff lines
  const int thick = std::max(1, int(std::lround(scale)));
  const int ink = 25;
  const int left = margin, right = o.Width - margin;
  for (int top = int(150 * scale); top + 4 * space + 3 * space <= o.Height - int(100 * scale);
       top += 11 * space) {
    for (int line = 0; line < 5; ++line)
      draw.InkRect(left, top + line * space, right, top + line * space + thick, ink);
    draw.InkRect(left, top, left + thick, top + 4 * space + thick, ink);
    draw.InkRect(right - thick, top, right, top + 4 * space + thick, ink);
    int nextBar = left + uniform(18, 26) * space;
    for (int x = left + 3 * space; x < right - 2 * space; x += uniform(2, 5) * space) {
      if (x >= nextBar) {
        draw.InkRect(x, top, x + thick, top + 4 * space + thick, ink);
        nextBar = x + uniform(18, 26) * space;
        continue;
      }
      // A note head on a line or a space, and its stem.
      const int step = uniform(-2, 10);
      const double cy = top + step * space / 2.0 + thick / 2.0;
      const double rx = 0.65 * space, ry = 0.5 * space;
      const double cx = x + rx;
      for (int y = int(cy - ry) - 1; y <= int(cy + ry) + 1; ++y) {
        for (int xx = x - 1; xx <= int(x + 2 * rx) + 1; ++xx) {
          const double dx = (xx + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
          if (dx * dx + dy * dy <= 1.0)
            draw.Ink(xx, y, ink);
        }
      }
      const bool up = step > 4;
      const int stemX = up ? int(x + 2 * rx) - thick : x;
      const int stemTop = up ? int(cy - 3.5 * space) : int(cy);
      draw.InkRect(stemX, stemTop, stemX + thick, stemTop + int(3.5 * space), ink);
    }
  }
  draw.UpdateBox();
  return page;
}

RealisticPage MakePhotographPage(const SkewSampleOptions& o, bool halftone) {
  const double scale = o.Width / 850.0;
  const int margin = int(90 * scale);
  const int pictureBottom = o.Height - int(200 * scale);
  RealisticPage page = TextOnly(o, margin, o.Width - margin, pictureBottom + int(30 * scale), 2);
  Drawing draw(page, o.Kind);
  std::mt19937 rng(o.Seed * 104729u + 5u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // A landscape of soft blobs over a gradient: no straight line in it but
  // its frame.
  struct Blob {
    double X, Y, Radius, Depth;
  };
  std::vector<Blob> blobs;
  const int left = margin, top = int(90 * scale), right = o.Width - margin;
  for (int i = 0; i < 14; ++i) {
    blobs.push_back({left + unit(rng) * (right - left), top + unit(rng) * (pictureBottom - top),
                     (40 + 120 * unit(rng)) * scale, 60 + 90 * unit(rng)});
  }
  const double phase = unit(rng) * 6.28;
  const int grid = std::max(3, int(std::lround(4 * scale)));  // of the halftone's dots
  for (int y = top; y < pictureBottom; ++y) {
    for (int x = left; x < right; ++x) {
      double tone = 200 - 60.0 * (y - top) / (pictureBottom - top) +
                    15 * std::sin(x * 0.013 / scale + phase) * std::cos(y * 0.021 / scale);
      for (const Blob& b : blobs) {
        const double d2 = ((x - b.X) * (x - b.X) + (y - b.Y) * (y - b.Y)) / (b.Radius * b.Radius);
        tone -= b.Depth * std::exp(-d2);
      }
      tone = std::clamp(tone, 25.0, 215.0);
      if (!halftone) {
        draw.Put(x, y, int(tone * 0.8), int(tone * 0.95), int(tone));
        continue;
      }
      // Dots grow with darkness; the lightest still show.
      const double darkness = 1.0 - tone / 255.0;
      const double r = (0.3 + 0.55 * darkness) * grid;
      const double du = (x - left) % grid - (grid - 1) / 2.0;
      const double dv = (y - top) % grid - (grid - 1) / 2.0;
      if (du * du + dv * dv <= r * r)
        draw.Put(x, y, 40, 30, 30);
    }
  }
  // The whole picture is content, its light dots and gaps too.
  for (int y = top; y < pictureBottom; ++y)
    std::fill_n(page.Content.begin() + std::ptrdiff_t(y) * o.Width + left, right - left, 1);
  draw.UpdateBox();
  return page;
}

}  // namespace pagetrim::samples
