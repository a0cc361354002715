// How well and how fast a page's turn is found and undone, printed from one
// run: the accuracy of FindSkew on the real scans (turned by known angles and
// measured against the angle found for the scan itself) and on generated
// pages of every kind, by kind and angle; then the time of finding the angle
// and of turning an A4 colour page at 300 dpi, each next to decoding that page
// with the program's own codec, and the memory a turn takes.
//   skew_bench [REALSCANS]
// Pages are turned with the plain rotation of tests/support, not with
// TurnPage, so that the finder is not measured against the program's own turn.
#include <malloc.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "page_codec.h"
#include "page_skew.h"
#include "page_turn.h"
#include "realistic_page.h"
#include "skew_samples.h"
#include "support/reference_turn.h"
#include "support/scan_score.h"

namespace pagetrim {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A page turned onto a canvas that holds all of it, filled with its paper.
PageRaster TurnedCopy(const PageRaster& page, double degrees, bool bitonal, ColourValue paper,
                      int supersample) {
  const double a = degrees * std::numbers::pi / 180.0;
  const double c = std::abs(std::cos(a)), s = std::abs(std::sin(a));
  const std::uint8_t fill[3] = {std::uint8_t(paper >> 16), std::uint8_t(paper >> 8),
                                std::uint8_t(paper)};
  return test::ReferenceTurn(page, degrees, int(std::ceil(page.Width() * c + page.Height() * s)),
                             int(std::ceil(page.Width() * s + page.Height() * c)), fill, bitonal,
                             nullptr, supersample)
      .Page;
}

// Errors of sure findings, and how many findings were unsure.
struct Tally {
  std::vector<double> Errors;
  int Unsure = 0;
  int Total = 0;
  std::map<std::string, int> Doubts;

