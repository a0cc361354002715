// 自動削除 and 全頁自動削除: the page cut to its content, alone and in a batch,
// and the cut scored on the real scans against their hand-checked boxes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "batch_commands.h"
#include "content_box.h"
#include "original_store.h"
#include "page_codec.h"
#include "page_commands.h"
#include "realistic_page.h"
#include "recording_page_window.h"
#include "support/scan_score.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

// A page with a dark scanner edge and specks, on its own in the state.
EditState StateWithPage(const PageRaster& page, float dpi, PageRaster analysis = {},
                        PageSource source = {}) {
  EditState state;
  state.Edit = PageEdit(page, analysis.IsEmpty() ? page : analysis, std::move(source), {dpi, dpi});
  return state;
}

samples::RealisticPage DirtyPage(samples::PageKind kind, bool blank = false) {
  samples::RealisticPageOptions o;
  o.Kind = kind;
  o.DarkEdge = {0, 0, 25, 0};
  o.Speckles = 60;
  o.SpeckleSize = 2;
  if (blank)
    o.MarginTop = o.Height;  // no text at all
  return samples::MakeRealisticPage(o);
}

TEST(AutoTrim, CutsWorkingAndAnalysisPageToTheContentFoundInTheWorkingPage) {
  for (samples::PageKind kind : {samples::PageKind::Colour, samples::PageKind::Bitonal}) {
    SCOPED_TRACE(int(kind));
    const samples::RealisticPage page = DirtyPage(kind);
    // The analysis image plays no part: an all-black one changes nothing.
    PageRaster black(page.Page.Width(), page.Page.Height(), PixelFormat::Gray8);
    for (int y = 0; y < black.Height(); ++y)
      std::fill_n(black.Row(y), black.Width(), std::uint8_t(0));
    EditState state = StateWithPage(page.Page, 600, black);
    RecordingPageWindow window;
    TrimToContent(state, window);

    const ContentBox found = FindContentBox(page.Page, 600);
    ASSERT_TRUE(found.HasContent);
    const Rect& cut = found.Cut;
    EXPECT_EQ(page.ContentOutside(cut), 0);
    EXPECT_LT(cut.Right, page.Page.Width() - 25);  // the scanner's edge is gone
    EXPECT_EQ(state.Edit.WorkingPage().Width(), cut.Width());
    EXPECT_EQ(state.Edit.WorkingPage().Height(), cut.Height());
    EXPECT_EQ(state.Edit.AnalysisPage().Width(), cut.Width());
    EXPECT_EQ(state.Edit.AnalysisPage().Height(), cut.Height());
    EXPECT_EQ(state.Edit.WorkingPage().PixelAt(0, 0), page.Page.PixelAt(cut.Left, cut.Top));
    ASSERT_TRUE(
        state.Edit.WorkingCut().has_value());  // a JPEG page can still be written by copying
    EXPECT_EQ(state.Edit.WorkingCut()->Left, cut.Left);
    EXPECT_EQ(state.Edit.WorkingCut()->Bottom, cut.Bottom);
    EXPECT_EQ(window.RightShows, 1);

    // Once cut, the page is its content: a second run leaves it as it is.
    TrimToContent(state, window);
    EXPECT_EQ(state.Edit.WorkingPage().Width(), cut.Width());
    EXPECT_EQ(window.RightShows, 1);
  }
}

TEST(AutoTrim, ABlankPageIsLeftAsItIs) {
  const samples::RealisticPage page = DirtyPage(samples::PageKind::Gray, true);
  EditState state = StateWithPage(page.Page, 300);
  RecordingPageWindow window;
  TrimToContent(state, window);
  EXPECT_EQ(state.Edit.WorkingPage().Width(), page.Page.Width());
  EXPECT_EQ(state.Edit.WorkingPage().Height(), page.Page.Height());
  EXPECT_EQ(window.RightShows, 0);
}

TEST(AutoTrim, TheBatchWritesEveryPageCutToItsContentAndKeepsTheOriginals) {
  QTemporaryDir dir;
  const QStringList names = {"a.png", "b.jpg", "c.png"};
  std::vector<Rect> cuts;
  for (int i = 0; i < names.size(); ++i) {
    const samples::RealisticPage page =
        DirtyPage(i == 2 ? samples::PageKind::Bitonal : samples::PageKind::Colour, i == 1);
    ASSERT_EQ(SavePage(dir.filePath(names[i]), page.Page, 300, 300), SaveOutcome::Written);
    PageRaster saved;  // the JPEG page as its file holds it
    LoadPage(dir.filePath(names[i]), saved);
    const ContentBox found = FindContentBox(saved, 300);
    cuts.push_back(found.HasContent ? found.Cut : Rect{0, 0, saved.Width(), saved.Height()});
  }
  EditState state;
  RecordingPageWindow window;
  ASSERT_TRUE(OpenPageSet(state, window, dir.filePath("c.png")));
  TrimAllToContent(state, window);
  EXPECT_EQ(window.SaveFailureReports, 0);
  EXPECT_EQ(window.Locks, 1);
  EXPECT_EQ(window.Unlocks, 1);
  EXPECT_EQ(state.CurrentIndex, 2);  // back on the start page, fresh from its file
  for (int i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i].toStdString());
    PageRaster saved;
    LoadPage(dir.filePath(names[i]), saved);
    EXPECT_EQ(saved.Width(), cuts[i].Width());
    EXPECT_EQ(saved.Height(), cuts[i].Height());
    EXPECT_TRUE(QFile::exists(dir.filePath(".pagetrim-originals/" + names[i])));
  }
  EXPECT_EQ(state.Edit.WorkingPage().Width(), cuts[2].Width());
}

