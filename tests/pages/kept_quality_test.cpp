// What a written page keeps of its source: a JPEG page its quantization
// tables, sampling and progression, and its very blocks where the cut keeps
// whole ones; a PNG page a size no larger than the usual writers give.
#include <gtest/gtest.h>

#include <QSize>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>
#include <random>

#include "codecs.h"
#include "page_codec.h"
#include "pages/hostile_files.h"
#include "pages/image_fixtures.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;

constexpr int Width = 64, Height = 48;

struct Source {
  const char* Name;
  int Components, LumaH, LumaV;
  bool Progressive;
  int Quality;
};

const Source EverySampling[] = {
    {"4:4:4", 3, 1, 1, false, 95},
    {"4:2:2", 3, 2, 1, false, 85},
    {"4:2:0", 3, 2, 2, false, 75},
    {"gray", 1, 0, 0, false, 85},
    {"4:4:4 progressive", 3, 1, 1, true, 85},
    {"4:2:2 progressive", 3, 2, 1, true, 95},
    {"4:2:0 progressive", 3, 2, 2, true, 85},
    {"gray progressive", 1, 0, 0, true, 75},
};

// Soft shapes and grain, so that every coefficient of a table matters.
Bytes SourceFile(const Source& source) {
  fixtures::JpegFixture fixture;
  fixture.Width = Width;
  fixture.Height = Height;
  fixture.Components = source.Components;
  fixture.Input = source.Components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  std::mt19937 random(7);
  for (int i = 0; i < Width * Height * source.Components; ++i) {
    const int x = i / source.Components % Width, y = i / source.Components / Width;
    const double wave = std::sin(x / (4.0 + i % 3) + i % 3) * std::cos(y / 6.0);
    fixture.Pixels.push_back(std::uint8_t(120 + 90 * wave + double(random() % 24)));
  }
  fixture.LumaH = source.LumaH;
  fixture.LumaV = source.LumaV;
  fixture.Progressive = source.Progressive;
  fixture.Quality = source.Quality;
  return fixtures::EncodeJpegFixture(fixture);
}

// How a file was coded, as libjpeg reads it back.
struct Coding {
  int Components = 0;
  bool Progressive = false;
  std::vector<std::pair<int, int>> Sampling;
  std::vector<std::vector<UINT16>> Tables;
  friend bool operator==(const Coding&, const Coding&) = default;
};

Coding CodingOf(const std::uint8_t* data, std::size_t size) {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  Coding coding{info.num_components, info.progressive_mode != 0, {}, {}};
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    coding.Sampling.emplace_back(component.h_samp_factor, component.v_samp_factor);
    const UINT16* table = info.quant_tbl_ptrs[component.quant_tbl_no]->quantval;
    coding.Tables.emplace_back(table, table + DCTSIZE2);
  }
  jpeg_destroy_decompress(&info);
  return coding;
}

Coding CodingOf(const Bytes& jpeg) {
  return CodingOf(jpeg.data(), jpeg.size());
}

Coding CodingOf(const EncodedPage& page) {
  return CodingOf(page.Bytes.Data(), page.Bytes.Size());
}

// Equal pixels, but for a band of border pixels along each edge.
void ExpectSamePixels(const PageRaster& actual, const PageRaster& expected, int border = 0) {
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  for (int y = border; y < expected.Height() - border; ++y) {
    for (int x = border; x < expected.Width() - border; ++x)
      ASSERT_EQ(actual.PixelAt(x, y), expected.PixelAt(x, y)) << x << ", " << y;
  }
}

// The mean difference of the channels of two pages of the same size.
double MeanDifference(const PageRaster& a, const PageRaster& b) {
  EXPECT_EQ(a.Width(), b.Width());
  EXPECT_EQ(a.Height(), b.Height());
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return 255;
  std::int64_t sum = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      const ColourValue p = a.PixelAt(x, y), q = b.PixelAt(x, y);
      for (int shift = 0; shift < 24; shift += 8)
        sum += std::abs(((p >> shift) & 0xFF) - ((q >> shift) & 0xFF));
    }
  }
  return double(sum) / (3.0 * a.Width() * a.Height());
}

class KeptQualityTest : public ::testing::Test {
 protected:
  QString Write(const char* name, const Bytes& bytes) {
    EXPECT_TRUE(fixtures::WriteBytes(dir_.filePath(name), bytes));
    return dir_.filePath(name);
  }
  PageRaster Decode(const EncodedPage& page) {
    PageRaster raster;
    ReadPageFile(Write("decoded", Bytes(page.Bytes.Data(), page.Bytes.Data() + page.Bytes.Size())),
                 raster);
    return raster;
  }

