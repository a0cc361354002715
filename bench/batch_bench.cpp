// Batch and paging benchmark: the window's batches next to the one-thread
// codec floor and ImageMagick's mogrify, 全頁自動削除 next to 全頁左右削除,
// and finding a page's content box next to decoding it, for colour A4 pages
// at 300 and 600 dpi and 1-bit A4 pages at 600 dpi; page turns to both views
// painted, cold and read ahead, next to decoding the page; the time to open
// an A3 page at 600 dpi; and the memory all of this takes, in bytes per pixel.
//   batch_bench [FOLDER]   (FOLDER keeps the generated pages for the next run)
// Measures that need a process of their own (peak memory) run this program
// again with --run-batch or --open.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "codecs.h"
#include "content_box.h"
#include "main_window.h"
#include "page_codec.h"
#include "page_commands.h"
#include "sample_pages.h"

namespace pagetrim {
namespace {

double Seconds(const QElapsedTimer& timer) {
  return double(timer.nsecsElapsed()) / 1e9;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The peak resident memory of this process since it started its program:
// unlike getrusage's figure for a child, it does not count what the parent
// held when it forked.
long PeakKiB() {
  QFile status("/proc/self/status");
  status.open(QIODevice::ReadOnly);
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:"))
      return line.mid(6).trimmed().split(' ').front().toLong();
  }
  return 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- Books ------------------------------------------------------------------

struct BookKind {
  const char* Label;
  int Width, Height;  // pixels
  float Dpi;
  bool Bitonal;  // 1-bit PNG pages, else colour JPEG
  int Pages;
};

const BookKind Books[] = {
    {"colour A4 300 dpi JPEG", 2480, 3508, 300, false, 40},
    {"colour A4 600 dpi JPEG", 4960, 7016, 600, false, 20},
    {"1-bit A4 600 dpi PNG", 4960, 7016, 600, true, 20},
};

QString PageName(const BookKind& kind, int i) {
  return QString("page%1.%2").arg(i + 1, 3, 10, QChar('0')).arg(kind.Bitonal ? "png" : "jpg");
}

// A scanned page: sample text with margins, on paper with a little noise
// (colour), or thresholded clean (bitonal).
PageRaster ScannedPage(int width, int height, unsigned seed, bool bitonal) {
  std::mt19937 rng(seed);
  const int scale = width / 1240;
  const SampleMargins margins{int(60 + rng() % 100) * scale, int(75 + rng() % 100) * scale,
                              int(60 + rng() % 100) * scale, int(75 + rng() % 100) * scale};
  PageRaster page = MakeSamplePage(width, height, margins, seed, !bitonal);
  if (bitonal) {
    PageRaster gray(width, height, PixelFormat::Gray8);
    MakeBinaryImage(page, gray, 128);
    return gray;
  }
  std::uniform_int_distribution<int> noise(-4, 4);
  for (int y = 0; y < page.Height(); ++y) {
    std::uint8_t* p = page.Row(y);
    for (std::size_t i = 0; i < page.RowBytes(); ++i)
      p[i] = std::uint8_t(std::clamp(p[i] - 8 + noise(rng), 0, 255));
  }
  return page;
}

void MakeBook(const BookKind& kind, const QString& folder) {
  QDir().mkpath(folder);
  for (int i = 0; i < kind.Pages; ++i) {
    const QString path = folder + "/" + PageName(kind, i);
    if (!QFile::exists(path))
      WriteSamplePage(path, ScannedPage(kind.Width, kind.Height, unsigned(i + 2), kind.Bitonal),
                      kind.Dpi);
  }
}

void CopyBook(const BookKind& kind, const QString& from, const QString& to) {
  QDir(to).removeRecursively();
  QDir().mkpath(to);
  for (int i = 0; i < kind.Pages; ++i)
    QFile::copy(from + "/" + PageName(kind, i), to + "/" + PageName(kind, i));
  // Written out now, so that the run measured next does not pay for
  // writing back what this copy and the runs before it left dirty.
  ::sync();
}

// ---- What any tool must do: the codec floor, one thread ----------------------

// sourceCoding: JPEG pages coded as their file was, as pagetrim writes them,
// rather than at the default quality.
double CodecFloor(const BookKind& kind, const QString& folder, bool sourceCoding = false) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < kind.Pages; ++i) {
    const QString path = folder + "/" + PageName(kind, i);
    const QByteArray bytes = ReadAll(path);
    PageRaster raster;
    codecs::DecodeContext context;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const Result decoded =
        kind.Bitonal ? codecs::DecodePng(data, std::size_t(bytes.size()), raster, context)
                     : codecs::DecodeJpeg(data, std::size_t(bytes.size()), raster, context);
    EncodedPage encoded{decoded};
    const JpegCoding* coding = sourceCoding && context.Jpeg ? &*context.Jpeg : nullptr;
    if (decoded.Ok()) {
      const Result coded =
          kind.Bitonal ? codecs::EncodePng(raster, kind.Dpi, kind.Dpi, {}, encoded.Bytes)
                       : codecs::EncodeJpeg(raster, kind.Dpi, kind.Dpi, {}, encoded.Bytes, coding);
      if (!coded.Ok())
        encoded = EncodedPage(coded);
    }
    if (!WritePage(path, encoded, {}).Ok())
      std::printf("  codec floor: %s was not written\n", qPrintable(path));
  }
  return Seconds(timer);
}

double Mogrify(const BookKind& kind, const QString& folder) {
  const QString mogrify = QStandardPaths::findExecutable("mogrify");
  if (mogrify.isEmpty())
    return -1;
  QStringList arguments{"-trim", "+repage"};
  for (int i = 0; i < kind.Pages; ++i)
    arguments << PageName(kind, i);
  QProcess process;
  process.setWorkingDirectory(folder);
  QElapsedTimer timer;
  timer.start();
  process.start(mogrify, arguments);
  process.waitForFinished(-1);
  return process.exitCode() == 0 ? Seconds(timer) : -1;
}

// ---- Measures in a process of their own --------------------------------------

struct ChildRun {
  double Seconds = 0;
  double CpuSeconds = 0;
  long PeakKiB = 0;
  bool Ok = false;
};

// Runs this program with arguments; it prints "seconds cpu-seconds peak-KiB".
ChildRun RunChild(const QStringList& arguments) {
  ChildRun run;
  QList<QByteArray> storage{QCoreApplication::applicationFilePath().toLocal8Bit()};
  for (const QString& a : arguments)
    storage.append(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& a : storage)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0)
    return run;
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  QByteArray text;
  char buffer[256];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  const QList<QByteArray> fields = text.trimmed().split(' ');
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && fields.size() == 3;
  if (run.Ok) {
    run.Seconds = fields[0].toDouble();
    run.CpuSeconds = fields[1].toDouble();
    run.PeakKiB = fields[2].toLong();
  }
  return run;
}

