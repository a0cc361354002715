// Scores the content box on generated pages of the kinds of paper it was not
// built on, exactly, from the generator's own content mask.
//   paper_kinds [--quick] [--draw DIR]
// For every kind of paper, in colour, gray and 1-bit, at 150 and 300 dpi and
// for three seeds, it prints the true content box, the cut the content box
// gives (content plus its border), the content pixels that cut loses and the
// margin it leaves on each side, in % of the image's width (left, right) or
// height (top, bottom): negative where the cut lies inside the content.
// Then, per kind and over all, the pages losing ink and the median and worst
// side, negative sides counted as 0, as scripts/realscans prints for real
// scans. --quick: 150 dpi and one seed only. --draw DIR writes each page,
// reduced, with the true box in green, the cut in red and lost ink in magenta.
#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "content_box.h"
#include "page_codec.h"
#include "realistic_page.h"
#include "support/scan_score.h"

namespace pagetrim {
namespace {

using samples::PageKind;
using samples::PageSide;
using samples::RealisticPageOptions;

int Mm(int dpi, double mm) {
  return int(mm * dpi / 25.4 + 0.5);
}

struct Kind {
  const char* Name;
  std::function<void(RealisticPageOptions&, int dpi, unsigned seed)> Set;
};

std::vector<Kind> Kinds() {
  return {
      {"plain", [](RealisticPageOptions&, int, unsigned) {}},
      {"bed",  // the page pushed into a corner of the bed, the bed below and beside it
       [](RealisticPageOptions& o, int dpi, unsigned seed) {
         const int side = o.Width * (12 + int(seed % 3) * 2) / 100;
         const int below = o.Height * (12 + int(seed % 2) * 3) / 100;
         o.Beyond = {seed % 2 ? side : Mm(dpi, 2), Mm(dpi, 2), seed % 2 ? Mm(dpi, 2) : side, below};
         o.UnderGray = std::uint8_t(seed % 3 == 0 ? 12 : 35 + 10 * int(seed % 2));
       }},
      {"cloth",  // an open book photographed on black cloth, the next page beyond the gutter
       [](RealisticPageOptions& o, int, unsigned seed) {
         o.Under = RealisticPageOptions::Ground::Cloth;
         o.UnderGray = 14;
         const int w = o.Width / 14, h = o.Height / 14;
         o.GutterSide = seed % 2 ? PageSide::Left : PageSide::Right;
         o.GutterShading = o.Width / 12;
         o.Neighbour = o.Width / 4;
         o.Beyond = {w, h, w, h};
         o.Beyond[std::size_t(o.GutterSide)] = 0;  // the next page runs off the image
       }},
      {"facing lines",  // a strip of the facing page, with its own lines, runs off the image
       [](RealisticPageOptions& o, int, unsigned seed) {
         o.FacingStrip = o.Width * (6 + int(seed % 3) * 2) / 100;
         o.FacingSide = seed % 2 ? PageSide::Right : PageSide::Left;
         o.FacingLines = true;
         o.GutterSide = o.FacingSide;  // the gutter's shadow lies between the two
         o.GutterShading = o.Width / 14;
       }},
      {"fibrous edge",  // the page's own edge, a band of darker fibrous paper
       [](RealisticPageOptions& o, int dpi, unsigned seed) {
         o.Yellowed = true;
         o.FibrousEdge = Mm(dpi, 3 + seed % 3);
         o.FibrousSide = PageSide(seed % 4);
       }},
      {"score imprint",  // music staves, and a small one-line imprint far below them
       [](RealisticPageOptions& o, int, unsigned seed) {
         o.Staves = 6;
         o.MarginBottom = o.Height * 22 / 100;
         o.PageNumberDigits = 0;
         const int width = o.Width * int(8 + 3 * (seed % 3)) / 100;
         const int left = seed % 2 ? o.MarginLeft : (o.Width - width) / 2;
         o.Runs.push_back({left, o.Height * 95 / 100, width, o.GlyphHeight / 2, o.Stroke / 2});
       }},
      {"footer below",  // a few lines of text, a one-line footer far below them
       [](RealisticPageOptions& o, int, unsigned seed) {
         o.MarginBottom = o.Height * (55 + int(seed % 3) * 5) / 100;
         o.PageNumberDigits = 0;
         const int width = o.Width * 2 / 5;
         o.Runs.push_back({(o.Width - width) / 2, o.Height - o.Height * 7 / 100, width, 0, 0});
       }},
  };
}

void Draw(const QString& path, const samples::RealisticPage& made, const Rect& cut) {
  PageRaster page;
  page.AssignFrom(made.Page);
  page.ConvertToColour();
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x) {
      if (made.IsContent(x, y) &&
          !(x >= cut.Left && x < cut.Right && y >= cut.Top && y < cut.Bottom)) {
        row[3 * x] = 255;
        row[3 * x + 1] = 0;
        row[3 * x + 2] = 255;
      }
    }
  }
  const int thickness = std::max(1, std::max(page.Width(), page.Height()) / 600);
  test::DrawOutline(page, made.ContentBox, MakeColour(0, 200, 0), thickness);
  test::DrawOutline(page, cut, MakeColour(255, 0, 0), thickness);
  const double scale = 1200.0 / std::max(page.Width(), page.Height());
  PageRaster small(std::max(1, int(page.Width() * scale)), std::max(1, int(page.Height() * scale)));
  small.CopyRect({0, 0, small.Width(), small.Height()}, page, {0, 0, page.Width(), page.Height()});
  if (!SavePage(path, small, 150, 150).Ok())
    std::fprintf(stderr, "paper_kinds: could not write %s\n", qPrintable(path));
}