  QTemporaryDir dir_;
};

TEST_F(KeptQualityTest, ACodedPageHasItsSourcesTablesSamplingAndProgression) {
  for (const Source& source : EverySampling) {
    SCOPED_TRACE(source.Name);
    const Bytes file = SourceFile(source);
    PageRaster page;
    const PageFileInfo info = ReadPageFile(Write("source.jpg", file), page);
    // Three columns off the left: off the block grid, so coded anew.
    page.CropLeft(3);
    const EncodedPage written =
        EncodePage("page.jpg", page, 300, 300, info.Source, Rect{3, 0, Width, Height});
    ASSERT_TRUE(written.Ok());
    EXPECT_FALSE(written.Copied);
    EXPECT_EQ(CodingOf(written), CodingOf(file));
  }
}

TEST_F(KeptQualityTest, PagesNotFromAJpegAreAtQuality92AndGrayOnesKeepTheLuminanceTable) {
  fixtures::JpegFixture quality92;
  quality92.Pixels.assign(32 * 32 * 3, 100);
  quality92.Quality = 92;
  PageRaster page;
  const PageFileInfo png = ReadPageFile(Write("page.png", hostile::WhitePng(40, 30, 8)), page);
  EXPECT_FALSE(png.Source.Jpeg.has_value());
  EXPECT_EQ(CodingOf(EncodePage("p.jpg", page, 300, 300, png.Source)).Tables[0],
            CodingOf(fixtures::EncodeJpegFixture(quality92)).Tables[0]);

  // A colour file of gray pixels is written gray, with its own luminance table.
  fixtures::JpegFixture gray = quality92;
  gray.Quality = 70;
  gray.Pixels.clear();
  for (int i = 0; i < 32 * 32; ++i)
    gray.Pixels.insert(gray.Pixels.end(), 3, std::uint8_t(i * 7));
  const Bytes file = fixtures::EncodeJpegFixture(gray);
  const PageFileInfo info = ReadPageFile(Write("gray-in-colour.jpg", file), page);
  ASSERT_EQ(page.Format(), PixelFormat::Bgr24);
  page.CropTop(5);
  const Coding written =
      CodingOf(EncodePage("p.jpg", page, 300, 300, info.Source, Rect{0, 5, 32, 32}));
  EXPECT_EQ(written.Components, 1);
  EXPECT_EQ(written.Tables[0], CodingOf(file).Tables[0]);
}

TEST_F(KeptQualityTest, CutsOnTheBlockGridCopyTheSourcesBlocks) {
  const struct {
    const char* Name;
    Rect Cut;  // on the grid of the largest MCU, 16 x 16, or off it
    bool Copied;
  } cuts[] = {{"left and top on the grid", {16, 16, Width - 5, Height - 3}, true},
              {"right and bottom only", {0, 0, Width - 7, Height - 1}, true},
              {"left off the grid", {3, 0, Width, Height}, false},
              {"top off the grid", {0, 5, Width, Height}, false},
              {"left on the grid, top off it", {16, 5, Width, Height - 2}, false},
              {"top on the grid, left off it", {5, 16, Width - 1, Height}, false},
              {"left on an 8-pixel grid, top off it", {8, 4, Width, Height}, false}};
  for (const Source& source : EverySampling) {
    const Bytes file = SourceFile(source);
    PageRaster whole;
    const PageFileInfo info = ReadPageFile(Write("source.jpg", file), whole);
    for (const auto& c : cuts) {
      SCOPED_TRACE(std::string(source.Name) + ", " + c.Name);
      PageRaster page = whole;
      page.SetSize(c.Cut.Right, c.Cut.Bottom);
      page.CropLeft(c.Cut.Left);
      page.CropTop(c.Cut.Top);
      const EncodedPage written = EncodePage("p.jpg", page, 300, 300, info.Source, c.Cut);
      ASSERT_TRUE(written.Ok());
      ASSERT_EQ(written.Copied, c.Copied);
      // What a dry run says the batch will do is what it does.
      EXPECT_EQ(WritesByCopyingBlocks("p.jpg", page, info.Source, c.Cut), c.Copied);
      if (!c.Copied) {
        // Coded anew, it is the page within what coding grain loses (a mean
        // of 7 at most); the source's blocks copied from the wrong rows or
        // columns are 25 to 45 off.
        EXPECT_LT(MeanDifference(Decode(written), page), 10.0);
        // The copy itself refuses a cut off the grid, whoever asks.
        EncodedBytes copy;
        EXPECT_EQ(codecs::CopyJpegBlocks(file.data(), file.size(), c.Cut, 300, 300, {}, copy),
                  Result::Failed(Reason::CannotEncode));
        EXPECT_EQ(copy.Size(), 0u);
        continue;
      }
      EXPECT_EQ(CodingOf(written), CodingOf(file));
      // The blocks are the source's: gray and 4:4:4 pages decode to exactly
      // the source's pixels; subsampled chroma may differ only next to an
      // edge, where the decoder has no neighbour to smooth it with.
      ExpectSamePixels(Decode(written), page, source.LumaH == 2 ? 2 : 0);
    }
  }
}

