// Drawing a generated book's pages: each page straight from the realistic
// page generator, its paper yellowed, then turned and placed on the
// scanner's lid or bed, then the scanner's noise and the book's pixel format.
#include "book_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>

namespace pagetrim::samples {

namespace {

constexpr double Pi = 3.14159265358979323846;

// The book's measures, in millimetres: an A5 page, its text block set
// towards the binding.
constexpr double PageWidthMm = 148, PageHeightMm = 210;
constexpr double TopMm = 17, BottomMm = 22, InnerMm = 15, OuterMm = 21;
constexpr double HeadMm = 9;  // the top of the running head's x-height
constexpr double XHeightMm = 1.7, LineMm = 4.8;
// A scan on the lid reaches this far beyond the page on every side; one on
// the bed a little beyond its top and left, and far beyond the others.
constexpr double LidMm = 4;
constexpr double BedSideMm = 26, BedBelowMm = 36;
// The cover is larger than the pages, and its scan lies this far inside it,
// so that the cover fills the scan whatever its jitter and turn.
constexpr double CoverOverMm = 11, CoverCropMm = 4.5;
constexpr double JitterMm = 2, MaxTurnDegrees = 1;

int Uniform(std::mt19937& rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

double UniformReal(std::mt19937& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

int Digits(int n) {
  return n >= 100 ? 3 : n >= 10 ? 2 : 1;
}

// What stays the same for a whole scanning session.
struct Session {
  double Yellowing = 0;  // 0: white paper; 1: the generator's yellowed paper
  double GutterPhase = 0;
  int BedFrom = 0;  // a run of pages scanned with the lid open, on the dark bed
  int BedCount = 0;
  int BedAlso = 0;  // and one page on its own
  int BedGray = 30;
};

Session SessionOf(const BookOptions& o) {
  std::mt19937 rng(o.Seed * 2654435761u + 0x626f6f6bu);
  Session s;
  s.Yellowing = Uniform(rng, 15, 85) / 100.0;
  s.GutterPhase = UniformReal(rng, 0, 2 * Pi);
  s.BedFrom = o.Pages * Uniform(rng, 45, 65) / 100;
  s.BedCount = Uniform(rng, 3, 5);
  s.BedAlso = Uniform(rng, 2, std::max(2, o.Pages - 1));
  s.BedGray = Uniform(rng, 18, 48);
  return s;
}

class PageMaker {
 public:
  PageMaker(const BookOptions& o, int index)
      : o_(o),
        s_(SessionOf(o)),
        index_(index),
        kind_(BookPlan(o.Pages)[std::size_t(index)]),
        recto_(index % 2 == 0) {
    std::seed_seq seq{o.Seed, unsigned(index), 0x70616765u};
    rng_.seed(seq);
  }

  BookPage Make() {
    const RealisticPageOptions layout = Layout();
    RealisticPage page = MakeRealisticPage(layout);
    if (kind_ != BookPageKind::Cover)
      Yellow(page.Page);

    BookPage result;
    BookPageTruth& t = result.Truth;
    t.Kind = kind_;
    t.Side = recto_ ? BookSide::Recto : BookSide::Verso;
    t.Dpi = o_.Dpi;
    t.PageWidth = layout.Width;
    t.PageHeight = layout.Height;
    t.TextBlock = page.TextBox;
    t.Content = page.ContentBox;
    t.OnBed = kind_ != BookPageKind::Cover &&
              ((index_ >= s_.BedFrom && index_ < s_.BedFrom + s_.BedCount) || index_ == s_.BedAlso);
    char name[32];
    std::snprintf(name, sizeof name, "p%03d.%s", index_ + 1,
                  o_.Kind == PageKind::Bitonal ? "png" : "jpg");
    t.Name = name;

    // The scan, and where the page's centre lies on it.
    double centreX = 0, centreY = 0;
    if (kind_ == BookPageKind::Cover) {
      t.Width = layout.Width - 2 * Px(CoverCropMm);
      t.Height = layout.Height - 2 * Px(CoverCropMm);
      centreX = t.Width / 2.0;
      centreY = t.Height / 2.0;
    } else if (t.OnBed) {
      t.Width = layout.Width + Px(LidMm + BedSideMm + UniformReal(rng_, -3, 3));
      t.Height = layout.Height + Px(LidMm + BedBelowMm + UniformReal(rng_, -3, 3));
      centreX = Px(LidMm) + layout.Width / 2.0;
      centreY = Px(LidMm) + layout.Height / 2.0;
    } else {
      t.Width = layout.Width + 2 * Px(LidMm);
      t.Height = layout.Height + 2 * Px(LidMm);
      centreX = t.Width / 2.0;
      centreY = t.Height / 2.0;
    }
    centreX += UniformReal(rng_, -1, 1) * Px(JitterMm);
    centreY += UniformReal(rng_, -1, 1) * Px(JitterMm);
    t.Place.Turn = UniformReal(rng_, -MaxTurnDegrees, MaxTurnDegrees);
    const double turn = t.Place.Turn * Pi / 180;
    const double halfW = layout.Width / 2.0, halfH = layout.Height / 2.0;
    t.Place.OriginX = centreX - (halfW * std::cos(turn) + halfH * std::sin(turn));
    t.Place.OriginY = centreY - (-halfW * std::sin(turn) + halfH * std::cos(turn));

    PageRaster scan(t.Width, t.Height, PixelFormat::Bgr24);
    Ground(scan, t);
    std::vector<std::uint8_t> content(std::size_t(t.Width) * std::size_t(t.Height), 0);
    PlaceTurned(page.Page, page.Content, t.Place, scan, content);
    ScannerNoise(scan);
    const int frame = layout.PlateFrame > 0 ? layout.PlateFrame : std::max(2, 2 * layout.Stroke);
    const Rect picture{layout.Plate.Left + frame, layout.Plate.Top + frame,
                       layout.Plate.Right - frame, layout.Plate.Bottom - frame};
    result.Scan = ToBookFormat(scan, content, t.Place, picture);
    result.Content = std::move(content);

    Rect box{t.Width, t.Height, 0, 0};
    for (int y = 0; y < t.Height; ++y) {
      for (int x = 0; x < t.Width; ++x) {
        if (result.IsContent(x, y)) {
          box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
                 std::max(box.Bottom, y + 1)};
        }
      }
    }
    t.ScanContent = box.Right > box.Left ? box : Rect{};
    return result;
  }

 private:
  int Px(double mm) const { return int(std::lround(mm * o_.Dpi / 25.4)); }

  RealisticPageOptions Layout() {
    RealisticPageOptions p;
    p.Kind = PageKind::Colour;  // turned first, put in the book's format last
    p.Seed = o_.Seed * 7919u + unsigned(index_);
    p.Width = Px(PageWidthMm);
    p.Height = Px(PageHeightMm);
    p.Stroke = std::max(1, int(std::lround(o_.Dpi / 100.0)));
    p.GlyphHeight = std::max(4, Px(XHeightMm));
    p.LineHeight = std::max(p.GlyphHeight + 5 * p.Stroke, Px(LineMm));
    p.MarginLeft = Px(recto_ ? InnerMm : OuterMm);
    p.MarginRight = Px(recto_ ? OuterMm : InnerMm);
    p.MarginTop = Px(TopMm);
    p.MarginBottom = Px(BottomMm);
    p.TextGray = std::uint8_t(Uniform(rng_, 16, 32));
    // The gutter's shadow on the binding side, deeper where the book lies
    // less flat, as it changes slowly through a book.
    p.GutterSide = recto_ ? PageSide::Left : PageSide::Right;
    p.GutterShading =
        Px(4 + 3 * (1 + std::sin(index_ * 0.37 + s_.GutterPhase)) + UniformReal(rng_, 0, 1));
    p.Speckles = Uniform(rng_, 0, 40);
    p.SpeckleSize = Uniform(rng_, 1, 2 * p.Stroke);

    const int blockLeft = p.MarginLeft, blockRight = p.Width - p.MarginRight;
    const int blockWidth = blockRight - blockLeft;
    auto centred = [&](int y, int widthPercent, int glyphHeight, int stroke) {
      const int width = blockWidth * widthPercent / 100;
      p.Runs.push_back({blockLeft + (blockWidth - width) / 2, y, width, glyphHeight, stroke});
    };
    // The running head: a title in the middle, the page number at the
    // outer side, on one line.
    auto head = [&] {
      const int glyph = p.GlyphHeight * 85 / 100;
      centred(Px(HeadMm), Uniform(rng_, 30, 45), glyph, 0);
      const int n = Digits(index_ + 1), u = p.Stroke;
      const int width = 7 * n * u / 2 + 3 * (n - 1) * u / 2;
      p.PageNumberDigits = n;
      p.PageNumberX = recto_ ? blockRight - width : blockLeft;
      p.PageNumberY = Px(HeadMm) + glyph - 11 * u / 2;
    };
    switch (kind_) {
      case BookPageKind::Full:
        head();
        break;
      case BookPageKind::ChapterEnd: {
        head();
        const int lines = Uniform(rng_, 3, 12);
        p.MarginBottom =
            p.Height - (p.MarginTop + (lines - 1) * p.LineHeight + p.GlyphHeight + 4 * p.Stroke);
        break;
      }
      case BookPageKind::ChapterOpening:
        // The chapter's number and title a third down, the text below them,
        // the page number at the foot.
        centred(p.Height * 22 / 100, 18, p.GlyphHeight, 0);
        centred(p.Height * 27 / 100, Uniform(rng_, 40, 70), p.GlyphHeight * 2, 2 * p.Stroke);
        p.MarginTop = p.Height * 36 / 100;
        p.PageNumberDigits = Digits(index_ + 1);
        break;
      case BookPageKind::Blank:
        p.MarginTop = p.Height;
        break;
      case BookPageKind::Plate:
        // A picture larger than the text block, and its caption below.
        p.Plate = {blockLeft - Px(6), p.MarginTop - Px(5), blockRight + Px(6),
                   p.Height - p.MarginBottom + Px(2)};
        centred(p.Height - p.MarginBottom + Px(7), Uniform(rng_, 30, 60), p.GlyphHeight, 0);
        p.MarginTop = p.Height;
        break;
      case BookPageKind::Cover:
        // A picture to the cover's edges with a wide border, and its title.
        p.Width = Px(PageWidthMm + 2 * CoverOverMm);
        p.Height = Px(PageHeightMm + 2 * CoverOverMm);
        p.MarginLeft = p.MarginRight = Px(InnerMm + CoverOverMm);
        p.MarginTop = p.Height;
        p.GutterShading = 0;
        p.Plate = {0, 0, p.Width, p.Height};
        p.PlateFrame = Px(CoverCropMm + 6);
        {
          const int left = p.MarginLeft, width = p.Width - 2 * p.MarginLeft;
          p.Runs.push_back({left + width / 8, p.Height * 24 / 100, width * 3 / 4, p.GlyphHeight * 3,
                            3 * p.Stroke});
          p.Runs.push_back(
              {left + width / 4, p.Height * 36 / 100, width / 2, p.GlyphHeight * 3 / 2, p.Stroke});
          p.Runs.push_back({left + width / 3, p.Height * 80 / 100, width / 3, p.GlyphHeight, 0});
        }
        break;
    }
    return p;
  }

  // Paper and ink alike take the paper's tint, a little different on each
  // page of the same book.
  void Yellow(PageRaster& page) {
    const double y = std::clamp(s_.Yellowing + UniformReal(rng_, -0.05, 0.05), 0.0, 1.0);
    const int tint[3] = {int(255 - y * (255 - 190)), int(255 - y * (255 - 228)),
                         int(255 - y * (255 - 240))};
    for (int row = 0; row < page.Height(); ++row) {
      std::uint8_t* p = page.Row(row);
      for (int x = 0; x < 3 * page.Width(); ++x)
        p[x] = std::uint8_t(p[x] * tint[x % 3] / 255);
    }
  }

  // The scanner's lid (light, grainy) or its bed (dark, noisy), with the
  // faint shadow the page casts right of and below itself.
  void Ground(PageRaster& scan, const BookPageTruth& t) {
    const int shadow = std::max(2, Px(1.5));
    const int base = t.OnBed ? s_.BedGray : 226;
    const int grain = t.OnBed ? 6 : 3;
    for (int y = 0; y < scan.Height(); ++y) {
      std::uint8_t* row = scan.Row(y);
      for (int x = 0; x < scan.Width(); ++x) {
        double px = 0, py = 0;
        t.Place.Unmap(x + 0.5, y + 0.5, px, py);
        const double right = px - t.PageWidth, below = py - t.PageHeight;
        double f = 1;
        if (right > 0 && right < shadow && py > 0 && py < t.PageHeight + shadow)
          f = 0.75 + 0.25 * right / shadow;
        else if (below > 0 && below < shadow && px > 0 && px < t.PageWidth + shadow)
          f = 0.75 + 0.25 * below / shadow;
        const int level = int((base + (x + y) * 6 / (scan.Width() + scan.Height())) * f) +
                          Uniform(rng_, -grain, grain);
        row[3 * x] = std::uint8_t(std::clamp(level - 4, 0, 255));
        row[3 * x + 1] = std::uint8_t(std::clamp(level - 1, 0, 255));
        row[3 * x + 2] = std::uint8_t(std::clamp(level, 0, 255));
      }
    }
  }

  // What the scanner's sensor and its JPEG leave: noise, stronger in 8 x 8
  // blocks that hold an edge; and a little dust on the glass.
  void ScannerNoise(PageRaster& scan) {
    const int a = Uniform(rng_, 2, 5);
    for (int by = 0; by < scan.Height(); by += 8) {
      for (int bx = 0; bx < scan.Width(); bx += 8) {
        const int bottom = std::min(by + 8, scan.Height()), right = std::min(bx + 8, scan.Width());
        int lo = 255, hi = 0;
        for (int y = by; y < bottom; ++y) {
          const std::uint8_t* p = scan.Row(y);
          for (int x = bx; x < right; ++x) {
            const int gray = (p[3 * x] + p[3 * x + 1] + p[3 * x + 2]) / 3;
            lo = std::min(lo, gray);
            hi = std::max(hi, gray);
          }
        }
        const int amplitude = hi - lo > 40 ? a : std::max(1, a / 3);
        for (int y = by; y < bottom; ++y) {
          std::uint8_t* p = scan.Row(y);
          for (int x = 3 * bx; x < 3 * right; ++x)
            p[x] = std::uint8_t(std::clamp(p[x] + Uniform(rng_, -amplitude, amplitude), 0, 255));
        }
      }
    }
    for (int dust = Uniform(rng_, 0, 8); dust > 0; --dust) {
      const int size = Uniform(rng_, 1, std::max(1, Px(0.3)));
      const int x0 = Uniform(rng_, 0, scan.Width() - 1), y0 = Uniform(rng_, 0, scan.Height() - 1);
      const std::uint8_t level = std::uint8_t(Uniform(rng_, 30, 90));
      for (int y = y0; y < std::min(y0 + size, scan.Height()); ++y) {
        for (int x = x0; x < std::min(x0 + size, scan.Width()); ++x)
          std::fill_n(scan.Row(y) + 3 * x, 3, level);
      }
    }
  }

  // The book's pixel format. A bitonal scanner screens pictures (the
  // straight page's picture, where it lies in the scan) with an ordered
  // dither and cuts the rest at half gray; there only black pixels still
  // show content.
  PageRaster ToBookFormat(const PageRaster& scan, std::vector<std::uint8_t>& content,
                          const Placement& place, const Rect& picture) const {
    if (o_.Kind == PageKind::Colour)
      return scan;
    static constexpr std::uint8_t Bayer[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
        {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
        {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
    PageRaster out(scan.Width(), scan.Height(), PixelFormat::Gray8);
    const bool bitonal = o_.Kind == PageKind::Bitonal;
    const bool screened = bitonal && picture.Width() > 0 && picture.Height() > 0;
    for (int y = 0; y < scan.Height(); ++y) {
      const std::uint8_t* in = scan.Row(y);
      std::uint8_t* row = out.Row(y);
      std::uint8_t* shows = content.data() + std::size_t(y) * std::size_t(scan.Width());
      for (int x = 0; x < scan.Width(); ++x) {
        const int gray = (in[3 * x] + in[3 * x + 1] + in[3 * x + 2]) / 3;
        int threshold = 128;
        if (screened) {
          double px = 0, py = 0;
          place.Unmap(x + 0.5, y + 0.5, px, py);
          if (px >= picture.Left && px < picture.Right && py >= picture.Top && py < picture.Bottom)
            threshold = 4 * Bayer[y % 8][x % 8] + 2;
        }
        row[x] = std::uint8_t(bitonal ? (gray < threshold ? 0 : 255) : gray);
        if (bitonal && row[x] != 0)
          shows[x] = 0;
      }
    }
    return out;
  }

  const BookOptions& o_;
  const Session s_;
  const int index_;
  const BookPageKind kind_;
  const bool recto_;
  std::mt19937 rng_;
};

}  // namespace

const char* BookPageKindName(BookPageKind kind) {
  switch (kind) {
    case BookPageKind::Cover:
      return "cover";
    case BookPageKind::Full:
      return "full";
    case BookPageKind::ChapterOpening:
      return "chapter opening";
    case BookPageKind::ChapterEnd:
      return "chapter end";
    case BookPageKind::Blank:
      return "blank";
    case BookPageKind::Plate:
      return "plate";
  }
  return "";
}

void Placement::Map(double x, double y, double& scanX, double& scanY) const {
  const double t = Turn * Pi / 180;
  scanX = OriginX + x * std::cos(t) + y * std::sin(t);
  scanY = OriginY - x * std::sin(t) + y * std::cos(t);
}

void Placement::Unmap(double scanX, double scanY, double& x, double& y) const {
  const double t = Turn * Pi / 180;
  const double dx = scanX - OriginX, dy = scanY - OriginY;
  x = dx * std::cos(t) - dy * std::sin(t);
  y = dx * std::sin(t) + dy * std::cos(t);
}

std::vector<BookPageKind> BookPlan(int pages) {
  // The cover and its blank back, then chapters that open on a recto (a
  // blank verso before one where needed), every other chapter with a plate
  // in its middle, and the book closing on a chapter's end.
  std::vector<BookPageKind> plan;
  pages = std::max(pages, 4);
  plan.push_back(BookPageKind::Cover);
  plan.push_back(BookPageKind::Blank);
  const int lengths[] = {9, 11, 7, 10};
  for (int chapter = 0; int(plan.size()) < pages - 1; ++chapter) {
    if (plan.size() % 2 == 1)
      plan.push_back(BookPageKind::Blank);
    if (int(plan.size()) == pages - 1)
      break;
    plan.push_back(BookPageKind::ChapterOpening);
    const int length = lengths[chapter % 4];
    for (int k = 0; k < length && int(plan.size()) < pages - 1; ++k) {
      plan.push_back(chapter % 2 == 0 && k == length / 2 ? BookPageKind::Plate
                                                         : BookPageKind::Full);
    }
    plan.push_back(BookPageKind::ChapterEnd);
  }
  if (int(plan.size()) < pages)
    plan.push_back(BookPageKind::ChapterEnd);
  plan.resize(std::size_t(pages));
  return plan;
}

BookPage MakeBookPage(const BookOptions& options, int index) {
  return PageMaker(options, index).Make();
}

void PlaceTurned(const PageRaster& straight, const std::vector<std::uint8_t>& content,
                 const Placement& place, PageRaster& scan, std::vector<std::uint8_t>& scanContent) {
  const int w = straight.Width(), h = straight.Height();
  const double t = place.Turn * Pi / 180, c = std::cos(t), s = std::sin(t);
  for (int y = 0; y < scan.Height(); ++y) {
    std::uint8_t* out = scan.Row(y);
    std::uint8_t* shows = scanContent.data() + std::size_t(y) * std::size_t(scan.Width());
    // The straight page's point under this row's first pixel centre, moved
    // by (c, s) per pixel along the row; pixel centres lie at half numbers.
    const double dy = y + 0.5 - place.OriginY;
    double u = c * (0.5 - place.OriginX) - s * dy - 0.5;
    double v = s * (0.5 - place.OriginX) + c * dy - 0.5;
    for (int x = 0; x < scan.Width(); ++x, u += c, v += s) {
      const int i = int(std::floor(u)), j = int(std::floor(v));
      if (i < -1 || j < -1 || i >= w || j >= h)
        continue;
      const double fu = u - i, fv = v - j;
      const double weights[4] = {(1 - fu) * (1 - fv), fu * (1 - fv), (1 - fu) * fv, fu * fv};
      double sum[3] = {0, 0, 0}, covered = 0, ink = 0;
      for (int k = 0; k < 4; ++k) {
        const int sx = i + (k & 1), sy = j + (k >> 1);
        if (sx < 0 || sy < 0 || sx >= w || sy >= h)
          continue;
        const std::uint8_t* p = straight.Row(sy) + 3 * sx;
        for (int ch = 0; ch < 3; ++ch)
          sum[ch] += weights[k] * p[ch];
        covered += weights[k];
        ink += weights[k] * (content[std::size_t(sy) * std::size_t(w) + std::size_t(sx)] != 0);
      }
      for (int ch = 0; ch < 3; ++ch)
        out[3 * x + ch] = std::uint8_t(std::lround(sum[ch] + (1 - covered) * out[3 * x + ch]));
      shows[x] = ink >= 0.2;
    }
  }
}

}  // namespace pagetrim::samples
