// Scores 全頁自動削除 on generated books as a reader sees them: whether the pages of
// a side come out one size, whether the text lands in the same place on every
// page, whether any ink is lost, and which pages are named and why.
//   book_bench [--dpi D] [--seeds 1,2,3] [--formats colour,gray,1-bit] [--pages N]
//              [--summary] [--shift NAME:DX:DY] [--keep DIR]
// For each book it writes the generated pages, runs the real program's
// `--batch auto --dry-run` and `--batch auto --each-page --dry-run` on them and
// `--batch auto` on a fresh copy, then scores every page from the dry run's
// cut and the generator's truth: the text block's top-left corner in the
// written page, in mm, and the content pixels the cut leaves out. It checks
// that every written page has the dry run's size and shows the source where
// the dry run's cut says, and that the dry runs wrote nothing.
// Spreads are distances from the side's median corner (per axis); the 95th
// percentile is interpolated between ranks. The full pages' spread is also
// split into that of the text corner within the true content's box (what a
// turned page's axis-aligned box leaves) and that of the cut's top-left
// against that box (what the cut's place adds).
// --summary leaves out the lines per page; --shift moves one page's cut by DX,
// DY pixels in what the scorer reads of the dry run, to see that a wrong cut
// shows; --keep DIR keeps the books and the written pages there.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "book_generator.h"
#include "page_codec.h"
#include "sample_pages.h"

