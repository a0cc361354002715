// Writes the fuzz harnesses' seed corpus into a folder:
//   make_fuzz_seeds FOLDER   ->   FOLDER/decode, FOLDER/natural_compare, FOLDER/settings
// Small real pages of every kind the decoders take, and every damaged file
// and decompression bomb found so far, so that fuzzing starts from them and
// each test run replays them.
#include <QDir>
#include <QFile>
#include <cstdio>

#include "pages/hostile_files.h"
#include "pages/image_fixtures.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool Write(const QString& path, const Bytes& bytes) {
  return Write(path,
               QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

Bytes Png(int bitDepth, int colourType, bool interlaced) {
  fixtures::PngFixture fixture;
  fixture.Width = fixture.Height = 24;
  fixture.BitDepth = bitDepth;
  fixture.ColourType = colourType;
  fixture.Interlaced = interlaced;
  const int channels = colourType == PNG_COLOR_TYPE_RGB          ? 3
                       : colourType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                       : colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                 : 1;
  const std::size_t rowBytes = (std::size_t(24) * channels * bitDepth + 7) / 8;
  for (int y = 0; y < 24; ++y) {
    Bytes row(rowBytes);
    for (std::size_t i = 0; i < rowBytes; ++i)
      row[i] = std::uint8_t(i * 11 + y * 7);
    fixture.Rows.push_back(row);
  }
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < 256; ++i)
      fixture.Palette.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)});
  }
  fixture.Phys = true;
  fixture.PpmX = fixture.PpmY = 11811;
  return fixtures::EncodePngFixture(fixture);
}

int Main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (const char* harness : {"decode", "natural_compare", "settings"})
    QDir().mkpath(root + "/" + harness);
  bool ok = true;

  const QString decode = root + "/decode/";
  ok &= Write(decode + "colour.jpg", hostile::NoiseJpeg(40, 24, 3, JCS_RGB, false));
  ok &= Write(decode + "progressive.jpg", hostile::NoiseJpeg(40, 24, 3, JCS_RGB, true));
  ok &= Write(decode + "gray.jpg", hostile::NoiseJpeg(40, 24, 1, JCS_GRAYSCALE, false));
  ok &= Write(decode + "cmyk.jpg", hostile::NoiseJpeg(16, 16, 4, JCS_CMYK, true));
  ok &= Write(decode + "rgb.png", Png(8, PNG_COLOR_TYPE_RGB, false));
  ok &= Write(decode + "rgba-interlaced.png", Png(8, PNG_COLOR_TYPE_RGB_ALPHA, true));
  ok &= Write(decode + "gray16.png", Png(16, PNG_COLOR_TYPE_GRAY, false));
  ok &= Write(decode + "bitonal.png", Png(1, PNG_COLOR_TYPE_GRAY, false));
  ok &= Write(decode + "gray-alpha.png", Png(8, PNG_COLOR_TYPE_GRAY_ALPHA, true));
  ok &= Write(decode + "palette.png", Png(8, PNG_COLOR_TYPE_PALETTE, false));
  for (const hostile::NamedFile& file : hostile::KnownHostileFiles())
    ok &= Write(decode + file.Name, file.Content);

  const auto utf16 = [](std::initializer_list<QString> texts) {
    QByteArray bytes;
    for (const QString& text : texts) {
      bytes += QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
      bytes += "\xFF\xFF";
    }
    return bytes;
  };
  const QString names = root + "/natural_compare/";
  ok &= Write(names + "digits", utf16({"/b/p2.jpg", "/b/p10.jpg", "/b/p02.jpg"}));
  ok &= Write(names + "case", utf16({"/b/Page.jpg", "/b/page.jpg", "/b/a1.jpg"}));
  ok &= Write(names + "long-runs",
              utf16({"/b/99999999999999999999.png", "/b/0000123.png", u"/b/頁１.jpg"_qs}));

  const QString settings = root + "/settings/";
  ok &= Write(settings + "written", QByteArray("[Window]\nLeft=10\nTop=20\nHeight=565\n"
                                               "Width=675\nEdit1=128\nRB_1=0\nRB_2=1\n"
                                               "KeepOriginals=1\n"));
  ok &= Write(settings + "crlf-lone-cr", QByteArray("[Window]\r\nLeft=1\r\nEdit1=abc\r"));
  ok &= Write(settings + "foreign",
              QByteArray("\xEF\xBB\xBF; comment\r\n[Other]\r\nx=1\r\n\r\n[window]\r\n"
                         "  left = 40 \r\nRB_1 = 1"));
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace pagetrim

int main(int argc, char* argv[]) {
  return pagetrim::Main(argc, argv);
}
