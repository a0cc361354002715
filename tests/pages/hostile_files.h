// Damaged files and decompression bombs that have been found, made in code:
// the decoders' tests and the fuzz harnesses' seed corpus both use them.
#pragma once

#include <zlib.h>

#include <QString>
#include <vector>

#include "pages/image_fixtures.h"

namespace pagetrim::hostile {

using fixtures::Bytes;

inline Bytes NoiseJpeg(int width, int height, int components, J_COLOR_SPACE input,
                       bool progressive) {
  fixtures::JpegFixture fixture;
  fixture.Width = width;
  fixture.Height = height;
  fixture.Components = components;
  fixture.Input = input;
  fixture.Progressive = progressive;
  fixture.Pixels.resize(std::size_t(width) * height * components);
  std::uint32_t state = 12345;
  for (std::uint8_t& p : fixture.Pixels) {
    state = state * 1664525u + 1013904223u;
    p = std::uint8_t(state >> 24);
  }
  return fixtures::EncodeJpegFixture(fixture);
}

// Offset of the first byte after the first marker of the given kind's segment
// header, or 0.
inline std::size_t AfterSegment(const Bytes& jpeg, std::uint8_t marker) {
  for (std::size_t i = 2; i + 3 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == marker)
      return i + 2 + ((std::size_t(jpeg[i + 2]) << 8) | jpeg[i + 3]);
  }
  return 0;
}

// Sets the picture size in the first start-of-frame segment (baseline or progressive).
inline Bytes WithDeclaredSize(Bytes jpeg, int width, int height) {
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
      jpeg[i + 5] = std::uint8_t(height >> 8);
      jpeg[i + 6] = std::uint8_t(height);
      jpeg[i + 7] = std::uint8_t(width >> 8);
      jpeg[i + 8] = std::uint8_t(width);
      break;
    }
  }
  return jpeg;
}

// A JPEG cut halfway through its picture data, ending with an end-of-image
// marker as if nothing were missing.
inline Bytes CutWithEndMarker() {
  Bytes jpeg = NoiseJpeg(256, 256, 3, JCS_RGB, false);
  const std::size_t data = AfterSegment(jpeg, 0xDA);
  jpeg.resize(data + (jpeg.size() - data) / 2);
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

// A tiny JPEG whose frame declares 16384 x 16384 pixels.
inline Bytes HugeBaselineBomb() {
  return WithDeclaredSize(NoiseJpeg(16, 16, 3, JCS_RGB, false), 16384, 16384);
}

inline Bytes HugeProgressiveCmykBomb() {
  fixtures::JpegFixture fixture;
  fixture.Width = fixture.Height = 16;
  fixture.Components = 4;
  fixture.Input = JCS_CMYK;
  fixture.Progressive = true;
  fixture.Pixels.assign(16 * 16 * 4, 128);
  return WithDeclaredSize(fixtures::EncodeJpegFixture(fixture), 16384, 16384);
}

// A valid progression of 65 scans: the DC coefficient in two steps of
// successive approximation, then each of the 63 AC coefficients in a scan of
// its own. Every scan is a full pass over the picture's coefficients.
inline Bytes ManyScanJpeg(int side) {
  static std::vector<jpeg_scan_info> script;
  script.clear();
  script.push_back({1, {0, 0, 0, 0}, 0, 0, 0, 1});
  script.push_back({1, {0, 0, 0, 0}, 0, 0, 1, 0});
  for (int k = 1; k < 64; ++k)
    script.push_back({1, {0, 0, 0, 0}, k, k, 0, 0});
  fixtures::JpegFixture fixture;
  fixture.Width = fixture.Height = side;
  fixture.Components = 1;
  fixture.Input = JCS_GRAYSCALE;
  fixture.Pixels.assign(std::size_t(side) * side, 200);
  fixture.ScanScript = &script;
  return fixtures::EncodeJpegFixture(fixture);
}

// A PNG whose header declares 16384 x 16384 colour pixels over a few rows of data.
inline Bytes HugePngBomb() {
  fixtures::PngFixture fixture;
  fixture.Width = 64;
  fixture.Height = 64;
  fixture.ColourType = PNG_COLOR_TYPE_RGB;
  fixture.Rows.assign(64, Bytes(64 * 3, 0xFF));
  Bytes png = fixtures::EncodePngFixture(fixture);
  // IHDR's data starts at byte 16, its CRC over type and data at byte 29.
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    png[at] = std::uint8_t(v >> 24);
    png[at + 1] = std::uint8_t(v >> 16);
    png[at + 2] = std::uint8_t(v >> 8);
    png[at + 3] = std::uint8_t(v);
  };
  put32(16, 16384);
  put32(20, 16384);
  put32(29, std::uint32_t(crc32(0, png.data() + 12, 17)));
  return png;
}

struct NamedFile {
  QString Name;
  Bytes Bytes;
};

inline std::vector<NamedFile> KnownHostileFiles() {
  return {{"cut-with-end-marker.jpg", CutWithEndMarker()},
          {"bomb-baseline-16384.jpg", HugeBaselineBomb()},
          {"bomb-progressive-cmyk-16384.jpg", HugeProgressiveCmykBomb()},
          {"bomb-65-scans.jpg", ManyScanJpeg(512)},
          {"bomb-16384.png", HugePngBomb()}};
}

}  // namespace pagetrim::hostile