TEST_F(KeptQualityTest, BlocksAreCopiedOnlyFromTheFileAsStoredAndUnderTheDecodersLimits) {
  PageRaster page;
  PageFileInfo info = ReadPageFile(Write("source.jpg", SourceFile(EverySampling[0])), page);
  const Rect whole{0, 0, Width, Height};
  ASSERT_TRUE(EncodePage("p.jpg", page, 300, 300, info.Source, whole).Copied);
  // A page turned upright at read is not its file's blocks; a PNG is coded.
  PageSource turned = info.Source;
  turned.Turned = true;
  EXPECT_FALSE(EncodePage("p.jpg", page, 300, 300, turned, whole).Copied);
  EXPECT_FALSE(EncodePage("p.png", page, 300, 300, info.Source, whole).Copied);
  // Damaged bytes: the page is coded anew instead.
  PageSource damaged = info.Source;
  damaged.Bytes.truncate(damaged.Bytes.size() / 2);
  const EncodedPage coded = EncodePage("p.jpg", page, 300, 300, damaged, whole);
  EXPECT_TRUE(coded.Ok());
  EXPECT_FALSE(coded.Copied);
  for (const hostile::NamedFile& file : hostile::KnownHostileFiles()) {
    SCOPED_TRACE(file.Name.toStdString());
    EncodedBytes out;
    EXPECT_FALSE(codecs::CopyJpegBlocks(file.Content.data(), file.Content.size(),
                                        Rect{0, 0, 16, 16}, 300, 300, {}, out)
                     .Ok());
    EXPECT_EQ(out.Size(), 0u);
  }
}

// The part of the file at the top left that cut keeps, as libjpeg alone copies
// it: its blocks, with Huffman tables made by its own optimising pass.
Bytes CopiedByLibjpeg(const Bytes& file, int width, int height) {
  jpeg_decompress_struct source;
  jpeg_error_mgr errors;
  source.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&source);
  jpeg_mem_src(&source, file.data(), file.size());
  jpeg_read_header(&source, TRUE);
  jvirt_barray_ptr* blocks = jpeg_read_coefficients(&source);
  jpeg_compress_struct info;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  jpeg_copy_critical_parameters(&source, &info);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.optimize_coding = TRUE;
  info.write_JFIF_header = TRUE;
  info.density_unit = 1;
  info.X_density = info.Y_density = 300;
  jpeg_write_coefficients(&info, blocks);
  jpeg_finish_compress(&info);
  Bytes bytes(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  jpeg_destroy_decompress(&source);
  std::free(buffer);
  return bytes;
}

TEST_F(KeptQualityTest, CopiedBlocksAreCodedAsLibjpegOptimisesThem) {
  // Sizes that leave the right and bottom MCUs part empty, and whole ones.
  const QSize cuts[] = {{Width, Height}, {Width - 7, Height - 1}, {Width - 17, Height - 9}, {9, 7}};
  for (const Source& source : EverySampling) {
    if (source.Progressive)
      continue;
    const Bytes file = SourceFile(source);
    for (const QSize cut : cuts) {
      SCOPED_TRACE(std::string(source.Name) + ", " + std::to_string(cut.width()) + " x " +
                   std::to_string(cut.height()));
      EncodedBytes copied;
      ASSERT_TRUE(codecs::CopyJpegBlocks(file.data(), file.size(),
                                         Rect{0, 0, cut.width(), cut.height()}, 300, 300, {},
                                         copied)
                      .Ok());
      EXPECT_EQ(Bytes(copied.Data(), copied.Data() + copied.Size()),
                CopiedByLibjpeg(file, cut.width(), cut.height()));
    }
  }
}

