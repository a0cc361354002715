// The three batches over copies of real scanned pages: no page may lose ink
// inside its hand-checked content box. Ink is what the batches see at the
// default threshold: pixels of the black-and-white image at 128. Prints, per
// page, its size before and after each batch, the ink lost and whether the
// batch's report named it.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <map>

#include "batch_commands.h"
#include "page_codec.h"
#include "page_commands.h"
#include "page_normalize.h"
#include "page_path.h"
#include "recording_page_window.h"
#include "support/scan_score.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

struct Scan {
  QString Name;  // as content_boxes.json names it
  QString Copy;  // the copy's file name in the batch's folder
  Rect Box;
};

std::vector<Scan> ReadScans(const QString& folder) {
  std::vector<Scan> scans;
  for (const test::HandChecked& page : test::ReadHandChecked(folder))
    scans.push_back({page.Name, QString(page.Name).replace(u'/', u'-'), page.Box});
  return scans;
}

// Ink of the black-and-white image inside box but outside kept.
long long InkLost(const PageRaster& binary, const Rect& box, const Rect& kept) {
  long long lost = 0;
  for (int y = box.Top; y < box.Bottom; ++y) {
    const std::uint8_t* row = binary.Row(y);
    for (int x = box.Left; x < box.Right; ++x) {
      const bool inside = x >= kept.Left && x < kept.Right && y >= kept.Top && y < kept.Bottom;
      lost += !inside && row[x] == 0;
    }
  }
  return lost;
}

// Mean difference per channel between a block of a and one of b.
double MeanDifference(const PageRaster& a, int ax, int ay, const PageRaster& b, const Rect& r) {
  double sum = 0;
  for (int y = 0; y < r.Height(); ++y) {
    for (int x = 0; x < r.Width(); ++x) {
      const ColourValue p = a.PixelAt(ax + x, ay + y), q = b.PixelAt(r.Left + x, r.Top + y);
      for (int shift : {0, 8, 16})
        sum += std::abs(((p >> shift) & 0xFF) - ((q >> shift) & 0xFF));
    }
  }
  return sum / (3.0 * r.Width() * r.Height());
}

// Where the batch's trims leave the page, in the page's own coordinates: the
// same trims run one by one, each measured.
Rect KeptByTrims(const LoadedPage& page, BatchKind kind) {
  EditState state;
  NoDisplay nowhere;
  state.Edit = PageEdit(page.Page, page.Analysis);
  const int width = page.Page.Width(), height = page.Page.Height();
  if (kind == BatchKind::TopBottom) {
    TrimTopMargin(state, nowhere, 0, 0);
    const int top = height - state.Edit.AnalysisPage().Height();
    TrimBottomMargin(state, nowhere, state.Edit.AnalysisPage().Height() - 1, 0);
    return {0, top, width, top + state.Edit.AnalysisPage().Height()};
  }
  TrimLeftMargin(state, nowhere, 0, SideTrimSampleRow);
  const int left = width - state.Edit.AnalysisPage().Width();
  TrimRightMargin(state, nowhere, state.Edit.AnalysisPage().Width() - 1, SideTrimSampleRow);
  return {left, 0, left + state.Edit.AnalysisPage().Width(), height};
}

QString Size(int width, int height) {
  return QStringLiteral("%1×%2").arg(width).arg(height);
}

TEST(RealScans, NoBatchCutsInkInsideTheContentBox) {
  const QString folder = QStringLiteral(PAGETRIM_REALSCANS);
  const std::vector<Scan> scans = ReadScans(folder);
  if (scans.empty())
    GTEST_SKIP() << "No real scans at " << folder.toStdString() << " (content_boxes.json)";
  const struct {
    BatchKind Kind;
    const char* Name;
  } batches[] = {{BatchKind::LeftRight, "全頁左右削除"},
                 {BatchKind::LeftRightNormalise, "同左+整形"},
                 {BatchKind::TopBottom, "全頁上下余白削除"}};
  std::map<QString, QString> rows;  // the table, by page
  for (const Scan& scan : scans) {
    PageRaster page;
    LoadPage(folder + "/" + scan.Name, page);
    rows[scan.Name] =
        QStringLiteral("%1 %2").arg(scan.Name, -22).arg(Size(page.Width(), page.Height()), -10);
  }
  long long totalLost = 0;
  for (const auto& batch : batches) {
    SCOPED_TRACE(batch.Name);
    QTemporaryDir dir;
    for (const Scan& scan : scans)
      ASSERT_TRUE(QFile::copy(folder + "/" + scan.Name, dir.filePath(scan.Copy)));
    EditState state;
    RecordingPageWindow window;  // the defaults: black and white at 128
    ASSERT_TRUE(OpenPageSet(state, window, dir.filePath(scans[0].Copy)));
    PageBatch run(state, batch.Kind);
    RunBatch(run, window);
    ASSERT_EQ(window.SaveFailureReports, 0);
    QStringList named;
    for (const PageToCheck& page : window.PagesToCheck)
      named.append(FileNameOf(page.Path));
    for (const Scan& scan : scans) {
      SCOPED_TRACE(scan.Name.toStdString());
      const LoadedPage original = ReadPage(folder + "/" + scan.Name, {});
      const Rect kept = KeptByTrims(original, batch.Kind);
      PageRaster saved;
      LoadPage(dir.filePath(scan.Copy), saved);
      // The file holds that part of the page, centred on its canvas after
      // 整形 (after the column the stretch doubles).
      int left = 0, top = 0;
      if (batch.Kind == BatchKind::LeftRightNormalise) {
        const CanvasSize canvas =
            NormalizedCanvas(kept.Width(), kept.Height(), kept.Width() < kept.Height());
        ASSERT_EQ(QSize(saved.Width(), saved.Height()), QSize(canvas.Width, canvas.Height));
        left = (canvas.Width - kept.Width()) / 2 + 1;
        top = (canvas.Height - kept.Height()) / 2;
      } else {
        ASSERT_EQ(QSize(saved.Width(), saved.Height()), QSize(kept.Width(), kept.Height()));
      }
      const double difference = MeanDifference(saved, left, top, original.Page, kept);
      EXPECT_LE(difference, scan.Name.endsWith(u".png") ? 0.0 : 3.0);
      const long long lost = InkLost(original.Analysis, scan.Box, kept);
      EXPECT_EQ(lost, 0);
      totalLost += lost;
      rows[scan.Name] += QStringLiteral(" | %1 %2 %3")
                             .arg(Size(saved.Width(), saved.Height()), 10)
                             .arg(lost, 5)
                             .arg(named.contains(scan.Copy) ? u"check"_qs : QString(), 5);
    }
  }
  std::printf("%-22s %-10s | %-27s | %-27s | %-27s\n", "", "", "全頁左右削除", "同左+整形",
              "全頁上下余白削除");
  std::printf("%-22s %-10s | %10s %5s %5s | %10s %5s %5s | %10s %5s %5s\n", "page", "size", "after",
              "lost", "named", "after", "lost", "named", "after", "lost", "named");
  for (const auto& [name, row] : rows)
    std::printf("%s\n", row.toUtf8().constData());
  std::printf("ink lost in all three batches: %lld pixels\n", totalLost);
}

}  // namespace
}  // namespace pagetrim
