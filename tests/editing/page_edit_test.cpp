// Where the working page lies in the page as read, and what that lets a save
// do: a JPEG page that is only a cut on its file's block grid is written with
// its file's own blocks, by the commands and by the batches alike.
#include "page_edit.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <random>

#include "batch_commands.h"
#include "editing/recording_page_window.h"
#include "page_commands.h"
#include "pages/image_fixtures.h"
#include "sample_pages.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;
using test::RecordingPageWindow;

// Every pixel of page is the page as read at the working cut's place.
void ExpectCutOfOriginal(const EditState& state) {
  ASSERT_TRUE(state.Edit.WorkingCut().has_value());
  const Rect cut = *state.Edit.WorkingCut();
  ASSERT_EQ(cut.Width(), state.Edit.WorkingPage().Width());
  ASSERT_EQ(cut.Height(), state.Edit.WorkingPage().Height());
  ASSERT_EQ(state.Edit.AnalysisPage().Width(), state.Edit.WorkingPage().Width());
  for (int y = 0; y < cut.Height(); ++y) {
    for (int x = 0; x < cut.Width(); ++x) {
      ASSERT_EQ(state.Edit.WorkingPage().PixelAt(x, y),
                state.OriginalPage.PixelAt(cut.Left + x, cut.Top + y))
          << x << ", " << y;
    }
  }
}

// A page of sample text written as JPEG with libjpeg's defaults.
Bytes JpegPage(SampleMargins margins, int quality, bool subsampled, unsigned seed = 1) {
  const PageRaster page = MakeSamplePage(320, 600, margins, seed, true);
  fixtures::JpegFixture fixture;
  fixture.Width = page.Width();
  fixture.Height = page.Height();
  fixture.Input = JCS_EXT_BGR;
  for (int y = 0; y < page.Height(); ++y)
    fixture.Pixels.insert(fixture.Pixels.end(), page.Row(y), page.Row(y) + page.RowBytes());
  fixture.Quality = quality;
  fixture.LumaH = fixture.LumaV = subsampled ? 2 : 1;
  return fixtures::EncodeJpegFixture(fixture);
}

double Psnr(const PageRaster& a, const PageRaster& b, int left, int top) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      const ColourValue p = a.PixelAt(x, y);
      const ColourValue q = b.PixelAt(left + x, top + y);
      for (const int shift : {0, 8, 16}) {
        const double d = double((p >> shift) & 0xFF) - double((q >> shift) & 0xFF);
        sum += d * d;
      }
    }
  }
  const double mse = sum / (3.0 * a.Width() * a.Height());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class PageCutTest : public ::testing::Test {
 protected:
  QString Write(const char* name, const Bytes& bytes) {
    EXPECT_TRUE(fixtures::WriteBytes(dir_.filePath(name), bytes));
    return dir_.filePath(name);
  }
  PageRaster Read(const QString& path) {
    PageRaster page;
    ReadPageFile(path, page);
    return page;
  }

  QTemporaryDir dir_;
  RecordingPageWindow window_;
};

TEST_F(PageCutTest, TheWorkingCutFollowsEveryTrimAndEndsWithOtherChanges) {
  const QString path = Write("page.jpg", JpegPage({37, 21, 29, 45}, 90, true));
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    EditState state;
    ASSERT_TRUE(OpenPageSet(state, window_, path));
    ExpectCutOfOriginal(state);
    std::mt19937 random(seed);
    using PointTrim = void (*)(EditState&, PageDisplay&, int, int);
    const PointTrim trims[] = {TrimLeftAtPoint, TrimRightAtPoint, TrimTopAtPoint, TrimBottomAtPoint,
                               TrimSideAtPoint};
    for (int step = 0; step < 8; ++step) {
      const int x = int(random() % unsigned(state.Edit.AnalysisPage().Width()));
      const int y = int(random() % unsigned(state.Edit.AnalysisPage().Height()));
      trims[random() % 5](state, window_, x, y);
      // A trim that finds ink in the line it starts from leaves nothing.
      if (state.Edit.WorkingPage().IsEmpty()) {
        EXPECT_FALSE(state.Edit.WorkingCut().has_value());
        ReloadPage(state, window_);
      }
      ExpectCutOfOriginal(state);
    }
    // Cuts past the page's edges are clipped to it.
    const Rect before = *state.Edit.WorkingCut();
    state.Edit.Cut(
        {-5, 2, state.Edit.WorkingPage().Width() + 9, state.Edit.WorkingPage().Height()});
    EXPECT_EQ(state.Edit.WorkingCut()->Top, before.Top + 2);
    EXPECT_EQ(state.Edit.WorkingCut()->Left, before.Left);
    ExpectCutOfOriginal(state);
    NormalizePage(state, window_);
    EXPECT_FALSE(state.Edit.WorkingCut().has_value());
    ReloadPage(state, window_);
    ExpectCutOfOriginal(state);
  }
}