  void Add(const SkewFinding& found, double expected) {
    ++Total;
    if (!found.Sure) {
      ++Unsure;
      ++Doubts[SkewDoubtName(found.Doubt)];
      return;
    }
    Errors.push_back(std::abs(found.Degrees - expected));
  }
  double Mean() const {
    double sum = 0;
    for (double e : Errors)
      sum += e;
    return Errors.empty() ? 0 : sum / double(Errors.size());
  }
  double Within(double limit) const {
    return Errors.empty() ? 0
                          : double(std::count_if(Errors.begin(), Errors.end(),
                                                 [&](double e) { return e <= limit; })) /
                                double(Errors.size());
  }
  double Worst() const {
    return Errors.empty() ? 0 : *std::max_element(Errors.begin(), Errors.end());
  }
  void Merge(const Tally& other) {
    Errors.insert(Errors.end(), other.Errors.begin(), other.Errors.end());
    Unsure += other.Unsure;
    Total += other.Total;
    for (const auto& [doubt, n] : other.Doubts)
      Doubts[doubt] += n;
  }
};

void PrintRow(const std::string& label, const Tally& t) {
  std::string doubts;
  for (const auto& [doubt, n] : t.Doubts)
    doubts += (doubts.empty() ? "" : ", ") + std::to_string(n) + " " + doubt;
  if (t.Errors.empty()) {
    std::printf("  %-34s %4d pages       -       -       -   unsure %2d/%-2d %s\n", label.c_str(),
                t.Total, t.Unsure, t.Total, doubts.c_str());
    return;
  }
  std::printf("  %-34s %4d pages  %6.3f  %5.0f%%  %6.3f   unsure %2d/%-2d %s\n", label.c_str(),
              t.Total, t.Mean(), 100 * t.Within(0.1), t.Worst(), t.Unsure, t.Total, doubts.c_str());
}

void PrintHeader(const char* title) {
  std::printf("\n%s\n  %-34s %10s  %6s  %6s  %6s\n", title, "", "", "mean", "<=0.1", "worst");
}

// ---- Real scans -------------------------------------------------------------

Tally RealScans(const QString& folder) {
  const std::vector<test::HandChecked> pages = test::ReadHandChecked(folder);
  Tally all;
  if (pages.empty()) {
    std::printf("\nReal scans: none in %s\n", folder.toUtf8().constData());
    return all;
  }
  const double turns[] = {-4.7, -2.6, -1.1, -0.4, 0.2, 0.75, 1.8, 3.3, 4.9};
  std::map<double, Tally> byTurn;
  std::printf("\nReal scans (%s), each turned by", folder.toUtf8().constData());
  for (double t : turns)
    std::printf(" %+.2f", t);
  std::printf(" degrees; error against the scan's own angle plus the turn\n");
  for (const test::HandChecked& hand : pages) {
    PageRaster page;
    PageReduction reduction;
    ReadOptions options;
    options.RowsDecoded = [&](const PageRaster& raster, int first, int count, bool) {
      reduction.AddRows(raster, first, count);
    };
    const PageFileInfo info = ReadPageFile(folder + "/" + hand.Name, page, options);
    if (!info.Decoded())
      continue;
    const SkewFinding scanned = FindSkew(page, info.Resolution.X, reduction);
    const bool bitonal = test::IsBitonalPage(page);
    const ColourValue paper = PaperColour(reduction);
    Tally own;
    int flips = 0;
    for (double turn : turns) {
      const SkewFinding found =
          FindSkew(TurnedCopy(page, turn, bitonal, paper, 2), info.Resolution.X);
      if (!scanned.Sure) {
        // Nothing to measure against; a copy found sure is counted apart.
        flips += found.Sure;
        continue;
      }
      own.Add(found, scanned.Degrees + turn);
      byTurn[turn].Add(found, scanned.Degrees + turn);
    }
    std::printf("  %-24s %4dx%-4d as scanned: %s", hand.Name.toUtf8().constData(), page.Width(),
                page.Height(), scanned.Sure ? "" : "unsure, ");
    if (scanned.Sure)
      std::printf(
          "%+.3f deg (confidence %.0f, %d lines); copies: mean error %.3f, worst %.3f, "
          "unsure %d/%d\n",
          scanned.Degrees, scanned.Confidence, scanned.Lines, own.Mean(), own.Worst(), own.Unsure,
          own.Total);
    else
      std::printf("%s; copies found sure: %d/%zu\n", SkewDoubtName(scanned.Doubt), flips,
                  std::size(turns));
    all.Merge(own);
  }
  PrintHeader("Real scans by turn (pages whose scan is sure):");
  for (const auto& [turn, tally] : byTurn) {
    char label[64];
    std::snprintf(label, sizeof label, "turned by %+.2f", turn);
    PrintRow(label, tally);
  }
  PrintRow("all", all);
  return all;
}

// ---- Generated pages --------------------------------------------------------

using samples::PageKind;
using samples::RealisticPage;

struct GeneratedKind {
  const char* Name;
  std::function<RealisticPage(PageKind, unsigned)> Make;
  bool HasAngle;  // false: the page must be found unsure
};

Tally Generated() {
  using samples::MakePhotographPage;
  using samples::MakeRealisticPage;
  using samples::MakeStavesPage;
  using samples::RealisticPageOptions;
  using samples::SkewSampleOptions;
  const std::vector<GeneratedKind> kinds = {
      {"text, specks, page number",
       [](PageKind k, unsigned seed) {
         RealisticPageOptions o;
         o.Kind = k;
         o.Seed = seed;
         o.Speckles = 60;
         o.PageNumberDigits = 3;
         o.JpegNoise = k == PageKind::Bitonal ? 0 : 8;
         return MakeRealisticPage(o);
       },
       true},
      {"two columns",
       [](PageKind k, unsigned seed) {
         RealisticPageOptions o;
         o.Kind = k;
         o.Seed = seed;
         o.Columns = 2;
         o.VerticalRule = 1;
         return MakeRealisticPage(o);
       },
       true},
      {"staves",
       [](PageKind k, unsigned seed) {
         SkewSampleOptions o;
         o.Kind = k;
         o.Seed = seed;
         return MakeStavesPage(o);
       },
       true},
      {"photograph, smooth",
       [](PageKind k, unsigned seed) {
         SkewSampleOptions o;
         o.Kind = k;
         o.Seed = seed;
         return MakePhotographPage(o, false);
       },
       false},
      {"photograph, halftone",
       [](PageKind k, unsigned seed) {
         SkewSampleOptions o;
         o.Kind = k;
         o.Seed = seed;
         return MakePhotographPage(o, true);
       },
       false},
      {"blank, with dust",
       [](PageKind k, unsigned seed) {
         RealisticPageOptions o;
         o.Kind = k;
         o.Seed = seed;
         o.MarginTop = o.Height;
         o.Speckles = 80;
         return MakeRealisticPage(o);
       },
       false},
  };
  const double angles[] = {-6.9, -4.8, -2.3, -0.6, -0.15, 0.3, 1.1, 3.4, 4.9, 6.9};
  const PageKind formats[] = {PageKind::Colour, PageKind::Gray, PageKind::Bitonal};
  std::printf(
      "\nGenerated pages (850 x 1100, 100 dpi; colour, gray and 1-bit), by kind and "
      "angle:\n");
  Tally all, allUnsure;
  for (const GeneratedKind& kind : kinds) {
    PrintHeader(kind.Name);
    Tally ofKind;
    for (double angle : angles) {
      Tally row;
      unsigned seed = 1;
      for (PageKind format : formats) {
        const RealisticPage page = kind.Make(format, seed++);
        const std::uint8_t white[3] = {255, 255, 255};
        const PageRaster turned =
            test::ReferenceTurn(page.Page, angle, white, format == PageKind::Bitonal).Page;
        row.Add(FindSkew(turned, 100), angle);
      }
      char label[64];
      std::snprintf(label, sizeof label, "%+.2f", angle);
      PrintRow(label, row);
      ofKind.Merge(row);
    }
    PrintRow("all angles", ofKind);
    (kind.HasAngle ? all : allUnsure).Merge(ofKind);
  }
  std::printf("\n");
  PrintRow("generated pages with lines", all);
  PrintRow("pictures and blank pages", allUnsure);
  return all;
}

// ---- Speed and memory -------------------------------------------------------

long ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value * 1024;
    }
    status.ignore(1 << 10, '\n');
  }
  return 0;
}

