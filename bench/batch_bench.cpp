// Batch benchmark: the window's two left-and-right batches over 40 A4 pages,
// next to the JPEG codec floor and ImageMagick's mogrify on the same pages,
// and the time from NextPage to both views painted next to a page's decode.
//   batch_bench [FOLDER]   (FOLDER: where to put the pages, kept for the next run;
//                           a temporary folder by default)
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "codecs.h"
#include "main_window.h"
#include "page_commands.h"
#include "sample_pages.h"

namespace pagetrim {
namespace {

constexpr int PageCount = 40;
constexpr int A4Width = 2480;
constexpr int A4Height = 3508;

double Seconds(const QElapsedTimer& timer) {
  return double(timer.nsecsElapsed()) / 1e9;
}

// A scanned page: sample text with margins, on paper with a little noise.
PageRaster ScannedPage(unsigned seed) {
  std::mt19937 rng(seed);
  const SampleMargins margins{int(120 + rng() % 200), int(150 + rng() % 200),
                              int(120 + rng() % 200), int(150 + rng() % 200)};
  PageRaster page = MakeSamplePage(A4Width, A4Height, margins, seed, true);
  std::uniform_int_distribution<int> noise(-4, 4);
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* p = page.Row(y);
    for (int i = 0; i < A4Width * 3; ++i)
      p[i] = std::uint8_t(std::clamp(p[i] - 8 + noise(rng), 0, 255));
  }
  return page;
}

QStringList PageNames() {
  QStringList names;
  for (int i = 1; i <= PageCount; ++i)
    names << QString("page%1.jpg").arg(i, 3, 10, QChar('0'));
  return names;
}

void CopyBook(const QString& from, const QString& to) {
  QDir().mkpath(to);
  for (const QString& name : PageNames()) {
    QFile::remove(to + "/" + name);
    QFile::copy(from + "/" + name, to + "/" + name);
  }
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs one batch in the real window (offscreen) and returns its seconds.
double RunBatch(const QString& folder, bool withNormalise) {
  TForm1 form(folder + "/bench.INI");
  form.show();
  form.OnDrop({folder + "/" + PageNames().front()});
  QElapsedTimer timer;
  timer.start();
  (withNormalise ? form.SB_AN : form.SB_AL)->click();
  return Seconds(timer);
}

struct FloorTimes {
  double Read = 0, Decode = 0, Encode = 0, Write = 0;
  double Total() const { return Read + Decode + Encode + Write; }
};

// What any tool must do for each page: read, decode, encode at the same
// settings, and replace the file the same safe way.
FloorTimes CodecFloor(const QString& folder) {
  FloorTimes t;
  QElapsedTimer timer;
  for (const QString& name : PageNames()) {
    const QString path = folder + "/" + name;
    timer.start();
    const QByteArray bytes = ReadAll(path);
    t.Read += Seconds(timer);
    PageRaster raster;
    codecs::DecodeContext decoded;
    timer.start();
    codecs::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       std::size_t(bytes.size()), raster, decoded);
    const PageResolution dpi = decoded.Resolution;
    t.Decode += Seconds(timer);
    EncodedBytes encoded;
    timer.start();
    codecs::EncodeJpeg(raster, dpi.X, dpi.Y, {}, encoded);
    t.Encode += Seconds(timer);
    timer.start();
    QSaveFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(encoded.Data()), qint64(encoded.Size()));
    file.commit();
    t.Write += Seconds(timer);
  }
  return t;
}

