// The content box's stages that find the page's edges, and what lies beyond
// them: each sets cells of the analysis aside as Edge or Beyond.
#pragma once

#include "content_analysis.h"

namespace pagetrim::box {

// Shade wider than a stroke that lies along the page's border: the
// scanner's lid or bed, a dark page edge, a gutter shadow. It either stays
// within a narrow frame along the border, or runs along a quarter of a side
// or more within a wider one.
void MarkEdgeBands(Analysis& a);

// Lines that run across the whole page near one of its sides, such as the
// edge of the page or the fold of the gutter: everything between such a line
// and the border lies beyond the page.
void MarkEdgeLines(Analysis& a);

// Paper that edges cut off from the page's own paper lies beyond the page:
// the facing page behind a gutter shadow, the bed beyond a page edge.
void MarkCutOff(Analysis& a);

}  // namespace pagetrim::box
