// The content box in page pixels: the content cells' box narrowed to the
// outermost ink, widened to keep every mark it crosses whole, and given its
// border of paper; and the cut moved onto a JPEG page's block grid.
#include "box_refinement.h"

#include <algorithm>

#include "paper_and_ink.h"

namespace pagetrim::box {
namespace {

// A mark that still goes on after this part of the page (2 mm across an A4
// page, 3 mm down it) is something a side runs into, not a mark the grid
// missed.
constexpr int WholeMarkPart = 100;

}  // namespace

std::optional<Blob> ContentCells(const Marks& marks) {
  bool any = false;
  Blob box;
  for (std::size_t b = 0; b < marks.Blobs.size(); ++b) {
    if (marks.Kind[b] != Cell::Content)
      continue;
    const Blob& m = marks.Blobs[b];
    if (!any) {
      box = m;
      any = true;
    }
    box.Left = std::min(box.Left, m.Left);
    box.Top = std::min(box.Top, m.Top);
    box.Right = std::max(box.Right, m.Right);
    box.Bottom = std::max(box.Bottom, m.Bottom);
  }
  if (!any)
    return std::nullopt;
  return box;
}

Rect RefineBox(const PageRaster& page, const Analysis& a, const Blob& box) {
  const Scratch<std::uint8_t>& around = a.Around;
  const int f = a.G.Factor, w = a.W();
  const int pageW = page.Width(), pageH = page.Height();
  auto inkAt = [&](int x, int y) {
    const int cell = (y / f) * w + x / f;
    return PixelValue(page, a.G, x, y) + a.InkDelta < around[cell];
  };
  auto contentCell = [&](int cx, int cy) { return a.Class[cy * w + cx] == Cell::Content; };
  Rect r{box.Left * f, box.Top * f, std::min(pageW, box.Right * f),
         std::min(pageH, box.Bottom * f)};
  // Each side: the first pixel line, from outside in, that holds ink within
  // the content cells of the box's border row or column.
  auto firstColumn = [&](int cx, bool fromLeft) {
    const int x0 = cx * f, x1 = std::min(pageW, x0 + f);
    int best = fromLeft ? x1 - 1 : x0;
    for (int cy = box.Top; cy < box.Bottom; ++cy) {
      if (!contentCell(cx, cy))
        continue;
      for (int y = cy * f; y < std::min(pageH, cy * f + f); ++y) {
        if (fromLeft) {
          for (int x = x0; x < best; ++x) {
            if (inkAt(x, y)) {
              best = x;
              break;
            }
          }
        } else {
          for (int x = x1 - 1; x > best; --x) {
            if (inkAt(x, y)) {
              best = x;
              break;
            }
          }
        }
      }
    }
    return best;
  };
  auto firstRow = [&](int cy, bool fromTop) {
    const int y0 = cy * f, y1 = std::min(pageH, y0 + f);
    int best = fromTop ? y1 - 1 : y0;
    for (int cx = box.Left; cx < box.Right; ++cx) {
      if (!contentCell(cx, cy))
        continue;
      const int x0 = cx * f, x1 = std::min(pageW, cx * f + f);
      if (fromTop) {
        for (int y = y0; y < best; ++y) {
          for (int x = x0; x < x1; ++x) {
            if (inkAt(x, y)) {
              best = y;
              break;
            }
          }
        }
      } else {
        for (int y = y1 - 1; y > best; --y) {
          for (int x = x0; x < x1; ++x) {
            if (inkAt(x, y)) {
              best = y;
              break;
            }
          }
        }
      }
    }
    return best;
  };
  if (f > 1) {
    r.Left = firstColumn(box.Left, true);
    r.Right = firstColumn(box.Right - 1, false) + 1;
    r.Top = firstRow(box.Top, true);
    r.Bottom = firstRow(box.Bottom - 1, false) + 1;
  }
  return r;
}

// Each side moves out a pixel line at a time while the line beyond it holds
// ink touching ink of the side's own line, and the marks the side crosses
// are kept whole.
Rect KeepWholeMarks(const PageRaster& page, const Analysis& a, Rect r) {
  const Scratch<std::uint8_t>& around = a.Around;
  const int f = a.G.Factor, w = a.W();
  auto inkAt = [&](int x, int y) {
    return PixelValue(page, a.G, x, y) + a.InkDelta < around[(y / f) * w + x / f];
  };
  // line(i) and along(j) give the pixel of the i-th line out from the side
  // and j-th position along it; the side's own line is i = 0.
  auto grow = [&](int length, int reach, int beforeBorder, auto pixel) {
    const int room = std::min(reach, beforeBorder);
    Scratch<std::uint8_t> touching(length), next(length);
    for (int j = 0; j < length; ++j)
      touching[j] = pixel(0, j) ? 1 : 0;
    int moved = 0;
    for (int i = 1; i <= room; ++i) {
      bool any = false;
      for (int j = 0; j < length; ++j) {
        next[j] =
            (touching[j] || (j > 0 && touching[j - 1]) || (j + 1 < length && touching[j + 1])) &&
            pixel(i, j);
        any = any || next[j];
      }
      if (!any)
        break;
      // Ink joined along the line belongs to the same mark.
      for (int j = 1; j < length; ++j)
        next[j] = next[j] || (next[j - 1] && pixel(i, j));
      for (int j = length - 2; j >= 0; --j)
        next[j] = next[j] || (next[j + 1] && pixel(i, j));
      touching.swap(next);
      moved = i;
    }
    // Reaching the page's border is no sign of an edge: a mark may run off.
    return moved < reach || moved == beforeBorder ? moved : 0;
  };
  const int reachX = std::max(1, page.Width() / WholeMarkPart);
  const int reachY = std::max(1, page.Height() / WholeMarkPart);
  const Rect in = r;
  const int width = in.Right - in.Left, height = in.Bottom - in.Top;
  r.Left -=
      grow(height, reachX, in.Left, [&](int i, int j) { return inkAt(in.Left - i, in.Top + j); });
  r.Right += grow(height, reachX, page.Width() - in.Right,
                  [&](int i, int j) { return inkAt(in.Right - 1 + i, in.Top + j); });
  r.Top -=
      grow(width, reachY, in.Top, [&](int i, int j) { return inkAt(in.Left + j, in.Top - i); });
  r.Bottom += grow(width, reachY, page.Height() - in.Bottom,
                   [&](int i, int j) { return inkAt(in.Left + j, in.Bottom - 1 + i); });
  return r;
}

std::optional<Rect> WithOwnFrame(const PageRaster& page, const Analysis& a,
                                 const std::optional<Rect>& content) {
  if (a.OwnFrame.empty())
    return content;
  const int w = a.W(), h = a.H(), f = a.G.Factor;
  Blob frame{w, h, 0, 0, 0};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = a.OwnFrame.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x) {
      if (row[x]) {
        frame.Left = std::min(frame.Left, x), frame.Right = std::max(frame.Right, x + 1);
        frame.Top = std::min(frame.Top, y), frame.Bottom = std::max(frame.Bottom, y + 1);
      }
    }
  }
  if (frame.Right <= frame.Left)
    return content;
  const Rect framed{frame.Left * f, frame.Top * f, std::min(page.Width(), frame.Right * f),
                    std::min(page.Height(), frame.Bottom * f)};
  if (!content)
    return framed;
  return Rect{std::min(content->Left, framed.Left), std::min(content->Top, framed.Top),
              std::max(content->Right, framed.Right), std::max(content->Bottom, framed.Bottom)};
}

