// The skew finder: a projection-profile search on the page's reduced grid.
// The content's ink cells are projected across the page at candidate angles;
// at the angle of the lines, rows of ink and rows of paper alternate sharply,
// which the sum of squared differences between neighbouring rows rewards. A
// sweep over a sample of the cells finds the angle to a quarter of a degree;
// the columns of the text are then found along the lines and shifted into
// line with each other, and two scans, over half of the cells and over all
// of them, each with a parabola through its top, place the angle to a few
// hundredths. The halves of the page
// (the sides of its middle, and the rows above and below) are scored at every
// angle on the way, so that a page whose halves disagree costs little more to
// tell.
#include "page_skew.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace pagetrim {
namespace {

using Cell = ContentBoxTrace::Cell;

// The sweep's step: the peak of a page of text or staves is a degree or two
// wide at full width.
constexpr double SweepStep = 0.5;
// The sweep and the counts of lines look at about this many of the cells:
// enough to place the angle within a quarter of a degree.
constexpr std::size_t SampleCells = 15000;
// The scan after it covers about one sweep step either way, the last one
// somewhat more than one of its steps.
constexpr double MiddleStep = 0.15;
constexpr double FineStep = 0.05;
constexpr int FineSteps = 2;
// How clearly the lines are level is the score at the peak over the score
// this far off it, where lines of text are smeared flat.
constexpr double FarDegrees = 6.0;
// Fewer lines than this are too little to be sure of.
constexpr int MinLines = 5;
// The peak must beat the smeared profile by this ratio: text that is level at
// one angle does many times over, scattered marks do not.
constexpr double MinConfidence = 4.0;
// Two halves of a page whose angles differ by more are turned differently.
constexpr double HalvesAgree = 0.75;
// Pictures covering this share of the content's box make the page a picture.
constexpr double PictureShare = 0.5;
// Ink this dense around a cell may be a picture (a halftone).
constexpr double DenseInk = 0.75;
// The window that density is measured in, as a share of the grid's longer
// side: a good part of a letter.
constexpr double DensityWindow = 0.004;
// A picture is dark over a square at least this share of the grid's longer
// side across: higher than several lines of the closest, heaviest type.
constexpr double PictureSide = 0.04;
// A row of the profile belongs to a line when it holds this share of a full
// row of ink (the 90th percentile of the rows that hold any), and at least
// this share of the grid's width: a speck or a dot is no line.
constexpr double LineRow = 0.3;
constexpr double LineCells = 0.02;
// Columns part at gaps along the lines at least this share of the text's
// width wide, holding at most this share of the usual ink; at most this many.
constexpr double GutterWidth = 0.015;
constexpr double GutterInk = 0.03;
constexpr std::size_t MaxColumns = 8;
// Columns are shifted into line with each other by at most this share of
// half the grid's diagonal: more than a line of text either way.
constexpr double StripShift = 0.025;
// Halves whose sweeps peak farther apart than this disagree outright.
constexpr double HalvesApart = 1.5;

// Ink cells, in cells from the grid's centre, with their weight, the column
// (strip) of the text they lie in and their side of its middle.
struct InkCells {
  std::vector<float> X;
  std::vector<float> Y;
  std::vector<float> Weight;
  std::vector<std::uint8_t> Strip;
  std::vector<std::uint8_t> Side;  // 0 left of the text's middle, 1 right
  std::size_t Strips = 1;
  // Per strip, rows added to its cells' projection: lines up columns whose
  // baselines lie apart.
  std::vector<float> Shift = std::vector<float>(MaxColumns, 0.0f);
  std::vector<float> CellShift;  // each cell's strip's shift
  double Radius = 0;             // of the grid's corners from its centre, in the cells' units

