// Reading a page file into a PageRaster and writing one back over its file.
#pragma once

#include <QString>

#include "page_raster.h"

namespace pagetrim {

// Dots per inch as stored in the file; 0 when the file says nothing.
struct PageResolution {
  float X = 0;
  float Y = 0;
};

enum class SaveOutcome { Written, NoEncoder, WriteFailed };

// Pages are never written below this resolution.
inline constexpr float MinimumSaveDpi = 144.0f;

// Decodes the JPEG or PNG file at its stored pixel size, transparent pixels
// blended onto white. A file that cannot be decoded gives a 0 x 0 raster and
// a resolution of 0.
PageResolution LoadPage(const QString& path, PageRaster& raster);

// Encodes raster over path: PNG when the extension is ".PNG" in any case,
// JPEG otherwise, at no less than MinimumSaveDpi. The file is replaced
// atomically; on any failure it stays exactly as it was. An empty raster is
// never written.
SaveOutcome SavePage(const QString& path, const PageRaster& raster, float resolutionX,
                     float resolutionY);

}  // namespace pagetrim
