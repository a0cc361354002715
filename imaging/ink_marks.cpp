// The marks of ink on the page's own paper, and which of them are content:
// not bits of an edge at the border, not specks, not the facing page.
#include "ink_marks.h"

#include <algorithm>
#include <cmath>

namespace pagetrim::box {
namespace {

// The grid has at most about 400,000 cells whatever the resolution, so a
// cell of an A4 page (210 x 297 mm) is about 0.4 mm across. Fractions are of
// the page's width for the sides and of its height for the top and bottom,
// or of its shorter side. Levels are of 0 (black) to 255 (white).

// Ink within this many cells of a cell set aside is the edge's own outline.
constexpr int OutlineReach = 1;
// Marks taller than this part of the page (30 mm on A4) are rules, pictures
// or edges, not letters, and do not count for the usual height of a mark.
constexpr int TallestLetterPart = 10;
// Bits of a page edge lie within this strip along the border: 6 mm across,
// 9 mm down.
constexpr double EdgeStrip = 0.03;
// What lies within this share of the shorter side (1.7 mm on A4), and at
// least this many cells, is beside an edge.
constexpr double EdgeReach = 0.008;
constexpr int LeastEdgeReach = 2;
// A mark this many times as long as it is wide is a streak or a line.
constexpr int StreakRatio = 4;
// Bits of an edge are thinner than a third of a letter's height, or, when
// faint, than a third of the edge strip (2 mm across).
constexpr int ThinPart = 3;
// A mark at the border stands apart when no mark of the page lies within
// this share of the shorter side (3 mm on A4), nor within twice the usual
// height of a mark.
constexpr double ApartGap = 0.015;
// Lines beside an edge, and faint bits and crumbs beside those, are followed
// this many steps out from the edge.
constexpr int TrailSteps = 4;
// A mark whose contrast with the paper is below this share of the ink's is
// faint: dirt, or ink showing through from the back.
constexpr double FaintMark = 0.75;
// Below this share, a mark is a ghost: show-through, or dust in the light.
constexpr double GhostMark = 0.5;
// More tiny dots than this around one make a row of dots, not dust.
constexpr int DottedRow = 4;
// Faint dirt is a speck when no letter lies within this many times the
// usual height of a mark: a few lines of text.
constexpr int DirtReach = 4;
// Small words are a line when more than this many others lie beside them,
// each within this many times its height of the next.
constexpr int WordsInLine = 2;
constexpr int WordGaps = 3;
// The facing page's gutter is looked for between the top and bottom tenth
// of the page (30 mm on A4), where rules and edges across the page do not
// bridge it.
constexpr double FacingMiddle = 0.1;
// A fold down the gutter is a thin mark, no wider than this share of the
// width (2 mm) and no fewer cells, and this many times as tall as it is wide.
constexpr double FoldWidth = 0.01;
constexpr int LeastFoldWidth = 2;
constexpr int FoldRatio = 6;
// A facing page lies beyond a gutter this wide (13 mm of an A4 page), and is
// at most this wide (74 mm).
constexpr double FacingGutter = 0.06;
constexpr double FacingWidth = 0.35;
// The fold runs dark down this share of the page's height.
constexpr double FoldCovered = 0.4;
// The facing page's text ends nearer the border than this part of the
// gutter, or within NearBorder of it.
constexpr int OuterGapPart = 3;

}  // namespace

Marks FindMarks(const Analysis& a) {
  const int w = a.W(), h = a.H(), cells = w * h;
  // Ink right beside an edge is the edge's own outline.
  Scratch<std::uint8_t> aside(cells);
  for (int i = 0; i < cells; ++i)
    aside[i] = a.SetAside(i) ? 255 : 0;
  aside = RankFilter(aside, w, h, OutlineReach, true);
  Marks marks;
  marks.Mask.resize(cells);
  for (int i = 0; i < cells; ++i)
    marks.Mask[i] = a.Ink[i] & std::uint8_t(aside[i] == 0);
  marks.Blobs = FindBlobs(marks.Mask, w, h, marks.Runs);
  LabelRuns(marks.Runs, w, h, marks.Labels);
  marks.Kind.assign(marks.Blobs.size(), Cell::Content);
  marks.Darkest.assign(marks.Blobs.size(), 255);
  for (const Run& run : marks.Runs) {
    const std::size_t from = std::size_t(run.Y) * w + run.X0;
    const std::uint8_t* darkest = a.G.Darkest.data() + from;
    marks.Darkest[run.Blob] = std::min<int>(
        marks.Darkest[run.Blob], *std::min_element(darkest, darkest + (run.X1 - run.X0)));
  }
  Scratch<int> heights;
  for (const Blob& b : marks.Blobs) {
    if (b.Height() >= 2 && b.Height() <= h / TallestLetterPart)
      heights.push_back(b.Height());
  }
  if (!heights.empty()) {
    std::nth_element(heights.begin(), heights.begin() + long(heights.size() / 2), heights.end());
    marks.Typical = heights[heights.size() / 2];
  }
  // Text is never smaller than this, however many specks there are.
  marks.Typical = std::max({LeastTypicalMark, marks.Typical, a.SmallestLetter});
  return marks;
}

void SetAsideBorderMarks(const Analysis& a, Marks& marks) {
  const int w = a.W(), h = a.H();
  const int stripX = std::max(1, int(EdgeStrip * w)), stripY = std::max(1, int(EdgeStrip * h));
  const std::size_t count = marks.Blobs.size();
  // What lies within reach of an edge: set-aside cells, and marks already
  // taken for bits of an edge.
  const int reach = std::max(LeastEdgeReach, int(std::lround(EdgeReach * std::min(w, h))));
  auto besideEdge = [&](const Blob& m) {
    for (int y = std::max(0, m.Top - reach); y < std::min(h, m.Bottom + reach); ++y) {
      for (int x = std::max(0, m.Left - reach); x < std::min(w, m.Right + reach); ++x) {
        const int i = y * w + x;
        const int l = marks.Labels[i];
        if (a.SetAside(i) || (l >= 0 && marks.Kind[l] == Cell::Edge))
          return true;
      }
    }
    return false;
  };

  struct Shape {
    bool Touching = false;  // reaches the border
    bool Corner = false;    // touches it within a corner of the narrow frame
    bool Lone = false;      // at the border, and to be set aside if it stands alone
    bool Fragment = false;  // thinner than letters (or faint), along a side, in the outer strip
    bool Along = false;     // a line beside an edge, within the narrow frame
    bool Trail = false;     // a faint bit or a crumb, that may continue an edge
  };
  Scratch<Shape> shapes(count);
  for (std::size_t b = 0; b < count; ++b) {
    const Blob& m = marks.Blobs[b];
    Shape& s = shapes[b];
    const bool atSide = m.Left <= 1 || m.Right >= w - 1;
    s.Touching = atSide || m.Top <= 1 || m.Bottom >= h - 1;
    const bool leftFrame = m.Right <= NarrowFrame * w, rightFrame = m.Left >= w - NarrowFrame * w;
    const bool topFrame = m.Bottom <= NarrowFrame * h, bottomFrame = m.Top >= h - NarrowFrame * h;
    const bool sideFrame = leftFrame || rightFrame, endFrame = topFrame || bottomFrame;
    s.Corner = s.Touching && sideFrame && endFrame;
    const bool tallShape = m.Height() >= StreakRatio * m.Width();
    const bool wideShape = m.Width() >= StreakRatio * m.Height();
    const bool small = m.Width() <= WideFrame * w && m.Height() <= WideFrame * h;
    const bool streak = atSide ? tallShape && sideFrame : wideShape && endFrame;
    const bool crumb = 2 * std::max(m.Width(), m.Height()) <= marks.Typical;
    s.Lone = s.Touching && (small || streak || crumb);
    const bool faint = a.PaperLevel - marks.Darkest[b] < FaintMark * a.Contrast;
    const int thin = faint ? std::max(2, stripX / ThinPart) : std::max(1, marks.Typical / ThinPart);
    const bool tall = m.Width() <= thin && m.Height() >= 2 * m.Width();
    const bool wide = m.Height() <= thin && m.Width() >= 2 * m.Height();
    s.Fragment = (tall && (m.Right <= stripX || m.Left >= w - stripX)) ||
                 (wide && (m.Bottom <= stripY || m.Top >= h - stripY));
    const bool sideZone = m.Right <= WideFrame * w || m.Left >= w - WideFrame * w;
    const bool endZone = m.Bottom <= WideFrame * h || m.Top >= h - WideFrame * h;
    s.Along = (tallShape && sideFrame) || (wideShape && endFrame);
    const bool letterSized = std::max(m.Width(), m.Height()) <= marks.Typical;
    s.Trail = crumb || (faint && (letterSized || (tallShape && sideZone && tall) ||
                                  (wideShape && endZone && wide)));
  }

  // Corners, crumbs on the border itself, and marks at the border or bits in
  // the outer strip that stand apart: no mark of the page within the gap,
  // not counting specks, other such marks and whatever lies beside an edge.
  Scratch<std::uint8_t> inPage(count);
  const int tiny = std::max(1, marks.Typical / 2);
  for (std::size_t b = 0; b < count; ++b) {
    const Blob& m = marks.Blobs[b];
    const Shape& s = shapes[b];
    const bool inStrip =
        m.Right <= stripX || m.Left >= w - stripX || m.Bottom <= stripY || m.Top >= h - stripY;
    const bool beside = (s.Along || s.Trail) && besideEdge(m);
    inPage[b] =
        !s.Lone && !s.Fragment && !beside && !inStrip && std::max(m.Width(), m.Height()) > tiny;
  }
  MaskSums page(w, h);
  page.BuildFromRuns(marks.Runs, [&](int l) { return inPage[l] != 0; });
  const int gap = std::max(2 * marks.Typical, int(ApartGap * std::min(w, h)));
  for (std::size_t b = 0; b < count; ++b) {
    const Blob& m = marks.Blobs[b];
    const Shape& s = shapes[b];
    const bool alone = page.In(m.Left - gap, m.Top - gap, m.Right + gap, m.Bottom + gap) == 0;
    const int nearX = std::max(1, int(NearBorder * w)), nearY = std::max(1, int(NearBorder * h));
    const bool nearBorder =
        m.Left < nearX || m.Right > w - nearX || m.Top < nearY || m.Bottom > h - nearY;
    const bool crumb = nearBorder && 2 * std::max(m.Width(), m.Height()) <= marks.Typical;
    if (s.Corner || crumb || (alone && (s.Lone || s.Fragment)))
      marks.Kind[b] = Cell::Edge;
  }

  // Lines beside an edge, and faint bits and crumbs beside an edge or beside
  // those, a few steps out.
  for (int round = 0; round < TrailSteps; ++round) {
    bool changed = false;
    for (std::size_t b = 0; b < count; ++b) {
      const Blob& m = marks.Blobs[b];
      const bool follows = shapes[b].Trail || (round == 0 && shapes[b].Along);
      if (marks.Kind[b] == Cell::Content && follows && besideEdge(m)) {
        marks.Kind[b] = Cell::Edge;
        changed = true;
      }
    }
    if (!changed)
      break;
  }
}

// A speck is much smaller than the page's usual mark and lies away from every
// larger one. Dirt may be as large as a small letter when it lies far away
// from any other mark and is fainter than the page's ink; faint words of a
// caption keep each other.
void SetAsideSpecks(const Analysis& a, Marks& marks) {
  const int w = a.W(), h = a.H();
  const int tiny = std::max(1, marks.Typical / 2);
  auto size = [&](const Blob& b) { return std::max(b.Width(), b.Height()); };
  auto faint = [&](int b) { return a.PaperLevel - marks.Darkest[b] < FaintMark * a.Contrast; };
  auto ghost = [&](int b) { return a.PaperLevel - marks.Darkest[b] < GhostMark * a.Contrast; };
  auto isLetter = [&](int l) {
    return marks.Kind[l] == Cell::Content && size(marks.Blobs[l]) > tiny;
  };
  // What keeps dirt smaller than any letter: marks of a letter's size.
  auto isLetterSized = [&](int l) {
    return isLetter(l) && size(marks.Blobs[l]) >= a.SmallestLetter;
  };
  // Dots in a row, such as a dotted rule or leaders, keep each other: dust
  // seldom lies so close together.
  Scratch<std::uint8_t> dotAt(std::size_t(w) * h);
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    const Blob& m = marks.Blobs[b];
    if (marks.Kind[b] == Cell::Content && size(m) <= tiny && !ghost(int(b)))
      dotAt[std::size_t(m.Top) * w + m.Left] = 1;
  }
  MaskSums dots(w, h);
  dots.Build(dotAt.data());
  // Small words in a line, such as an imprint in small type, keep each
  // other too: their middles lie in a row, close beside each other.
  const int wordHeight = std::max(2, a.SmallestLetter / 2);
  auto word = [&](const Blob& m) { return m.Height() >= wordHeight && size(m) <= marks.Typical; };
  Scratch<std::uint8_t> wordAt(std::size_t(w) * h);
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    const Blob& m = marks.Blobs[b];
    if (marks.Kind[b] == Cell::Content && word(m))
      wordAt[std::size_t((m.Top + m.Bottom) / 2) * w + (m.Left + m.Right) / 2] = 1;
  }
  MaskSums words(w, h);
  words.Build(wordAt.data());
  auto inLine = [&](const Blob& m) {
    const int beside = WordGaps * m.Height();
    return word(m) && words.In(m.Left - beside, m.Top, m.Right + beside, m.Bottom) > WordsInLine;
  };
  // Faint dirt first, so that it keeps no speck beside it.
  MaskSums letters(w, h), letterSized(w, h);
  bool lettersChanged = true;
  for (const bool tinyOnes : {false, true}) {
    if (lettersChanged) {
      letters.BuildFromRuns(marks.Runs, isLetter);
      letterSized.BuildFromRuns(marks.Runs, isLetterSized);
    }
    lettersChanged = false;
    for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
      const Blob& m = marks.Blobs[b];
      if (marks.Kind[b] != Cell::Content || size(m) > marks.Typical)
        continue;
      // A mark smaller than any letter is dirt as a faint one is, however
      // dark: alone on a blank page, or far from the text.
      const bool isTiny = size(m) <= tiny;
      const bool dirt = !isTiny && faint(int(b));
      const bool small = !isTiny && !dirt && size(m) < a.SmallestLetter;
      if (isTiny != tinyOnes || (!isTiny && !dirt && !small) || inLine(m))
        continue;
      const int t = marks.Typical;
      if (isTiny && !ghost(int(b)) &&
          dots.In(m.Left - t, m.Top - t, m.Right + t, m.Bottom + t) > DottedRow)
        continue;
      // A tiny mark beside a letter may be its full stop or its dot.
      const int reach = isTiny ? std::max(2, tiny) : DirtReach * t;
      const MaskSums& keeping = small ? letterSized : letters;
      const int own = (small ? isLetterSized(int(b)) : isLetter(int(b))) ? m.Area : 0;
      if (keeping.In(m.Left - reach, m.Top - reach, m.Right + reach, m.Bottom + reach) == own) {
        marks.Kind[b] = Cell::Speck;
        lettersChanged = true;
      }
    }
  }
}

