// The gray and black-and-white analysis images. Every page shown goes through
// here, so the loop is written for the vectoriser: no table look-ups and no
// branches, and on x86-64 a copy for AVX2 is chosen at load time when the
// processor has it.
#include <algorithm>

#include "page_raster.h"

namespace pagetrim {

namespace {

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define PAGETRIM_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PAGETRIM_VECTOR_CLONES
#endif

// One row. threshold is already clamped to 0 ... 256, which keeps every
// comparison with a gray level of 0 ... 255 as it was.
PAGETRIM_VECTOR_CLONES
void AnalyseRow(const std::uint8_t* __restrict source, std::uint8_t* __restrict gray,
                std::uint8_t* __restrict binary, int width, int threshold) {
  for (int x = 0; x < width; ++x) {
    const unsigned sum = unsigned(source[3 * x]) + source[3 * x + 1] + source[3 * x + 2];
    // (sum * 21846) >> 16 equals sum div 3 for every sum from 0 to 765.
    const auto g = std::uint8_t((sum * 21846u) >> 16);
    const auto b = std::uint8_t(int(g) < threshold ? 0 : 255);
    gray[3 * x] = g;
    gray[3 * x + 1] = g;
    gray[3 * x + 2] = g;
    binary[3 * x] = b;
    binary[3 * x + 1] = b;
    binary[3 * x + 2] = b;
  }
}

}  // namespace

void MakeAnalysisImages(const PageRaster& source, PageRaster& gray, PageRaster& binary,
                        int threshold) {
  const int w = std::min({source.Width(), gray.Width(), binary.Width()});
  const int h = std::min({source.Height(), gray.Height(), binary.Height()});
  if (w <= 0 || h <= 0)
    return;
  const int clamped = std::clamp(threshold, 0, 256);
  for (int y = 0; y < h; ++y)
    AnalyseRow(source.Row(y), gray.Row(y), binary.Row(y), w, clamped);
}

}  // namespace pagetrim