  std::size_t Size() const { return X.size(); }
  void Clear() {
    for (auto* v : {&X, &Y, &Weight, &CellShift})
      v->clear();
    Strip.clear();
    Side.clear();
    Strips = 1;
    std::fill(Shift.begin(), Shift.end(), 0.0f);
  }
  void Reserve(std::size_t n) {
    for (auto* v : {&X, &Y, &Weight, &CellShift})
      v->reserve(n);
    Strip.reserve(n);
    Side.reserve(n);
  }
  void Add(float x, float y, float weight, std::uint8_t strip, std::uint8_t side) {
    X.push_back(x);
    Y.push_back(y);
    Weight.push_back(weight);
    Strip.push_back(strip);
    Side.push_back(side);
    CellShift.push_back(Shift[strip]);
  }
  void SetShifts() {
    for (std::size_t i = 0; i < Size(); ++i)
      CellShift[i] = Shift[Strip[i]];
  }
};

// The row profiles of ink at an angle, by strip and side: every cell's weight
// shared between the two rows its projection falls between, so that the
// profile changes smoothly with the angle.
class Profile {
 public:
  // Rows of side k (0 left of the text's middle, 1 right) start at k * Size();
  // byStrip, rows of strip t and side k at (2 t + k) * Size().
  // Every every-th cell only, weighing every times as much, when every > 1.
  const std::vector<float>& Of(const InkCells& ink, std::size_t every, double degrees,
                               bool byStrip = false) {
    const double a = degrees * std::numbers::pi / 180.0;
    const float s = float(std::sin(a)), c = float(std::cos(a));
    const float offset = float(Offset(ink));
    size_ = std::size_t(2 * offset + 3);
    const std::size_t parts = byStrip ? 2 * ink.Strips : 2;
    // Neighbouring cells fall on the same rows, so four profiles take them
    // in turn: each add then need not wait for the one before.
    lanes_.assign(parts * Lanes * size_, 0.0f);
    const std::size_t n = (ink.Size() + every - 1) / every;
    const float scale = float(every);
    const float* xs = ink.X.data();
    const float* ys = ink.Y.data();
    const float* ws = ink.Weight.data();
    const float* shifts = ink.CellShift.data();
    const std::uint8_t* strip = ink.Strip.data();
    const std::uint8_t* side = ink.Side.data();
    float* lanes = lanes_.data();
    const std::size_t laneSize = Lanes * size_;
    // A block of projections at a time, in a loop of its own that the
    // compiler vectorises; then the adds.
    constexpr std::size_t Block = 256;
    float at[Block];
    for (std::size_t from = 0; from < n; from += Block) {
      const std::size_t count = std::min(Block, n - from);
      for (std::size_t j = 0; j < count; ++j) {
        // A line climbing to the right (counter-clockwise) projects onto one row.
        const std::size_t i = (from + j) * every;
        at[j] = xs[i] * s + ys[i] * c + (offset + shifts[i]);
      }
      for (std::size_t j = 0; j < count; ++j) {
        const std::size_t i = (from + j) * every;
        const int k = int(at[j]);
        const float f = at[j] - float(k);
        const std::size_t part = byStrip ? 2 * std::size_t(strip[i]) + side[i] : side[i];
        float* rows = lanes + part * laneSize + ((from + j) % Lanes) * size_ + k;
        const float w = ws[i] * scale;
        rows[0] += w - w * f;
        rows[1] += w * f;
      }
    }
    rows_.resize(parts * size_);
    for (std::size_t t = 0; t < parts; ++t) {
      const float* from = lanes + t * laneSize;
      float* to = rows_.data() + t * size_;
      for (std::size_t k = 0; k < size_; ++k)
        to[k] = (from[k] + from[k + size_]) + (from[k + 2 * size_] + from[k + 3 * size_]);
    }
    return rows_;
  }
  std::size_t Size() const { return size_; }
  // Room for the shifts of the strips too.
  static double Offset(const InkCells& ink) { return std::ceil(ink.Radius * (1 + StripShift)) + 3; }

 private:
  static constexpr std::size_t Lanes = 4;
  std::size_t size_ = 0;
  std::vector<float> lanes_;
  std::vector<float> rows_;
};

// The page's text cells.
struct InkPart {
  InkCells Fine;
  double MiddleRow = 0;  // from the grid's centre, in cells: half the text lies above
};

enum Half { Left, Right, Top, Bottom };

// How sharp the profile is at an angle, over the page and over each half.
struct Scores {
  double All = 0;
  std::array<double, 4> Halves{};
};

// How sharply rows [from, to) change.
double Sharpness(const float* rows, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = std::max<std::size_t>(from, 1); i < to; ++i) {
    const double d = double(rows[i]) - double(rows[i - 1]);
    sum += d * d;
  }
  return sum;
}

// The profile row at which the rows above middleRow end, at an angle.
std::size_t SplitRow(const InkCells& ink, double degrees, double middleRow, std::size_t size) {
  const double at = middleRow * std::cos(degrees * std::numbers::pi / 180.0) + Profile::Offset(ink);
  return std::size_t(std::clamp(at, 1.0, double(size - 1)));
}

// The profile, scored: the sharpness of the rows of all strips (each shifted
// by its own rows), of the sides of the text's middle, and of the rows either
// side of middleRow's.
Scores ScoresOf(Profile& profile, const InkCells& ink, std::size_t every, double degrees,
                double middleRow) {
  const std::vector<float>& rows = profile.Of(ink, every, degrees);
  const std::size_t size = profile.Size();
  const std::size_t split = SplitRow(ink, degrees, middleRow, size);
  Scores scores;
  std::vector<float> sum(size);
  for (std::size_t i = 0; i < size; ++i)
    sum[i] = rows[i] + rows[i + size];
  scores.Halves[Left] = Sharpness(rows.data(), 0, size);
  scores.Halves[Right] = Sharpness(rows.data() + size, 0, size);
  scores.Halves[Top] = Sharpness(sum.data(), 0, split);
  scores.Halves[Bottom] = Sharpness(sum.data(), split, size);
  scores.All = scores.Halves[Top] + scores.Halves[Bottom];
  return scores;
}

