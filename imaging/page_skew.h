// Finding how far a scanned page is turned: the angle of its lines of text,
// its rules and staves, and whether it is clear enough to turn the page by.
#pragma once

#include <cstdint>

#include "content_box.h"
#include "page_raster.h"

namespace pagetrim {

// Pages are searched for turns up to this far either way.
inline constexpr double SkewSearchDegrees = 8.0;
// A page turned less than this is left as it is: a turn would cost it its
// losslessness (and a JPEG its blocks) for a climb of a pixel or two.
inline constexpr double LeastTurnDegrees = 0.1;

// Why a page gets no angle.
enum class SkewDoubt : std::uint8_t {
  None,           // sure
  Blank,          // no content at all
  Picture,        // the content is mostly a picture, whose lines need not be level
  TooLittleText,  // too few lines to be sure of them
  LinesDisagree,  // parts of the page are turned differently, or no angle stands out
};

// The doubt in the words the dry run prints: "blank", "picture", "too little
// text", "lines disagree"; "" for None.
const char* SkewDoubtName(SkewDoubt doubt);

struct SkewFinding {
  // Whether the angle can be trusted. When not, Degrees is 0 and Doubt says why.
  bool Sure = false;
  // The angle by which the page as read is turned from straight, in degrees,
  // counter-clockwise positive: a line of text climbing to the right has a
  // positive angle. TurnPage(page, -Degrees, ...) straightens the page.
  double Degrees = 0;
  // Sure, and turned at least LeastTurnDegrees.
  bool NeedsTurn = false;
  SkewDoubt Doubt = SkewDoubt::Blank;
  // How clearly the lines are level at Degrees: the sharpness of the page's
  // row profile there over its sharpness 6 degrees either side, where lines
  // are smeared flat (about 1 for marks that form no lines). Pages below 4
  // are unsure.
  double Confidence = 0;
  // The lines of text (rows of ink) seen across the page at Degrees.
  int Lines = 0;
};

// The angle of page, from its reduction (which must cover it; otherwise the
// page is reduced anew) and the content box's classes of its cells: specks,
// scanner edges, shadows and facing pages play no part, nor do pictures. The
// columns of the text are found along its lines, so that columns whose
// baselines lie apart do not blur each other. dpi is the page's resolution,
// 0 when unknown.
SkewFinding FindSkew(const PageRaster& page, float dpi, const PageReduction& reduction);
// The same when the content box of that reduction has been found already
// (全頁自動削除 finds it for every page anyway): classes that do not fit the
// reduction are found anew. A reduction is known to fit a page by its size and
// format only.
SkewFinding FindSkew(const PageRaster& page, float dpi, const PageReduction& reduction,
                     const ContentBoxTrace& trace);
// Reduces the page itself.
SkewFinding FindSkew(const PageRaster& page, float dpi);

}  // namespace pagetrim
