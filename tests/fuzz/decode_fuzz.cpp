// Fuzzing the page decoders from bytes: any input must either decode to a
// page within the size limits or be refused, without a fault; and copying a
// JPEG's blocks, which reads them as the decoder does, likewise.
#include <cstddef>
#include <cstdint>

#include "codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pagetrim;
  PageRaster raster;
  codecs::DecodeContext context;
  bool decoded = false;
  if (codecs::LooksLikeJpeg(data, size)) {
    decoded = codecs::DecodeJpeg(data, size, raster, context).Ok();
    codecs::DeclaredSize declared;
    (void)codecs::ReadJpegSize(data, size, declared);  // only faults matter here
  } else if (codecs::LooksLikePng(data, size)) {
    decoded = codecs::DecodePng(data, size, raster, context).Ok();
    codecs::DeclaredSize declared;
    (void)codecs::ReadPngSize(data, size, declared);  // only faults matter here
  }
  if (decoded) {
    if (!codecs::SizeAllowed(std::uint64_t(raster.Width()), std::uint64_t(raster.Height())))
      __builtin_trap();
    // Every pixel is readable: a short row would show here under ASan.
    volatile ColourValue sink = 0;
    for (int y = 0; y < raster.Height(); ++y)
      sink = sink ^ raster.PixelAt(raster.Width() - 1, y);
    if (!context.IccProfile.isEmpty() &&
        codecs::CheckIccProfile(context.IccProfile) == codecs::ProfileSpace::None) {
      __builtin_trap();  // a damaged profile must have been dropped
    }
    // The page less its first MCU row and column, when it has more.
    if (context.Jpeg && raster.Width() > 16 && raster.Height() > 16) {
      const Rect cut{context.Jpeg->McuWidth(), context.Jpeg->McuHeight(), raster.Width(),
                     raster.Height()};
      EncodedBytes out;
      (void)codecs::CopyJpegBlocks(data, size, cut, 300, 300, {}, out);  // as above
    }
  }
  return 0;
}