// Shifts each strip along the rows to where its profile at an angle best
// matches the profile of the strip holding the most ink (to a fraction of a
// row), so that columns whose baselines lie apart score as one: otherwise one
// column's lines meet the next column's lines one line lower a fraction of a
// degree off the page's angle. Scored each on its own instead, a column's
// short lines would make a broad peak, whose top wanders with where its cells
// fall between two rows.
void LineUpStrips(Profile& profile, InkCells& ink, double degrees) {
  std::fill(ink.Shift.begin(), ink.Shift.end(), 0.0f);
  ink.SetShifts();
  if (ink.Strips < 2)
    return;
  const std::vector<float>& rows = profile.Of(ink, 1, degrees, true);
  const std::size_t size = profile.Size();
  std::vector<std::vector<float>> strips(ink.Strips, std::vector<float>(size));
  std::size_t heaviest = 0;
  double most = -1;
  for (std::size_t t = 0; t < ink.Strips; ++t) {
    double total = 0;
    for (std::size_t i = 0; i < size; ++i) {
      strips[t][i] = rows[2 * t * size + i] + rows[(2 * t + 1) * size + i];
      total += strips[t][i];
    }
    if (total > most) {
      most = total;
      heaviest = t;
    }
  }
  const std::vector<float>& reference = strips[heaviest];
  const int reach = std::max(4, int(StripShift * ink.Radius));
  std::vector<double> matches(std::size_t(2 * reach + 1));
  for (std::size_t t = 0; t < ink.Strips; ++t) {
    if (t == heaviest)
      continue;
    std::size_t best = 0;
    for (int shift = -reach; shift <= reach; ++shift) {
      // Strip t moved down by shift rows.
      double match = 0;
      for (std::size_t i = std::size_t(std::max(0, shift));
           i < size && long(i) - shift < long(size); ++i)
        match += double(reference[i]) * strips[t][std::size_t(long(i) - shift)];
      matches[std::size_t(shift + reach)] = match;
      if (match > matches[best])
        best = std::size_t(shift + reach);
    }
    double shift = double(best) - reach;
    if (best > 0 && best + 1 < matches.size()) {
      const double below = matches[best - 1], mid = matches[best], above = matches[best + 1];
      const double bend = below - 2 * mid + above;
      if (bend < 0)
        shift += std::clamp(0.5 * (below - above) / bend, -0.5, 0.5);
    }
    ink.Shift[t] = float(shift);
  }
  ink.SetShifts();
}

// Scores at the angles from - count to + count steps around an angle.
struct Scan {
  double From = 0;
  double Step = 0;
  std::vector<Scores> At;

  double Angle(std::size_t i) const { return From + double(i) * Step; }
};

Scan ScanOf(Profile& profile, const InkCells& ink, std::size_t every, double around, double step,
            int count, double middleRow) {
  Scan scan;
  scan.From = around - count * step;
  scan.Step = step;
  for (int i = 0; i <= 2 * count; ++i)
    scan.At.push_back(ScoresOf(profile, ink, every, scan.Angle(std::size_t(i)), middleRow));
  return scan;
}

// The peak of a scan's scores (of the page, or of a half): the best angle,
// moved to the top of the parabola through it and its neighbours. AtEdge when
// the best is the scan's first or last: the top may lie beyond.
struct Peak {
  double Degrees = 0;
  bool AtEdge = false;
};

Peak PeakOf(const Scan& scan, int half = -1) {
  auto score = [&](std::size_t i) {
    return half < 0 ? scan.At[i].All : scan.At[i].Halves[std::size_t(half)];
  };
  std::size_t best = 0;
  for (std::size_t i = 1; i < scan.At.size(); ++i) {
    if (score(i) > score(best))
      best = i;
  }
  Peak top{scan.Angle(best), best == 0 || best + 1 == scan.At.size()};
  if (!top.AtEdge) {
    const double below = score(best - 1), mid = score(best), above = score(best + 1);
    const double bend = below - 2 * mid + above;
    if (bend < 0)
      top.Degrees += std::clamp(0.5 * (below - above) / bend, -0.5, 0.5) * scan.Step;
  }
  return top;
}

