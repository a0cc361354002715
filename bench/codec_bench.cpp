// Written-page benchmark: what a trimmed page keeps of the file it came from.
// For JPEG sources at several qualities and samplings, and 1-bit, gray and
// colour PNG sources (generated scans, and the real scans beside the
// project), it prints the bytes per pixel of the written page over its
// source's, the PSNR of the kept region against the same region of the
// source, the loss between the first and the fifth trim of one page, and the
// share of pages the two batches write by copying the source's DCT blocks.
//   codec_bench [REALSCANS]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

// jpeglib.h uses size_t and FILE without including <cstdio> itself.
#include <jpeglib.h>
#include <png.h>

#include "batch_commands.h"
#include "page_commands.h"
#include "reason_text.h"
#include "sample_pages.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

// ---- Source pages ------------------------------------------------------------

constexpr int PageWidth = 1240;  // A4 at 150 dpi
constexpr int PageHeight = 1754;

// A scanned page: the sample text with margins at no particular grid, softened
// as a scanner's optics soften it, on warm paper with grain of +-grain.
PageRaster ScanLikePage(unsigned seed, bool colour, int grain = 4) {
  std::mt19937 rng(seed);
  const SampleMargins margins{int(61 + rng() % 90), int(67 + rng() % 90), int(59 + rng() % 90),
                              int(71 + rng() % 90)};
  const PageRaster sharp = MakeSamplePage(PageWidth, PageHeight, margins, seed, colour);
  PageRaster page(PageWidth, PageHeight);
  std::minstd_rand random(seed);
  const unsigned spread = unsigned(grain) + 1;
  const auto noise = [&] { return int(random() % spread) + int(random() % spread) - grain; };
  static constexpr int Paper[3] = {226, 238, 244};  // blue, green, red
  for (int y = 0; y < PageHeight; ++y) {
    const std::uint8_t* above = sharp.Row(std::max(y - 1, 0));
    const std::uint8_t* here = sharp.Row(y);
    const std::uint8_t* below = sharp.Row(std::min(y + 1, PageHeight - 1));
    std::uint8_t* out = page.Row(y);
    for (int x = 0; x < PageWidth; ++x) {
      const int l = std::max(x - 1, 0) * 3;
      const int r = std::min(x + 1, PageWidth - 1) * 3;
      const int lightness = noise();
      for (int c = 0; c < 3; ++c) {
        const int i = x * 3 + c;
        const int soft = (4 * here[i] + here[l + c] + here[r + c] + above[i] + below[i]) / 8;
        const int value = soft * Paper[c] / 255 + lightness + (colour ? noise() / 2 : 0);
        out[i] = std::uint8_t(std::clamp(value, 0, 255));
      }
    }
  }
  return page;
}

PageRaster GrayOf(const PageRaster& page) {
  PageRaster gray;
  MakeGrayImage(page, gray);
  return gray;
}

// The sample text's words are solid blocks; letters are not. Here each word
// is cut into letter-sized cells of strokes and holes, as a thresholded scan
// of print is, so that the page holds about as much detail as a real one.
PageRaster BitonalPage(unsigned seed) {
  PageRaster binary;
  MakeBinaryImage(ScanLikePage(seed, false), binary, 128);
  for (int y = 0; y < binary.Height(); ++y) {
    std::uint8_t* row = binary.Row(y);
    for (int x = 0; x < binary.Width(); ++x) {
      const unsigned cell = unsigned(x / 2) * 2654435761u ^ unsigned(y / 3) * 40503u ^ seed;
      if (row[x] == 0 && (cell * 2246822519u) >> 31 == 0)
        row[x] = 255;
    }
  }
  return binary;
}

struct JpegSettings {
  int Quality = 85;
  bool Subsampled = true;  // 4:2:0, else 4:4:4
  bool Progressive = false;
};