// --run-batch KIND FIRSTPAGE KEEP: one batch in the real window, offscreen.
int RunBatchHere(const QString& kind, const QString& firstPage, bool keep) {
  const QString folder = QFileInfo(firstPage).absolutePath();
  QFile settings(folder + "/bench.INI");
  settings.open(QIODevice::WriteOnly);
  settings.write(keep ? "[Window]\nKeepOriginals=1\n" : "[Window]\nKeepOriginals=0\n");
  settings.close();
  TForm1 form(folder + "/bench.INI");
  form.show();
  form.OnDrop({firstPage});
  QElapsedTimer timer;
  const double cpu = CpuSeconds();
  timer.start();
  if (kind == "auto") {
    form.mAllAuto->trigger();
  } else {
    (kind == "lrn" ? form.SB_AN : form.SB_AL)->click();
  }
  std::printf("%f %f %ld\n", Seconds(timer), CpuSeconds() - cpu, PeakKiB());
  return 0;
}

// --open PAGE: the window opens PAGE and paints both views.
int OpenHere(const QString& page) {
  TForm1 form(QDir::tempPath() + "/pagetrim-bench-open.INI");
  form.resize(1000, 700);
  form.show();
  QCoreApplication::processEvents();
  QElapsedTimer timer;
  const double cpu = CpuSeconds();
  timer.start();
  form.OnDrop({page});
  form.Image1->repaint();
  form.Image2->repaint();
  std::printf("%f %f %ld\n", Seconds(timer), CpuSeconds() - cpu, PeakKiB());
  return 0;
}

// --decode PAGE: reading and decoding the page alone, in a fresh process as
// --open has it.
int DecodeHere(const QString& page) {
  PageRaster raster;
  QElapsedTimer timer;
  const double cpu = CpuSeconds();
  timer.start();
  ReadPageFile(page, raster);
  std::printf("%f %f %ld\n", Seconds(timer), CpuSeconds() - cpu, PeakKiB());
  return 0;
}

// ---- Page turns ----------------------------------------------------------------

struct Turns {
  double Decode = 0;     // reading and decoding the page alone, ms
  double Cold = 0;       // ⇨ to both views painted, nothing read ahead, ms
  double ReadAhead = 0;  // the same after staying one decode time on a page, ms
};