Rect WithBorder(const PageRaster& page, const Analysis& a, const Marks& marks, const Rect& content,
                int border) {
  // What the border stops at: edges and strips, and bits of edges larger than
  // a speck (specks at the border it may cover, as a cut page shows them).
  // (A mark's cells are never set aside themselves: marks lie off edges.)
  auto aside = [&](int i) {
    const int l = marks.Labels[i];
    if (l < 0)
      return a.SetAside(i);
    const Blob& m = marks.Blobs[l];
    return marks.Kind[l] == Cell::Edge && 2 * std::max(m.Width(), m.Height()) > marks.Typical;
  };
  const int f = a.G.Factor, w = a.W();
  const int cx0 = content.Left / f, cx1 = (content.Right - 1) / f + 1;
  const int cy0 = content.Top / f, cy1 = (content.Bottom - 1) / f + 1;
  auto columnFree = [&](int x) {
    for (int cy = cy0; cy < cy1; ++cy) {
      if (aside(cy * w + x / f))
        return false;
    }
    return true;
  };
  auto rowFree = [&](int y) {
    for (int cx = cx0; cx < cx1; ++cx) {
      if (aside(y / f * w + cx))
        return false;
    }
    return true;
  };
  Rect cut = content;
  for (int i = 0; i < border && cut.Left > 0 && columnFree(cut.Left - 1); ++i)
    --cut.Left;
  for (int i = 0; i < border && cut.Right < page.Width() && columnFree(cut.Right); ++i)
    ++cut.Right;
  for (int i = 0; i < border && cut.Top > 0 && rowFree(cut.Top - 1); ++i)
    --cut.Top;
  for (int i = 0; i < border && cut.Bottom < page.Height() && rowFree(cut.Bottom); ++i)
    ++cut.Bottom;
  return cut;
}

}  // namespace pagetrim::box

namespace pagetrim {

Rect CutOnGrid(const ContentBox& box, int gridX, int gridY) {
  // The grid line between from and to (from <= to) nearest to want, if any.
  auto nearest = [](int from, int to, int want, int grid, int keep) {
    if (grid <= 1)
      return keep;
    const int below = want / grid * grid, above = below + grid;
    const bool belowFits = below >= from && below <= to;
    const bool aboveFits = above >= from && above <= to;
    if (belowFits && (!aboveFits || want - below < above - want))
      return below;
    return aboveFits ? above : keep;
  };
  Rect cut = box.Cut;
  if (!box.HasContent)
    return cut;
  cut.Left = nearest(box.Room.Left, box.Content.Left, box.Cut.Left, gridX, cut.Left);
  cut.Top = nearest(box.Room.Top, box.Content.Top, box.Cut.Top, gridY, cut.Top);
  return cut;
}

}  // namespace pagetrim
