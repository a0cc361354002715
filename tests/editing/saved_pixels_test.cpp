// Trimmed pages as they are written and read back: each kind of file the
// encoders write must hold exactly the crop of the page that was on show
// (within JPEG's loss), whether a command or a batch trimmed it.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "batch_commands.h"
#include "page_codec.h"
#include "page_commands.h"
#include "recording_page_window.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

using test::RecordingPageWindow;

// Blank white margins around a body whose every row and column holds ink.
constexpr int Width = 120, Height = 90, Left = 13, Top = 7, Right = 11, Bottom = 9;

enum class Body { Colour, Gray, Bitonal };

PageRaster MakePage(Body body) {
  PageRaster page(Width, Height, body == Body::Colour ? PixelFormat::Bgr24 : PixelFormat::Gray8);
  // Levels change every four pixels, so that JPEG keeps them well and any
  // misplaced row or column shows.
  const auto level = [&](int x, int y, int c) {
    return body == Body::Bitonal ? 0 : int(((x / 4) * 37 + (y / 4) * 101 + c * 53) % 110);
  };
  for (int y = Top; y < Height - Bottom; ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = Left; x < Width - Right; ++x) {
      for (int c = 0; c < page.BytesPerPixel(); ++c)
        row[x * page.BytesPerPixel() + c] = std::uint8_t(level(x, y, c));
    }
  }
  return page;
}

// Sum of channel differences over the page, per channel value.
double MeanDifference(const PageRaster& a, const PageRaster& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      const ColourValue p = a.PixelAt(x, y);
      const ColourValue q = b.PixelAt(x, y);
      for (int shift : {0, 8, 16})
        sum += std::abs(((p >> shift) & 0xFF) - ((q >> shift) & 0xFF));
    }
  }
  return sum / (3.0 * a.Width() * a.Height());
}

// The shown page's own pixels, cut as the trims cut it: the outermost ink
// lines stay on every side.
PageRaster ExpectedCrop(const PageRaster& shown) {
  PageRaster crop = shown;
  crop.CropLeft(Left);
  crop.CropTop(Top);
  crop.SetSize(Width - Left - Right, Height - Top - Bottom);
  return crop;
}

// A JPEG page as it reads back after one save of its pixels.
PageRaster ThroughJpeg(const PageRaster& page, const QString& folder) {
  const QString path = folder + "/reference.jpg";
  EXPECT_EQ(SavePage(path, page, 300, 300), SaveOutcome::Written);
  PageRaster decoded;
  LoadPage(path, decoded);
  QFile::remove(path);
  return decoded;
}

// maxMean: 0 for an exact match; JPEG pages saved twice lose a little more.
void ExpectSaved(const QString& path, const PageRaster& expected, double maxMean) {
  PageRaster saved;
  LoadPage(path, saved);
  ASSERT_EQ(saved.Width(), expected.Width());
  ASSERT_EQ(saved.Height(), expected.Height());
  if (maxMean > 0) {
    EXPECT_LT(MeanDifference(saved, expected), maxMean);
    return;
  }
  for (int y = 0; y < saved.Height(); ++y) {
    for (int x = 0; x < saved.Width(); ++x)
      ASSERT_EQ(saved.PixelAt(x, y), expected.PixelAt(x, y)) << x << ", " << y;
  }
}

TEST(SavedPixels, TrimmedPagesAreWrittenAsTheCropOfThePageShown) {
  const struct {
    const char* Name;
    Body Kind;
    bool Exact;
  } kinds[] = {{"colour.png", Body::Colour, true},
               {"gray.png", Body::Gray, true},
               {"bitonal.png", Body::Bitonal, true},
               {"colour.jpg", Body::Colour, false},
               {"gray.jpg", Body::Gray, false}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.Name);
    QTemporaryDir dir;
    const QString path = dir.path() + "/" + kind.Name;
    ASSERT_EQ(SavePage(path, MakePage(kind.Kind), 300, 300), SaveOutcome::Written);
    const QByteArray file = [&] {
      QFile f(path);
      return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    // The commands of the menu, then Down.
    EditState state;
    RecordingPageWindow window;
    ASSERT_TRUE(OpenPageSet(state, window, path));
    const PageRaster expected = ExpectedCrop(state.OriginalPage);
    TrimLeftAndRight(state, window);
    TrimTopAndBottom(state, window);
    OverwritePage(state, window);
    // One save of a JPEG gives exactly what saving the expected crop gives.
    ExpectSaved(path, kind.Exact ? expected : ThroughJpeg(expected, dir.path()), 0);

    // The same page again, trimmed by the two batches.
    QFile restored(path);
    ASSERT_TRUE(restored.open(QIODevice::WriteOnly));
    restored.write(file);
    restored.close();
    ReloadPage(state, window);
    TrimAllLeftRight(state, window, false);
    TrimAllTopBottom(state, window);
    EXPECT_EQ(window.SaveFailureReports, 0);
    // Each batch writes the page again: the JPEG loses twice, which shows
    // as a small difference; a misplaced row or column shows as a large one.
    ExpectSaved(path, expected, kind.Exact ? 0 : 12);
  }
}

}  // namespace
}  // namespace pagetrim