// As a scanner writes: libjpeg's defaults, the standard Huffman tables.
QByteArray EncodeSourceJpeg(const PageRaster& page, JpegSettings settings) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  const bool gray = page.Format() == PixelFormat::Gray8;
  info.image_width = JDIMENSION(page.Width());
  info.image_height = JDIMENSION(page.Height());
  info.input_components = gray ? 1 : 3;
  info.in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, settings.Quality, TRUE);
  if (!gray) {
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = settings.Subsampled ? 2 : 1;
  }
  if (settings.Progressive)
    jpeg_simple_progression(&info);
  info.density_unit = 1;
  info.X_density = info.Y_density = 150;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(page.Row(int(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return bytes;
}

void AppendToBytes(png_structp png, png_bytep data, std::size_t count) {
  static_cast<QByteArray*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), qsizetype(count));
}

void FlushNothing(png_structp) {}

// As most tools write PNG: zlib's default level and libpng's filter choice.
QByteArray EncodeSourcePng(const PageRaster& page, bool bitonal) {
  QByteArray bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &bytes, AppendToBytes, FlushNothing);
  const bool gray = page.Format() == PixelFormat::Gray8;
  png_set_IHDR(png, info, png_uint_32(page.Width()), png_uint_32(page.Height()), bitonal ? 1 : 8,
               gray ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (!gray)
    png_set_bgr(png);
  std::vector<std::uint8_t> packed(std::size_t(page.Width() + 7) / 8);
  for (int y = 0; y < page.Height(); ++y) {
    if (!bitonal) {
      png_write_row(png, page.Row(y));
      continue;
    }
    std::fill(packed.begin(), packed.end(), 0);
    const std::uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x)
      packed[std::size_t(x) / 8] |= std::uint8_t((row[x] & 0x80) >> (x % 8));
    png_write_row(png, packed.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// ---- Measures ----------------------------------------------------------------

// Over every channel of the region of written at (0, 0) and of source at
// (left, top); infinite when they are equal.
double Psnr(const PageRaster& source, int left, int top, const PageRaster& written,
            const Rect& region) {
  double sum = 0;
  for (int y = region.Top; y < region.Bottom; ++y) {
    for (int x = region.Left; x < region.Right; ++x) {
      const ColourValue a = source.PixelAt(x + left, y + top);
      const ColourValue b = written.PixelAt(x, y);
      for (const int shift : {0, 8, 16}) {
        const int d = ((a >> shift) & 0xFF) - ((b >> shift) & 0xFF);
        sum += double(d * d);
      }
    }
  }
  const double mse = sum / (3.0 * region.Width() * region.Height());
  return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

// The DCT coefficients of a JPEG file, with what placing its blocks needs.
struct Coefficients {
  int Components = 0;
  int MaxH = 1, MaxV = 1;
  struct Plane {
    int H = 1, V = 1, BlocksWide = 0, BlocksHigh = 0;
    std::vector<JCOEF> Blocks;  // row by row, 64 per block
    std::vector<UINT16> Table;
  };
  std::vector<Plane> Planes;
};

bool ReadCoefficients(const QByteArray& bytes, Coefficients& out) {
  if (bytes.size() < 3 || std::uint8_t(bytes[0]) != 0xFF || std::uint8_t(bytes[1]) != 0xD8)
    return false;
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
  out.Components = info.num_components;
  out.MaxH = info.max_h_samp_factor;
  out.MaxV = info.max_v_samp_factor;
  out.Planes.assign(std::size_t(info.num_components), {});
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    Coefficients::Plane& plane = out.Planes[std::size_t(c)];
    plane.H = component.h_samp_factor;
    plane.V = component.v_samp_factor;
    plane.BlocksWide = int(component.width_in_blocks);
    plane.BlocksHigh = int(component.height_in_blocks);
    plane.Table.assign(component.quant_table->quantval, component.quant_table->quantval + 64);
    plane.Blocks.resize(std::size_t(plane.BlocksWide) * std::size_t(plane.BlocksHigh) * 64);
    for (int row = 0; row < plane.BlocksHigh; ++row) {
      JBLOCKARRAY blocks = (*info.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&info),
                                                           arrays[c], JDIMENSION(row), 1, FALSE);
      std::copy_n(&blocks[0][0][0], std::size_t(plane.BlocksWide) * 64,
                  plane.Blocks.begin() + std::ptrdiff_t(row) * plane.BlocksWide * 64);
    }
  }
  jpeg_destroy_decompress(&info);
  return true;
}

// Whether every block of written is the source's block at one offset on the
// source's grid of whole MCUs: the page was copied, not coded again.
bool CopiedFromSource(const Coefficients& source, const Coefficients& written) {
  if (source.Components != written.Components || source.MaxH != written.MaxH ||
      source.MaxV != written.MaxV) {
    return false;
  }
  for (int c = 0; c < source.Components; ++c) {
    const auto& s = source.Planes[std::size_t(c)];
    const auto& w = written.Planes[std::size_t(c)];
    if (s.H != w.H || s.V != w.V || s.Table != w.Table)
      return false;
  }
  const auto matchesAt = [&](int mcuX, int mcuY) {
    for (int c = 0; c < source.Components; ++c) {
      const auto& s = source.Planes[std::size_t(c)];
      const auto& w = written.Planes[std::size_t(c)];
      const int dx = mcuX * s.H;
      const int dy = mcuY * s.V;
      if (dx + w.BlocksWide > s.BlocksWide || dy + w.BlocksHigh > s.BlocksHigh)
        return false;
      for (int row = 0; row < w.BlocksHigh; ++row) {
        const JCOEF* a =
            &s.Blocks[(std::size_t(row + dy) * std::size_t(s.BlocksWide) + std::size_t(dx)) * 64];
        const JCOEF* b = &w.Blocks[std::size_t(row) * std::size_t(w.BlocksWide) * 64];
        if (!std::equal(b, b + std::size_t(w.BlocksWide) * 64, a))
          return false;
      }
    }
    return true;
  };
  const auto& luma = source.Planes[0];
  for (int y = 0; y * luma.V < luma.BlocksHigh; ++y) {
    for (int x = 0; x * luma.H < luma.BlocksWide; ++x) {
      if (matchesAt(x, y))
        return true;
    }
  }
  return false;
}

class QuietWindow : public PageWindow {
 public:
  QString ThresholdText() const override { return QStringLiteral("128"); }
  bool GrayChosen() const override { return false; }
  void ShowLeft(const PageRaster&) override {}
  void ShowRight(const PageRaster&) override {}
  void MarkUnreadable(const Result&) override {}
  void SetTitle(const QString&) override {}
  void ShowNotice(const QString&) override {}
  bool ReportSaveFailure(const QString&, const Result& why, bool) override {
    std::printf("  save failed: %s\n", qPrintable(ReasonText(why)));
    return false;
  }
  void ReportFailure(FileCommand, const Result&) override {}
  void ReportPagesNotRestored(const std::vector<PageNotRestored>&) override {}
  void PumpEvents() override {}
  void LockCommands() override {}
  void UnlockCommands() override {}
  void ShowBatchProgress(int, int) override {}
  void ReportPagesToCheck(const std::vector<PageToCheck>&) override {}
};

// One trim of the page at path with the menu's four commands (or the left
// and right ones only), then 上書き; where the kept region lies in the page as
// it was read.
Rect TrimOnce(const QString& path, bool topAndBottom = true) {
  EditState state;
  QuietWindow window;
  OpenPageSet(state, window, path);
  const int width = state.Edit.WorkingPage().Width();
  TrimLeftMargin(state, window, 0, SideTrimSampleRow);
  const int left = width - state.Edit.WorkingPage().Width();
  TrimRightMargin(state, window, state.Edit.WorkingPage().Width() - 1, SideTrimSampleRow);
  int top = 0;
  if (topAndBottom) {
    const int height = state.Edit.WorkingPage().Height();
    TrimTopMargin(state, window, 0, state.SampleColumn);
    top = height - state.Edit.WorkingPage().Height();
    TrimBottomMargin(state, window, state.Edit.WorkingPage().Height() - 1, state.SampleColumn);
  }
  OverwritePage(state, window);
  return {left, top, left + state.Edit.WorkingPage().Width(),
          top + state.Edit.WorkingPage().Height()};
}

// ---- Rows ----------------------------------------------------------------------

// Cuts n columns and rows off the left and top of the page at path, past the
// trim commands, and writes it: the page coded anew at a grid its source did
// not have.
void CutPastTheCommands(const QString& path, int n) {
  EditState state;
  QuietWindow window;
  OpenPageSet(state, window, path);
  PageRaster cut = state.Edit.WorkingPage();
  cut.CropLeft(n);
  cut.CropTop(n);
  state.Edit.ReplacePixels(std::move(cut));
  OverwritePage(state, window);
}

struct Totals {
  double SourceBytes = 0, SourcePixels = 0, WrittenBytes = 0, WrittenPixels = 0;
  // The whole page less one column and one row, coded anew.
  double RecodedBytes = 0, RecodedPixels = 0;
  double WorstPsnr = INFINITY;
  int Pages = 0, Copied = 0;
};

double PixelsOf(const QString& path) {
  PageRaster page;
  ReadPageFile(path, page);
  return double(page.Width()) * page.Height();
}

void TrimAndMeasure(const QString& path, Totals& totals) {
  const QByteArray source = ReadAll(path);
  PageRaster before;
  ReadPageFile(path, before);
  const Rect kept = TrimOnce(path);
  const QByteArray written = ReadAll(path);
  PageRaster after;
  ReadPageFile(path, after);
  totals.SourceBytes += double(source.size());
  totals.SourcePixels += double(before.Width()) * before.Height();
  totals.WrittenBytes += double(written.size());
  totals.WrittenPixels += double(after.Width()) * after.Height();
  ++totals.Pages;
  Coefficients a, b;
  if (ReadCoefficients(source, a) && ReadCoefficients(written, b)) {
    totals.WorstPsnr = std::min(totals.WorstPsnr, Psnr(before, kept.Left, kept.Top, after,
                                                       {0, 0, std::min(after.Width(), kept.Width()),
                                                        std::min(after.Height(), kept.Height())}));
    totals.Copied += CopiedFromSource(a, b) ? 1 : 0;
  }
  WriteAll(path, source);
  CutPastTheCommands(path, 1);
  totals.RecodedBytes += double(QFileInfo(path).size());
  totals.RecodedPixels += PixelsOf(path);
}

void PrintRow(const char* label, const Totals& t, bool jpeg) {
  const double source = t.SourceBytes / t.SourcePixels;
  const double written = t.WrittenBytes / t.WrittenPixels;
  std::printf("  %-30s %5d  %6.3f  %7.3f  %6.3f  %6.3f", label, t.Pages, source, written,
              written / source, (t.RecodedBytes / t.RecodedPixels) / source);
  if (jpeg)
    std::printf("  %6.1f  %d/%d", t.WorstPsnr, t.Copied, t.Pages);
  std::printf("\n");
}

constexpr int PagesPerKind = 3;

void SourceRows(const QString& root, const QString& realScans) {
  std::printf("\nOne trim (the four margin commands, then 上書き), %d x %d pages\n", PageWidth,
              PageHeight);
  std::printf("  %-30s %5s  %6s  %7s  %6s  %6s  %6s  %s\n", "source", "pages", "B/px", "written",
              "ratio", "recoded", "PSNR", "copied");
  const struct {
    const char* Label;
    JpegSettings Settings;
    bool Gray;
  } jpegKinds[] = {
      {"JPEG q75 4:2:0", {75, true, false}, false},
      {"JPEG q75 4:4:4", {75, false, false}, false},
      {"JPEG q85 4:2:0", {85, true, false}, false},
      {"JPEG q85 4:4:4", {85, false, false}, false},
      {"JPEG q95 4:2:0", {95, true, false}, false},
      {"JPEG q95 4:4:4", {95, false, false}, false},
      {"JPEG q85 4:2:0 progressive", {85, true, true}, false},
      {"JPEG q85 gray", {85, true, false}, true},
  };
  for (const auto& kind : jpegKinds) {
    Totals totals;
    for (int i = 0; i < PagesPerKind; ++i) {
      const QString path = root + QStringLiteral("/page.jpg");
      const PageRaster page = ScanLikePage(unsigned(11 + i), !kind.Gray);
      WriteAll(path, EncodeSourceJpeg(kind.Gray ? GrayOf(page) : page, kind.Settings));
      TrimAndMeasure(path, totals);
    }
    PrintRow(kind.Label, totals, true);
  }
  const struct {
    const char* Label;
    bool Gray, Bitonal;
  } pngKinds[] = {
      {"PNG 1-bit", true, true}, {"PNG gray", true, false}, {"PNG colour", false, false}};
  for (const auto& kind : pngKinds) {
    Totals totals;
    for (int i = 0; i < PagesPerKind; ++i) {
      const QString path = root + QStringLiteral("/page.png");
      const PageRaster page = ScanLikePage(unsigned(21 + i), !kind.Gray);
      const PageRaster source = kind.Bitonal ? BitonalPage(unsigned(21 + i))
                                : kind.Gray  ? GrayOf(page)
                                             : page;
      WriteAll(path, EncodeSourcePng(source, kind.Bitonal));
      TrimAndMeasure(path, totals);
    }
    PrintRow(kind.Label, totals, false);
  }
  if (realScans.isEmpty())
    return;
  const struct {
    const char* Label;
    QStringList Files;
    bool Jpeg;
  } realKinds[] = {
      {"real scans, JPEG q85 4:2:0",
       {"lept-modern/p001.jpg", "lept-modern/p003.jpg", "lept-oldbooks/p001.jpg",
        "lept-oldbooks/p003.jpg", "lept-oldbooks/p005.jpg", "lept-oldbooks/p007.jpg"},
       true},
      {"real scans, JPEG q85 gray", {"lept-gray/p003.jpg"}, true},
      {"real scans, PNG 1-bit",
       {"lept-bitonal/p001.png", "lept-bitonal/p002.png", "lept-bitonal/p005.png",
        "lept-bitonal/p009.png"},
       false},
  };
  for (const auto& kind : realKinds) {
    Totals totals;
    for (const QString& file : kind.Files) {
      const QString path = root + (kind.Jpeg ? "/real.jpg" : "/real.png");
      QFile::remove(path);
      if (!QFile::copy(realScans + "/" + file, path))
        continue;
      TrimAndMeasure(path, totals);
    }
    if (totals.Pages > 0)
      PrintRow(kind.Label, totals, kind.Jpeg);
  }
}

// Five trims of one page in a row, each written and read again as a user
// trimming a page again has it. "左右削除" repeats the left and right trims of
// 全頁左右削除, "four commands" the four margin commands; "3 px more" cuts
// three more columns and rows off the left and top each time, past the
// commands, so that every save must code the page anew at a new grid.
enum class Again { LeftRight, FourCommands, ThreeMore };

QPoint TrimAgain(const QString& path, Again how) {
  if (how == Again::ThreeMore) {
    CutPastTheCommands(path, 3);
    return {3, 3};
  }
  const Rect kept = TrimOnce(path, how == Again::FourCommands);
  return {kept.Left, kept.Top};
}

void RepeatedTrimRows(const QString& root, const QString& realScans) {
  std::printf("\nFive trims of one page in a row: PSNR of the region kept at the end\n");
  std::printf("  %-44s %9s %9s %8s\n", "source, trims", "1st (dB)", "5th (dB)", "loss");
  const QByteArray colour420 = EncodeSourceJpeg(ScanLikePage(31, true), {85, true, false});
  const QByteArray colour444 = EncodeSourceJpeg(ScanLikePage(31, true), {85, false, false});
  struct Case {
    const char* Label;
    QByteArray Source;
    Again How;
  };
  std::vector<Case> cases = {
      {"generated q85 4:2:0, 左右削除 again", colour420, Again::LeftRight},
      {"generated q85 4:4:4, 左右削除 again", colour444, Again::LeftRight},
      {"generated q85 4:2:0, 3 px more", colour420, Again::ThreeMore},
      {"generated q85 4:4:4, 3 px more", colour444, Again::ThreeMore},
  };
  if (!realScans.isEmpty()) {
    cases.push_back({"real q85 4:2:0 (modern p001), four commands",
                     ReadAll(realScans + "/lept-modern/p001.jpg"), Again::FourCommands});
    cases.push_back({"real q85 gray (gray p003), four commands",
                     ReadAll(realScans + "/lept-gray/p003.jpg"), Again::FourCommands});
  }
  for (const Case& c : cases) {
    const QString path = root + QStringLiteral("/again.jpg");
    WriteAll(path, c.Source);
    PageRaster source;
    ReadPageFile(path, source);
    // Each written page, and where it lies in the source.
    std::vector<PageRaster> written;
    std::vector<QPoint> offsets;
    QPoint offset;
    for (int i = 0; i < 5; ++i) {
      offset += TrimAgain(path, c.How);
      written.emplace_back();
      ReadPageFile(path, written.back());
      offsets.push_back(offset);
    }
    // The region kept by the fifth trim, also in the first trim's pixels.
    const Rect last{0, 0, written[4].Width(), written[4].Height()};
    PageRaster firstInFifth = written[0];
    firstInFifth.CropLeft(offsets[4].x() - offsets[0].x());
    firstInFifth.CropTop(offsets[4].y() - offsets[0].y());
    const double first = Psnr(source, offset.x(), offset.y(), firstInFifth, last);
    const double fifth = Psnr(source, offset.x(), offset.y(), written[4], last);
    // Copied pages match their source exactly: no loss at all.
    const double loss = std::isinf(first) && std::isinf(fifth) ? 0 : first - fifth;
    std::printf("  %-44s %9.2f %9.2f %8.2f\n", c.Label, first, fifth, loss);
  }
}

// The share of pages each batch wrote by copying their source's blocks.
void BatchRows(const QString& root, const QString& realScans) {
  std::printf("\nBatches over %d generated q85 4:2:0 pages and the real JPEG scans\n", 12);
  const QString folder = root + QStringLiteral("/book");
  const auto makeBook = [&] {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (int i = 0; i < 12; ++i) {
      WriteAll(folder + QStringLiteral("/p%1.jpg").arg(i + 1, 2, 10, QChar('0')),
               EncodeSourceJpeg(ScanLikePage(unsigned(41 + i), true), {85, true, false}));
    }
    if (!realScans.isEmpty()) {
      for (const char* file :
           {"lept-modern/p001.jpg", "lept-modern/p003.jpg", "lept-oldbooks/p001.jpg",
            "lept-oldbooks/p003.jpg", "lept-oldbooks/p005.jpg", "lept-oldbooks/p007.jpg",
            "lept-gray/p003.jpg"}) {
        QFile::copy(realScans + "/" + file, folder + "/real-" + QString(file).replace('/', '-'));
      }
    }
  };
  for (const bool leftRight : {true, false}) {
    makeBook();
    const QStringList names = QDir(folder).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    std::vector<QByteArray> sources;
    for (const QString& name : names)
      sources.push_back(ReadAll(folder + "/" + name));
    EditState state;
    QuietWindow window;
    OpenPageSet(state, window, folder + "/" + names.front());
    if (leftRight) {
      TrimAllLeftRight(state, window, false, {});
    } else {
      TrimAllTopBottom(state, window, {});
    }
    int copied = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
      Coefficients a, b;
      if (ReadCoefficients(sources[i], a) &&
          ReadCoefficients(ReadAll(folder + "/" + names[int(i)]), b))
        copied += CopiedFromSource(a, b) ? 1 : 0;
    }
    std::printf("  %-22s %2d of %2d pages written losslessly (%.2f)\n",
                leftRight ? "全頁左右削除" : "全頁上下余白削除", copied, int(sources.size()),
                double(copied) / double(sources.size()));
  }
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char* argv[]) {
  using namespace pagetrim;
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QString realScans = args.size() > 1 ? args[1] : QString();
  if (!realScans.isEmpty() && !QDir(realScans).exists()) {
    std::printf("No real scans in %s: their rows are left out\n", qPrintable(realScans));
    realScans.clear();
  }
  QTemporaryDir temporary;
  SourceRows(temporary.path(), realScans);
  RepeatedTrimRows(temporary.path(), realScans);
  BatchRows(temporary.path(), realScans);
  return 0;
}