Turns PageTurns(const BookKind& kind, const QString& folder) {
  std::vector<double> decode, cold, ahead;
  for (int i = 0; i < 5; ++i) {
    QElapsedTimer timer;
    timer.start();
    PageRaster raster;
    ReadPageFile(folder + "/" + PageName(kind, i), raster);
    decode.push_back(Seconds(timer) * 1e3);
  }
  TForm1 form(folder + "/bench.INI");
  form.resize(1000, 700);
  form.show();
  form.OnDrop({folder + "/" + PageName(kind, 0)});
  PagePrefetcher* prefetch = form.State()->Prefetch;
  const auto turn = [&] {
    QElapsedTimer timer;
    timer.start();
    form.SB_NPClick();
    form.Image1->repaint();
    form.Image2->repaint();
    return Seconds(timer) * 1e3;
  };
  prefetch->WaitUntilIdle();
  prefetch->Clear();
  form.State()->Prefetch = nullptr;
  for (int i = 0; i < 5; ++i)
    cold.push_back(turn());
  form.State()->Prefetch = prefetch;
  const double stay = Median(decode);
  for (int i = 0; i < 6; ++i) {
    QThread::msleep(unsigned(stay));
    prefetch->WaitUntilIdle();  // on a loaded machine one decode time may not be enough
    ahead.push_back(turn());
  }
  return {Median(decode), Median(cold), Median(ahead)};
}

// ---- The content box -------------------------------------------------------------

struct Analysis {
  double Decode = 0;  // reading and decoding a page, ms
  double Find = 0;    // finding its content box, ms
};

// Medians over the first pages of the book, each page decoded and analysed
// in turn.
Analysis ContentBoxAnalysis(const BookKind& kind, const QString& folder) {
  std::vector<double> decode, find;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < std::min(kind.Pages, 5); ++i) {
      QElapsedTimer timer;
      timer.start();
      PageRaster raster;
      const PageFileInfo info = ReadPageFile(folder + "/" + PageName(kind, i), raster);
      decode.push_back(Seconds(timer) * 1e3);
      timer.restart();
      FindContentBox(raster, info.Resolution.X);
      find.push_back(Seconds(timer) * 1e3);
    }
  }
  return {Median(decode), Median(find)};
}

// ---- Report --------------------------------------------------------------------

void BatchRows(const BookKind& kind, const QString& root) {
  const QString master = root + "/" + QString(kind.Label).replace(' ', '-');
  MakeBook(kind, master);
  const double pixels = double(kind.Width) * kind.Height;
  const double n = kind.Pages;
  // Two rounds, alternating, keep each measure's best: the machines here
  // are shared and noisy, and a slow moment should not fall on one side only.
  double floor = 1e9;
  double codingFloor = 1e9;
  ChildRun keep, nokeep, autoKeep;
  keep.Seconds = nokeep.Seconds = autoKeep.Seconds = 1e9;
  for (int round = 0; round < 2; ++round) {
    if (!kind.Bitonal) {
      CopyBook(kind, master, root + "/work");
      codingFloor = std::min(codingFloor, CodecFloor(kind, root + "/work", true));
    }
    CopyBook(kind, master, root + "/work");
    floor = std::min(floor, CodecFloor(kind, root + "/work"));
    // Each setting runs first in one round: the first run after the floor
    // pays for the memory and files the floor left behind.
    for (const bool keeping : {round == 0, round != 0}) {
      CopyBook(kind, master, root + "/work");
      const ChildRun run =
          RunChild({"--run-batch", "lr", root + "/work/" + PageName(kind, 0), keeping ? "1" : "0"});
      ChildRun& best = keeping ? keep : nokeep;
      if (run.Ok && run.Seconds < best.Seconds)
        best = run;
    }
    // 全頁自動削除 on the same pages, originals kept, between the others.
    CopyBook(kind, master, root + "/work");
    const ChildRun run =
        RunChild({"--run-batch", "auto", root + "/work/" + PageName(kind, 0), "1"});
    if (run.Ok && run.Seconds < autoKeep.Seconds)
      autoKeep = run;
  }
  CopyBook(kind, master, root + "/work");
  const double mogrify = Mogrify(kind, root + "/work");
  const Turns turns = PageTurns(kind, master);
  const Analysis analysis = ContentBoxAnalysis(kind, master);

  std::printf("\n%s, %d pages of %d x %d (%.1f Mpixel)\n", kind.Label, kind.Pages, kind.Width,
              kind.Height, pixels / 1e6);
  std::printf("  per page (ms)                wall     cpu   / floor  / mogrify\n");
  std::printf("  codec floor, one thread   %7.1f\n", floor / n * 1e3);
  const auto row = [&](const char* name, const ChildRun& run) {
    std::printf("  %-24s  %7.1f %7.1f   %6.2f", name, run.Seconds / n * 1e3,
                run.CpuSeconds / n * 1e3, run.Seconds / floor);
    if (mogrify > 0)
      std::printf("   %6.2f", run.Seconds / mogrify);
    std::printf("\n");
  };
  row("全頁左右削除, originals kept", keep);
  row("全頁左右削除, KeepOriginals=0", nokeep);
  row("全頁自動削除, originals kept", autoKeep);
  std::printf("  全頁自動削除 / 全頁左右削除: %.2f\n", autoKeep.Seconds / keep.Seconds);
  std::printf("  content box of a page: %.1f ms = %.2f x decoding it (%.1f ms)\n", analysis.Find,
              analysis.Find / analysis.Decode, analysis.Decode);
  if (mogrify > 0)
    std::printf("  mogrify -trim +repage     %7.1f           %6.2f\n", mogrify / n * 1e3,
                mogrify / floor);
  if (!kind.Bitonal) {
    std::printf(
        "  codec floor coding pages as their files were: %.1f ms; the batch takes %.2f of it\n",
        codingFloor / n * 1e3, keep.Seconds / codingFloor);
  }
  std::printf("  keeping originals costs %+.3f of the floor\n",
              (keep.Seconds - nokeep.Seconds) / floor);
  std::printf("  batch peak memory: %.2f bytes per page pixel (%ld MiB)\n",
              double(keep.PeakKiB) * 1024 / pixels, keep.PeakKiB / 1024);
  std::printf(
      "  page turn to both views painted: decode %.1f ms, cold %.1f ms (%.2f), "
      "read ahead %.1f ms (%.2f)\n",
      turns.Decode, turns.Cold, turns.Cold / turns.Decode, turns.ReadAhead,
      turns.ReadAhead / turns.Decode);
}

