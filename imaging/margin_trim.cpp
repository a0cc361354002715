// The margin trims as values, over the margin scans.
#include "margin_trim.h"

#include <cstring>

namespace pagetrim {

MarginTrim TrimMargin(const PageRaster& analysis, Margin margin, int startLine, int sample) {
  const bool columns = margin == Margin::Left || margin == Margin::Right;
  MarginTrim trim;
  trim.Background =
      columns ? analysis.PixelAt(startLine, sample) : analysis.PixelAt(sample, startLine);
  switch (margin) {
    case Margin::Left:
      trim.Scan = ScanFromLeft(analysis, startLine, trim.Background);
      break;
    case Margin::Right:
      trim.Scan = ScanFromRight(analysis, startLine, trim.Background);
      break;
    case Margin::Top:
      trim.Scan = ScanFromTop(analysis, startLine, trim.Background);
      break;
    case Margin::Bottom:
      trim.Scan = ScanFromBottom(analysis, startLine, trim.Background);
      break;
  }
  const int position = trim.Scan.Position;
  const int length = columns ? analysis.Width() : analysis.Height();
  if (!trim.Scan.InkFound || position < 0 || position >= length)
    return trim;
  const bool leading = margin == Margin::Left || margin == Margin::Top;
  const int kept = leading ? length - position : position + 1;
  if (kept == length)
    return trim;
  Rect keep{0, 0, analysis.Width(), analysis.Height()};
  switch (margin) {
    case Margin::Left:
      keep.Left = position;
      break;
    case Margin::Right:
      keep.Right = kept;
      break;
    case Margin::Top:
      keep.Top = position;
      break;
    case Margin::Bottom:
      keep.Bottom = kept;
      break;
  }
  trim.Keep = keep;
  return trim;
}

namespace {

// The first trim, then the second on what the first kept (a crop only
// narrows the raster's window onto its pixels), from that part's far edge.
Rect TwoTrimsKept(const PageRaster& analysis, bool columns, int sample) {
  Rect kept{0, 0, analysis.Width(), analysis.Height()};
  const MarginTrim first = TrimMargin(analysis, columns ? Margin::Left : Margin::Top, 0, sample);
  PageRaster rest = analysis;
  if (first.Keep) {
    kept = *first.Keep;
    if (columns) {
      rest.CropLeft(kept.Left);
    } else {
      rest.CropTop(kept.Top);
    }
  }
  const int last = (columns ? rest.Width() : rest.Height()) - 1;
  const MarginTrim second =
      TrimMargin(rest, columns ? Margin::Right : Margin::Bottom, last, sample);
  if (second.Keep) {
    if (columns) {
      kept.Right = kept.Left + second.Keep->Right;
    } else {
      kept.Bottom = kept.Top + second.Keep->Bottom;
    }
  }
  return kept;
}

}  // namespace

Rect LeftAndRightKept(const PageRaster& analysis) {
  return TwoTrimsKept(analysis, true, SideTrimSampleRow);
}

Rect TopAndBottomKept(const PageRaster& analysis, int sampleColumn) {
  return TwoTrimsKept(analysis, false, sampleColumn);
}

namespace {

// The analysis image's values read straight from the page, a run of pixels
// at a time, as the trims' walks would read them from the image: the margins
// are analysed only as far as the walks go, and the image itself is never
// made.
class AnalysedPage {
 public:
  AnalysedPage(const PageRaster& page, AnalysisChoice choice)
      : page_(page), choice_(choice), bpp_(std::size_t(page.BytesPerPixel())) {}

  // The value of one pixel as the analysis image holds it, as a colour;
  // InvalidColour outside the page.
  ColourValue At(int x, int y) const {
    if (x < 0 || y < 0 || x >= page_.Width() || y >= page_.Height())
      return InvalidColour;
    std::uint8_t v = 0;
    AnalysePixels(page_.Row(y) + std::size_t(x) * bpp_, page_.Format(), 1, choice_.Gray,
                  choice_.Threshold, &v);
    return MakeColour(v, v, v);
  }

