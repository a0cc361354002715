// The gray and black-and-white analysis images. Every page shown goes through
// here, so the loops are written for the vectoriser: no table look-ups and no
// branches, and on x86-64 a copy for AVX2 is chosen at load time when the
// processor has it.
#include <algorithm>
#include <cstring>

#include "page_raster.h"

namespace pagetrim {

namespace {

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define PAGETRIM_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PAGETRIM_VECTOR_CLONES
#endif

// (sum * 21846) >> 16 equals sum div 3 for every sum from 0 to 765.
inline std::uint8_t GrayOf(const std::uint8_t* bgr) {
  const unsigned sum = unsigned(bgr[0]) + bgr[1] + bgr[2];
  return std::uint8_t((sum * 21846u) >> 16);
}

// threshold is already clamped to 0 ... 256, which keeps every comparison
// with a gray level of 0 ... 255 as it was.
inline std::uint8_t BinaryOf(std::uint8_t gray, int threshold) {
  return std::uint8_t(int(gray) < threshold ? 0 : 255);
}

PAGETRIM_VECTOR_CLONES
void ColourToGray(const std::uint8_t* __restrict source, std::uint8_t* __restrict gray, int width) {
  for (int x = 0; x < width; ++x)
    gray[x] = GrayOf(source + 3 * x);
}

// (b + g + r) div 3 < threshold exactly when b + g + r < 3 * threshold, and
// both sides fit in 16 bits: twice as many pixels per vector as the gray
// level's multiply allows.
PAGETRIM_VECTOR_CLONES
void ColourToBinary(const std::uint8_t* __restrict source, std::uint8_t* __restrict binary,
                    int width, int threshold) {
  const auto limit = std::uint16_t(3 * threshold);
  for (int x = 0; x < width; ++x) {
    const auto sum = std::uint16_t(source[3 * x] + source[3 * x + 1] + source[3 * x + 2]);
    binary[x] = std::uint8_t(-std::uint8_t(sum >= limit));
  }
}

PAGETRIM_VECTOR_CLONES
void ColourToBoth(const std::uint8_t* __restrict source, std::uint8_t* __restrict gray,
                  std::uint8_t* __restrict binary, int width, int threshold) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t g = GrayOf(source + 3 * x);
    gray[x] = g;
    binary[x] = BinaryOf(g, threshold);
  }
}

PAGETRIM_VECTOR_CLONES
void GrayToBinary(const std::uint8_t* __restrict source, std::uint8_t* __restrict binary, int width,
                  int threshold) {
  for (int x = 0; x < width; ++x)
    binary[x] = BinaryOf(source[x], threshold);
}

void SizeLike(const PageRaster& source, PageRaster* image) {
  if (image != nullptr)
    image->ResetForOverwrite(source.Width(), source.Height(), PixelFormat::Gray8);
}

void Analyse(const PageRaster& source, PageRaster* gray, PageRaster* binary, int threshold) {
  if (source.IsEmpty())
    return;
  if (gray != nullptr && source.Format() == PixelFormat::Gray8) {
    gray->AssignFrom(source);  // (v + v + v) div 3 is v
    gray = nullptr;
  }
  SizeLike(source, gray);
  SizeLike(source, binary);
  AnalyseRows(source, gray, binary, threshold, 0, source.Height());
}

}  // namespace

namespace {

// Columns [x, x + w) of rows [first, first + count).
void AnalyseArea(const PageRaster& source, PageRaster* gray, PageRaster* binary, int threshold,
                 int first, int count, int x, int w) {
  const int end = std::min(first + count, source.Height());
  const int clamped = std::clamp(threshold, 0, 256);
  const bool colour = source.Format() == PixelFormat::Bgr24;
  const std::size_t offset = std::size_t(x) * std::size_t(source.BytesPerPixel());
  for (int y = std::max(first, 0); y < end; ++y) {
    const std::uint8_t* row = source.Row(y) + offset;
    std::uint8_t* grayRow = gray != nullptr ? gray->Row(y) + x : nullptr;
    std::uint8_t* binaryRow = binary != nullptr ? binary->Row(y) + x : nullptr;
    if (!colour) {
      if (gray != nullptr)
        std::memcpy(grayRow, row, std::size_t(w));
      if (binary != nullptr)
        GrayToBinary(row, binaryRow, w, clamped);
    } else if (gray != nullptr && binary != nullptr) {
      ColourToBoth(row, grayRow, binaryRow, w, clamped);
    } else if (gray != nullptr) {
      ColourToGray(row, grayRow, w);
    } else if (binary != nullptr) {
      ColourToBinary(row, binaryRow, w, clamped);
    }
  }
}

}  // namespace

void AnalysePixels(const std::uint8_t* pixels, PixelFormat format, int count, bool gray,
                   int threshold, std::uint8_t* out) {
  const int clamped = std::clamp(threshold, 0, 256);
  if (format == PixelFormat::Gray8) {
    if (gray) {
      std::memcpy(out, pixels, std::size_t(count));
    } else {
      GrayToBinary(pixels, out, count, clamped);
    }
  } else if (gray) {
    ColourToGray(pixels, out, count);
  } else {
    ColourToBinary(pixels, out, count, clamped);
  }
}

void AnalyseRows(const PageRaster& source, PageRaster* gray, PageRaster* binary, int threshold,
                 int first, int count) {
  AnalyseArea(source, gray, binary, threshold, first, count, 0, source.Width());
}

void AnalyseColumns(const PageRaster& source, PageRaster* gray, PageRaster* binary, int threshold,
                    int first, int count) {
  first = std::clamp(first, 0, source.Width());
  count = std::clamp(count, 0, source.Width() - first);
  AnalyseArea(source, gray, binary, threshold, 0, source.Height(), first, count);
}

void MakeAnalysisImages(const PageRaster& source, PageRaster& gray, PageRaster& binary,
                        int threshold) {
  Analyse(source, &gray, &binary, threshold);
}

void MakeGrayImage(const PageRaster& source, PageRaster& gray) {
  Analyse(source, &gray, nullptr, 0);
}

void MakeBinaryImage(const PageRaster& source, PageRaster& binary, int threshold) {
  Analyse(source, nullptr, &binary, threshold);
}

}  // namespace pagetrim