// A scan around an angle that, while its best is its first or last angle,
// moves on that way (within the search): a sweep on thin rules may land a
// step or two off.
Scan Climb(Profile& profile, const InkCells& ink, std::size_t every, double around, double step,
           int count, double middleRow) {
  Scan scan = ScanOf(profile, ink, every, around, step, count, middleRow);
  for (int moves = 0; moves < 2 * int(SkewSearchDegrees); ++moves) {
    const Peak peak = PeakOf(scan);
    if (!peak.AtEdge || std::abs(peak.Degrees) >= SkewSearchDegrees)
      break;
    around = peak.Degrees + (peak.Degrees > around ? count : -count) * step;
    scan = ScanOf(profile, ink, every, around, step, count, middleRow);
  }
  return scan;
}

// The lines of ink across the profile at an angle: runs of rows holding a
// good share of a full row.
int CountLines(const std::vector<float>& rows, double leastCells) {
  std::vector<float> held;
  for (float r : rows) {
    if (r > 0)
      held.push_back(r);
  }
  if (held.empty())
    return 0;
  const std::size_t k = held.size() * 9 / 10;
  std::nth_element(held.begin(), held.begin() + std::ptrdiff_t(k), held.end());
  const float least = std::max(float(LineRow) * held[k], float(leastCells));
  int lines = 0;
  bool in = false;
  for (float r : rows) {
    if (r >= least && !in)
      ++lines;
    in = r >= least;
  }
  return lines;
}

// The text's cells, and pictures set apart.
struct PageInk {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Text;  // 1 for ink cells of text, rules and staves
  long TextCells = 0;
  long PictureCells = 0;
  long ContentBoxCells = 0;  // of the box around all content, pictures included
};

// How many cells of a mask of 0 and 1 are set within the square of radius r
// around each cell; beyond the grid counts as unset. A running sum along the
// rows, then one down the columns, a row at a time.
void BoxCounts(const std::vector<std::uint8_t>& mask, int w, int h, int r,
               std::vector<std::uint16_t>& across, std::vector<std::uint16_t>& counts) {
  across.assign(mask.size(), 0);
  counts.assign(mask.size(), 0);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* m = mask.data() + std::size_t(y) * w;
    std::uint16_t* out = across.data() + std::size_t(y) * w;
    int sum = 0;
    for (int x = 0; x < std::min(r, w); ++x)
      sum += m[x];
    for (int x = 0; x < w; ++x) {
      if (x + r < w)
        sum += m[x + r];
      if (x - r - 1 >= 0)
        sum -= m[x - r - 1];
      out[x] = std::uint16_t(sum);
    }
  }
  std::vector<std::uint16_t> column(std::size_t(w), 0);
  for (int y = 0; y < std::min(r, h); ++y) {
    const std::uint16_t* in = across.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x)
      column[std::size_t(x)] = std::uint16_t(column[std::size_t(x)] + in[x]);
  }
  for (int y = 0; y < h; ++y) {
    std::uint16_t* __restrict sum = column.data();
    if (y + r < h) {
      const std::uint16_t* __restrict in = across.data() + std::size_t(y + r) * w;
      for (int x = 0; x < w; ++x)
        sum[x] = std::uint16_t(sum[x] + in[x]);
    }
    if (y - r - 1 >= 0) {
      const std::uint16_t* __restrict out = across.data() + std::size_t(y - r - 1) * w;
      for (int x = 0; x < w; ++x)
        sum[x] = std::uint16_t(sum[x] - out[x]);
    }
    std::copy_n(sum, w, counts.data() + std::size_t(y) * w);
  }
}

// Lightest (or darkest) value in the 3 x 3 cells around each cell.
void Rank3(const std::vector<std::uint8_t>& values, int w, int h, bool lightest,
           std::vector<std::uint8_t>& across, std::vector<std::uint8_t>& out) {
  auto pick = [lightest](std::uint8_t a, std::uint8_t b) {
    return lightest ? std::max(a, b) : std::min(a, b);
  };
  across.resize(values.size());
  out.resize(values.size());
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* in = values.data() + std::size_t(y) * w;
    std::uint8_t* o = across.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x)
      o[x] = pick(in[x], pick(in[std::max(0, x - 1)], in[std::min(w - 1, x + 1)]));
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* up = across.data() + std::size_t(std::max(0, y - 1)) * w;
    const std::uint8_t* mid = across.data() + std::size_t(y) * w;
    const std::uint8_t* down = across.data() + std::size_t(std::min(h - 1, y + 1)) * w;
    std::uint8_t* o = out.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x)
      o[x] = pick(mid[x], pick(up[x], down[x]));
  }
}

// Working memory kept from page to page on each thread: freed and taken
// fresh, these buffers of a page's grid cost the system more to clear than
// the work done in them.
struct InkScratch {
  std::vector<std::uint8_t> Content, PooledGray, PooledInk, Usable, Dark, Core, Picture;
  std::vector<std::uint8_t> Across, Opened, Closed;
  std::vector<std::uint16_t> Sums, InkAround, DarkAround, CoreAround, PictureAround;
};