TEST_F(PageCutTest, APageCutOnItsBlockGridIsWrittenWithItsFilesOwnPixels) {
  // Ink from column 32 and row 16: the left and top trims cut on the grid
  // of 4:4:4 and 4:2:0 files alike; the right and bottom ones anywhere.
  const struct {
    const char* Name;
    bool Subsampled;
    SampleMargins Margins;
    bool Copied;
  } cases[] = {{"4:4:4 on the grid", false, {32, 16, 29, 45}, true},
               {"4:2:0 on the grid", true, {32, 16, 29, 45}, true},
               {"4:4:4 off the grid", false, {37, 21, 29, 45}, false},
               {"4:2:0 off the grid", true, {40, 16, 29, 45}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const Bytes file = JpegPage(c.Margins, 85, c.Subsampled);
    const QString path = Write("page.jpg", file);
    EditState state;
    ASSERT_TRUE(OpenPageSet(state, window_, path));
    TrimLeftAndRight(state, window_);
    TrimTopAndBottom(state, window_);
    const int grid = c.Subsampled ? 16 : 8;
    ASSERT_EQ(state.Edit.WorkingCut()->Left % grid == 0 && state.Edit.WorkingCut()->Top % grid == 0,
              c.Copied);
    OverwritePage(state, window_);
    const PageRaster written = Read(path);
    ASSERT_EQ(written.Width(), state.Edit.WorkingPage().Width());
    ASSERT_EQ(written.Height(), state.Edit.WorkingPage().Height());
    if (c.Copied && !c.Subsampled) {
      EXPECT_EQ(Psnr(written, state.Edit.WorkingPage(), 0, 0), 99);
    } else if (c.Copied) {
      // Chroma next to the new edges may be smoothed differently.
      EXPECT_GT(Psnr(written, state.Edit.WorkingPage(), 0, 0), 60);
    } else {
      // Coded anew, at the source's own quality.
      EXPECT_LT(Psnr(written, state.Edit.WorkingPage(), 0, 0), 60);
      EXPECT_GT(Psnr(written, state.Edit.WorkingPage(), 0, 0), 35);
    }

    // The batches carry the cut too, but 整形 always codes the page anew.
    ASSERT_TRUE(fixtures::WriteBytes(path, file));
    for (const BatchKind kind : {BatchKind::LeftRight, BatchKind::LeftRightNormalise}) {
      BatchJob job;
      job.Kind = kind;
      job.Choice = ChoiceOf(window_);
      const BatchPage page = RunBatchPage(path, job);
      ASSERT_TRUE(page.Encoded.Ok());
      EXPECT_EQ(page.Encoded.Copied, c.Copied && kind == BatchKind::LeftRight);
    }
  }
}

TEST_F(PageCutTest, TrimmingAPageFiveTimesLosesNoMoreThanTheFirstTime) {
  // Off the grid on the left: the first save must code the page anew.
  const Bytes file = JpegPage({37, 21, 29, 45}, 85, true);
  const QString path = Write("page.jpg", file);
  const PageRaster source = Read(path);
  EditState state;
  ASSERT_TRUE(OpenPageSet(state, window_, path));
  std::vector<PageRaster> written;
  std::vector<QPoint> offsets;
  QPoint offset;
  for (int i = 0; i < 5; ++i) {
    ReloadPage(state, window_);
    TrimLeftAndRight(state, window_);
    offset += QPoint(state.Edit.WorkingCut()->Left, state.Edit.WorkingCut()->Top);
    OverwritePage(state, window_);
    ASSERT_EQ(window_.SaveFailureReports, 0);
    written.push_back(Read(path));
    offsets.push_back(offset);
  }
  // Both over the region the fifth trim kept.
  PageRaster first = written[0];
  first.CropLeft(offsets[4].x() - offsets[0].x());
  first.SetSize(written[4].Width(), written[4].Height());
  const double once = Psnr(first, source, offset.x(), offset.y());
  const double fiveTimes = Psnr(written[4], source, offset.x(), offset.y());
  EXPECT_GT(once, 35);
  EXPECT_LE(once - fiveTimes, 0.5);
}

}  // namespace
}  // namespace pagetrim
