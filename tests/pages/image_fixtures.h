// Test fixtures: JPEG and PNG files written directly with libjpeg and libpng,
// so the decoder is checked against files it did not write itself.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

// jpeglib.h uses size_t and FILE without including <cstdio> itself.
#include <jpeglib.h>
#include <png.h>

namespace pagetrim::fixtures {

using Bytes = std::vector<std::uint8_t>;

inline bool WriteBytes(const QString& path, const Bytes& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  return file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
         qint64(bytes.size());
}

inline Bytes ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  const QByteArray all = file.readAll();
  return Bytes(all.begin(), all.end());
}

struct JpegFixture {
  int Width = 32;
  int Height = 32;
  int Components = 3;  // samples per pixel in Pixels
  J_COLOR_SPACE Input = JCS_RGB;
  J_COLOR_SPACE File = JCS_UNKNOWN;  // JCS_UNKNOWN: libjpeg's default for Input
  bool AdobeMarker = true;           // only consulted for CMYK and YCCK files
  Bytes Pixels;                      // rows of Components samples per pixel, or one row for all
  bool Progressive = false;
  bool Optimize = false;              // optimised Huffman tables: the smallest files
  std::vector<jpeg_scan_info> Scans;  // a scan script of its own, when not empty
  Bytes Icc;                          // written as an ICC profile when not empty
  bool Jfif = true;
  int DensityUnit = 0;
  int XDensity = 1;
  int YDensity = 1;
  Bytes App1;  // written as an APP1 marker when not empty
  int Quality = 95;
  // The first component's sampling factors; 0 leaves libjpeg's (2 x 2).
  int LumaH = 0;
  int LumaV = 0;
};

// Fixture writing is expected to succeed; libjpeg's default error handler
// ends the test program if it does not.
inline Bytes EncodeJpegFixture(const JpegFixture& fixture) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(fixture.Width);
  info.image_height = JDIMENSION(fixture.Height);
  info.input_components = fixture.Components;
  info.in_color_space = fixture.Input;
  jpeg_set_defaults(&info);
  if (fixture.File != JCS_UNKNOWN)
    jpeg_set_colorspace(&info, fixture.File);
  if (fixture.File == JCS_CMYK || fixture.File == JCS_YCCK) {
    info.write_Adobe_marker = fixture.AdobeMarker ? TRUE : FALSE;
  }
  jpeg_set_quality(&info, fixture.Quality, TRUE);
  if (fixture.LumaH > 0) {
    info.comp_info[0].h_samp_factor = fixture.LumaH;
    info.comp_info[0].v_samp_factor = fixture.LumaV;
  }
  if (fixture.Progressive)
    jpeg_simple_progression(&info);
  if (!fixture.Scans.empty()) {
    info.scan_info = fixture.Scans.data();
    info.num_scans = int(fixture.Scans.size());
  }
  info.optimize_coding = fixture.Optimize ? TRUE : FALSE;
  info.write_JFIF_header = fixture.Jfif ? TRUE : FALSE;
  info.density_unit = UINT8(fixture.DensityUnit);
  info.X_density = UINT16(fixture.XDensity);
  info.Y_density = UINT16(fixture.YDensity);
  jpeg_start_compress(&info, TRUE);
  if (!fixture.App1.empty()) {
    jpeg_write_marker(&info, JPEG_APP0 + 1, fixture.App1.data(), unsigned(fixture.App1.size()));
  }
  if (!fixture.Icc.empty())
    jpeg_write_icc_profile(&info, fixture.Icc.data(), unsigned(fixture.Icc.size()));
  const std::size_t stride = std::size_t(fixture.Width) * std::size_t(fixture.Components);
  const bool oneRow = fixture.Pixels.size() == stride;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row =
        const_cast<JSAMPROW>(fixture.Pixels.data() + (oneRow ? 0 : info.next_scanline * stride));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  Bytes bytes(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return bytes;
}

struct JpegFileInfo {
  int Components = 0;
  J_COLOR_SPACE Colour = JCS_UNKNOWN;
  bool Jfif = false;
  int DensityUnit = 0;
  int XDensity = 0;
  int YDensity = 0;
};

inline JpegFileInfo ReadJpegHeader(const Bytes& bytes) {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  JpegFileInfo result{info.num_components, info.jpeg_color_space, info.saw_JFIF_marker != 0,
                      info.density_unit,   info.X_density,        info.Y_density};
  jpeg_destroy_decompress(&info);
  return result;
}