std::size_t HeapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void Speed(const QString& folder) {
  std::printf(
      "\nSpeed, an A4 colour page at 300 dpi (2480 x 3508) turned by 1.5 degrees, "
      "as a JPEG file; medians of 7 rounds, in one run:\n");
  samples::RealisticPageOptions o;
  o.Width = 2480;
  o.Height = 3508;
  o.MarginLeft = o.MarginRight = 250;
  o.MarginTop = o.MarginBottom = 300;
  o.LineHeight = 50;
  o.GlyphHeight = 22;
  o.Speckles = 200;
  o.JpegNoise = 6;
  const samples::RealisticPage straight = samples::MakeRealisticPage(o);
  const QString path = folder + "/a4.jpg";
  if (!SavePage(path, TurnPage(straight.Page, 1.5), 300, 300).Ok()) {
    std::printf("  could not write %s\n", path.toUtf8().constData());
    return;
  }
  std::vector<double> decode, find, findGivenBox, box, turn;
  SkewFinding found;
  for (int round = 0; round < 7; ++round) {
    PageRaster page;
    PageReduction reduction;
    ReadOptions options;
    options.RowsDecoded = [&](const PageRaster& raster, int first, int count, bool) {
      reduction.AddRows(raster, first, count);
    };
    auto start = Clock::now();
    ReadPageFile(path, page, options);
    decode.push_back(Ms(start));
    start = Clock::now();
    found = FindSkew(page, 300, reduction);
    find.push_back(Ms(start));
    ContentBoxTrace trace;
    start = Clock::now();
    FindContentBox(page, 300, reduction, &trace);
    box.push_back(Ms(start));
    start = Clock::now();
    FindSkew(page, 300, reduction, trace);
    findGivenBox.push_back(Ms(start));
    start = Clock::now();
    const PageRaster turned = TurnPage(page, -found.Degrees);
    turn.push_back(Ms(start));
  }
  const double d = Median(decode);
  std::printf("  decoding the page (ReadPageFile, reducing it on the way): %6.1f ms\n", d);
  std::printf(
      "  finding its angle (FindSkew from that reduction):         %6.1f ms = %.2f x "
      "decoding (found %+.3f)\n",
      Median(find), Median(find) / d, found.Degrees);
  std::printf("    of which its content box (FindContentBox):              %6.1f ms = %.2f x\n",
              Median(box), Median(box) / d);
  std::printf("    the angle given the content box:                        %6.1f ms = %.2f x\n",
              Median(findGivenBox), Median(findGivenBox) / d);
  std::printf(
      "  turning it straight (TurnPage by %+.2f):                   %6.1f ms = %.2f x "
      "decoding\n",
      -found.Degrees, Median(turn), Median(turn) / d);

  // Memory: what the turn holds at its peak beyond the page it reads, in
  // bytes per pixel of the page: resident memory (the result's pages are
  // touched as its rows are written) and the heap its own buffers take.
  PageRaster page;
  ReadPageFile(path, page);
  for (const double degrees : {1.5, 7.0}) {
    ReservePooledBytes(0);
    const long residentBefore = ResidentBytes();
    const std::size_t heapBefore = HeapBytes();
    long residentPeak = residentBefore;
    std::size_t heapPeak = heapBefore;
    TurnOptions options;
    options.RowsTurned = [&](const PageRaster&, int, int) {
      residentPeak = std::max(residentPeak, ResidentBytes());
      heapPeak = std::max(heapPeak, HeapBytes());
    };
    const PageRaster turned = TurnPage(page, degrees, options);
    const double pixels = double(page.Width()) * page.Height();
    std::printf(
        "  memory of a turn by %.1f degrees: %.2f bytes per page pixel resident "
        "(the result %.2f, its working buffers %.3f)\n",
        degrees, (residentPeak - residentBefore) / pixels,
        double(turned.RowBytes()) * turned.Height() / pixels,
        double(heapPeak - heapBefore) / pixels);
  }
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString realScans = argc > 1 ? QString(argv[1]) : QString("../shared/realscans");
  std::printf(
      "Finding and undoing a page's turn. Targets: mean error <= 0.1 deg, at least "
      "80%% within 0.1 deg, none sure and more than 0.5 deg off; pictures and blank "
      "pages unsure; finding <= 0.25 x decoding.\n");
  pagetrim::RealScans(realScans);
  pagetrim::Generated();
  QTemporaryDir folder;
  pagetrim::Speed(folder.path());
  return 0;
}
