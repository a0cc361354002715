// Scores the content box on real scans against their hand-checked boxes.
//   realscans FOLDER [--draw DIR]
// FOLDER holds the pages and content_boxes.json ({"name": {"content_box":
// [x0, y0, x1, y1], "width": W, "height": H}}). For every page it prints the
// hand-checked box, the cut the content box gives (content plus its border),
// the ink that cut loses and the margin it leaves on each side.
//
// Ink and margins are counted as tests/support/scan_score.h describes.
//
// --draw DIR writes each page, reduced, with the hand box in green, the cut in
// red and the content box in blue, the ink lost in magenta, and the cells the
// analysis set aside tinted: edges orange, beyond an edge violet, specks cyan.
#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "content_box.h"
#include "page_codec.h"
#include "support/scan_score.h"

namespace pagetrim {
namespace {

void Draw(const QString& path, const PageRaster& source, const ContentBoxTrace& trace,
          const Rect& box, const ContentBox& found, const test::InkCount& ink) {
  PageRaster page;
  page.AssignFrom(source);
  page.ConvertToColour();
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x) {
      const std::size_t i = std::size_t(y) * page.Width() + x;
      if (ink.Map[i] == 1 && !(x >= found.Cut.Left && x < found.Cut.Right && y >= found.Cut.Top &&
                               y < found.Cut.Bottom)) {
        row[3 * x] = 255;  // ink lost: magenta
        row[3 * x + 1] = 0;
        row[3 * x + 2] = 255;
        continue;
      }
      const int cell = (y / trace.Factor) * trace.Width + x / trace.Factor;
      std::array<int, 3> tint{};
      switch (trace.Cells[cell]) {
        case ContentBoxTrace::Edge:
          tint = {0, 140, 255};
          break;
        case ContentBoxTrace::Beyond:
          tint = {255, 0, 160};
          break;
        case ContentBoxTrace::Speck:
          tint = {255, 255, 0};
          break;
        default:
          continue;
      }
      for (int c = 0; c < 3; ++c)
        row[3 * x + c] = std::uint8_t((row[3 * x + c] + tint[c]) / 2);
    }
  }
  const int thickness = std::max(1, std::max(page.Width(), page.Height()) / 800);
  test::DrawOutline(page, box, MakeColour(0, 200, 0), thickness);
  if (found.HasContent) {
    test::DrawOutline(page, found.Content, MakeColour(0, 0, 255), thickness);
    test::DrawOutline(page, found.Cut, MakeColour(255, 0, 0), thickness);
  }
  const double scale = 1200.0 / std::max(page.Width(), page.Height());
  PageRaster small(std::max(1, int(page.Width() * scale)), std::max(1, int(page.Height() * scale)));
  small.CopyRect({0, 0, small.Width(), small.Height()}, page, {0, 0, page.Width(), page.Height()});
  if (!SavePage(path, small, 150, 150).Ok())
    std::fprintf(stderr, "realscans: could not write %s\n", qPrintable(path));
}

int Main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: realscans FOLDER [--draw DIR]\n");
    return 2;
  }
  const QDir folder(args[1]);
  const int drawAt = int(args.indexOf("--draw"));
  const QString drawDir = drawAt > 0 && drawAt + 1 < args.size() ? args[drawAt + 1] : QString();
  const std::vector<test::HandChecked> pages = test::ReadHandChecked(folder.path());
  if (pages.empty()) {
    std::fprintf(stderr, "realscans: no content_boxes.json in %s\n", qPrintable(folder.path()));
    return 2;
  }
  std::printf("%-22s %-10s %-21s %-21s %9s %6s %6s %6s %6s %6s\n", "page", "size", "hand box",
              "cut", "ink", "lost", "left%", "top%", "right%", "bott%");
  std::vector<double> sides;
  int losing = 0;
  for (const test::HandChecked& checked : pages) {
    const QString& name = checked.Name;
    const Rect& box = checked.Box;
    PageRaster page;
    const PageFileInfo info = ReadPageFile(folder.filePath(name), page);
    if (!info.Decoded()) {
      std::printf("%-22s cannot be read\n", qPrintable(name));
      losing++;
      continue;
    }
    ContentBoxTrace trace;
    const ContentBox found = FindContentBox(page, info.Resolution.X, &trace);
    // As 自動削除 cuts it: on the block grid of a JPEG file.
    const Rect cut =
        !found.HasContent ? Rect{0, 0, page.Width(), page.Height()}
        : info.Source.Jpeg && !info.Source.Turned
            ? CutOnGrid(found, info.Source.Jpeg->McuWidth(), info.Source.Jpeg->McuHeight())
            : found.Cut;
    const test::InkCount ink = test::CountInk(page, box, cut);
    const std::array<double, 4> margins = test::MarginsLeft(page, box, cut);
    for (double m : margins)
      sides.push_back(std::max(0.0, m));
    losing += ink.Lost > 0;
    const QString size = QString("%1x%2").arg(page.Width()).arg(page.Height());
    const QString hand =
        QString("%1,%2,%3,%4").arg(box.Left).arg(box.Top).arg(box.Right).arg(box.Bottom);
    const QString got =
        QString("%1,%2,%3,%4").arg(cut.Left).arg(cut.Top).arg(cut.Right).arg(cut.Bottom);
    std::printf("%-22s %-10s %-21s %-21s %9ld %6ld %6.2f %6.2f %6.2f %6.2f\n", qPrintable(name),
                qPrintable(size), qPrintable(hand), qPrintable(got), ink.Total, ink.Lost,
                margins[0], margins[1], margins[2], margins[3]);
    if (!drawDir.isEmpty()) {
      QDir().mkpath(drawDir);
      Draw(QDir(drawDir).filePath(QString(name).replace('/', '_').section('.', 0, 0) + ".png"),
           page, trace, box, found, ink);
    }
  }
  const double worst = sides.empty() ? 0 : *std::max_element(sides.begin(), sides.end());
  std::printf("pages losing ink: %d of %lld   median side %.2f%%   worst side %.2f%%\n", losing,
              static_cast<long long>(pages.size()), test::MedianOf(sides), worst);
  return losing == 0 && test::MedianOf(sides) <= 1.0 && worst <= 5.0 ? 0 : 1;
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char** argv) {
  return pagetrim::Main(argc, argv);
}
