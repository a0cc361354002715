// No trim cuts content: generated pages with one thin mark in a margin (a
// rule, a page number, a dotted rule, a picture running off the edge) at
// every distance from the edge over two strides of the coarse walk, through
// the four trims, the left-and-right and top-and-bottom commands and each
// batch's work on a page. On clean paper every trim must end exactly on the
// content box, which keeps every content pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "batch_commands.h"
#include "margin_scan.h"
#include "realistic_page.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using namespace samples;

constexpr int Width = 400, Height = 520, Margin = 100;

enum class Mark { Rule, PageNumber, DottedRule, Picture };

// The mark's outermost line lies distance lines inside the edge of side;
// variant picks the kind of page, the rule's thickness and the digits.
RealisticPage PageWithMark(PageSide side, Mark mark, int distance, int variant) {
  RealisticPageOptions o;
  o.Width = Width;
  o.Height = Height;
  o.MarginLeft = o.MarginTop = o.MarginRight = o.MarginBottom = Margin;
  o.Kind = PageKind(variant % 3);
  o.Seed = unsigned(variant);
  const bool columns = side == PageSide::Left || side == PageSide::Right;
  const bool far = side == PageSide::Right || side == PageSide::Bottom;
  // The first line of a mark `size` lines thick.
  const auto at = [&](int size) {
    return far ? (columns ? Width : Height) - distance - size : distance;
  };
  switch (mark) {
    case Mark::Rule:
      (columns ? o.VerticalRule : o.HorizontalRule) = 1 + variant % 3;
      (columns ? o.VerticalRuleAt : o.HorizontalRuleAt) = at(1 + variant % 3);
      break;
    case Mark::PageNumber:
      o.PageNumberDigits = 1 + variant % 2;
      o.PageNumberX = columns ? at(10 * o.PageNumberDigits - 3) : Width / 2;
      o.PageNumberY = columns ? Height / 2 : at(11);
      break;
    case Mark::DottedRule:
      o.DottedRule = true;
      o.DottedRuleVertical = columns;
      o.DottedRuleAt = at(2);
      break;
    case Mark::Picture:
      o.PictureSide = side;
      o.PictureDepth = distance;
      break;
  }
  return MakeRealisticPage(o);
}

// Whether w x h pixels of a from (ax, ay) are those of b from (bx, by).
bool SameBlock(const PageRaster& a, int ax, int ay, const PageRaster& b, int bx, int by, int w,
               int h) {
  const std::size_t bpp = std::size_t(a.BytesPerPixel());
  for (int y = 0; y < h; ++y) {
    if (std::memcmp(a.Row(ay + y) + ax * bpp, b.Row(by + y) + bx * bpp, w * bpp) != 0)
      return false;
  }
  return a.Format() == b.Format();
}

// The result is the part kept of the page, which holds all its content.
void ExpectKept(const RealisticPage& page, const PageRaster& result, const Rect& kept) {
  ASSERT_EQ(result.Width(), kept.Width());
  ASSERT_EQ(result.Height(), kept.Height());
  EXPECT_TRUE(SameBlock(result, 0, 0, page.Page, kept.Left, kept.Top, kept.Width(), kept.Height()));
  EXPECT_EQ(page.ContentOutside(kept), 0);
}

// Every column kept by the trims lies on the normalised canvas, after the
// column that the stretch doubles.
void ExpectOnCanvas(const RealisticPage& page, const BatchCut& batch, const Rect& kept) {
  const PageRaster& canvas = batch.Edit.WorkingPage();
  ASSERT_EQ(batch.Kept, QSize(kept.Width(), kept.Height()));
  const int left = (canvas.Width() - kept.Width()) / 2 + 1;
  const int top = (canvas.Height() - kept.Height()) / 2;
  ASSERT_LE(left + kept.Width(), canvas.Width());
  ASSERT_LE(top + kept.Height(), canvas.Height());
  EXPECT_TRUE(
      SameBlock(canvas, left, top, page.Page, kept.Left, kept.Top, kept.Width(), kept.Height()));
}

TEST(InkKept, MarksAtEveryDistanceFromTheEdgeSurviveEveryTrim) {
  using Trim = std::function<void(EditState&, PageDisplay&)>;
  const char* sides[] = {"left", "top", "right", "bottom"};
  const char* marks[] = {"rule", "page number", "dotted rule", "picture"};
  for (int side = 0; side < 4; ++side) {
    for (int mark = 0; mark < 4; ++mark) {
      for (int distance = 1; distance <= 2 * StepCoarse; ++distance) {
        const RealisticPage page = PageWithMark(PageSide(side), Mark(mark), distance, distance);
        const Rect& box = page.ContentBox;
        SCOPED_TRACE(std::string(marks[mark]) + " " + std::to_string(distance) + " from the " +
                     sides[side] + " edge");
        const struct {
          const char* Name;
          Trim Run;
          Rect Kept;
        } trims[] = {
            {"left",
             [](EditState& s, PageDisplay& d) { TrimLeftMargin(s, d, 0, 10); },
             {box.Left, 0, Width, Height}},
            {"right",
             [](EditState& s, PageDisplay& d) { TrimRightMargin(s, d, Width - 1, 10); },
             {0, 0, box.Right, Height}},
            {"top",
             [](EditState& s, PageDisplay& d) { TrimTopMargin(s, d, 0, 0); },
             {0, box.Top, Width, Height}},
            {"bottom",
             [](EditState& s, PageDisplay& d) { TrimBottomMargin(s, d, Height - 1, 0); },
             {0, 0, Width, box.Bottom}},
            {"left and right", TrimLeftAndRight, {box.Left, 0, box.Right, Height}},
            {"top and bottom", TrimTopAndBottom, {0, box.Top, Width, box.Bottom}},
        };
        PageRaster analysis;
        MakeBinaryImage(page.Page, analysis, 128);
        for (const auto& trim : trims) {
          SCOPED_TRACE(trim.Name);
          EditState state;
          NoDisplay nowhere;
          state.Edit = PageEdit(page.Page, analysis);
          trim.Run(state, nowhere);
          ExpectKept(page, state.Edit.WorkingPage(), trim.Kept);
        }
        for (BatchKind kind :
             {BatchKind::LeftRight, BatchKind::LeftRightNormalise, BatchKind::TopBottom}) {
          SCOPED_TRACE("batch " + std::to_string(int(kind)));
          LoadedPage loaded;
          loaded.Path = "page.png";
          loaded.Page = page.Page;
          loaded.Analysis = analysis;
          BatchJob job;
          job.Kind = kind;
          const BatchCut batch = CutForBatch(loaded, job);
          const Rect kept = kind == BatchKind::TopBottom ? trims[5].Kept : trims[4].Kept;
          if (kind == BatchKind::LeftRightNormalise) {
            ExpectOnCanvas(page, batch, kept);
          } else {
            ExpectKept(page, batch.Edit.WorkingPage(), kept);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace pagetrim
