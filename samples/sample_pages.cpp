// Drawing synthetic pages.
#include "sample_pages.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <random>

#include "codecs.h"
#include "page_path.h"
#include "realistic_page.h"

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

QStringList WriteRealPaperBook(const QString& folder) {
  using samples::PageKind;
  using samples::PageSide;
  std::vector<std::pair<const char*, samples::RealisticPageOptions>> pages(6);
  auto at = [&](int i, const char* name, PageKind kind) -> samples::RealisticPageOptions& {
    pages[i].first = name;
    pages[i].second.Kind = kind;
    pages[i].second.Seed = unsigned(i + 1);
    pages[i].second.Width = 1240;
    pages[i].second.Height = 1754;
    pages[i].second.MarginLeft = pages[i].second.MarginRight = 150;
    pages[i].second.MarginTop = pages[i].second.MarginBottom = 170;
    return pages[i].second;
  };
  {  // a left-hand page: the gutter's shadow at right, then the facing page
    auto& o = at(0, "r01.jpg", PageKind::Colour);
    o.Yellowed = true;
    o.GutterShading = 90;
    o.GutterSide = PageSide::Right;
    o.FacingStrip = 60;
    o.FacingSide = PageSide::Right;
    o.PageNumberDigits = 2;
    o.JpegNoise = 8;
  }
  {  // a scanner's dark edges on two sides, and dust
    auto& o = at(1, "r02.jpg", PageKind::Gray);
    o.DarkEdge = {30, 0, 0, 45};
    o.Speckles = 150;
    o.SpeckleSize = 3;
    o.HorizontalRule = 2;
  }
  {  // two columns with a rule between, on a 1-bit scan with specks
    auto& o = at(2, "r03.png", PageKind::Bitonal);
    o.Columns = 2;
    o.VerticalRule = 1;
    o.Speckles = 300;
    o.SpeckleSize = 2;
    o.DarkEdge = {0, 20, 0, 0};
  }
  {  // a picture running off the page's foot, and a page number in a corner
    auto& o = at(3, "r04.jpg", PageKind::Colour);
    o.PictureDepth = 300;
    o.PictureSide = PageSide::Bottom;
    o.PageNumberDigits = 3;
    o.PageNumberX = 1060;
    o.PageNumberY = 60;
    o.Speckles = 80;
  }
  {  // faint print on yellowed paper, the gutter's shadow at left
    auto& o = at(4, "r05.jpg", PageKind::Colour);
    o.Yellowed = true;
    o.TextGray = 120;
    o.GutterShading = 70;
    o.GutterSide = PageSide::Left;
    o.DottedRule = true;
  }
  {  // a blank page with dust and an edge: left as it is
    auto& o = at(5, "r06.png", PageKind::Gray);
    o.MarginTop = o.Height;
    o.Speckles = 100;
    o.SpeckleSize = 2;
    o.DarkEdge = {0, 0, 25, 0};
  }
  QStringList paths;
  for (const auto& [name, options] : pages) {
    const QString path = folder + "/" + name;
    if (WriteSamplePage(path, samples::MakeRealisticPage(options).Page, 300))
      paths.append(path);
  }
  return paths;
}