// The content's ink by cell, with pictures taken out. A picture is dark over
// a wide square: shade wider than a stroke (a smooth photograph, whose cells'
// means stay dark once the strokes of letters are closed over), or ink too
// dense for text (a halftone). Lines of text are dark at this scale too, but
// never over a square higher than several of them. The ink just around a picture
// (its frame) goes with it.
void InkOf(const PageReduction& reduction, const ContentBoxTrace& trace, PageInk& ink) {
  thread_local InkScratch scratch;
  const int w = trace.Width, h = trace.Height;
  const std::size_t cells = std::size_t(w) * h;
  ink.Width = w;
  ink.Height = h;
  ink.TextCells = ink.PictureCells = ink.ContentBoxCells = 0;
  ink.Text.assign(cells, 0);
  std::vector<std::uint8_t>& content = scratch.Content;
  content.resize(cells);
  const Cell* kinds = trace.Cells.data();
  for (std::size_t i = 0; i < cells; ++i)
    content[i] = kinds[i] == Cell::Content;
  Rect box{w, h, 0, 0};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = content.data() + std::size_t(y) * w;
    const std::uint8_t* first = std::find(row, row + w, 1);
    if (first == row + w)
      continue;
    const int last =
        w - int(std::find(std::make_reverse_iterator(row + w), std::make_reverse_iterator(row), 1) -
                std::make_reverse_iterator(row + w));
    box = {std::min(box.Left, int(first - row)), std::min(box.Top, y), std::max(box.Right, last),
           y + 1};
  }
  if (box.Right <= box.Left)
    return;
  ink.ContentBoxCells = long(box.Width()) * box.Height();

  // Pictures are large, so they are looked for on the grid pooled 2 x 2: a
  // pooled cell's shade is the mean of its cells' (over the channels), its
  // ink their count; it is usable when any of them is neither edge nor beyond.
  const int pw = (w + 1) / 2, ph = (h + 1) / 2;
  const std::size_t pooledCells = std::size_t(pw) * ph;
  std::vector<std::uint8_t>& pooledGray = scratch.PooledGray;
  std::vector<std::uint8_t>& pooledInk = scratch.PooledInk;
  std::vector<std::uint8_t>& usable = scratch.Usable;
  pooledGray.resize(pooledCells);
  pooledInk.resize(pooledCells);
  usable.resize(pooledCells);
  const int channels = reduction.Channels();
  const std::uint8_t* mean = reduction.Mean().data();
  // The paper: the usual shade of the usable cells.
  std::array<int, 256> histogram{};
  int counted = 0;
  for (int y = 0; y < ph; ++y) {
    const std::size_t top = std::size_t(2 * y) * w;
    const std::size_t down = 2 * y + 1 < h ? std::size_t(w) : 0;
    for (int x = 0; x < pw; ++x) {
      const std::size_t i = top + std::size_t(2 * x);
      const std::size_t right = 2 * x + 1 < w ? 1 : 0;
      const std::size_t at[4] = {i, i + right, i + down, i + down + right};
      int sum = 0;
      for (int c = 0; c < channels; ++c) {
        const std::uint8_t* plane = mean + std::size_t(c) * cells;
        sum += plane[at[0]] + plane[at[1]] + plane[at[2]] + plane[at[3]];
      }
      const std::size_t p = std::size_t(y) * pw + x;
      pooledGray[p] = std::uint8_t(sum / (4 * channels));
      // Cells counted twice at the last row or column count as two.
      pooledInk[p] =
          std::uint8_t(content[at[0]] + content[at[1]] + content[at[2]] + content[at[3]]);
      bool use = false;
      for (const std::size_t j : at)
        use = use || kinds[j] == Cell::Paper || kinds[j] == Cell::Content;
      usable[p] = use;
      if (use) {
        ++histogram[pooledGray[p]];
        ++counted;
      }
    }
  }
  int paper = 255;
  for (int v = 0, seen = 0; v < 256; ++v) {
    seen += histogram[std::size_t(v)];
    if (seen >= 0.75 * counted) {
      paper = v;
      break;
    }
  }
  Rank3(pooledGray, pw, ph, true, scratch.Across, scratch.Opened);
  Rank3(scratch.Opened, pw, ph, false, scratch.Across, scratch.Closed);
  const std::vector<std::uint8_t>& closed = scratch.Closed;
  const int r = std::max(1, int(std::lround(DensityWindow * std::max(w, h) / 2)));
  const int denseCount = int(std::ceil(DenseInk * 4 * (2 * r + 1) * (2 * r + 1)));
  BoxCounts(pooledInk, pw, ph, r, scratch.Sums, scratch.InkAround);
  const std::vector<std::uint16_t>& inkAround = scratch.InkAround;
  const int px0 = box.Left / 2, px1 = (box.Right + 1) / 2, py0 = box.Top / 2,
            py1 = (box.Bottom + 1) / 2;
  std::vector<std::uint8_t>& dark = scratch.Dark;
  dark.assign(pooledCells, 0);
  for (int y = py0; y < py1; ++y) {
    for (int x = px0; x < px1; ++x) {
      const std::size_t i = std::size_t(y) * pw + x;
      const bool shade = closed[i] + 32 < paper;
      const bool dense = pooledInk[i] > 0 && inkAround[i] >= denseCount;
      dark[i] = usable[i] && (shade || dense);
    }
  }
  const int open = std::max(2, int(std::lround(PictureSide * std::max(w, h) / 4)));
  const int full = (2 * open + 1) * (2 * open + 1);
  BoxCounts(dark, pw, ph, open, scratch.Sums, scratch.DarkAround);
  const std::vector<std::uint16_t>& darkAround = scratch.DarkAround;
  std::vector<std::uint8_t>& core = scratch.Core;
  core.assign(pooledCells, 0);
  for (std::size_t i = 0; i < pooledCells; ++i)
    core[i] = darkAround[i] == full;
  BoxCounts(core, pw, ph, open, scratch.Sums, scratch.CoreAround);
  const std::vector<std::uint16_t>& coreAround = scratch.CoreAround;
  std::vector<std::uint8_t>& picture = scratch.Picture;
  picture.assign(pooledCells, 0);
  for (std::size_t i = 0; i < pooledCells; ++i) {
    picture[i] = dark[i] && coreAround[i] > 0;
    ink.PictureCells += 4 * picture[i];
  }
  BoxCounts(picture, pw, ph, r, scratch.Sums, scratch.PictureAround);
  const std::vector<std::uint16_t>& pictureAround = scratch.PictureAround;
  for (int y = box.Top; y < box.Bottom; ++y) {
    const std::uint8_t* in = content.data() + std::size_t(y) * w;
    const std::uint16_t* around = pictureAround.data() + std::size_t(y / 2) * pw;
    std::uint8_t* text = ink.Text.data() + std::size_t(y) * w;
    for (int x = box.Left; x < box.Right; ++x) {
      text[x] = in[x] && around[x / 2] == 0;
      ink.TextCells += text[x];
    }
  }
}

