// The content box's last stages, in page pixels: the box of the content
// marks refined to the outermost ink, kept clear of cutting a mark, and given
// its border of paper.
#pragma once

#include <optional>

#include "content_analysis.h"
#include "ink_marks.h"

namespace pagetrim::box {

// The box of the content marks' cells; none on a blank page.
std::optional<Blob> ContentCells(const Marks& marks);

// The box of content cells, narrowed to the outermost ink pixels of its
// border cells.
Rect RefineBox(const PageRaster& page, const Analysis& a, const Blob& box);

// The grid may see only part of a letter or a mark at the box's border (the
// rest fell in a cell taken for an edge, or was too faint for the grid), and a
// cut through it loses ink: each side of r moves out until the marks it
// crosses are whole. A mark that still goes on after 1% of the page is
// something the side runs into, such as a dark edge or a finger: the side
// then stays where it was.
Rect KeepWholeMarks(const PageRaster& page, const Analysis& a, Rect r);

// The content box widened to the page's own dark frame (or a dark picture
// running off the page), which is content though it holds no ink inside; none
// on a page with neither.
std::optional<Rect> WithOwnFrame(const PageRaster& page, const Analysis& a,
                                 const std::optional<Rect>& content);

// The content box plus border pixels of paper on each side, as far as paper
// reaches: the border stops at the first edge or strip beyond the page that
// it would reach into, or a bit of an edge larger than a speck.
Rect WithBorder(const PageRaster& page, const Analysis& a, const Marks& marks, const Rect& content,
                int border);

}  // namespace pagetrim::box
