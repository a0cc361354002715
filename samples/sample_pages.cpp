// Drawing synthetic pages.
#include "sample_pages.h"

#include <QFile>
#include <algorithm>
#include <random>

#include "codecs.h"
#include "page_path.h"

namespace pagetrim {

bool WriteSamplePage(const QString& path, const PageRaster& page, float dpi) {
  EncodedBytes bytes;
  const bool png = FileExtension(path).toUpper() == u".PNG";
  if (!(png ? codecs::EncodePng(page, dpi, dpi, {}, bytes)
            : codecs::EncodeJpeg(page, dpi, dpi, {}, bytes))
           .Ok()) {
    return false;
  }
  QFile file(path);
  return file.open(QIODevice::WriteOnly) &&
         file.write(reinterpret_cast<const char*>(bytes.Data()), qint64(bytes.Size())) ==
             qint64(bytes.Size());
}

namespace {

void FillRect(PageRaster& page, int left, int top, int right, int bottom, std::uint8_t r,
              std::uint8_t g, std::uint8_t b) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, page.Width());
  bottom = std::min(bottom, page.Height());
  for (int y = top; y < bottom; ++y) {
    std::uint8_t* p = page.Row(y) + std::size_t(left) * 3;
    for (int x = left; x < right; ++x, p += 3) {
      p[0] = b;
      p[1] = g;
      p[2] = r;
    }
  }
}

}  // namespace

PageRaster MakeSamplePage(int width, int height, SampleMargins m, unsigned seed, bool colour) {
  PageRaster page(width, height);
  const int left = m.Left;
  const int top = m.Top;
  const int right = width - m.Right;  // exclusive
  const int bottom = height - m.Bottom;
  if (right <= left || bottom <= top)
    return page;
  std::mt19937 rng(seed);
  const int lineHeight = std::max(4, (bottom - top) / 46);
  const int glyph = std::max(2, lineHeight * 3 / 5);
  const std::uint8_t ink = 25;

  // A running-head rule and a footer rule span the text's full width, so the
  // ink's extent is exact; every line of text starts at the left edge.
  FillRect(page, left, top, right, top + glyph, ink, ink, ink);
  FillRect(page, left, bottom - glyph, right, bottom, ink, ink, ink);
  int lineNo = 0;
  for (int y = top + 2 * lineHeight; y + glyph < bottom - 2 * lineHeight;
       y += lineHeight, ++lineNo) {
    if (lineNo % 9 == 8)
      continue;  // a blank line between paragraphs
    const bool lastOfParagraph = lineNo % 9 == 7;
    const int lineEnd =
        lastOfParagraph ? left + (right - left) * int(30 + rng() % 50) / 100 : right;
    int x = left;
    while (x < lineEnd - glyph) {
      const int word = glyph * int(2 + rng() % 7);
      const int end = std::min(x + word, lineEnd);
      FillRect(page, x, y, end, y + glyph, ink, ink, ink);
      x = end + glyph * 3 / 2;
    }
  }
  if (colour) {
    // A coloured figure in the middle of the text.
    const int fw = (right - left) / 3;
    const int fh = (bottom - top) / 5;
    const int fx = left + (right - left - fw) / 2;
    const int fy = top + (bottom - top) / 3;
    FillRect(page, fx, fy, fx + fw, fy + fh, 200, 60, 40);
    FillRect(page, fx + fw / 4, fy + fh / 4, fx + fw * 3 / 4, fy + fh * 3 / 4, 40, 90, 200);
  }
  return page;
}

QStringList WriteSampleBook(const QString& folder) {
  struct Sample {
    const char* Name;
    int Width, Height;
    SampleMargins Margins;
    float Dpi;
    bool Colour;
  };
  const Sample samples[] = {
      {"p01.jpg", 1240, 1754, {150, 160, 130, 170}, 300, true},
      {"p02.jpg", 1240, 1754, {90, 140, 200, 150}, 300, false},
      {"p03.png", 1240, 1754, {180, 120, 110, 200}, 300, false},
      {"p04.png", 600, 850, {60, 70, 40, 90}, 72, false},
      {"p05.jpg", 600, 850, {35, 50, 80, 60}, 72, true},
      {"p10.JPG", 1240, 1754, {120, 200, 140, 130}, 300, true},
  };
  QStringList paths;
  unsigned seed = 1;
  for (const Sample& s : samples) {
    const QString path = folder + "/" + s.Name;
    const PageRaster page = MakeSamplePage(s.Width, s.Height, s.Margins, seed++, s.Colour);
    if (WriteSamplePage(path, page, s.Dpi))
      paths.append(path);
  }
  return paths;
}

}  // namespace pagetrim