// Where within its cell a cell's ink is taken to lie: a fixed scatter from
// the cell's place. Cells on a lattice project onto the rows alike at the
// lattice's own angles, 0 above all, which would pull every angle towards
// them; scattered, they do not.
float Scatter(unsigned x, unsigned y, unsigned salt) {
  // A well-mixed hash (the finaliser of MurmurHash3): the low bits of a plain
  // product follow x almost linearly, and scatter that follows x is itself a
  // lattice, sharpest a fraction of a degree off.
  std::uint32_t v = x * 0x9E3779B1u + y * 0x85EBCA77u + salt * 0xC2B2AE3Du;
  v ^= v >> 16;
  v *= 0x85EBCA6Bu;
  v ^= v >> 13;
  v *= 0xC2B2AE35u;
  v ^= v >> 16;
  return float(v >> 8) / 16777216.0f;
}

// The text cells of the whole page, all in one strip.
void PageInkPart(const PageInk& ink, InkPart& part) {
  part.Fine.Clear();
  const int w = ink.Width, h = ink.Height;
  const float cx = w / 2.0f, cy = h / 2.0f;
  part.Fine.Radius = std::hypot(w, h) / 2.0 + 1;
  int left = w, right = 0;
  std::vector<long> perRow(std::size_t(h), 0);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = ink.Text.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x) {
      if (row[x]) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
        ++perRow[std::size_t(y)];
      }
    }
  }
  long seen = 0;
  int middle = 0;
  while (middle < h && 2 * (seen + perRow[std::size_t(middle)]) < ink.TextCells)
    seen += perRow[std::size_t(middle++)];
  part.MiddleRow = middle - cy;
  auto sideOf = [&](int x) { return std::uint8_t(2 * x >= left + right); };
  part.Fine.Reserve(std::size_t(ink.TextCells));
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = ink.Text.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x) {
      if (row[x])
        part.Fine.Add(x + Scatter(x, y, 0) - cx, y + Scatter(x, y, 1) - cy, 1.0f, 0, sideOf(x));
    }
  }
}