// The real scans: no page may lose ink of its hand-checked content box, the
// median side may leave at most 1% of margin and no side more than 5%.
// A JPEG page is cut on its file's block grid where the paper around the
// content allows, and is then written by copying the file's blocks: as good
// and as small as it was.
TEST(AutoTrim, AJpegPageIsCutOnItsBlockGrid) {
  QTemporaryDir dir;
  for (int shift = 0; shift < 16; shift += 5) {
    SCOPED_TRACE(shift);
    samples::RealisticPageOptions o;
    o.MarginLeft += shift;
    o.MarginTop += 2 * shift;
    const samples::RealisticPage made = samples::MakeRealisticPage(o);
    const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(shift));
    ASSERT_TRUE(SavePage(path, made.Page, 300, 300).Ok());
    PageRaster page;
    const PageFileInfo info = ReadPageFile(path, page);
    ASSERT_TRUE(info.Source.Jpeg.has_value());
    EditState state = StateWithPage(page, 300, {}, info.Source);
    NoDisplay nowhere;
    TrimToContent(state, nowhere);
    ASSERT_TRUE(state.Edit.WorkingCut().has_value());
    EXPECT_LT(state.Edit.WorkingCut()->Left, made.ContentBox.Left);
    EXPECT_LT(state.Edit.WorkingCut()->Top, made.ContentBox.Top);
    const EncodedPage written =
        EncodePage(path, state.Edit.WorkingPage(), 300, 300, info.Source, state.Edit.WorkingCut());
    EXPECT_TRUE(written.Copied);
  }
}

TEST(AutoTrim, RealScansLoseNoInkAndKeepLittleMargin) {
  const QString folder = QStringLiteral(PAGETRIM_REALSCANS);
  const std::vector<test::HandChecked> scans = test::ReadHandChecked(folder);
  if (scans.empty())
    GTEST_SKIP() << "No real scans at " << folder.toStdString() << " (content_boxes.json)";
  std::vector<double> sides;
  std::printf("%-22s %-10s %-21s %-21s %7s %5s %6s %6s %6s %6s\n", "page", "size", "hand box",
              "cut", "ink", "lost", "left%", "top%", "right%", "bott%");
  for (const test::HandChecked& scan : scans) {
    SCOPED_TRACE(scan.Name.toStdString());
    PageRaster page;
    const PageFileInfo info = ReadPageFile(QDir(folder).filePath(scan.Name), page);
    EditState state = StateWithPage(page, info.Resolution.X, {}, info.Source);
    NoDisplay nowhere;
    TrimToContent(state, nowhere);
    ASSERT_TRUE(state.Edit.WorkingCut().has_value());
    const Rect cut = *state.Edit.WorkingCut();

    const test::InkCount ink = test::CountInk(page, scan.Box, cut);
    const std::array<double, 4> margins = test::MarginsLeft(page, scan.Box, cut);
    EXPECT_GT(ink.Total, 0);
    EXPECT_EQ(ink.Lost, 0);
    for (double m : margins) {
      EXPECT_LE(m, 5.0);
      sides.push_back(std::max(0.0, m));
    }
    const auto rect = [](const Rect& r) {
      return QStringLiteral("%1,%2,%3,%4").arg(r.Left).arg(r.Top).arg(r.Right).arg(r.Bottom);
    };
    std::printf("%-22s %-10s %-21s %-21s %7ld %5ld %6.2f %6.2f %6.2f %6.2f\n",
                qPrintable(scan.Name),
                qPrintable(QStringLiteral("%1x%2").arg(page.Width()).arg(page.Height())),
                qPrintable(rect(scan.Box)), qPrintable(rect(cut)), ink.Total, ink.Lost, margins[0],
                margins[1], margins[2], margins[3]);
  }
  EXPECT_LE(test::MedianOf(sides), 1.0);
  std::printf("median side %.2f%%, worst side %.2f%%\n", test::MedianOf(sides),
              *std::max_element(sides.begin(), sides.end()));
}

}  // namespace
}  // namespace pagetrim