struct PngFixture {
  png_uint_32 Width = 0;
  png_uint_32 Height = 0;
  int BitDepth = 8;
  int ColourType = PNG_COLOR_TYPE_RGB;
  bool Interlaced = false;
  std::vector<Bytes> Rows;  // packed as stored (16-bit samples big-endian), or one row for all
  std::vector<png_color> Palette;
  Bytes PaletteAlpha;                       // tRNS for a palette
  std::optional<png_color_16> Transparent;  // tRNS for gray and RGB
  bool Phys = false;
  png_uint_32 PpmX = 0;
  png_uint_32 PpmY = 0;
  int PhysUnit = PNG_RESOLUTION_METER;
  int Compression = 1;
  Bytes Icc;   // written as an iCCP chunk when not empty
  Bytes Exif;  // written as an eXIf chunk when not empty
};

inline void AppendPng(png_structp png, png_bytep data, std::size_t count) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}

inline void FlushPng(png_structp) {}

// Fixture writing is expected to succeed; libpng aborts the test program if
// it does not.
inline Bytes EncodePngFixture(const PngFixture& fixture) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendPng, FlushPng);
  png_set_compression_level(png, fixture.Compression);
  png_set_IHDR(png, info, fixture.Width, fixture.Height, fixture.BitDepth, fixture.ColourType,
               fixture.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!fixture.Palette.empty()) {
    png_set_PLTE(png, info, fixture.Palette.data(), int(fixture.Palette.size()));
  }
  if (!fixture.PaletteAlpha.empty()) {
    png_set_tRNS(png, info, fixture.PaletteAlpha.data(), int(fixture.PaletteAlpha.size()), nullptr);
  } else if (fixture.Transparent) {
    png_set_tRNS(png, info, nullptr, 0, &*fixture.Transparent);
  }
  if (fixture.Phys)
    png_set_pHYs(png, info, fixture.PpmX, fixture.PpmY, fixture.PhysUnit);
  if (!fixture.Icc.empty()) {
    png_set_iCCP(png, info, "icc", PNG_COMPRESSION_TYPE_BASE, fixture.Icc.data(),
                 png_uint_32(fixture.Icc.size()));
  }
  if (!fixture.Exif.empty()) {
    png_set_eXIf_1(png, info, png_uint_32(fixture.Exif.size()),
                   const_cast<png_bytep>(fixture.Exif.data()));
  }
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < fixture.Height; ++y)
      png_write_row(png, fixture.Rows[fixture.Rows.size() == 1 ? 0 : y].data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// IHDR sits at a fixed place in every PNG file.
struct PngHeader {
  int BitDepth = 0;
  int ColourType = -1;
};

inline PngHeader ReadPngHeader(const Bytes& bytes) {
  if (bytes.size() < 26)
    return {};
  return {bytes[24], bytes[25]};
}

inline void Put32(QByteArray& bytes, int at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + i] = char(value >> (24 - 8 * i));
}

// A structurally valid profile of the colour space ("RGB " or "GRAY"): its
// header, a white point tag and one private tag that fills it up to size
// bytes with a pattern, so that any lost or moved byte shows.
inline QByteArray IccProfile(const char* space, int size) {
  QByteArray profile(size, '\0');
  for (int i = 176; i < size; ++i)
    profile[i] = char(i * 7 + i / 251);
  Put32(profile, 0, std::uint32_t(size));
  Put32(profile, 8, 0x02100000);  // version 2.1
  std::memcpy(profile.data() + 12, "mntr", 4);
  std::memcpy(profile.data() + 16, space, 4);
  std::memcpy(profile.data() + 20, "XYZ ", 4);
  std::memcpy(profile.data() + 36, "acsp", 4);
  const std::uint32_t d50[3] = {0xF6D6, 0x10000, 0xD32D};
  for (int i = 0; i < 3; ++i) {
    Put32(profile, 68 + 4 * i, d50[i]);
    Put32(profile, 164 + 4 * i, d50[i]);
  }
  Put32(profile, 128, 2);  // tag count
  std::memcpy(profile.data() + 132, "wtpt", 4);
  Put32(profile, 136, 156);
  Put32(profile, 140, 20);
  std::memcpy(profile.data() + 144, "priv", 4);
  Put32(profile, 148, 176);
  Put32(profile, 152, std::uint32_t(size - 176));
  std::memcpy(profile.data() + 156, "XYZ ", 4);
  return profile;
}

}  // namespace pagetrim::fixtures