// Puts each cell in the strip of its column: the columns part where, along
// the lines at an angle, a gap with next to no ink runs down the text. A page
// of one column is one strip, and its lines are scored whole.
void StripsByColumn(InkCells& ink, double degrees) {
  const double a = degrees * std::numbers::pi / 180.0;
  const double s = std::sin(a), c = std::cos(a);
  // Along the lines: u = x cos - y sin, in whole cells, counted from beyond
  // the grid's farthest corner so that every bin is positive.
  const double reach = ink.Radius;
  const std::size_t bins = std::size_t(2 * reach + 3);
  std::vector<float> along(bins, 0.0f);
  thread_local std::vector<std::uint32_t> binOf;
  binOf.resize(ink.Size());
  for (std::size_t i = 0; i < ink.Size(); ++i) {
    const std::uint32_t bin = std::uint32_t(ink.X[i] * c - ink.Y[i] * s + reach + 1);
    binOf[i] = bin;
    along[std::size_t(bin)] += ink.Weight[i];
  }
  std::size_t first = 0, last = bins;
  while (first < bins && along[first] == 0)
    ++first;
  while (last > first && along[last - 1] == 0)
    --last;
  if (first >= last)
    return;
  double total = 0;
  for (std::size_t i = first; i < last; ++i)
    total += along[i];
  const double usual = total / double(last - first);
  const std::size_t narrowest = std::max<std::size_t>(2, std::size_t(GutterWidth * (last - first)));
  // Strip k holds the bins from its start to the next start.
  std::vector<std::size_t> starts{first};
  std::size_t run = 0;
  for (std::size_t i = first; i < last; ++i) {
    if (along[i] <= GutterInk * usual) {
      ++run;
      continue;
    }
    if (run >= narrowest && starts.size() < MaxColumns && i - run > starts.back())
      starts.push_back(i - run / 2);
    run = 0;
  }
  ink.Strips = starts.size();
  for (std::size_t i = 0; i < ink.Size(); ++i) {
    const auto next = std::upper_bound(starts.begin(), starts.end(), std::size_t(binOf[i]));
    ink.Strip[i] = std::uint8_t(std::max<std::ptrdiff_t>(0, next - starts.begin() - 1));
  }
}

// The profile across the page at an angle, or across one half of it.
std::vector<float> RowsOf(Profile& profile, const InkCells& ink, std::size_t every, double degrees,
                          double middleRow, int half = -1) {
  const std::vector<float>& sides = profile.Of(ink, every, degrees);
  const std::size_t size = profile.Size();
  const std::size_t split = SplitRow(ink, degrees, middleRow, size);
  std::vector<float> rows(size, 0.0f);
  const std::size_t from = half == Bottom ? split : 0, to = half == Top ? split : size;
  for (std::size_t i = from; i < to; ++i)
    rows[i] = (half == Right ? 0.0f : sides[i]) + (half == Left ? 0.0f : sides[size + i]);
  return rows;
}

// How clearly rows are level at an angle: their sharpness there over its mean
// this far off either way, where lines are smeared flat.
double ConfidenceOf(Profile& profile, const InkCells& ink, std::size_t every, double degrees,
                    double middleRow, int half = -1) {
  auto sharpness = [&](double at) {
    const std::vector<float> rows = RowsOf(profile, ink, every, at, middleRow, half);
    return Sharpness(rows.data(), 0, rows.size());
  };
  const double far = (sharpness(degrees + FarDegrees) + sharpness(degrees - FarDegrees)) / 2;
  return sharpness(degrees) / std::max(1e-9, far);
}

SkewFinding Unsure(SkewDoubt doubt, double confidence = 0, int lines = 0) {
  SkewFinding f;
  f.Doubt = doubt;
  f.Confidence = confidence;
  f.Lines = lines;
  return f;
}

}  // namespace

const char* SkewDoubtName(SkewDoubt doubt) {
  switch (doubt) {
    case SkewDoubt::None:
      return "";
    case SkewDoubt::Blank:
      return "blank";
    case SkewDoubt::Picture:
      return "picture";
    case SkewDoubt::TooLittleText:
      return "too little text";
    case SkewDoubt::LinesDisagree:
      return "lines disagree";
  }
  return "";
}

