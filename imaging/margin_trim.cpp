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

// Each edge band is this part of the page across (or down), and at least
// MinimumBand lines: narrower pages are analysed whole.
constexpr int BandPart = 6;
constexpr int MinimumBand = 64;

}  // namespace

Rect LeftAndRightKept(const PageRaster& analysis) {
  return TwoTrimsKept(analysis, true, SideTrimSampleRow);
}

Rect TopAndBottomKept(const PageRaster& analysis, int sampleColumn) {
  return TwoTrimsKept(analysis, false, sampleColumn);
}

std::optional<Rect> KeptByEdgeBands(const PageRaster& source, bool columns, AnalysisChoice choice,
                                    int sampleColumn) {
  const int length = columns ? source.Width() : source.Height();
  const int band = length / BandPart;
  if (source.IsEmpty() || band < MinimumBand)
    return std::nullopt;
  const int lines = 2 * band + 1;
  // The page's first and last lines, seen as pages of the image's size: the
  // analysis fills lines of an image the size of its source.
  PageRaster first = source;
  PageRaster last = source;
  PageRaster analysis;
  if (columns) {
    first.SetWidth(lines);
    last.CropLeft(length - lines);
    analysis.ResetForOverwrite(lines, source.Height(), PixelFormat::Gray8);
  } else {
    first.SetHeight(lines);
    last.CropTop(length - lines);
    analysis.ResetForOverwrite(source.Width(), lines, PixelFormat::Gray8);
  }
  PageRaster* gray = choice.Gray ? &analysis : nullptr;
  PageRaster* binary = choice.Gray ? nullptr : &analysis;
  if (columns) {
    AnalyseColumns(first, gray, binary, choice.Threshold, 0, band);
    AnalyseColumns(last, gray, binary, choice.Threshold, band + 1, band);
  } else {
    AnalyseRows(first, gray, binary, choice.Threshold, 0, band);
    AnalyseRows(last, gray, binary, choice.Threshold, band + 1, band);
  }
  // The walks sample their backgrounds in the bands: the left and right
  // trims at row 10 of the first and last column, the top and bottom ones in
  // the sample column of the first and last row.
  const ColourValue one =
      columns ? analysis.PixelAt(0, SideTrimSampleRow) : analysis.PixelAt(sampleColumn, 0);
  const ColourValue other = columns ? analysis.PixelAt(lines - 1, SideTrimSampleRow)
                                    : analysis.PixelAt(sampleColumn, lines - 1);
  std::uint8_t level = 0;
  while (MakeColour(level, level, level) == one || MakeColour(level, level, level) == other)
    ++level;
  if (columns) {
    for (int y = 0; y < source.Height(); ++y)
      analysis.Row(y)[band] = level;
  } else {
    std::memset(analysis.Row(band), level, std::size_t(source.Width()));
  }
  const Rect kept = columns ? LeftAndRightKept(analysis) : TopAndBottomKept(analysis, sampleColumn);
  // Both walks ended inside their bands, on ink of the page: the result of
  // walking the whole analysis image, the far cut moved by the page's
  // middle. A walk that met the line between the bands needs the image
  // analysed whole.
  const int near = columns ? kept.Left : kept.Top;
  const int far = columns ? kept.Right : kept.Bottom;
  if (kept.Width() <= 0 || kept.Height() <= 0 || near >= band || far <= lines - band)
    return std::nullopt;
  const int middle = length - lines;
  return columns ? Rect{near, 0, far + middle, source.Height()}
                 : Rect{0, near, source.Width(), far + middle};
}

}  // namespace pagetrim
