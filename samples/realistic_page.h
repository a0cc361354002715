// Generated scanned pages with the faults of real paper (specks, dark scanner
// edges, gutter shadows, a strip of the facing page, yellowed paper, faint
// text, JPEG noise, a dark bed or a cloth around the page, its fibrous edge),
// together with where their content lies: pages to try 自動削除 on, and for
// tests that check that a trim keeps every pixel of content.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "page_raster.h"

namespace pagetrim::samples {

// Colour is Bgr24; Gray and Bitonal are Gray8, Bitonal holding only 0 and 255.
enum class PageKind { Colour, Gray, Bitonal };
enum class PageSide { Left, Top, Right, Bottom };

// Every difficulty is off by default. Positions below 0 pick the usual place.
struct RealisticPageOptions {
  int Width = 850;
  int Height = 1100;
  PageKind Kind = PageKind::Colour;
  unsigned Seed = 1;

  // The text: lines of glyph-like blobs inside these margins, the first line
  // starting at the top-left corner of the block.
  int MarginLeft = 90;
  int MarginTop = 100;
  int MarginRight = 90;
  int MarginBottom = 110;
  int Columns = 1;  // 1 or 2
  int LineHeight = 22;
  int GlyphHeight = 11;  // x-height; ascenders and descenders reach 4 px beyond
  // Gray level of text, rules and page number; faint text is 140 or lighter.
  std::uint8_t TextGray = 20;
  bool Yellowed = false;

  // Content besides the text.
  int HorizontalRule = 0;     // thickness 1-3: a rule across the text width
  int HorizontalRuleAt = -1;  // its top row; usually 12 px above the text
  int VerticalRule = 0;       // thickness: a rule down the text height
  int VerticalRuleAt = -1;    // its left column; usually between the columns
  bool DottedRule = false;    // 2 x 2 dots 6 px apart along the text
  bool DottedRuleVertical = false;
  int DottedRuleAt = -1;     // its row (column); usually 10 px below (left of) the text
  int PageNumberDigits = 0;  // 0: no page number; each digit is 7 x 11 px
  int PageNumberX = -1;      // top-left corner; usually centred in the bottom margin
  int PageNumberY = -1;
  int PictureDepth = 0;  // a halftone picture this deep, running off PictureSide
  PageSide PictureSide = PageSide::Right;

  // Not content.
  int Speckles = 0;
  int SpeckleSize = 1;            // specks are 1 to this many pixels across
  std::array<int, 4> DarkEdge{};  // a dark scanner edge this wide, by PageSide
  int GutterShading = 0;          // width of the gutter's shadow
  PageSide GutterSide = PageSide::Left;
  int FacingStrip = 0;  // width of a strip of the facing page, with its edge and text
  PageSide FacingSide = PageSide::Right;
  int JpegNoise =
      0;  // amplitude of the noise JPEG leaves around edges (a third of it on flat paper)

  // Glyph strokes this wide; glyphs, their gaps and the page number's digits
  // grow with it, so that text at 300 dpi looks as it does at 100.
  int Stroke = 2;

  // Content lines besides the text block (running heads, titles, a one-line
  // imprint far below the text), of the page's glyphs. Y is the top of the
  // x-height band; a glyph height or stroke of 0 is the page's.
  struct TextRun {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int GlyphHeight = 0;
    int Stroke = 0;
  };
  std::vector<TextRun> Runs;
  // Music in place of the text: this many systems of five-line staves with
  // notes, spread down the text block.
  int Staves = 0;
  // A framed picture (a plate, or a cover's picture) filling this box; every
  // pixel of it is content. Its frame is a thin rule unless PlateFrame says
  // how wide a border to draw.
  Rect Plate{};
  int PlateFrame = 0;

  // Not content.
  // A band this wide of darker, fibrous paper along FibrousSide: the page's
  // own rough edge.
  int FibrousEdge = 0;
  PageSide FibrousSide = PageSide::Right;
  // The facing strip as a photograph of an open book shows it: whole lines
  // of the page's glyphs running off the image rather than pieces, and the
  // page darkening into the fold rather than a hard edge (a strip on the
  // left or right only).
  bool FacingLines = false;
  // The paper lies on something dark that the scan shows around it: the
  // image reaches this far beyond the paper on each side (by PageSide), while
  // Width, Height and the margins stay the paper's. The paper's edge is then
  // slightly ragged, with a faint shadow along it.
  enum class Ground { ScannerBed, Cloth };
  std::array<int, 4> Beyond{};
  Ground Under = Ground::ScannerBed;  // a bed is noisy; cloth is woven, folded and linty
  std::uint8_t UnderGray = 30;
  // An open book: the neighbouring page, this wide, lies beyond the gutter
  // (GutterSide, left or right) between the paper and the ground, with its
  // own text.
  int Neighbour = 0;
};

struct RealisticPage {
  PageRaster Page;
  // The smallest box holding every content pixel; empty when there is none.
  Rect ContentBox;
  // The box of the text block's own ink (its lines or staves) as drawn;
  // empty when it has none.
  Rect TextBox;
  // Where the paper lies in the image: all of it unless the paper lies on
  // a ground.
  Rect Paper;
  // One byte per pixel, row by row: 1 where the page shows content.
  std::vector<std::uint8_t> Content;

  bool IsContent(int x, int y) const {
    return Content[std::size_t(y) * std::size_t(Page.Width()) + std::size_t(x)] != 0;
  }
  // Content pixels that lie outside kept (page coordinates).
  long long ContentOutside(const Rect& kept) const;
};

RealisticPage MakeRealisticPage(const RealisticPageOptions& options);

// A US letter page at dpi, its margins and text at the defaults' 100 dpi
// sizes scaled up: the page the scores of paper kinds start from.
RealisticPageOptions LetterPage(int dpi, PageKind kind);

}  // namespace pagetrim::samples