TEST_F(KeptQualityTest, CopiesInMemoryAnEarlierCopyLeftBehindKeepOnlyTheirOwnBlocks) {
  // Pages large enough for their coefficients to be held in pooled page
  // buffers. A progressive file leaves blocks it never codes as zeros, so
  // whatever an earlier page's copy left in the memory must not show.
  const auto file = [](bool progressive, unsigned seed) {
    fixtures::JpegFixture fixture;
    fixture.Width = 640;
    fixture.Height = 480;
    fixture.Components = 3;
    fixture.Input = JCS_RGB;
    std::mt19937 random(seed);
    for (int i = 0; i < fixture.Width * fixture.Height * 3; ++i) {
      const int x = i / 3 % fixture.Width;
      fixture.Pixels.push_back(progressive ? std::uint8_t(x < 320 ? 240 : 40 + x % 7)
                                           : std::uint8_t(random()));
    }
    fixture.LumaH = fixture.LumaV = 1;
    fixture.Progressive = progressive;
    fixture.Quality = 90;
    return fixtures::EncodeJpegFixture(fixture);
  };
  const Rect cut{16, 16, 600, 440};
  for (const bool progressive : {false, true, false, true}) {
    SCOPED_TRACE(progressive ? "smooth progressive page" : "noisy page");
    PageRaster page;
    const PageFileInfo info = ReadPageFile(Write("source.jpg", file(progressive, 9)), page);
    page.SetSize(cut.Right, cut.Bottom);
    page.CropLeft(cut.Left);
    page.CropTop(cut.Top);
    const EncodedPage written = EncodePage("p.jpg", page, 300, 300, info.Source, cut);
    ASSERT_TRUE(written.Copied);
    ExpectSamePixels(Decode(written), page);
  }
}

TEST_F(KeptQualityTest, HuffmanTablesMadeFromASampleCodeEveryRowOfThePage) {
  // Noise in a few rows the sample may well miss, on a blank page tall enough
  // to be sampled: every symbol of the noise must still have a code.
  PageRaster page(300, 1100);
  std::mt19937 random(5);
  for (int y = 20; y < 60; ++y) {
    for (std::size_t i = 0; i < page.RowBytes(); ++i)
      page.Row(y)[i] = std::uint8_t(random());
  }
  PageRaster decoded;
  const PageFileInfo info =
      ReadPageFile(Write("source.jpg", SourceFile(EverySampling[2])), decoded);
  EncodedPage written;
  ASSERT_TRUE(codecs::EncodeJpeg(page, 300, 300, {}, written.Bytes, &*info.Source.Jpeg).Ok());
  // The same page coded by libjpeg alone, with its standard tables: the
  // Huffman tables change the bytes, never the pixels.
  fixtures::JpegFixture reference;
  reference.Width = page.Width();
  reference.Height = page.Height();
  reference.Input = JCS_EXT_BGR;
  for (int y = 0; y < page.Height(); ++y)
    reference.Pixels.insert(reference.Pixels.end(), page.Row(y), page.Row(y) + page.RowBytes());
  reference.Quality = EverySampling[2].Quality;
  PageRaster expected;
  ReadPageFile(Write("reference.jpg", fixtures::EncodeJpegFixture(reference)), expected);
  ExpectSamePixels(Decode(written), expected);
}

// ---- PNG ----------------------------------------------------------------------

// A scanned page 1-bit, gray or in colour: paper with grain and words of
// letter-sized strokes; or a picture of smooth, regular shading.
PageRaster ScannedPage(PixelFormat format, bool bitonal, bool picture) {
  PageRaster page(400, 300, format);
  std::mt19937 random(3);
  for (int y = 0; y < page.Height(); ++y) {
    for (int x = 0; x < page.Width(); ++x) {
      const bool ink = y % 20 < 12 && (x / 30) % 4 != 3 &&
                       (unsigned(x / 2) * 2654435761u ^ unsigned(y / 3) * 40503u) >> 31;
      for (int c = 0; c < page.BytesPerPixel(); ++c) {
        const int grain = int(random() % 9) - 4;
        const int value = picture ? 60 + (x + 2 * y + 40 * c) % 180 : (ink ? 30 : 235) + grain;
        page.Row(y)[x * page.BytesPerPixel() + c] = std::uint8_t(bitonal ? (ink ? 0 : 255) : value);
      }
    }
  }
  return page;
}

// What most programs write: libpng's defaults at zlib's default level.
std::size_t UsualPngSize(const PageRaster& page, int bitDepth) {
  fixtures::PngFixture fixture;
  fixture.Width = png_uint_32(page.Width());
  fixture.Height = png_uint_32(page.Height());
  fixture.BitDepth = bitDepth;
  const int channels = page.BytesPerPixel();
  fixture.ColourType = channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  fixture.Compression = 6;
  fixture.Phys = true;  // as the page's own file has
  for (int y = 0; y < page.Height(); ++y) {
    Bytes stored((std::size_t(page.Width()) * std::size_t(bitDepth * channels) + 7) / 8);
    for (int x = 0; x < page.Width() * channels; ++x) {
      const std::uint8_t value = page.Row(y)[channels == 3 ? x - x % 3 + 2 - x % 3 : x];
      if (bitDepth == 1) {
        stored[std::size_t(x) / 8] |= std::uint8_t((value & 0x80) >> (x % 8));
      } else {
        stored[std::size_t(x)] = value;
      }
    }
    fixture.Rows.push_back(stored);
  }
  return fixtures::EncodePngFixture(fixture).size();
}

