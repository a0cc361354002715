// Reading a page file into a PageRaster and writing one back over its file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "encoded_bytes.h"
#include "file_safety.h"
#include "page_raster.h"
#include "result.h"

namespace pagetrim {

// Dots per inch as stored in the file; 0 when the file says nothing.
struct PageResolution {
  float X = 0;
  float Y = 0;
};

// What callers of SavePage tell apart, read from its Result. NoEncoder stays
// in the set, although both encoders are built in here and no save produces
// it.
enum class SaveOutcome { Written, NoEncoder, WriteFailed };

// Pages are never written below this resolution.
inline constexpr float MinimumSaveDpi = 144.0f;

// How a JPEG page file was coded: what writing the page back needs so that
// it keeps its quality and its size. Only gray and YCbCr files are described;
// pages from other files are written at DefaultJpegQuality.
struct JpegCoding {
  struct Component {
    int H = 1;  // sampling factors
    int V = 1;
    int Table = 0;  // quantization table slot
  };
  // Quantization tables by slot, in natural order; HasTable[slot] when the
  // file defines the slot.
  std::array<std::array<std::uint16_t, 64>, 4> Tables{};
  std::array<bool, 4> HasTable{};
  int ComponentCount = 0;  // 1 (gray) or 3 (YCbCr)
  std::array<Component, 3> Components{};
  bool Progressive = false;

  // The pixel size of the file's largest block of samples (its MCU): a cut
  // whose left and top fall on this grid keeps whole blocks of the file.
  int McuWidth() const;
  int McuHeight() const;
};

// The quality of JPEG pages whose file says nothing usable about its own.
inline constexpr int DefaultJpegQuality = 92;

// What writing a page back keeps of the file it was read from.
struct PageSource {
  // The embedded colour profile, carried into the file when it is written.
  QByteArray IccProfile;
  // How a JPEG file was coded; none for other files.
  std::optional<JpegCoding> Jpeg;
  // A JPEG file's bytes as read (shared, not copied): a page that is only a
  // cut of them is written by copying their blocks. Empty for other files.
  QByteArray Bytes;
  // The pixels were turned upright at read (EXIF orientation), so the file's
  // blocks are not the page's.
  bool Turned = false;
  // Every pixel is 0 or 255, as in a 1-bit gray file: so is every cut of it.
  bool Bitonal = false;
};

// What reading a page file tells besides its pixels.
struct PageFileInfo {
  // How the read ended: Ok once the page is decoded, else why it was not.
  Result Read = Result::Failed(Reason::UnreadableImage);  // until read
  bool Decoded() const { return Read.Ok(); }
  // Every pixel is 0 or 255: a 1-bit gray file.
  bool Bitonal = false;
  PageResolution Resolution;
  // The file as it was when it was read; none when it could not be opened.
  std::optional<FileIdentity> Identity;
  PageSource Source;
};

struct ReadOptions {
  // Called as rows of the raster are decoded, in order; see DecodeContext.
  // bitonal: every pixel of the page is 0 or 255.
  std::function<void(const PageRaster& raster, int first, int count, bool bitonal)> RowsDecoded;
  // Set from another thread to make the read give up early.
  const std::atomic<bool>* Cancel = nullptr;
};

// Decodes the JPEG or PNG file at its stored pixel size, transparent pixels
// blended onto white; gray pages come back as one-byte gray rasters. An EXIF
// orientation turns the page upright, and its resolution with it. A file that
// cannot be read or decoded, or that declares a picture far larger than its
// bytes could hold, gives a 0 x 0 raster, a resolution of 0, and the reason.
PageFileInfo ReadPageFile(const QString& path, PageRaster& raster, const ReadOptions& options = {});
PageResolution LoadPage(const QString& path, PageRaster& raster);

// The pixel size and channels a page file declares, from its header alone.
struct PageSize {
  int Width = 0;
  int Height = 0;
  int Channels = 0;    // of the decoded page: 1 for gray, 3 for colour
  int Components = 0;  // of the file
  bool Progressive = false;
  qint64 FileBytes = 0;
};
std::optional<PageSize> ReadPageSize(const QString& path);

// A page encoded for its file, before the file is touched; Ok when Bytes
// hold the whole file. A page never encoded holds nothing to write.
struct [[nodiscard]] EncodedPage : Result {
  EncodedPage() : Result{Reason::EmptyPage} {}
  explicit EncodedPage(const Result& result) : Result(result) {}
  EncodedBytes Bytes;
  // The source's blocks were copied: nothing was coded anew.
  bool Copied = false;
};

// Encodes raster for path: PNG when the extension is ".PNG" in any case,
// JPEG otherwise, at no less than MinimumSaveDpi, with the source's colour
// profile. A JPEG page keeps its source's quantization tables, sampling and
// progression. When cut says where the raster lies in its source's pixels
// (the raster being nothing but that cut of them) and the cut keeps whole
// blocks of the source, the blocks are copied instead of coded anew, and a
// cut of a 1-bit source is written as 1-bit without reading it through.
EncodedPage EncodePage(const QString& path, const PageRaster& raster, float resolutionX,
                       float resolutionY, const PageSource& source,
                       const std::optional<Rect>& cut = std::nullopt);
EncodedPage EncodePage(const QString& path, const PageRaster& raster, float resolutionX,
                       float resolutionY, const QByteArray& iccProfile = {});
// Reads the JPEG page file at path and writes the part cut of it by copying
// its blocks, without decoding its pixels: for a batch that knew the cut
// before it read the page again. info gets what reading the file tells, as
// ReadPageFile's does; preview, when given, the whole page at an eighth of
// its size. Fails, writing nothing, for a file that cannot be copied so (not
// a JPEG file, one stored turned, a cut off its block grid).
EncodedPage CopyPageFile(const QString& path, const Rect& cut, PageFileInfo& info,
                         PageRaster* preview = nullptr);

// Whether EncodePage would copy the source's blocks for this raster and cut
// (unless the copy then fails, as for a damaged file).
bool WritesByCopyingBlocks(const QString& path, const PageRaster& raster, const PageSource& source,
                           const std::optional<Rect>& cut);

struct SaveOptions {
  // The file as it was read: nothing is written over a file that another
  // program replaced, changed or removed since.
  std::optional<FileIdentity> ReadAs;
  // Keep the file's first version in the folder's store of originals before
  // it is replaced.
  bool KeepOriginal = false;
  QByteArray IccProfile;
};

// Whether the page was written, and why not.
struct [[nodiscard]] SaveResult : Result {
  SaveResult(const Result& result = {}, std::optional<FileIdentity> identity = std::nullopt)
      : Result(result), Identity(identity) {}
  // The file as written, to check the next save against.
  std::optional<FileIdentity> Identity;

  SaveOutcome Outcome() const {
    if (Ok())
      return SaveOutcome::Written;
    return Why == Reason::NoEncoder ? SaveOutcome::NoEncoder : SaveOutcome::WriteFailed;
  }
  friend bool operator==(const SaveResult& result, SaveOutcome outcome) {
    return result.Outcome() == outcome;
  }
};

// Writes an encoded page over path, atomically: on any failure the file stays
// exactly as it was. keepNext: the pages to be written next, whose originals
// may be kept along with this one's (see KeepOriginals).
SaveResult WritePage(const QString& path, const EncodedPage& page, const SaveOptions& options,
                     const QStringList& keepNext = {});

// EncodePage, then WritePage. An empty raster is never written.
SaveResult SavePage(const QString& path, const PageRaster& raster, float resolutionX,
                    float resolutionY, const SaveOptions& options = {});

}  // namespace pagetrim