double Mogrify(const QString& folder) {
  const QString mogrify = QStandardPaths::findExecutable("mogrify");
  if (mogrify.isEmpty())
    return -1;
  QProcess process;
  process.setWorkingDirectory(folder);
  QElapsedTimer timer;
  timer.start();
  process.start(mogrify, QStringList{"-trim", "+repage"} + PageNames());
  process.waitForFinished(-1);
  return process.exitCode() == 0 ? Seconds(timer) : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Milliseconds from the next-page command to both views painted, and to
// reading and decoding the same page alone, over several pages.
std::pair<double, double> NextPageToPainted(const QString& folder) {
  TForm1 form(folder + "/bench.INI");
  form.resize(1000, 700);
  form.show();
  form.OnDrop({folder + "/" + PageNames().front()});
  form.Image1->repaint();
  form.Image2->repaint();
  std::vector<double> shown, decoded;
  QElapsedTimer timer;
  for (int i = 0; i < 9; ++i) {
    timer.start();
    form.SB_NPClick();
    form.Image1->repaint();
    form.Image2->repaint();
    shown.push_back(Seconds(timer) * 1e3);

    timer.start();
    const QByteArray bytes = ReadAll(form.State()->CurrentPath);
    PageRaster raster;
    codecs::DecodeContext context;
    codecs::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                       std::size_t(bytes.size()), raster, context);
    decoded.push_back(Seconds(timer) * 1e3);
  }
  return {Median(shown), Median(decoded)};
}

long PeakKiB(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_maxrss;
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char* argv[]) {
  using namespace pagetrim;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir temporary;
  const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
  const QString master = root + "/master";
  QDir().mkpath(master);

  std::printf("Generating %d colour A4 pages at 300 dpi (%d x %d) in %s\n", PageCount, A4Width,
              A4Height, qPrintable(root));
  unsigned seed = 1;
  for (const QString& name : PageNames()) {
    ++seed;
    if (QFile::exists(master + "/" + name))
      continue;  // made by an earlier run in FOLDER
    if (!WriteSamplePage(master + "/" + name, ScannedPage(seed), 300)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(master + "/" + name));
      return 1;
    }
  }

  // Two rounds, alternating, keep each measure's best: the machines here are
  // shared and noisy, and a slow moment should not fall on one side only.
  FloorTimes floor;
  double leftRight = 1e9;
  double withNormalise = 1e9;
  for (int round = 0; round < 2; ++round) {
    CopyBook(master, root + "/floor");
    const FloorTimes f = CodecFloor(root + "/floor");
    if (round == 0 || f.Total() < floor.Total())
      floor = f;
    CopyBook(master, root + "/al");
    leftRight = std::min(leftRight, RunBatch(root + "/al", false));
    CopyBook(master, root + "/an");
    withNormalise = std::min(withNormalise, RunBatch(root + "/an", true));
  }
  const long peakBatchKiB = PeakKiB(RUSAGE_SELF);
  CopyBook(master, root + "/mogrify");
  const double mogrify = Mogrify(root + "/mogrify");
  CopyBook(master, root + "/flip");
  const auto [painted, decode] = NextPageToPainted(root + "/flip");

  const double n = PageCount;
  std::printf("\nPer page (ms)                         time    / codec floor   / mogrify\n");
  std::printf("  codec floor (read+decode+encode+write) %7.1f\n", floor.Total() / n * 1e3);
  std::printf("     read %.1f, decode %.1f, encode %.1f, write %.1f\n", floor.Read / n * 1e3,
              floor.Decode / n * 1e3, floor.Encode / n * 1e3, floor.Write / n * 1e3);
  const auto row = [&](const char* name, double seconds) {
    std::printf("  %-36s %7.1f  %8.2f", name, seconds / n * 1e3, seconds / floor.Total());
    if (mogrify > 0)
      std::printf("  %12.2f", seconds / mogrify);
    std::printf("\n");
  };
  row("全頁左右削除 (SB_AL)", leftRight);
  row("同左+整形 (SB_AN)", withNormalise);
  if (mogrify > 0) {
    std::printf("  %-36s %7.1f  %8.2f\n", "mogrify -trim +repage", mogrify / n * 1e3,
                mogrify / floor.Total());
  } else {
    std::printf("  mogrify: not available (install imagemagick)\n");
  }
  std::printf(
      "\nNextPage to both views painted: %.1f ms; decoding that page: %.1f ms (ratio %.2f)\n",
      painted, decode, painted / decode);
  std::printf("Peak memory: %ld MiB in this process (batches), %ld MiB for mogrify\n",
              peakBatchKiB / 1024, PeakKiB(RUSAGE_CHILDREN) / 1024);
  return 0;
}