  // The first column of [from, to) in row y whose value is not level, or to.
  int FirstOther(int y, int from, int to, std::uint8_t level) const {
    std::uint8_t values[Run];
    const std::uint8_t* blank = Blank(level);
    for (int x = from; x < to; x += Run) {
      const int n = std::min(Run, to - x);
      AnalysePixels(page_.Row(y) + std::size_t(x) * bpp_, page_.Format(), n, choice_.Gray,
                    choice_.Threshold, values);
      // Most runs are all background, which one compare settles.
      if (std::memcmp(values, blank, std::size_t(n)) == 0)
        continue;
      int i = 0;
      while (values[i] == level)
        ++i;
      return x + i;
    }
    return to;
  }

  // The last column of [from, to) in row y whose value is not level, or from - 1.
  int LastOther(int y, int from, int to, std::uint8_t level) const {
    std::uint8_t values[Run];
    const std::uint8_t* blank = Blank(level);
    for (int end = to; end > from; end -= Run) {
      const int n = std::min(Run, end - from);
      AnalysePixels(page_.Row(y) + std::size_t(end - n) * bpp_, page_.Format(), n, choice_.Gray,
                    choice_.Threshold, values);
      if (std::memcmp(values, blank, std::size_t(n)) == 0)
        continue;
      int i = n - 1;
      while (values[i] == level)
        --i;
      return end - n + i;
    }
    return from - 1;
  }

 private:
  // Pixels analysed at a time: a run stays in the fastest cache.
  static constexpr int Run = 256;

