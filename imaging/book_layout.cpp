// One size per side of a book, and each page's place in it.
#include "book_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "content_box.h"

namespace pagetrim {

namespace {

// Content within this much of the median width and height is a typical
// page's: full pages of one book differ by a short last line, a wider
// figure, a page number set apart, and by the scanner's turn of a degree.
constexpr double NearMedianMm = 3.0;
constexpr double NearMedianShare = 0.02;
// A page lies on the scanner a few millimetres from where the last one lay:
// an edge of its content this near to the typical page's is the same edge.
constexpr double LinesUpMm = 5.0;
// A cut moved onto the block grid by no more than this keeps the text where
// it is, to the eye, and the page keeps every bit of its file.
constexpr double GridShiftMm = 1.0;

double DpiOf(const PageContent& page) {
  const double dpi = page.Dpi > 0 ? page.Dpi : AssumedDpi;
  // A stated resolution that gives a page no scanner makes is taken for unknown.
  const double inches = std::max(page.Width, page.Height) / dpi;
  return inches < 1.0 || inches > 40.0 ? AssumedDpi : dpi;
}

int Pixels(double mm, double dpi) {
  return int(std::lround(mm / 25.4 * dpi));
}

int Median(std::vector<int> values) {
  const auto middle = values.begin() + std::ptrdiff_t((values.size() - 1) / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The book's measures for one side, in the pixels of its pages.
struct Measures {
  int Border = 0;
  int NearSize = 0;  // per axis: within this of the typical size
  int NearSizeY = 0;
  int LinesUp = 0;
  int GridShift = 0;
};

Measures MeasuresFor(double dpi, int typicalWidth, int typicalHeight) {
  Measures m;
  m.Border = Pixels(CutBorderMm, dpi);
  m.NearSize = std::max(Pixels(NearMedianMm, dpi), int(NearMedianShare * typicalWidth));
  m.NearSizeY = std::max(Pixels(NearMedianMm, dpi), int(NearMedianShare * typicalHeight));
  m.LinesUp = Pixels(LinesUpMm, dpi);
  m.GridShift = Pixels(GridShiftMm, dpi);
  return m;
}

// One axis of a cut of size `size` over a page `length` long whose content
// runs from `from` to `to` (none when it is blank), against the typical
// content's `typicalFrom` and `typicalTo`: where the cut starts, and the
// range of starts that hold the content within the page.
struct AxisPlace {
  int Start = 0;
  int Lowest = 0;
  int Highest = 0;
};

AxisPlace PlaceAxis(bool hasContent, int from, int to, int typicalFrom, int typicalTo, int size,
                    int length, int border, int nearSize, int linesUp) {
  AxisPlace place;
  int start = typicalFrom - border;
  int lowest = std::min(0, length - size);
  int highest = std::max(0, length - size);
  if (hasContent) {
    const int extent = to - from;
    if (std::abs(extent - (typicalTo - typicalFrom)) <= nearSize ||
        std::abs(from - typicalFrom) <= linesUp) {
      start = from - border;  // a full page, or few lines where the text starts
    } else if (std::abs(to - typicalTo) <= linesUp) {
      start = to + border - size;  // content set low, ending where the text ends
    }
    // The border stays where there is room for it; the content always does.
    const int withBorderLow = to + border - size, withBorderHigh = from - border;
    if (withBorderLow <= withBorderHigh) {
      start = std::clamp(start, withBorderLow, withBorderHigh);
    } else {
      start = from - (size - extent) / 2;
    }
    lowest = std::max(lowest, to - size);
    highest = std::min(highest, from);
  }
  place.Start = std::clamp(start, lowest, highest);
  place.Lowest = lowest;
  place.Highest = highest;
  return place;
}

// Moves the start to the grid line nearest to it within its range, when one
// lies within shift of it.
bool OntoGrid(AxisPlace& place, int grid, int shift) {
  const int below = int(std::floor(double(place.Start) / grid)) * grid;
  std::optional<int> best;
  for (const int line : {below, below + grid}) {
    const bool usable =
        line >= place.Lowest && line <= place.Highest && std::abs(line - place.Start) <= shift;
    if (usable && (!best || std::abs(line - place.Start) < std::abs(*best - place.Start)))
      best = line;
  }
  if (!best)
    return false;
  place.Start = *best;
  return true;
}

}  // namespace

BookLayout PlanBook(const std::vector<PageContent>& pages) {
  BookLayout book;
  for (int side = 0; side < 2; ++side) {
    std::vector<const PageContent*> members;
    for (std::size_t i = std::size_t(side); i < pages.size(); i += 2) {
      if (pages[i].Readable && pages[i].HasContent)
        members.push_back(&pages[i]);
    }
    if (members.empty())
      continue;
    std::vector<int> widths, heights, dpis;
    for (const PageContent* page : members) {
      widths.push_back(page->Content.Width());
      heights.push_back(page->Content.Height());
      dpis.push_back(int(std::lround(DpiOf(*page))));
    }
    const int medianWidth = Median(widths), medianHeight = Median(heights);
    const Measures m = MeasuresFor(Median(dpis), medianWidth, medianHeight);
    // The median width and the median height may come from different pages:
    // where no page is near both, the one nearest to them is the typical page.
    const auto distance = [&](const PageContent* page) {
      return double(std::abs(page->Content.Width() - medianWidth)) / std::max(1, m.NearSize) +
             double(std::abs(page->Content.Height() - medianHeight)) / std::max(1, m.NearSizeY);
    };
    std::vector<const PageContent*> typical;
    for (const PageContent* page : members) {
      const Rect& c = page->Content;
      if (std::abs(c.Width() - medianWidth) <= m.NearSize &&
          std::abs(c.Height() - medianHeight) <= m.NearSizeY)
        typical.push_back(page);
    }
    if (typical.empty()) {
      typical.push_back(*std::min_element(
          members.begin(), members.end(),
          [&](const PageContent* a, const PageContent* b) { return distance(a) < distance(b); }));
    }
    std::vector<int> lefts, tops, rights, bottoms;
    int width = 0, height = 0;
    for (const PageContent* page : typical) {
      const Rect& c = page->Content;
      width = std::max(width, c.Width());
      height = std::max(height, c.Height());
      lefts.push_back(c.Left);
      tops.push_back(c.Top);
      rights.push_back(c.Right);
      bottoms.push_back(c.Bottom);
    }
    SideLayout& layout = book.Sides[std::size_t(side)];
    layout.Known = true;
    layout.Width = width + 2 * m.Border;
    layout.Height = height + 2 * m.Border;
    layout.TypicalContent = {Median(lefts), Median(tops), Median(rights), Median(bottoms)};
    layout.TypicalPages = int(lefts.size());
  }
  return book;
}

BookCut PlaceInBook(const BookLayout& book, int index, const PageContent& page) {
  BookCut result;
  if (!page.Readable)
    return result;
  const SideLayout& side = book.Sides[std::size_t(BookLayout::SideOf(index))];
  const auto onGrid = [&](const Rect& cut) {
    return page.GridX > 0 && page.GridY > 0 && cut.Left >= 0 && cut.Top >= 0 &&
           cut.Left % page.GridX == 0 && cut.Top % page.GridY == 0;
  };
  const auto own = [&](OwnSizeReason why) {
    result.Cut = page.HasContent ? page.OwnCut : Rect{0, 0, page.Width, page.Height};
    result.Own = why;
    result.Lossless = onGrid(result.Cut);
    return result;
  };
  if (!side.Known)
    return own(OwnSizeReason::NoBookSize);
  const Rect& c = page.Content;
  if (page.HasContent && (c.Width() > side.Width || c.Height() > side.Height))
    return own(OwnSizeReason::ContentTooLarge);
  const Measures m =
      MeasuresFor(DpiOf(page), side.TypicalContent.Width(), side.TypicalContent.Height());
  const Rect& typical = side.TypicalContent;
  AxisPlace x = PlaceAxis(page.HasContent, c.Left, c.Right, typical.Left, typical.Right, side.Width,
                          page.Width, m.Border, m.NearSize, m.LinesUp);
  AxisPlace y = PlaceAxis(page.HasContent, c.Top, c.Bottom, typical.Top, typical.Bottom,
                          side.Height, page.Height, m.Border, m.NearSizeY, m.LinesUp);
  const bool fitsImage = side.Width <= page.Width && side.Height <= page.Height;
  if (fitsImage && page.GridX > 0 && page.GridY > 0) {
    AxisPlace gridX = x, gridY = y;
    if (OntoGrid(gridX, page.GridX, m.GridShift) && OntoGrid(gridY, page.GridY, m.GridShift)) {
      x = gridX;
      y = gridY;
    }
  }
  result.Cut = {x.Start, y.Start, x.Start + side.Width, y.Start + side.Height};
  result.Lossless = fitsImage && onGrid(result.Cut);
  return result;
}

}  // namespace pagetrim