namespace {

// Quality 85, as scanners write their pages: the example tables of the JPEG
// standard scaled by libjpeg's rule, luminance in slot 0 and chrominance in
// slot 1, chroma sampled 2 x 2.
JpegCoding ScannerCoding() {
  constexpr std::array<std::uint16_t, 64> Luminance = {
      16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  constexpr std::array<std::uint16_t, 64> Chrominance = {
      17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
      99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
  constexpr int Quality = 85, Scale = 200 - 2 * Quality;
  JpegCoding coding;
  for (std::size_t i = 0; i < 64; ++i) {
    coding.Tables[0][i] = std::uint16_t(std::clamp((Luminance[i] * Scale + 50) / 100, 1, 255));
    coding.Tables[1][i] = std::uint16_t(std::clamp((Chrominance[i] * Scale + 50) / 100, 1, 255));
  }
  coding.HasTable = {true, true, false, false};
  coding.ComponentCount = 3;
  coding.Components = {{{2, 2, 0}, {1, 1, 1}, {1, 1, 1}}};
  return coding;
}

QJsonValue BoxJson(const Rect& r) {
  if (r.Width() <= 0 || r.Height() <= 0)
    return QJsonValue::Null;
  return QJsonArray{r.Left, r.Top, r.Right, r.Bottom};
}

}  // namespace

QByteArray BookTruthJson(const samples::BookOptions& options,
                         const std::vector<samples::BookPageTruth>& pages) {
  QJsonArray list;
  for (const samples::BookPageTruth& t : pages) {
    const double turn = t.Place.Turn * 3.14159265358979323846 / 180;
    QJsonObject page;
    page["name"] = QString::fromStdString(t.Name);
    page["kind"] = samples::BookPageKindName(t.Kind);
    page["side"] = t.Side == samples::BookSide::Recto ? "recto" : "verso";
    page["width"] = t.Width;
    page["height"] = t.Height;
    page["dpi"] = t.Dpi;
    page["page_width"] = t.PageWidth;
    page["page_height"] = t.PageHeight;
    page["turn"] = t.Place.Turn;
    page["placement"] = QJsonArray{std::cos(turn),  std::sin(turn), t.Place.OriginX,
                                   -std::sin(turn), std::cos(turn), t.Place.OriginY};
    page["on_bed"] = t.OnBed;
    page["text_block"] = BoxJson(t.TextBlock);
    page["content"] = BoxJson(t.Content);
    page["scan_content"] = BoxJson(t.ScanContent);
    list.append(page);
  }
  QJsonObject book;
  book["dpi"] = options.Dpi;
  book["seed"] = qint64(options.Seed);
  book["kind"] = options.Kind == samples::PageKind::Colour ? "colour"
                 : options.Kind == samples::PageKind::Gray ? "gray"
                                                           : "bitonal";
  book["conventions"] =
      "Side by place in the list: even indices (p001, p003, ...) recto, odd ones verso. "
      "Boxes are [x0, y0, x1, y1], x1 and y1 exclusive, null when empty. text_block (the body "
      "text, without running head and page number) and content are in the straight page "
      "(page_width x page_height), scan_content in the scan. A point (x, y) of the straight "
      "page, pixel edges at whole numbers, lies in the scan at (a x + b y + c, d x + e y + f) "
      "for placement [a, b, c, d, e, f]; turn is the angle in degrees, counter-clockwise "
      "positive, by which the page is turned from straight.";
  // One page to a line, so that the file reads and compares as a list.
  QByteArray json = QJsonDocument(book).toJson(QJsonDocument::Indented);
  json.chop(json.size() - json.lastIndexOf('}'));
  while (json.endsWith('\n'))
    json.chop(1);
  json += ",\n    \"pages\": [\n";
  for (qsizetype i = 0; i < list.size(); ++i) {
    json += "        " + QJsonDocument(list[i].toObject()).toJson(QJsonDocument::Compact);
    json += i + 1 < list.size() ? ",\n" : "\n";
  }
  json += "    ]\n}\n";
  return json;
}

QStringList WriteGeneratedBook(const QString& folder, const samples::BookOptions& options,
                               const QString& truthPath, QString* reason) {
  const JpegCoding coding = ScannerCoding();
  std::vector<samples::BookPageTruth> truths;
  QStringList paths;
  auto fail = [&](const QString& why) {
    if (reason != nullptr)
      *reason = why;
    return QStringList();
  };
  for (int i = 0; i < int(samples::BookPlan(options.Pages).size()); ++i) {
    const samples::BookPage page = samples::MakeBookPage(options, i);
    const QString path = folder + "/" + QString::fromStdString(page.Truth.Name);
    EncodedBytes bytes;
    const float dpi = float(options.Dpi);
    const bool encoded = options.Kind == samples::PageKind::Bitonal
                             ? codecs::EncodePng(page.Scan, dpi, dpi, {}, bytes, true).Ok()
                             : codecs::EncodeJpeg(page.Scan, dpi, dpi, {}, bytes, &coding).Ok();
    QFile file(path);
    if (!encoded || !file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(bytes.Data()), qint64(bytes.Size())) !=
            qint64(bytes.Size())) {
      return fail("cannot write " + path);
    }
    truths.push_back(page.Truth);
    paths.append(path);
  }
  if (!truthPath.isEmpty()) {
    QSaveFile file(truthPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(BookTruthJson(options, truths)) < 0 ||
        !file.commit()) {
      return fail("cannot write " + truthPath);
    }
  }
  return paths;
}

}  // namespace pagetrim