TEST_F(KeptQualityTest, PngPagesAreNoLargerThanTheUsualWritersMakeThem) {
  const struct {
    const char* Name;
    PageRaster Page;
    int BitDepth;
  } kinds[] = {{"1-bit", ScannedPage(PixelFormat::Gray8, true, false), 1},
               {"gray scan", ScannedPage(PixelFormat::Gray8, false, false), 8},
               {"colour scan", ScannedPage(PixelFormat::Bgr24, false, false), 8},
               {"colour picture", ScannedPage(PixelFormat::Bgr24, false, true), 8}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.Name);
    const EncodedPage written = EncodePage("p.png", kind.Page, 300, 300);
    ASSERT_TRUE(written.Ok());
    EXPECT_EQ(written.Bytes.Data()[24], kind.BitDepth);  // the bit depth in the header
    EXPECT_LE(written.Bytes.Size(), UsualPngSize(kind.Page, kind.BitDepth));
    ExpectSamePixels(Decode(written), kind.Page);
  }
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// A page written straight from its file, as a batch that knew the cut before
// it read the page does: the same bytes as copying the decoded page's cut,
// and a preview of an eighth of its size that is its blocks' means.
TEST_F(KeptQualityTest, APageCopiedWithoutDecodingIsTheCopyOfItsDecodedCut) {
  const Rect cut{16, 32, Width - 5, Height - 3};
  for (const Source& source : EverySampling) {
    SCOPED_TRACE(source.Name);
    const QString path = Write("source.jpg", SourceFile(source));
    PageRaster whole;
    const PageFileInfo read = ReadPageFile(path, whole);
    PageRaster page = whole;
    page.SetSize(cut.Right, cut.Bottom);
    page.CropLeft(cut.Left);
    page.CropTop(cut.Top);
    const EncodedPage decodedCopy =
        EncodePage("p.jpg", page, read.Resolution.X, read.Resolution.Y, read.Source, cut);
    ASSERT_TRUE(decodedCopy.Copied);

    PageFileInfo info;
    PageRaster preview;
    const EncodedPage straight = CopyPageFile(path, cut, info, &preview);
    ASSERT_TRUE(straight.Ok());
    ASSERT_TRUE(straight.Copied);
    EXPECT_TRUE(info.Decoded());
    EXPECT_EQ(info.Identity, read.Identity);
    EXPECT_EQ(Bytes(straight.Bytes.Data(), straight.Bytes.Data() + straight.Bytes.Size()),
              Bytes(decodedCopy.Bytes.Data(), decodedCopy.Bytes.Data() + decodedCopy.Bytes.Size()));

    ASSERT_EQ(preview.Width(), (Width + 7) / 8);
    ASSERT_EQ(preview.Height(), (Height + 7) / 8);
    ASSERT_EQ(preview.Format(), whole.Format());
    // Each preview pixel against the mean of the 8 x 8 pixels of the decoded
    // page it stands for. Subsampled chroma holds one value for 16 pixels,
    // which decoding smooths and the preview does not: on this page, whose
    // colour changes every few pixels, they differ more there.
    double difference = 0;
    for (int y = 0; y < Height / 8; ++y) {
      for (int x = 0; x < Width / 8; ++x) {
        for (int shift = 0; shift < 24; shift += 8) {
          int sum = 0;
          for (int dy = 0; dy < 8; ++dy) {
            for (int dx = 0; dx < 8; ++dx)
              sum += (whole.PixelAt(8 * x + dx, 8 * y + dy) >> shift) & 0xFF;
          }
          difference += std::abs(sum / 64.0 - ((preview.PixelAt(x, y) >> shift) & 0xFF));
        }
      }
    }
    EXPECT_LT(difference / (3.0 * (Width / 8) * (Height / 8)),
              source.LumaH * source.LumaV <= 1 ? 4.0 : 12.0);
  }
  // A PNG page, or one stored turned, is not copied, and nothing is written.
  const QString png = Write("page.png", Bytes{});
  PageFileInfo info;
  EXPECT_FALSE(CopyPageFile(png, cut, info).Ok());
}

}  // namespace
}  // namespace pagetrim