struct Tally {
  std::vector<double> Sides;
  int Pages = 0;
  int Losing = 0;
  long long Lost = 0;

  void Print(const char* what) const {
    const double worst = Sides.empty() ? 0 : *std::max_element(Sides.begin(), Sides.end());
    std::printf(
        "%-14s pages losing ink: %2d of %2d (%lld px)   median side %5.2f%%   worst side %5.2f%%\n",
        what, Losing, Pages, Lost, test::MedianOf(Sides), worst);
  }
};

int Main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const bool quick = args.contains("--quick");
  const int drawAt = int(args.indexOf("--draw"));
  const QString drawDir = drawAt > 0 && drawAt + 1 < args.size() ? args[drawAt + 1] : QString();
  if (!drawDir.isEmpty())
    QDir().mkpath(drawDir);
  const std::vector<int> dpis = quick ? std::vector<int>{150} : std::vector<int>{150, 300};
  const std::vector<unsigned> seeds =
      quick ? std::vector<unsigned>{1} : std::vector<unsigned>{1, 2, 3};
  const std::pair<PageKind, const char*> formats[] = {
      {PageKind::Colour, "colour"}, {PageKind::Gray, "gray"}, {PageKind::Bitonal, "1-bit"}};

  std::printf("%-14s %-6s %4s %4s %-10s %-21s %-21s %9s %7s %6s %6s %6s %6s\n", "kind", "format",
              "dpi", "seed", "size", "content box", "cut", "content", "lost", "left%", "top%",
              "right%", "bott%");
  std::vector<std::pair<std::string, Tally>> tallies;
  Tally all;
  for (const Kind& kind : Kinds()) {
    Tally tally;
    for (const auto& [format, formatName] : formats) {
      for (int dpi : dpis) {
        for (unsigned seed : seeds) {
          RealisticPageOptions o = samples::LetterPage(dpi, format);
          o.Seed = seed;
          kind.Set(o, dpi, seed);
          const samples::RealisticPage made = samples::MakeRealisticPage(o);
          const ContentBox found = FindContentBox(made.Page, float(dpi));
          const Rect cut = found.HasContent ? found.Cut : Rect{0, 0, 0, 0};
          const long long lost = made.ContentOutside(cut);
          long long content = 0;
          for (std::uint8_t c : made.Content)
            content += c != 0;
          const std::array<double, 4> margins = test::MarginsLeft(made.Page, made.ContentBox, cut);
          for (Tally* t : {&tally, &all}) {
            for (double m : margins)
              t->Sides.push_back(std::max(0.0, m));
            ++t->Pages;
            t->Losing += lost > 0;
            t->Lost += lost;
          }
          const Rect& b = made.ContentBox;
          const QString size = QString("%1x%2").arg(made.Page.Width()).arg(made.Page.Height());
          const QString truth =
              QString("%1,%2,%3,%4").arg(b.Left).arg(b.Top).arg(b.Right).arg(b.Bottom);
          const QString got =
              QString("%1,%2,%3,%4").arg(cut.Left).arg(cut.Top).arg(cut.Right).arg(cut.Bottom);
          std::printf("%-14s %-6s %4d %4u %-10s %-21s %-21s %9lld %7lld %6.2f %6.2f %6.2f %6.2f\n",
                      kind.Name, formatName, dpi, seed, qPrintable(size), qPrintable(truth),
                      qPrintable(got), content, lost, margins[0], margins[1], margins[2],
                      margins[3]);
          std::fflush(stdout);
          if (!drawDir.isEmpty()) {
            const QString name = QString("%1-%2-%3-%4.png")
                                     .arg(QString(kind.Name).replace(' ', '-'))
                                     .arg(formatName)
                                     .arg(dpi)
                                     .arg(seed);
            Draw(QDir(drawDir).filePath(name), made, cut);
          }
        }
      }
    }
    tallies.emplace_back(kind.Name, std::move(tally));
  }
  std::printf("\n");
  for (const auto& [name, tally] : tallies)
    tally.Print(name.c_str());
  all.Print("all");
  return 0;
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char** argv) {
  return pagetrim::Main(argc, argv);
}
