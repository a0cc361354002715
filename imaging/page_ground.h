// The content box's stages that find what the page lies on: each sets cells
// of the analysis aside as Beyond, or keeps them as the page's own.
#pragma once

#include "content_analysis.h"

namespace pagetrim::box {

// The cells' means with strokes of ink closed away, leaving the shade
// (Closed), for the stages of the page's edges.
void CloseStrokes(Analysis& a);

// What the sheet lies on, where the scan shows it around the page: a dark
// scanner bed or a cloth, of any width, smooth, and with the page's blank
// paper along its inner side. It lies beyond the page. A dark region along
// the border with content right against it on more than one side is the
// page's own instead, a cover's frame or a picture running off the page:
// it becomes OwnFrame, which no later stage sets aside.
void MarkGround(Analysis& a);

}  // namespace pagetrim::box
