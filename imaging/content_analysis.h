// What the content box's stages share: the white-balanced grid, the record of
// the analysis in progress, and the frames along the page's border that more
// than one stage looks at.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "cell_grid.h"
#include "content_box.h"

namespace pagetrim::box {

using Cell = ContentBoxTrace::Cell;

// Fractions of the page's width (for the sides) or height (for the top and
// bottom); the millimetres are those of an A4 page, 210 x 297 mm. Edges lie
// within a narrow frame along the border, or within a wide one when they run
// along a good part of a side.
// Near the border: 3 mm across, 4.5 mm down.
inline constexpr double NearBorder = 0.015;
// The narrow frame: 10.5 mm across, 15 mm down.
inline constexpr double NarrowFrame = 0.05;
// The wide frame: 26 mm across, 37 mm down.
inline constexpr double WideFrame = 0.125;

// Closing the cells' means with this radius takes strokes up to two cells
// wide (0.85 mm of an A4 page) out of the shade.
inline constexpr int StrokeRadius = 1;
// Shade is darker than the paper's usual level by a fifth of the contrast
// between paper and ink, and by no less than 24 levels, past the paper's own
// unevenness.
inline constexpr double ShadeShare = 0.2;
inline constexpr int LeastShade = 24;
// A band of shade or a ground is long when it runs along a quarter of a side.
inline constexpr int LongBandPart = 4;
// Shade whose inside holds more ink than this share is a picture.
inline constexpr double SmoothShade = 0.3;

// Per channel, the stored value that white balancing maps each value to.
using ChannelLuts = std::array<std::array<std::uint8_t, 256>, 3>;

// The page's grid of cells, one value per cell: white balanced, so that the
// paper is white and every ink is dark.
struct Grid {
  int Factor = 1;
  int Width = 0;
  int Height = 0;
  Scratch<std::uint8_t> Darkest;
  Scratch<std::uint8_t> Mean;
  ChannelLuts Luts{};
  int At(int x, int y) const { return y * Width + x; }
};

// The analysis in progress, on the reduced grid.
struct Analysis {
  const Grid& G;
  int PaperLevel = 255;
  int InkLevel = 0;
  int Contrast = 0;
  int InkDelta = 0;
  int LineDelta = 0;                // how much darker than the paper a fold or an edge is
  int SmallestLetter = 1;           // the least height in cells a mark of text has
  double CellsPerMm = 1;            // at the page's resolution
  Scratch<std::uint8_t> Paper;      // local paper per cell
  Scratch<std::uint8_t> NearPaper;  // the lightest paper around
  Scratch<std::uint8_t> Around;     // the lightest mean around, which ink is measured against
  Scratch<std::uint8_t> Ink;        // cell holds a pixel clearly darker than its paper
  Scratch<std::uint8_t> Closed;     // the cells' means with strokes closed away: the shade
  Scratch<std::uint8_t> OwnFrame;   // dark along the border, content right against it; or none
  Scratch<Cell> Class;

  explicit Analysis(const Grid& grid) : G(grid), Class(grid.Darkest.size(), Cell::Paper) {}
  int W() const { return G.Width; }
  int H() const { return G.Height; }
  bool SetAside(int i) const { return Class[i] == Cell::Edge || Class[i] == Cell::Beyond; }
};

// How much darker than the paper shade is.
inline int ShadeDelta(const Analysis& a) {
  return std::max(LeastShade, int(ShadeShare * a.Contrast));
}

}  // namespace pagetrim::box