namespace pagetrim {
namespace {

using samples::BookPage;
using samples::BookPageKind;
using samples::BookPageTruth;

constexpr double Pi = 3.14159265358979323846;

// ---- Where a scan's point lies in the page the batch cut ---------------------

// How the batch turned a page straight before cutting it, as its dry run says.
struct PageTurn {
  double Skew = 0;  // degrees, counter-clockwise positive
  bool Turned = false;
  int ScanWidth = 0;
  int ScanHeight = 0;
  int TurnedWidth = 0;
  int TurnedHeight = 0;
};

// The batch cuts the scan itself, or, where it turned the page, the turned
// page: the scan turned by -skew about its centre, on a canvas of the turned
// size centred on the same point. This is the one place that knows how the
// batch turns a page. The turn is counted as the generator counts its own
// (Placement), so that a skew equal to the page's turn sets it straight.
void IntoCutPage(const std::optional<PageTurn>& turn, double x, double y, double& cutX,
                 double& cutY) {
  if (!turn || !turn->Turned) {
    cutX = x;
    cutY = y;
    return;
  }
  const double t = -turn->Skew * Pi / 180, c = std::cos(t), s = std::sin(t);
  const double dx = x - turn->ScanWidth / 2.0, dy = y - turn->ScanHeight / 2.0;
  cutX = turn->TurnedWidth / 2.0 + dx * c + dy * s;
  cutY = turn->TurnedHeight / 2.0 - dx * s + dy * c;
}

// A page turned by t and then turned back by a skew of t must have its rows
// level again, and its centre where the canvas's is. Were the turn's
// direction wrong, the top edge would slope by twice the turn.
bool TurnSetsPagesStraight() {
  for (const double turn : {-0.9, 0.35, 3.0}) {
    samples::Placement place;
    place.Turn = turn;
    place.OriginX = 40;
    place.OriginY = 25;
    const int width = 900;  // of the straight page's text
    const PageTurn batch{turn, true, 1000, 1400, 1060, 1460};
    double leftX = 0, leftY = 0, rightX = 0, rightY = 0, x = 0, y = 0;
    place.Map(100, 200, x, y);
    IntoCutPage(batch, x, y, leftX, leftY);
    place.Map(100 + width, 200, x, y);
    IntoCutPage(batch, x, y, rightX, rightY);
    if (std::abs(rightY - leftY) > 1e-6 || std::abs(rightX - leftX - width) > 1e-6)
      return false;
    // The scan's centre stays the canvas's centre.
    IntoCutPage(batch, 500, 700, x, y);
    if (std::abs(x - 530) > 1e-9 || std::abs(y - 730) > 1e-9)
      return false;
  }
  return true;
}

// ---- What the batch says ------------------------------------------------------

// One line of a dry run.
struct PlannedPage {
  int Width = 0;
  int Height = 0;
  bool HasCut = false;
  Rect Cut;
  bool OwnSize = false;
  QString Reason;
  bool Lossless = false;
  std::optional<PageTurn> Turn;
};

std::map<QString, PlannedPage> ReadDryRun(const QByteArray& out, int& unreadLines) {
  std::map<QString, PlannedPage> pages;
  unreadLines = 0;
  for (const QByteArray& line : out.split('\n')) {
    if (line.trimmed().isEmpty())
      continue;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    if (!o.contains("name")) {
      ++unreadLines;
      continue;
    }
    PlannedPage page;
    page.Width = o["width"].toInt();
    page.Height = o["height"].toInt();
    const QJsonArray cut = o["cut"].toArray();
    page.HasCut = cut.size() == 4;
    if (page.HasCut)
      page.Cut = {cut[0].toInt(), cut[1].toInt(), cut[2].toInt(), cut[3].toInt()};
    page.OwnSize = o["own_size"].toBool();
    page.Reason = o["reason"].toString();
    page.Lossless = o["lossless"].toBool();
    if (o.contains("skew")) {
      page.Turn =
          PageTurn{o["skew"].toDouble(), o["turned"].toBool(),      page.Width,
                   page.Height,          o["turned_width"].toInt(), o["turned_height"].toInt()};
    }
    pages[o["name"].toString()] = page;
  }
  return pages;
}

// A `check:` line: a page the batch names after it ran.
struct CheckLine {
  QString Before;
  QString After;
  QString Reason;  // empty for a page only cut to less than half
};

std::map<QString, CheckLine> ReadChecks(const QByteArray& err) {
  static const QRegularExpression pattern(
      QStringLiteral("^check: (\\S+) (\\d+x\\d+) -> (\\d+x\\d+)(?:: (.*))?$"));
  std::map<QString, CheckLine> checks;
  for (const QString& line : QString::fromUtf8(err).split(u'\n')) {
    const QRegularExpressionMatch m = pattern.match(line);
    if (m.hasMatch())
      checks[m.captured(1)] = {m.captured(2), m.captured(3), m.captured(4)};
  }
  return checks;
}

struct ProgramRun {
  int ExitCode = -1;
  QByteArray Out;
  QByteArray Err;
};

ProgramRun RunProgram(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  ProgramRun run;
  if (!process.waitForStarted(-1) || !process.waitForFinished(-1))
    return run;
  run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.Out = process.readAllStandardOutput();
  run.Err = process.readAllStandardError();
  return run;
}

// What a folder holds, to tell whether anything in it changed.
QStringList FolderState(const QString& folder) {
  QStringList state;
  for (const QFileInfo& f : QDir(folder).entryInfoList(
           QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
    state << QString("%1 %2 %3")
                 .arg(f.fileName())
                 .arg(f.size())
                 .arg(f.lastModified().toMSecsSinceEpoch());
  }
  return state;
}

bool CopyPages(const QString& from, const QString& to) {
  QDir(to).removeRecursively();
  if (!QDir().mkpath(to))
    return false;
  for (const QString& name : QDir(from).entryList({"*.jpg", "*.png"}, QDir::Files)) {
    if (!QFile::copy(from + "/" + name, to + "/" + name))
      return false;
  }
  return true;
}

// ---- Scoring one cut ----------------------------------------------------------

// What a reader sees of one page cut as a dry run says.
struct CutScore {
  bool HasText = false;
  double TextX = 0;  // the text block's top-left corner in the written page, mm
  double TextY = 0;
  long long Lost = 0;  // content pixels outside the cut
  bool HasContent = false;
  int ContentWidth = 0;  // the true content's box in the cut page, pixels
  int ContentHeight = 0;
  double Margins[4] = {0, 0, 0, 0};  // the cut beyond the true content, mm; < 0 inside it
  // The text corner from the true content's top-left, mm: what the content's
  // box in the cut page (axis-aligned, so turned with the page) leaves of it.
  // TextX is Margins[0] + InBoxX.
  double InBoxX = 0;
  double InBoxY = 0;
};

CutScore ScoreCut(const BookPage& page, const PlannedPage& plan) {
  CutScore score;
  if (!plan.HasCut)
    return score;
  const BookPageTruth& t = page.Truth;
  const double mm = 25.4 / t.Dpi;
  const Rect& cut = plan.Cut;
  double x = 0, y = 0, u = 0, v = 0;
  if (t.TextBlock.Width() > 0 && t.TextBlock.Height() > 0) {
    t.Place.Map(t.TextBlock.Left, t.TextBlock.Top, x, y);
    IntoCutPage(plan.Turn, x, y, u, v);
    score.HasText = true;
    score.TextX = (u - cut.Left) * mm;
    score.TextY = (v - cut.Top) * mm;
  }
  constexpr double Far = std::numeric_limits<double>::max();
  double left = Far, top = Far, right = -Far, bottom = -Far;
  const int width = page.Scan.Width();
  for (int row = 0; row < page.Scan.Height(); ++row) {
    const std::uint8_t* content = page.Content.data() + std::size_t(row) * std::size_t(width);
    for (int col = 0; col < width; ++col) {
      if (content[col] == 0)
        continue;
      IntoCutPage(plan.Turn, col + 0.5, row + 0.5, u, v);
      if (u < cut.Left || u >= cut.Right || v < cut.Top || v >= cut.Bottom)
        ++score.Lost;
      left = std::min(left, u - 0.5);
      top = std::min(top, v - 0.5);
      right = std::max(right, u + 0.5);
      bottom = std::max(bottom, v + 0.5);
    }
  }
  if (right > left) {
    score.HasContent = true;
    score.ContentWidth = int(std::lround(right - left));
    score.ContentHeight = int(std::lround(bottom - top));
    score.Margins[0] = (left - cut.Left) * mm;
    score.Margins[1] = (top - cut.Top) * mm;
    score.Margins[2] = (cut.Right - right) * mm;
    score.Margins[3] = (cut.Bottom - bottom) * mm;
    score.InBoxX = score.TextX - score.Margins[0];
    score.InBoxY = score.TextY - score.Margins[1];
  }
  return score;
}

std::vector<std::uint8_t> GrayOf(const PageRaster& page) {
  std::vector<std::uint8_t> gray(std::size_t(page.Width()) * std::size_t(page.Height()));
  for (int y = 0; y < page.Height(); ++y) {
    const std::uint8_t* p = page.Row(y);
    std::uint8_t* out = gray.data() + std::size_t(y) * std::size_t(page.Width());
    if (page.Format() == PixelFormat::Gray8) {
      std::copy(p, p + page.Width(), out);
    } else {
      for (int x = 0; x < page.Width(); ++x)
        out[x] = std::uint8_t((p[3 * x] + p[3 * x + 1] + p[3 * x + 2]) / 3);
    }
  }
  return gray;
}

// Whether the written page shows its source where the cut says: it differs
// less from the source at the cut's place than at any place up to two
// pixels beside it. None where there is no overlap to compare, or nothing
// that tells places apart.
std::optional<bool> ShowsSourceAt(const PageRaster& source, const PageRaster& written,
                                  const Rect& cut, int step) {
  constexpr int Beside = 2;
  const int x0 = std::max(0, Beside - cut.Left);
  const int x1 = std::min(written.Width(), source.Width() - cut.Left - Beside);
  const int y0 = std::max(0, Beside - cut.Top);
  const int y1 = std::min(written.Height(), source.Height() - cut.Top - Beside);
  if (x1 - x0 < 4 * step || y1 - y0 < 4 * step)
    return std::nullopt;
  const std::vector<std::uint8_t> from = GrayOf(source), to = GrayOf(written);
  double atCut = 0, bestBeside = std::numeric_limits<double>::max();
  for (int dy = -Beside; dy <= Beside; ++dy) {
    for (int dx = -Beside; dx <= Beside; ++dx) {
      long long sum = 0, count = 0;
      for (int y = y0; y < y1; y += step) {
        const std::uint8_t* w = to.data() + std::size_t(y) * std::size_t(written.Width());
        const std::uint8_t* s = from.data() +
                                std::size_t(y + cut.Top + dy) * std::size_t(source.Width()) +
                                std::size_t(cut.Left + dx);
        for (int x = x0; x < x1; x += step, ++count)
          sum += std::abs(int(w[x]) - int(s[x]));
      }
      const double mean = double(sum) / double(std::max(1LL, count));
      if (dx == 0 && dy == 0)
        atCut = mean;
      else
        bestBeside = std::min(bestBeside, mean);
    }
  }
  // Flat paper looks the same a pixel or two away, wherever the cut lies.
  if (bestBeside < 0.5)
    return std::nullopt;
  return atCut < bestBeside;
}

// ---- A book -------------------------------------------------------------------

struct PageResult {
  BookPageTruth Truth;
  int Side = 0;  // 0 for recto, 1 for verso
  PlannedPage Plan;
  PlannedPage Each;
  bool Planned = false;  // the dry runs name the page
  CutScore Score;
  CutScore EachScore;
  std::optional<CheckLine> Check;
  bool Named = false;  // a check: line with a reason
  bool Written = false;
  QString WrittenSize;
  bool SizeAsPlanned = false;
  std::optional<bool> PlacedAsPlanned;  // none where it cannot be told
};

struct Spread {
  int Count = 0;
  double P95 = 0;
  double Worst = 0;
};

double Median(std::vector<double> v) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

Spread SpreadOf(std::vector<double> distances) {
  Spread s;
  s.Count = int(distances.size());
  if (distances.empty())
    return s;
  std::sort(distances.begin(), distances.end());
  const double at = 0.95 * double(distances.size() - 1);
  const std::size_t below = std::size_t(at);
  const std::size_t above = std::min(below + 1, distances.size() - 1);
  s.P95 = distances[below] + (at - double(below)) * (distances[above] - distances[below]);
  s.Worst = distances.back();
  return s;
}

// The text's place on the full pages of a side, and how far the full pages
// and the chapter ends lie from it.
struct TextPlaces {
  double MedianX = 0;
  double MedianY = 0;
  bool Known = false;
  Spread Full;
  Spread Ends;
  // The full pages' spread in two parts: of the text corner within the true
  // content's box (the turn's share), and of the cut's top-left against that
  // box (the placement's share).
  Spread InBox;
  Spread Placement;
};

using ScoreOf = const CutScore& (*)(const PageResult&);

const CutScore& AutoScore(const PageResult& p) {
  return p.Score;
}
const CutScore& EachScore(const PageResult& p) {
  return p.EachScore;
}

// A side's figures are over the pages the batch did not name, also for
// --each-page, so that the two compare like for like.
TextPlaces PlacesOf(const std::vector<PageResult>& pages, int side, ScoreOf score) {
  const auto pick = [](const PageResult& p) { return !p.Named; };
  TextPlaces places;
  std::vector<double> xs, ys;
  for (const PageResult& p : pages) {
    if (p.Side == side && pick(p) && p.Truth.Kind == BookPageKind::Full && score(p).HasText) {
      xs.push_back(score(p).TextX);
      ys.push_back(score(p).TextY);
    }
  }
  if (xs.empty())
    return places;
  places.Known = true;
  places.MedianX = Median(xs);
  places.MedianY = Median(ys);
  std::vector<double> full, ends, boxXs, boxYs, placeXs, placeYs;
  for (const PageResult& p : pages) {
    const CutScore& s = score(p);
    if (p.Side == side && pick(p) && p.Truth.Kind == BookPageKind::Full && s.HasText &&
        s.HasContent) {
      boxXs.push_back(s.InBoxX);
      boxYs.push_back(s.InBoxY);
      placeXs.push_back(s.Margins[0]);
      placeYs.push_back(s.Margins[1]);
    }
  }
  std::vector<double> inBox, placement;
  for (std::size_t i = 0; i < boxXs.size(); ++i) {
    inBox.push_back(std::hypot(boxXs[i] - Median(boxXs), boxYs[i] - Median(boxYs)));
    placement.push_back(std::hypot(placeXs[i] - Median(placeXs), placeYs[i] - Median(placeYs)));
  }
  places.InBox = SpreadOf(inBox);
  places.Placement = SpreadOf(placement);
  for (const PageResult& p : pages) {
    const CutScore& s = score(p);
    if (p.Side != side || !pick(p) || !s.HasText)
      continue;
    const double d = std::hypot(s.TextX - places.MedianX, s.TextY - places.MedianY);
    if (p.Truth.Kind == BookPageKind::Full)
      full.push_back(d);
    else if (p.Truth.Kind == BookPageKind::ChapterEnd)
      ends.push_back(d);
  }
  places.Full = SpreadOf(full);
  places.Ends = SpreadOf(ends);
  return places;
}

struct SideFigures {
  QString Book;
  int Side = 0;
  int Pages = 0;
  std::map<QString, int> Sizes;  // of the pages not named
  std::map<QString, int> EachSizes;
  TextPlaces Places;
  TextPlaces EachPlaces;
  long long Lost = 0;
  int Losing = 0;
  QStringList Named, NotNamedButShould, NamedButShouldNot;
};

// The size most pages of a side that were not named have.
QString CommonSize(const std::map<QString, int>& sizes) {
  QString common;
  int most = 0;
  for (const auto& [size, count] : sizes) {
    if (count > most) {
      common = size;
      most = count;
    }
  }
  return common;
}

QString SizesText(const std::map<QString, int>& sizes) {
  QStringList list;
  for (const auto& [size, count] : sizes)
    list << QString("%1 (%2)").arg(size).arg(count);
  return list.join(", ");
}

const char* KindName(BookPageKind kind) {
  return samples::BookPageKindName(kind);
}

bool MayBeNamed(BookPageKind kind) {
  return kind == BookPageKind::Cover || kind == BookPageKind::Plate;
}

struct BookToScore {
  samples::PageKind Kind;
  QString Format;
  unsigned Seed;
  int Dpi;
  int Pages;
};

struct Shift {
  QString Name;
  int Dx = 0;
  int Dy = 0;
};

struct Totals {
  std::vector<SideFigures> Sides;
  int Pages = 0;
  int SizeAsPlanned = 0;
  int PlacedAsPlanned = 0;
  int PlacementTold = 0;
  int PlannedAsNamed = 0;
  int Lossless = 0;
  bool DryRunsWroteNothing = true;
  bool RunsOk = true;
};

QString Mm(double v) {
  return QString::number(v, 'f', 2);
}

void PrintPage(const PageResult& p, const TextPlaces& places) {
  const CutScore& s = p.Score;
  // The dry run's reason, in words a table can hold; "halved" for a page
  // named only for being cut to less than half.
  QString named = "-";
  if (p.Named)
    named = p.Plan.Reason.isEmpty() ? p.Check->Reason : p.Plan.Reason;
  else if (p.Check)
    named = "halved";
  QString text = "-", delta = "-", inBox = "-";
  if (s.HasText) {
    text = Mm(s.TextX) + "," + Mm(s.TextY);
    if (s.HasContent)
      inBox = Mm(s.InBoxX) + "," + Mm(s.InBoxY);
    if (places.Known)
      delta = Mm(s.TextX - places.MedianX) + "," + Mm(s.TextY - places.MedianY);
  }
  auto margins = [](const CutScore& c) {
    return c.HasContent ? QString("%1 %2 %3 %4")
                              .arg(Mm(c.Margins[0]), 5)
                              .arg(Mm(c.Margins[1]), 5)
                              .arg(Mm(c.Margins[2]), 5)
                              .arg(Mm(c.Margins[3]), 5)
                        : QString("-");
  };
  QStringList notes;
  if (!p.Planned)
    notes << "not in the dry run";
  if (!p.Written)
    notes << "not written";
  else if (!p.SizeAsPlanned)
    notes << "written size differs from the dry run";
  if (p.PlacedAsPlanned && !*p.PlacedAsPlanned)
    notes << "written page not where the dry run cuts";
  if (p.Plan.OwnSize != p.Named)
    notes << "dry run and check: lines disagree";
  // Where the cut of a page named or losing ink lies on the page itself,
  // edges beyond it included, tells what the content box took for content.
  const bool straightCut = !(p.Plan.Turn && p.Plan.Turn->Turned);
  if (p.Plan.HasCut && straightCut && (p.Named || s.Lost > 0)) {
    double left = 0, top = 0, right = 0, bottom = 0;
    p.Truth.Place.Unmap(p.Plan.Cut.Left, p.Plan.Cut.Top, left, top);
    p.Truth.Place.Unmap(p.Plan.Cut.Right, p.Plan.Cut.Bottom, right, bottom);
    const double mm = 25.4 / p.Truth.Dpi;
    notes << QString("cut over page x %1..%2 y %3..%4 mm of %5x%6")
                 .arg(left * mm, 0, 'f', 0)
                 .arg(right * mm, 0, 'f', 0)
                 .arg(top * mm, 0, 'f', 0)
                 .arg(bottom * mm, 0, 'f', 0)
                 .arg(p.Truth.PageWidth * mm, 0, 'f', 0)
                 .arg(p.Truth.PageHeight * mm, 0, 'f', 0);
  }
  if (p.Plan.Turn && p.Plan.Turn->Turned)
    notes << QString("skew %1 (turn %2)")
                 .arg(p.Plan.Turn->Skew, 0, 'f', 2)
                 .arg(p.Truth.Place.Turn, 0, 'f', 2);
  std::printf(
      "%-9s %-15s %-5s %-3s %5.2f %-10s %-19s %-11s %-11s %-11s %7lld  %-23s %-23s %-3s %s\n",
      p.Truth.Name.c_str(), KindName(p.Truth.Kind), p.Side == 0 ? "recto" : "verso",
      p.Truth.OnBed ? "bed" : "", p.Truth.Place.Turn, qPrintable(p.WrittenSize), qPrintable(named),
      qPrintable(text), qPrintable(delta), qPrintable(inBox), s.Lost, qPrintable(margins(s)),
      qPrintable(margins(p.EachScore)), p.Plan.Lossless ? "yes" : "no",
      qPrintable(notes.join("; ")));
}

void PrintSide(const SideFigures& f) {
  auto spread = [](const Spread& s) {
    return s.Count == 0
               ? QString("%1 pages").arg(0)
               : QString("%1 pages p95 %2 worst %3").arg(s.Count).arg(Mm(s.P95)).arg(Mm(s.Worst));
  };
  const char* side = f.Side == 0 ? "recto" : "verso";
  std::printf("  %s: %d pages, %d named; %d size(s) among the others: %s\n", side, f.Pages,
              int(f.Named.size()), int(f.Sizes.size()), qPrintable(SizesText(f.Sizes)));
  std::printf("    text corner, full pages: %s mm; chapter ends against them: %s mm\n",
              qPrintable(spread(f.Places.Full)), qPrintable(spread(f.Places.Ends)));
  std::printf(
      "      of which the corner within the true content's box %s mm, the cut against "
      "that box %s mm\n",
      qPrintable(spread(f.Places.InBox)), qPrintable(spread(f.Places.Placement)));
  std::printf("    ink lost: %lld px on %d pages\n", f.Lost, f.Losing);
  std::printf("    named: %s\n", f.Named.isEmpty() ? "none" : qPrintable(f.Named.join(", ")));
  std::printf("    not named, content does not fit: %s\n",
              f.NotNamedButShould.isEmpty() ? "none" : qPrintable(f.NotNamedButShould.join(", ")));
  std::printf("    named, content fits: %s\n",
              f.NamedButShouldNot.isEmpty() ? "none" : qPrintable(f.NamedButShouldNot.join(", ")));
  std::printf("    --each-page, same pages: %d sizes; full pages %s mm; chapter ends %s mm\n",
              int(f.EachSizes.size()), qPrintable(spread(f.EachPlaces.Full)),
              qPrintable(spread(f.EachPlaces.Ends)));
}

bool ScoreBook(const BookToScore& scored, const QString& root, const QString& program,
               const std::optional<Shift>& shift, bool perPage, Totals& totals) {
  const QString label =
      QString("%1 seed %2, %3 dpi").arg(scored.Format).arg(scored.Seed).arg(scored.Dpi);
  const QString base =
      QString("%1/%2-%3-%4").arg(root, scored.Format).arg(scored.Seed).arg(scored.Dpi);
  const QString book = base + "/book", written = base + "/written";
  QDir(base).removeRecursively();
  QDir().mkpath(book);
  samples::BookOptions options;
  options.Dpi = scored.Dpi;
  options.Seed = scored.Seed;
  options.Pages = scored.Pages;
  options.Kind = scored.Kind;
  QString reason;
  const QStringList paths = WriteGeneratedBook(book, options, base + "/truth.json", &reason);
  if (paths.isEmpty()) {
    std::fprintf(stderr, "book_bench: %s\n", qPrintable(reason));
    return false;
  }

  const QStringList before = FolderState(book);
  const ProgramRun dry = RunProgram(program, {"--batch", "auto", "--dry-run", paths.front()});
  const ProgramRun eachDry =
      RunProgram(program, {"--batch", "auto", "--each-page", "--dry-run", paths.front()});
  const bool wroteNothing = FolderState(book) == before;
  if (!CopyPages(book, written)) {
    std::fprintf(stderr, "book_bench: cannot copy %s\n", qPrintable(book));
    return false;
  }
  const QString firstWritten = written + "/" + QFileInfo(paths.front()).fileName();
  const ProgramRun real = RunProgram(program, {"--batch", "auto", firstWritten});
  totals.DryRunsWroteNothing = totals.DryRunsWroteNothing && wroteNothing;
  int unread = 0, eachUnread = 0;
  std::map<QString, PlannedPage> plan = ReadDryRun(dry.Out, unread);
  const std::map<QString, PlannedPage> eachPlan = ReadDryRun(eachDry.Out, eachUnread);
  const std::map<QString, CheckLine> checks = ReadChecks(real.Err);
  std::printf("\n== %s: %d pages ==\n", qPrintable(label), int(paths.size()));
  std::printf(
      "exit status: dry run %d, --each-page dry run %d, batch %d; dry-run lines not read: %d; "
      "the dry runs %s\n",
      dry.ExitCode, eachDry.ExitCode, real.ExitCode, unread + eachUnread,
      wroteNothing ? "wrote nothing" : "CHANGED THE BOOK'S FOLDER");
  if (dry.ExitCode != 0 || eachDry.ExitCode != 0 || real.ExitCode != 0) {
    totals.RunsOk = false;
    std::printf("%s", real.Err.constData());
  }
  if (shift && plan.count(shift->Name) != 0) {
    Rect& c = plan[shift->Name].Cut;
    c = {c.Left + shift->Dx, c.Top + shift->Dy, c.Right + shift->Dx, c.Bottom + shift->Dy};
    std::printf("the scorer reads %s's cut moved by %d, %d pixels\n", qPrintable(shift->Name),
                shift->Dx, shift->Dy);
  }

  std::vector<PageResult> pages;
  const int step = std::max(2, scored.Dpi / 50);
  for (int i = 0; i < int(paths.size()); ++i) {
    const BookPage made = samples::MakeBookPage(options, i);
    PageResult p;
    p.Truth = made.Truth;
    p.Side = i % 2;
    const QString name = QString::fromStdString(made.Truth.Name);
    p.Planned = plan.count(name) != 0 && eachPlan.count(name) != 0;
    if (p.Planned) {
      p.Plan = plan.at(name);
      p.Each = eachPlan.at(name);
    }
    p.Score = ScoreCut(made, p.Plan);
    p.EachScore = ScoreCut(made, p.Each);
    if (checks.count(name) != 0) {
      p.Check = checks.at(name);
      p.Named = !p.Check->Reason.isEmpty();
    }
    PageRaster out, source;
    const QString writtenPath = written + "/" + name;
    LoadPage(writtenPath, out);
    p.Written = !out.IsEmpty();
    if (p.Written) {
      p.WrittenSize = QString("%1x%2").arg(out.Width()).arg(out.Height());
      p.SizeAsPlanned =
          p.Plan.HasCut && out.Width() == p.Plan.Cut.Width() && out.Height() == p.Plan.Cut.Height();
      LoadPage(book + "/" + name, source);
      if (p.Plan.HasCut && !(p.Plan.Turn && p.Plan.Turn->Turned))
        p.PlacedAsPlanned = ShowsSourceAt(source, out, p.Plan.Cut, step);
    }
    ++totals.Pages;
    totals.SizeAsPlanned += p.SizeAsPlanned;
    totals.PlacementTold += p.PlacedAsPlanned.has_value();
    totals.PlacedAsPlanned += p.PlacedAsPlanned.value_or(false);
    totals.PlannedAsNamed += p.Plan.OwnSize == p.Named;
    totals.Lossless += p.Plan.Lossless;
    pages.push_back(std::move(p));
  }

  for (int side = 0; side < 2; ++side) {
    SideFigures f;
    f.Book = label;
    f.Side = side;
    f.Places = PlacesOf(pages, side, AutoScore);
    f.EachPlaces = PlacesOf(pages, side, EachScore);
    for (const PageResult& p : pages) {
      if (p.Side != side)
        continue;
      ++f.Pages;
      f.Lost += p.Score.Lost;
      f.Losing += p.Score.Lost > 0;
      if (!p.Named) {
        ++f.Sizes[p.WrittenSize];
        ++f.EachSizes[QString("%1x%2").arg(p.Each.Cut.Width()).arg(p.Each.Cut.Height())];
      }
    }
    // Whether a page's true content fits the size the side's pages were given.
    const QStringList common = CommonSize(f.Sizes).split('x');
    const int width = common.size() == 2 ? common[0].toInt() : 0;
    const int height = common.size() == 2 ? common[1].toInt() : 0;
    for (const PageResult& p : pages) {
      if (p.Side != side)
        continue;
      const QString who = QString("%1 %2").arg(p.Truth.Name.c_str(), KindName(p.Truth.Kind));
      const bool fits =
          !p.Score.HasContent || (p.Score.ContentWidth <= width && p.Score.ContentHeight <= height);
      if (p.Named) {
        f.Named << QString("%1 (%2)").arg(who, p.Plan.Reason);
        if (fits && !MayBeNamed(p.Truth.Kind)) {
          f.NamedButShouldNot << QString("%1 (content %2x%3)")
                                     .arg(who)
                                     .arg(p.Score.ContentWidth)
                                     .arg(p.Score.ContentHeight);
        }
      } else if (!fits) {
        f.NotNamedButShould << QString("%1 (content %2x%3)")
                                   .arg(who)
                                   .arg(p.Score.ContentWidth)
                                   .arg(p.Score.ContentHeight);
      }
    }
    totals.Sides.push_back(f);
  }

  if (perPage) {
    std::printf("%-9s %-15s %-5s %-3s %5s %-10s %-19s %-11s %-11s %-11s %7s  %-23s %-23s %-3s %s\n",
                "page", "kind", "side", "bed", "turn", "written", "named", "text mm", "from median",
                "in box", "lost", "margins L T R B mm", "each-page margins", "ll", "notes");
    for (const PageResult& p : pages)
      PrintPage(p, totals.Sides[totals.Sides.size() - 2 + std::size_t(p.Side)].Places);
  }
  PrintSide(totals.Sides[totals.Sides.size() - 2]);
  PrintSide(totals.Sides[totals.Sides.size() - 1]);
  return true;
}

void PrintGoals(const Totals& t) {
  int oneSize = 0, fullMet = 0, fullSides = 0, endsMet = 0, endsSides = 0, namedRight = 0;
  long long lost = 0;
  int losing = 0;
  double worstFull = 0, worstEnds = 0;
  QString worstFullAt, worstEndsAt;
  for (const SideFigures& f : t.Sides) {
    const QString at = QString("%1 %2").arg(f.Book, f.Side == 0 ? "recto" : "verso");
    oneSize += f.Sizes.size() <= 1;
    if (f.Places.Full.Count > 0) {
      ++fullSides;
      fullMet += f.Places.Full.P95 <= 1.0;
      if (f.Places.Full.P95 >= worstFull) {
        worstFull = f.Places.Full.P95;
        worstFullAt = at;
      }
    }
    if (f.Places.Ends.Count > 0) {
      ++endsSides;
      endsMet += f.Places.Ends.Worst <= 1.0;
      if (f.Places.Ends.Worst >= worstEnds) {
        worstEnds = f.Places.Ends.Worst;
        worstEndsAt = at;
      }
    }
    lost += f.Lost;
    losing += f.Losing;
    namedRight += f.NotNamedButShould.isEmpty() && f.NamedButShouldNot.isEmpty();
  }
  const int sides = int(t.Sides.size());
  std::printf("\n== Goals, over %d sides of %d books ==\n", sides, sides / 2);
  std::printf("one size per side, pages not named:        %d of %d sides\n", oneSize, sides);
  std::printf("full pages' text corner p95 <= 1 mm:        %d of %d sides; worst p95 %s mm (%s)\n",
              fullMet, fullSides, qPrintable(Mm(worstFull)), qPrintable(worstFullAt));
  std::printf("chapter ends within 1 mm of full pages:     %d of %d sides; worst %s mm (%s)\n",
              endsMet, endsSides, qPrintable(Mm(worstEnds)), qPrintable(worstEndsAt));
  std::printf("no ink lost:                                %lld px lost on %d of %d pages\n", lost,
              losing, t.Pages);
  std::printf("named only cover, plate, content too big:   %d of %d sides\n", namedRight, sides);
  std::printf("\n== The written pages against the dry run ==\n");
  std::printf("of the dry run's size:                      %d of %d pages\n", t.SizeAsPlanned,
              t.Pages);
  std::printf("showing the source where its cut says:      %d of %d pages told apart\n",
              t.PlacedAsPlanned, t.PlacementTold);
  std::printf("named by check: lines as it says:          %d of %d pages\n", t.PlannedAsNamed,
              t.Pages);
  std::printf("the dry runs wrote nothing:                 %s\n",
              t.DryRunsWroteNothing ? "yes" : "NO");
  std::printf("lossless (copies its file's blocks):        %d of %d pages\n", t.Lossless, t.Pages);
}

int Main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption dpi("dpi", "The books' resolution (150).", "D", "150");
  const QCommandLineOption seeds("seeds", "The books' seeds (1,2,3).", "LIST", "1,2,3");
  const QCommandLineOption formats("formats", "colour, gray, 1-bit (all three).", "LIST",
                                   "colour,gray,1-bit");
  const QCommandLineOption pageCount("pages", "Pages per book (44).", "N", "44");
  const QCommandLineOption summary("summary", "No lines per page.");
  const QCommandLineOption shift("shift", "Move NAME's cut by DX, DY pixels before scoring.",
                                 "NAME:DX:DY");
  const QCommandLineOption keep("keep", "Keep the books and written pages in DIR.", "DIR");
  parser.addOptions({dpi, seeds, formats, pageCount, summary, shift, keep});
  parser.addHelpOption();
  parser.process(app);

  if (!TurnSetsPagesStraight()) {
    std::fprintf(stderr, "book_bench: the turn's mapping does not set a turned page straight\n");
    return 1;
  }
  std::optional<Shift> moved;
  if (parser.isSet(shift)) {
    const QStringList f = parser.value(shift).split(':');
    if (f.size() != 3) {
      std::fprintf(stderr, "book_bench: --shift takes NAME:DX:DY\n");
      return 2;
    }
    moved = Shift{f[0], f[1].toInt(), f[2].toInt()};
  }
  std::vector<BookToScore> toScore;
  for (const QString& format : parser.value(formats).split(',')) {
    const samples::PageKind kind = format == "gray"    ? samples::PageKind::Gray
                                   : format == "1-bit" ? samples::PageKind::Bitonal
                                                       : samples::PageKind::Colour;
    if (format != "colour" && format != "gray" && format != "1-bit") {
      std::fprintf(stderr, "book_bench: no format '%s'\n", qPrintable(format));
      return 2;
    }
    for (const QString& seed : parser.value(seeds).split(','))
      toScore.push_back({kind, format, seed.toUInt(), parser.value(dpi).toInt(),
                         parser.value(pageCount).toInt()});
  }

  QTemporaryDir temporary;
  const QString root =
      parser.isSet(keep) ? QDir(parser.value(keep)).absolutePath() : temporary.path();
  // The program runs from a copy of its own, with a settings file beside it,
  // so that no stored settings of anyone's change what it does.
  const QString bin = root + "/bin", program = bin + "/pagetrim";
  QDir().mkpath(bin);
  QFile::remove(program);
  QFile settings(bin + "/pagetrim.INI");
  if (!QFile::copy(QStringLiteral(PAGETRIM_BINARY), program) ||
      !settings.open(QIODevice::WriteOnly) ||
      settings.write("[Window]\nKeepOriginals=1\nOneSizePerSide=1\n") < 0) {
    std::fprintf(stderr, "book_bench: cannot set up %s\n", qPrintable(program));
    return 1;
  }
  settings.close();
  std::printf(
      "Books in %s. Per page: the written size; why the batch named it; the text\n"
      "block's top-left corner in the written page, its distance from the side's\n"
      "full pages' median, and its place from the true content's top-left, mm;\n"
      "content pixels lost; how far the cut lies beyond the\n"
      "true content on each side, mm (negative: inside it), for the book's size and\n"
      "for --each-page; whether the dry run says it copies the file's blocks.\n",
      qPrintable(root));
  QElapsedTimer timer;
  timer.start();
  Totals totals;
  for (const BookToScore& scored : toScore) {
    if (!ScoreBook(scored, root, program, moved, !parser.isSet(summary), totals))
      return 1;
    std::fflush(stdout);
  }
  PrintGoals(totals);
  std::printf("\n%.0f s\n", double(timer.elapsed()) / 1000);
  return totals.RunsOk ? 0 : 1;
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char** argv) {
  return pagetrim::Main(argc, argv);
}
