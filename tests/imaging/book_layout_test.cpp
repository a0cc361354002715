// One size per side of a book: the typical page found among covers, plates,
// chapter openings and ends and blank pages, and every page's cut placed so
// that its text lands where the typical page's does and none of its content
// is cut.
#include "book_layout.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pagetrim {
namespace {

// A 300 dpi page of 1200 x 1800 with content at the given place; 1 mm is
// 12 pixels, so the border is 12.
PageContent Page(Rect content, int grid = 0, int width = 1200, int height = 1800) {
  PageContent page;
  page.Readable = true;
  page.Width = width;
  page.Height = height;
  page.Dpi = 300;
  page.HasContent = content.Width() > 0;
  page.Content = content;
  page.OwnCut = {content.Left - 12, content.Top - 12, content.Right + 12, content.Bottom + 12};
  page.GridX = page.GridY = grid;
  return page;
}

Rect Shifted(Rect r, int dx, int dy) {
  return {r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

bool Holds(const Rect& outer, const Rect& inner) {
  return outer.Left <= inner.Left && outer.Top <= inner.Top && outer.Right >= inner.Right &&
         outer.Bottom >= inner.Bottom;
}

// A book whose pages lie a few millimetres apart on the scanner: recto text
// block at (150, 160), verso at (110, 160), 900 x 1400, each page moved by
// up to 24 pixels (2 mm) either way.
struct Book {
  std::vector<PageContent> Pages;
  std::vector<std::string> Kinds;
  std::vector<std::pair<int, int>> Jitter;
};

Book MakeBook() {
  Book book;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> jitter(-24, 24);
  const auto add = [&](const char* kind, Rect content, bool blank = false) {
    const int index = int(book.Pages.size());
    const int dx = jitter(random), dy = jitter(random);
    const Rect side = Shifted(content, index % 2 == 0 ? 0 : -40, 0);
    book.Pages.push_back(Page(blank ? Rect{} : Shifted(side, dx, dy)));
    book.Kinds.push_back(kind);
    book.Jitter.emplace_back(dx, dy);
  };
  const Rect full{150, 160, 1050, 1560};
  add("cover", {20, 20, 1180, 1780});
  add("blank", {}, true);
  add("chapter opening", {150, 600, 1050, 1560});
  for (int i = 0; i < 6; ++i)
    add("full", full);
  add("chapter end", {150, 160, 1050, 520});
  add("full", full);
  add("plate", {100, 100, 1100, 1700});
  for (int i = 0; i < 5; ++i)
    add("full", full);
  add("title", {400, 700, 800, 800});
  return book;
}

TEST(BookLayout, EverySideGetsTheSizeOfItsFullPagesAndTheirTextOnePlace) {
  const Book book = MakeBook();
  const BookLayout layout = PlanBook(book.Pages);
  for (int side = 0; side < 2; ++side) {
    SCOPED_TRACE(side);
    const SideLayout& s = layout.Sides[std::size_t(side)];
    ASSERT_TRUE(s.Known);
    // The full pages' content with 1 mm of paper around it.
    EXPECT_EQ(s.Width, 900 + 24);
    EXPECT_EQ(s.Height, 1400 + 24);
  }
  for (std::size_t i = 0; i < book.Pages.size(); ++i) {
    const std::string& kind = book.Kinds[i];
    SCOPED_TRACE(kind + " at " + std::to_string(i));
    const PageContent& page = book.Pages[i];
    const SideLayout& side = layout.Sides[i % 2];
    const BookCut cut = PlaceInBook(layout, int(i), page);
    if (kind == "cover" || kind == "plate") {
      EXPECT_EQ(cut.Own, OwnSizeReason::ContentTooLarge);
      EXPECT_EQ(cut.Cut, page.OwnCut);
      continue;
    }
    EXPECT_EQ(cut.Own, OwnSizeReason::None);
    EXPECT_EQ(cut.Cut.Width(), side.Width);
    EXPECT_EQ(cut.Cut.Height(), side.Height);
    if (page.HasContent) {
      EXPECT_TRUE(Holds(cut.Cut, page.Content));
    }
    // Where the text starts on the written page: the border, on every page
    // whose text starts where a full page's does; a chapter opening ends
    // where a full page ends.
    if (kind == "full" || kind == "chapter end") {
      EXPECT_EQ(page.Content.Left - cut.Cut.Left, 12);
      EXPECT_EQ(page.Content.Top - cut.Cut.Top, 12);
    } else if (kind == "chapter opening") {
      EXPECT_EQ(page.Content.Left - cut.Cut.Left, 12);
      EXPECT_EQ(cut.Cut.Bottom - page.Content.Bottom, 12);
    } else if (kind == "blank" || kind == "title") {
      // Where the typical page's cut lies on the scan.
      EXPECT_EQ(cut.Cut.Left, side.TypicalContent.Left - 12);
      EXPECT_EQ(cut.Cut.Top, side.TypicalContent.Top - 12);
    }
  }
}

TEST(BookLayout, ThePlacedCutAlwaysHoldsTheContentAndStaysOnThePage) {
  std::mt19937 random(11);
  for (int book = 0; book < 200; ++book) {
    SCOPED_TRACE(book);
    std::vector<PageContent> pages;
    const int count = 1 + int(random() % 12);
    for (int i = 0; i < count; ++i) {
      const int width = 300 + int(random() % 1500), height = 300 + int(random() % 1500);
      const int left = int(random() % unsigned(width)), top = int(random() % unsigned(height));
      const int right = left + 1 + int(random() % unsigned(width - left));
      const int bottom = top + 1 + int(random() % unsigned(height - top));
      PageContent page = Page(random() % 5 == 0 ? Rect{} : Rect{left, top, right, bottom},
                              random() % 2 == 0 ? 0 : 8 << (random() % 2), width, height);
      page.Readable = random() % 10 != 0;
      pages.push_back(page);
    }
    const BookLayout layout = PlanBook(pages);
    for (int i = 0; i < count; ++i) {
      const PageContent& page = pages[std::size_t(i)];
      const BookCut cut = PlaceInBook(layout, i, page);
      if (!page.Readable)
        continue;
      if (page.HasContent) {
        ASSERT_TRUE(Holds(cut.Cut, page.Content)) << i;
      }
      if (cut.Own != OwnSizeReason::None)
        continue;
      const SideLayout& side = layout.Sides[std::size_t(i % 2)];
      ASSERT_EQ(cut.Cut.Width(), side.Width);
      ASSERT_EQ(cut.Cut.Height(), side.Height);
      // Within the page where the page is large enough; around all of it
      // where it is not.
      const Rect whole{0, 0, page.Width, page.Height};
      if (side.Width <= page.Width && side.Height <= page.Height) {
        ASSERT_TRUE(Holds(whole, cut.Cut)) << i;
      } else {
        ASSERT_FALSE(cut.Lossless);
      }
      if (cut.Lossless) {
        ASSERT_EQ(cut.Cut.Left % page.GridX, 0);
        ASSERT_EQ(cut.Cut.Top % page.GridY, 0);
      }
    }
  }
}

TEST(BookLayout, CutsMoveOntoTheBlockGridOnlyWithinAMillimetre) {
  // Ten pages whose text starts 5 pixels past a line of a 16-pixel grid:
  // the cut's 12-pixel border puts its start 7 pixels before that line, 9
  // after the one before; within 1 mm (12 pixels) either way.
  std::vector<PageContent> pages;
  for (int i = 0; i < 10; ++i)
    pages.push_back(Page({16 * 10 + 5, 16 * 10 + 5, 16 * 10 + 905, 16 * 10 + 1405}, 16));
  BookLayout layout = PlanBook(pages);
  for (int i = 0; i < 10; ++i) {
    const BookCut cut = PlaceInBook(layout, i, pages[std::size_t(i)]);
    EXPECT_TRUE(cut.Lossless);
    EXPECT_EQ(cut.Cut.Left, 160);
    EXPECT_EQ(cut.Cut.Top, 160);
  }
  // On a grid of 64 the nearest line is 25 pixels away: the text's place
  // wins over the lossless copy, although the narrower page has room for it.
  for (PageContent& page : pages)
    page.GridX = page.GridY = 64;
  pages[0].Content.Right -= 20;
  pages[0].Content.Bottom -= 20;
  layout = PlanBook(pages);
  const BookCut cut = PlaceInBook(layout, 0, pages[0]);
  EXPECT_FALSE(cut.Lossless);
  EXPECT_EQ(cut.Cut.Left, 165 - 12);
}

TEST(BookLayout, APageSmallerThanItsSideIsCutAroundItAndASideWithoutContentKeepsEachPage) {
  std::vector<PageContent> pages;
  for (int i = 0; i < 6; ++i)
    pages.push_back(Page({150, 160, 1050, 1560}));
  // A blank page scanned already cropped to its paper, smaller than the
  // book's size: the cut takes all of it, and paper is added around.
  pages[2] = Page({}, 0, 800, 1200);
  // Nothing on the odd side has content: there is no size to give it.
  for (int i = 1; i < 6; i += 2)
    pages[std::size_t(i)] = Page({});
  const BookLayout layout = PlanBook(pages);
  ASSERT_TRUE(layout.Sides[0].Known);
  ASSERT_FALSE(layout.Sides[1].Known);
  const BookCut small = PlaceInBook(layout, 2, pages[2]);
  EXPECT_EQ(small.Own, OwnSizeReason::None);
  EXPECT_EQ(small.Cut.Width(), layout.Sides[0].Width);
  EXPECT_TRUE(Holds(small.Cut, Rect{0, 0, 800, 1200}));
  const BookCut blank = PlaceInBook(layout, 1, pages[1]);
  EXPECT_EQ(blank.Own, OwnSizeReason::NoBookSize);
  EXPECT_EQ(blank.Cut, (Rect{0, 0, 1200, 1800}));
}

}  // namespace
}  // namespace pagetrim
