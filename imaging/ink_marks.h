// The content box's stages over the marks of ink: finding them, and setting
// aside those that are not the page's content.
#pragma once

#include "content_analysis.h"

namespace pagetrim::box {

// The usual height of a mark is never taken for less than this many cells
// (1.3 mm of an A4 page).
inline constexpr int LeastTypicalMark = 3;

// The marks of ink on the page's own paper.
struct Marks {
  Scratch<std::uint8_t> Mask;
  Scratch<Run> Runs;
  Scratch<int> Labels;
  Scratch<Blob> Blobs;
  Scratch<Cell> Kind;              // per blob: Content, Speck, Edge or Beyond
  Scratch<int> Darkest;            // per blob, its darkest value
  int Typical = LeastTypicalMark;  // the usual height of a mark, in cells
};

// The marks of ink on the page's own paper: ink cells off the cells set
// aside and their outline, all taken for content at first.
Marks FindMarks(const Analysis& a);

// Marks at the border that stand apart from the page's content are what the
// scanner left there: a clip, a finger, the corner of the lid, bits of a
// page edge too faint to be seen as one line. They become Edge.
void SetAsideBorderMarks(const Analysis& a, Marks& marks);

// Specks: much smaller than the page's usual mark and away from every larger
// one, or faint dirt far from any other mark. They become Speck.
void SetAsideSpecks(const Analysis& a, Marks& marks);

// A block of content cut by the left or right border and parted from the
// rest by a gutter is the facing page. Its marks become Beyond.
void SetAsideFacingPage(const Analysis& a, Marks& marks);

// Each mark's cells take its kind in the analysis's classes.
void PaintMarks(Analysis& a, const Marks& marks);

}  // namespace pagetrim::box