  // A run of one level, to compare runs of values with.
  const std::uint8_t* Blank(std::uint8_t level) const {
    if (blankLevel_ != level || !blankFilled_) {
      std::memset(blank_, level, sizeof blank_);
      blankLevel_ = level;
      blankFilled_ = true;
    }
    return blank_;
  }
  mutable std::uint8_t blank_[Run];
  mutable std::uint8_t blankLevel_ = 0;
  mutable bool blankFilled_ = false;
  const PageRaster& page_;
  AnalysisChoice choice_;
  std::size_t bpp_;
};

// A background the analysis image's pixels can have: a gray level. Any
// other (InvalidColour, sampled outside the page) makes every pixel ink.
bool IsLevel(ColourValue colour) {
  return colour >= 0 && (colour & 0xFF) == ((colour >> 8) & 0xFF) &&
         (colour & 0xFF) == ((colour >> 16) & 0xFF);
}

// The rows in an order that meets the text early: from the middle down,
// then from the top. Once one row shows where the text starts, the others
// need be read only up to there.
int MiddleOut(int i, int height) {
  return (height / 2 + i) % height;
}

// What the left trim from column 0 and then the right trim from the last
// column keep, both sampling at SideTrimSampleRow: each walk ends on the
// first (last) column holding a value other than its background, which is
// where the columns of every row begin (end) to differ from it.
Rect SidesKeptAnalysed(const AnalysedPage& page, int width, int height) {
  Rect kept{0, 0, width, height};
  const ColourValue leftBackground = page.At(0, SideTrimSampleRow);
  if (!IsLevel(leftBackground))
    return kept;  // every column holds ink: the left walk stops at once
  const auto left = std::uint8_t(leftBackground & 0xFF);
  int first = width;
  for (int i = 0; i < height && first > 0; ++i)
    first = page.FirstOther(MiddleOut(i, height), 0, first, left);
  if (first < width)
    kept.Left = first;
  const ColourValue rightBackground = page.At(width - 1, SideTrimSampleRow);
  if (!IsLevel(rightBackground))
    return kept;
  const auto right = std::uint8_t(rightBackground & 0xFF);
  int last = kept.Left - 1;
  for (int i = 0; i < height && last < width - 1; ++i)
    last = std::max(last, page.LastOther(MiddleOut(i, height), last + 1, width, right));
  if (last >= kept.Left)
    kept.Right = last + 1;
  return kept;
}

// The top trim from row 0, then the bottom one from the last row, sampling
// in sampleColumn: each ends on the first (last) row holding a value other
// than its background.
Rect TopAndBottomKeptAnalysed(const AnalysedPage& page, int width, int height, int sampleColumn) {
  Rect kept{0, 0, width, height};
  const ColourValue topBackground = page.At(sampleColumn, 0);
  if (!IsLevel(topBackground))
    return kept;
  const auto top = std::uint8_t(topBackground & 0xFF);
  int first = 0;
  while (first < height && page.FirstOther(first, 0, width, top) == width)
    ++first;
  // No ink against the top's background: the bottom trim walks the whole page.
  if (first < height)
    kept.Top = first;
  const ColourValue bottomBackground = page.At(sampleColumn, height - 1);
  if (!IsLevel(bottomBackground))
    return kept;
  const auto bottom = std::uint8_t(bottomBackground & 0xFF);
  int last = height - 1;
  while (last > kept.Top && page.FirstOther(last, 0, width, bottom) == width)
    --last;
  // The top ink row itself may hold only the top background's ink.
  if (last == kept.Top && page.FirstOther(last, 0, width, bottom) == width)
    return kept;
  kept.Bottom = last + 1;
  return kept;
}

}  // namespace

void SideTrimScan::AddRows(const PageRaster& page, int first, int count) {
  if (first == 0) {
    width_ = page.Width();
    height_ = page.Height();
    rowsDone_ = 0;
    sampled_ = false;
    first_ = width_;
    last_ = -1;
  }
  if (rowsDone_ < 0 || first != rowsDone_ || page.Width() != width_ || page.Height() != height_) {
    rowsDone_ = -1;
    return;
  }
  rowsDone_ += count;
  if (!sampled_) {
    // The rows above the sample row wait for it: without the backgrounds
    // nothing can be told of them. They are few and still cached.
    if (rowsDone_ <= SideTrimSampleRow)
      return;
    const AnalysedPage analysed(page, choice_);
    const auto level = [](ColourValue colour) -> std::optional<std::uint8_t> {
      if (!IsLevel(colour))
        return std::nullopt;
      return std::uint8_t(colour & 0xFF);
    };
    left_ = level(analysed.At(0, SideTrimSampleRow));
    right_ = level(analysed.At(width_ - 1, SideTrimSampleRow));
    sampled_ = true;
    first = 0;
  }
  for (int y = first; y < rowsDone_; ++y)
    ScanRow(page, y);
}

void SideTrimScan::ScanRow(const PageRaster& page, int y) {
  const AnalysedPage analysed(page, choice_);
  bool blank = false;
  if (left_ && first_ > 0) {
    const int from = analysed.FirstOther(y, 0, first_, *left_);
    blank = from == width_;  // the whole row is the left's background
    first_ = from;
  }
  if (right_ && last_ < width_ - 1 && !(blank && right_ == left_))
    last_ = std::max(last_, analysed.LastOther(y, last_ + 1, width_, *right_));
}

bool SideTrimScan::Covers(const PageRaster& page) const {
  return rowsDone_ == page.Height() && page.Width() == width_ && page.Height() == height_;
}

Rect SideTrimScan::Kept() const {
  Rect kept{0, 0, width_, height_};
  // Without the left's background every column is ink: nothing is cut, nor
  // by the right trim, which samples in the same row.
  if (!sampled_ || !left_)
    return kept;
  if (first_ < width_)
    kept.Left = first_;
  // The right trim walks what the left one kept: ink left of that is not
  // its own.
  if (right_ && last_ >= kept.Left)
    kept.Right = last_ + 1;
  return kept;
}

Rect KeptByTrims(const PageRaster& page, bool columns, AnalysisChoice choice, int sampleColumn) {
  const AnalysedPage analysed(page, choice);
  if (page.IsEmpty())
    return {0, 0, page.Width(), page.Height()};
  return columns ? SidesKeptAnalysed(analysed, page.Width(), page.Height())
                 : TopAndBottomKeptAnalysed(analysed, page.Width(), page.Height(), sampleColumn);
}

}  // namespace pagetrim