void OpenRows(const QString& root) {
  constexpr int Width = 7016, Height = 9920;  // A3 at 600 dpi
  const double pixels = double(Width) * Height;
  const QString folder = root + "/A3";
  QDir().mkpath(folder + "/colour");
  QDir().mkpath(folder + "/gray");
  QDir().mkpath(folder + "/bitonal");
  QDir().mkpath(folder + "/tiny");
  const struct {
    const char* Label;
    QString Path;
    bool Bitonal;
    bool Gray;
  } pages[] = {{"colour JPEG", folder + "/colour/a3.jpg", false, false},
               {"gray JPEG", folder + "/gray/a3.jpg", false, true},
               {"1-bit PNG", folder + "/bitonal/a3.png", true, false}};
  for (const auto& page : pages) {
    if (QFile::exists(page.Path))
      continue;
    PageRaster raster = ScannedPage(Width, Height, 9, page.Bitonal);
    if (page.Gray) {
      PageRaster gray;
      MakeGrayImage(raster, gray);
      raster = gray;
    }
    WriteSamplePage(page.Path, raster, 600);
  }
  WriteSamplePage(folder + "/tiny/tiny.png", ScannedPage(1240, 16, 3, true), 300);

  const ChildRun tiny = RunChild({"--open", folder + "/tiny/tiny.png"});
  std::printf("\nOne A3 page at 600 dpi (%d x %d), opened alone in the window\n", Width, Height);
  for (const auto& page : pages) {
    // Fresh memory now and then waits for the system to gather huge pages;
    // the best of three is what the page itself costs.
    double decode = 1e9;
    ChildRun open;
    open.Seconds = 1e9;
    for (int round = 0; round < 3; ++round) {
      decode = std::min(decode, RunChild({"--decode", page.Path}).Seconds);
      const ChildRun run = RunChild({"--open", page.Path});
      if (run.Ok && run.Seconds < open.Seconds)
        open = run;
    }
    std::printf(
        "  %-12s open to painted %6.0f ms = %.2f x decode (%4.0f ms); peak %.2f bytes "
        "per pixel above a tiny page\n",
        page.Label, open.Seconds * 1e3, open.Seconds / decode, decode * 1e3,
        double(open.PeakKiB - tiny.PeakKiB) * 1024 / pixels);
  }
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char* argv[]) {
  using namespace pagetrim;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 5 && args[1] == "--run-batch")
    return RunBatchHere(args[2], args[3], args[4] == "1");
  if (args.size() == 3 && args[1] == "--open")
    return OpenHere(args[2]);
  if (args.size() == 3 && args[1] == "--decode")
    return DecodeHere(args[2]);

  QTemporaryDir temporary;
  const QString root = args.size() > 1 ? args[1] : temporary.path();
  std::printf("Pages in %s; %d cores\n", qPrintable(root), QThread::idealThreadCount());
  for (const BookKind& kind : Books)
    BatchRows(kind, root);
  OpenRows(root);
  return 0;
}
