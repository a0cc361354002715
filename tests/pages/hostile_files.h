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

inline Bytes Repeat(int times, Bytes pixel) {
  Bytes row;
  for (int i = 0; i < times; ++i)
    row.insert(row.end(), pixel.begin(), pixel.end());
  return row;
}

// A page of one colour, every row alike, in the smallest file libjpeg makes.
inline fixtures::JpegFixture FlatJpeg(int width, int height, Bytes pixel) {
  fixtures::JpegFixture fixture;
  fixture.Width = width;
  fixture.Height = height;
  fixture.Components = int(pixel.size());
  fixture.Input = pixel.size() == 1 ? JCS_GRAYSCALE : pixel.size() == 3 ? JCS_RGB : JCS_CMYK;
  fixture.File = pixel.size() == 4 ? JCS_CMYK : JCS_UNKNOWN;
  fixture.Pixels = Repeat(width, pixel);
  fixture.Optimize = true;
  return fixture;
}

// Makes the first frame header (baseline or progressive) declare another size.
inline Bytes Declaring(Bytes jpeg, int width, int height) {
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

inline Bytes WhitePng(png_uint_32 width, png_uint_32 height, int bitDepth) {
  fixtures::PngFixture fixture;
  fixture.Width = width;
  fixture.Height = height;
  fixture.BitDepth = bitDepth;
  fixture.ColourType = PNG_COLOR_TYPE_GRAY;
  fixture.Rows = {Bytes((width * png_uint_32(bitDepth) + 7) / 8, 0xFF)};
  fixture.Compression = 9;
  return fixtures::EncodePngFixture(fixture);
}

// Makes the PNG header declare another height, with its checksum to match.
inline Bytes DeclaringHeight(Bytes png, png_uint_32 height) {
  for (int i = 0; i < 4; ++i)
    png[20 + i] = std::uint8_t(height >> (24 - 8 * i));
  const uLong crc = crc32(0, png.data() + 12, 17);
  for (int i = 0; i < 4; ++i)
    png[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
  return png;
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

constexpr int Largest = 16384;  // 2^28 pixels, the most a page may have

// Tiny files whose headers declare the largest page allowed.
inline Bytes HugeBaselineBomb() {
  return Declaring(EncodeJpegFixture(FlatJpeg(16, 16, {255})), Largest, Largest);
}

inline Bytes HugeProgressiveCmykBomb() {
  fixtures::JpegFixture cmyk = FlatJpeg(16, 16, {0, 0, 0, 0});
  cmyk.Progressive = true;
  return Declaring(EncodeJpegFixture(cmyk), Largest, Largest);
}

inline Bytes HugePngBomb() {
  return DeclaringHeight(WhitePng(Largest, 64, 8), Largest);
}

// A valid progression of 65 scans: the DC coefficient in two steps of
// successive approximation, then each of the 63 AC coefficients in a scan of
// its own. Every scan is a full pass over the picture's coefficients.
inline Bytes ManyScanJpeg(int side) {
  fixtures::JpegFixture fixture;
  fixture.Scans.push_back({1, {0, 0, 0, 0}, 0, 0, 0, 1});
  fixture.Scans.push_back({1, {0, 0, 0, 0}, 0, 0, 1, 0});
  for (int k = 1; k < 64; ++k)
    fixture.Scans.push_back({1, {0, 0, 0, 0}, k, k, 0, 0});
  fixture.Width = fixture.Height = side;
  fixture.Components = 1;
  fixture.Input = JCS_GRAYSCALE;
  fixture.Pixels.assign(std::size_t(side) * side, 200);
  return fixtures::EncodeJpegFixture(fixture);
}

struct NamedFile {
  QString Name;
  Bytes Content;
};

inline std::vector<NamedFile> KnownHostileFiles() {
  return {{"cut-with-end-marker.jpg", CutWithEndMarker()},
          {"bomb-baseline-16384.jpg", HugeBaselineBomb()},
          {"bomb-progressive-cmyk-16384.jpg", HugeProgressiveCmykBomb()},
          {"bomb-65-scans.jpg", ManyScanJpeg(512)},
          {"bomb-16384.png", HugePngBomb()}};
}

}  // namespace pagetrim::hostile
