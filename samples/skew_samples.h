// Generated pages of the kinds besides text that a turned page may be: a page
// of music staves, and a page that is mostly a photograph with a caption,
// each with its content mask, drawn straight, for the skew finder's tests and
// benchmark to turn.
#pragma once

#include "realistic_page.h"

namespace pagetrim::samples {

struct SkewSampleOptions {
  int Width = 850;
  int Height = 1100;
  PageKind Kind = PageKind::Colour;
  unsigned Seed = 1;
};

// Systems of five-line staves across the page, with bar lines, note heads and
// stems, under a line of title text.
RealisticPage MakeStavesPage(const SkewSampleOptions& options);

// A photograph filling most of the page, with a two-line caption below it:
// a smooth picture, or a halftone of dots on a grid.
RealisticPage MakePhotographPage(const SkewSampleOptions& options, bool halftone);

}  // namespace pagetrim::samples