// The gutter is wider than any gap between columns, and the fold or shadow
// of the binding runs down it.
void SetAsideFacingPage(const Analysis& a, Marks& marks) {
  const int w = a.W(), h = a.H();
  // The gap is looked for in the middle of the page's height, and may hold a
  // thin fold running down it; rules and edges across the top or bottom do
  // not bridge it.
  const int thin = std::max(LeastFoldWidth, int(FoldWidth * w));
  const int middleTop = int(FacingMiddle * h), middleBottom = h - int(FacingMiddle * h);
  Scratch<int> columnMarks(w);
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    const Blob& m = marks.Blobs[b];
    if (marks.Kind[b] != Cell::Content || m.Bottom <= middleTop || m.Top >= middleBottom)
      continue;
    if ((m.Width() <= thin && m.Height() >= FoldRatio * m.Width()) ||
        2 * std::max(m.Width(), m.Height()) <= marks.Typical)
      continue;
    for (int x = m.Left; x < m.Right; ++x)
      ++columnMarks[x];
  }
  // Whether something dark runs down most of the page within the gap, gap0
  // to gap1, or the edge of the block beside it, block0 to block1: there
  // the fold may touch the block's letters, which are no fold themselves.
  const int foldRows = int(std::ceil(FoldCovered * h));
  auto foldIn = [&](int gap0, int gap1, int block0, int block1) {
    const int x0 = std::min(gap0, block0), x1 = std::max(gap1, block1);
    auto foldCell = [&](int i, int x) {
      if (a.SetAside(i))
        return true;
      if (a.G.Darkest[i] + a.LineDelta >= a.NearPaper[i])
        return false;
      const int l = marks.Labels[i];
      return (x >= gap0 && x < gap1) || l < 0 || marks.Blobs[std::size_t(l)].Height() >= foldRows;
    };
    for (int x = x0; x < x1; ++x) {
      int rows = 0;
      for (int y = 0; y < h; ++y) {
        for (int dx = std::max(x0, x - thin); dx <= std::min(x1 - 1, x + thin); ++dx) {
          if (foldCell(y * w + dx, dx)) {
            ++rows;
            break;
          }
        }
      }
      if (rows >= foldRows)
        return true;
    }
    return false;
  };
  const int nearX = std::max(1, int(NearBorder * w));
  const int gutter = int(FacingGutter * w);
  const int widest = int(FacingWidth * w);
  auto setAsideColumns = [&](int x0, int x1) {
    for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
      if (marks.Kind[b] == Cell::Content && marks.Blobs[b].Left >= x0 && marks.Blobs[b].Right <= x1)
        marks.Kind[b] = Cell::Beyond;
    }
  };
  // From each border inwards: the block, then the gutter. The facing page's
  // text need not reach the border, but it ends much nearer to the border
  // than to the page's own text. Columns are counted from the border.
  auto fromBorder = [&](bool right) {
    auto marksAt = [&](int i) { return columnMarks[right ? w - 1 - i : i]; };
    int outer = 0;
    while (outer < widest && marksAt(outer) == 0)
      ++outer;
    int blockEnd = outer;
    while (blockEnd < w && marksAt(blockEnd) > 0)
      ++blockEnd;
    int gapEnd = blockEnd;
    while (gapEnd < w && marksAt(gapEnd) == 0)
      ++gapEnd;
    const int gap = gapEnd - blockEnd;
    if (outer >= widest || gapEnd >= w || gap < gutter || blockEnd > widest ||
        outer > std::max(nearX, gap / OuterGapPart))
      return;
    const int x0 = right ? w - gapEnd : blockEnd, x1 = right ? w - blockEnd : gapEnd;
    const bool fold = right ? foldIn(x0, x1, x1, std::min(w, x1 + thin))
                            : foldIn(x0, x1, std::max(0, x0 - thin), x0);
    if (fold)
      setAsideColumns(right ? x0 : 0, right ? w : x1);
  };
  fromBorder(true);
  fromBorder(false);
}

void PaintMarks(Analysis& a, const Marks& marks) {
  for (const Run& run : marks.Runs)
    std::fill_n(a.Class.data() + std::size_t(run.Y) * a.W() + run.X0, run.X1 - run.X0,
                marks.Kind[run.Blob]);
}

}  // namespace pagetrim::box