SkewFinding FindSkew(const PageRaster& page, float dpi, const PageReduction& reduction,
                     const ContentBoxTrace& trace) {
  if (page.IsEmpty())
    return Unsure(SkewDoubt::Blank);
  if (!reduction.Covers(page) || trace.Width != reduction.Width() ||
      trace.Height != reduction.Height() ||
      trace.Cells.size() != std::size_t(trace.Width) * trace.Height)
    return FindSkew(page, dpi, reduction);
  thread_local PageInk ink;
  InkOf(reduction, trace, ink);
  if (ink.ContentBoxCells == 0)
    return Unsure(SkewDoubt::Blank);
  const bool mostlyPicture = ink.PictureCells >= PictureShare * double(ink.ContentBoxCells);
  if (ink.TextCells == 0)
    return Unsure(mostlyPicture ? SkewDoubt::Picture : SkewDoubt::TooLittleText);

  thread_local Profile profile;
  const double leastLineCells = LineCells * ink.Width;
  thread_local InkPart all;
  PageInkPart(ink, all);
  const double middleRow = all.MiddleRow;
  const int sweepSteps = int(std::lround(SkewSearchDegrees / SweepStep));
  // The sweep and the counts of lines look at a sample of the cells; the scans
  // near the peak and the halves' confidences at half of them, the last scan
  // and the page's confidence at all.
  const InkCells& cells = all.Fine;
  const std::size_t sample = std::max<std::size_t>(1, cells.Size() / SampleCells);
  const Scan sweep = ScanOf(profile, cells, sample, 0.0, SweepStep, sweepSteps, middleRow);
  const Peak swept = PeakOf(sweep);
  StripsByColumn(all.Fine, swept.Degrees);
  LineUpStrips(profile, all.Fine, swept.Degrees);
  const Scan middle = Climb(profile, cells, std::min<std::size_t>(2, sample),
                            std::round(swept.Degrees / SweepStep) * SweepStep, MiddleStep,
                            int(std::lround(SweepStep / MiddleStep)), middleRow);
  const double near = PeakOf(middle).Degrees;
  LineUpStrips(profile, all.Fine, near);
  const Peak fine = PeakOf(ScanOf(profile, cells, 1, near, FineStep, FineSteps, middleRow));
  const double degrees = fine.Degrees;
  // (Not on a sample: the noise of a sample, each cell weighing more, fills
  // the smeared profile's rows and lowers how clearly the lines stand out.)
  const double confidence = ConfidenceOf(profile, cells, 1, degrees, middleRow);
  const int lines = CountLines(RowsOf(profile, cells, sample, degrees, middleRow), leastLineCells);
  if (mostlyPicture)
    return Unsure(SkewDoubt::Picture, confidence, lines);
  if (lines < MinLines)
    return Unsure(SkewDoubt::TooLittleText, confidence, lines);
  if (std::abs(degrees) > SkewSearchDegrees - SweepStep / 2 || confidence < MinConfidence)
    return Unsure(SkewDoubt::LinesDisagree, confidence, lines);

  // Halves of the text, side by side and one above the other, must agree
  // where each holds enough lines to tell: a page pasted together from two
  // turned differently, or a spread of two pages, has no one angle. A half
  // counts when its own sweep finds clear lines; halves that count disagree
  // when their sweeps peak far apart, or their peaks on the cells (within a
  // sweep step of the page's) lie apart.
  std::array<bool, 4> counts{};
  std::array<double, 4> swepts{}, fines{}, halfConfidence{};
  std::array<int, 4> halfLines{};
  for (int half = Left; half <= Bottom; ++half) {
    const Peak own = PeakOf(sweep, half);
    swepts[std::size_t(half)] = own.Degrees;
    fines[std::size_t(half)] = PeakOf(middle, half).Degrees;
    const double ownConfidence = ConfidenceOf(profile, cells, sample, own.Degrees, middleRow, half);
    const int ownLines =
        CountLines(RowsOf(profile, cells, sample, own.Degrees, middleRow, half), leastLineCells);
    counts[std::size_t(half)] =
        !own.AtEdge && ownConfidence >= MinConfidence && ownLines >= MinLines;
    halfConfidence[std::size_t(half)] = ownConfidence;
    halfLines[std::size_t(half)] = ownLines;
  }
  for (const auto& [a, b] : {std::pair{Left, Right}, std::pair{Top, Bottom}}) {
    if (counts[a] && counts[b] &&
        (std::abs(swepts[a] - swepts[b]) > HalvesApart ||
         std::abs(fines[a] - fines[b]) > HalvesAgree))
      return Unsure(SkewDoubt::LinesDisagree, confidence, lines);
  }

  SkewFinding found;
  found.Sure = true;
  found.Degrees = degrees;
  found.NeedsTurn = std::abs(degrees) >= LeastTurnDegrees;
  found.Doubt = SkewDoubt::None;
  found.Confidence = confidence;
  found.Lines = lines;
  return found;
}

SkewFinding FindSkew(const PageRaster& page, float dpi, const PageReduction& reduction) {
  if (page.IsEmpty())
    return Unsure(SkewDoubt::Blank);
  if (!reduction.Covers(page))
    return FindSkew(page, dpi);
  ContentBoxTrace trace;
  FindContentBox(page, dpi, reduction, &trace);
  return FindSkew(page, dpi, reduction, trace);
}

SkewFinding FindSkew(const PageRaster& page, float dpi) {
  if (page.IsEmpty())
    return Unsure(SkewDoubt::Blank);
  thread_local PageReduction reduction;
  reduction.AddRows(page, 0, page.Height());
  return FindSkew(page, dpi, reduction);
}

}  // namespace pagetrim
