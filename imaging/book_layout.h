// A book's pages cut to one size per side: the size and place of the typical
// page's content, found robustly over every page of a side, and where each
// page's cut of that size goes so that its text lands where the typical
// page's does, without cutting any of its content.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "content_box.h"
#include "page_raster.h"

namespace pagetrim {

// What the first pass found of one page, in the pixels of the page as read.
struct PageContent {
  bool Readable = false;
  int Width = 0;
  int Height = 0;
  float Dpi = 0;  // 0 when unknown
  bool HasContent = false;
  Rect Content;  // the smallest box holding all of the page's content
  // The page's own cut (content and border, as a page cut alone gets it),
  // for a page that cannot take the book's size.
  Rect OwnCut;
  // The block grid a cut's left and top must fall on for the page to be
  // written by copying its file's blocks; 0 when it cannot be.
  int GridX = 0;
  int GridY = 0;
  // The paper's colour, for what a cut reaches beyond the page's image.
  ColourValue Paper = MakeColour(255, 255, 255);
};

// The cut every page of one side gets, and where the typical page's content
// lies in its scan.
struct SideLayout {
  bool Known = false;  // false when no page of the side has content
  int Width = 0;       // the cut's size: the typical content and its border
  int Height = 0;
  Rect TypicalContent;  // the median place of the typical pages' content
  int TypicalPages = 0;
};

// Sides by place in the page list: index 0, 2, 4… and 1, 3, 5….
struct BookLayout {
  std::array<SideLayout, 2> Sides;
  static int SideOf(int index) { return index % 2; }
};

// The typical page of each side: the pages whose content is near the median
// in width and height, the size that holds all of them with the border of
// paper around, and the median place of their content.
BookLayout PlanBook(const std::vector<PageContent>& pages);

// Why a page keeps a size of its own.
enum class OwnSizeReason {
  None,             // it has its side's size
  EachPage,         // the batch cuts every page to its own margins or content
  ContentTooLarge,  // its content does not fit the book's size (a cover, a plate)
  NoBookSize,       // nothing on its side has content to take a size from
};

struct BookCut {
  // May reach beyond the page's image where the page is smaller than the
  // book's size: that part is paper added around it.
  Rect Cut;
  OwnSizeReason Own = OwnSizeReason::None;
  bool Lossless = false;  // the cut lies on the page's block grid, within it
};

// Where the page at index goes in the book: a cut of its side's size that
// holds all of its content, placed, axis by axis, so that the content's edge
// that lines up with the typical page's (its start, or for content set low,
// its end) lands where the typical page's does; content that lines up with
// neither, and a blank page, take the typical place. Moved onto the block
// grid where that shifts the page by no more than a millimetre. A page whose
// content does not fit gets its own cut.
BookCut PlaceInBook(const BookLayout& book, int index, const PageContent& page);

}  // namespace pagetrim
