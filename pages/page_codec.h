// Reading a page file into a PageRaster and writing one back over its file.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

#include "encoded_bytes.h"
#include "file_safety.h"
#include "page_raster.h"

namespace pagetrim {

// Dots per inch as stored in the file; 0 when the file says nothing.
struct PageResolution {
  float X = 0;
  float Y = 0;
};

// NoEncoder stays in the set callers handle, although both encoders are
// built in here and no save produces it.
enum class SaveOutcome { Written, NoEncoder, WriteFailed };

// Pages are never written below this resolution.
inline constexpr float MinimumSaveDpi = 144.0f;

inline const QString UnreadablePageReason = QStringLiteral("読み込めない画像です");

// What reading a page file tells besides its pixels.
struct PageFileInfo {
  bool Decoded = false;
  // Every pixel is 0 or 255: a 1-bit gray file.
  bool Bitonal = false;
  PageResolution Resolution;
  // The file as it was when it was read; none when it could not be opened.
  std::optional<FileIdentity> Identity;
  // The embedded colour profile, carried into the file when it is written.
  QByteArray IccProfile;
};

struct ReadOptions {
  // Called as rows of the raster are decoded, in order; see DecodeContext.
  // bitonal: every pixel of the page is 0 or 255.
  std::function<void(const PageRaster& raster, int first, int count, bool bitonal)> RowsDecoded;
  // Set from another thread to make the read give up early.
  const std::atomic<bool>* Cancel = nullptr;
};

// Decodes the JPEG or PNG file at its stored pixel size, transparent pixels
// blended onto white; gray pages come back as one-byte gray rasters. A file
// that cannot be decoded, or that declares a picture far larger than its
// bytes could hold, gives a 0 x 0 raster and a resolution of 0.
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

// A page encoded for its file, before the file is touched.
struct EncodedPage {
  EncodedBytes Bytes;
  bool Ok = false;
  QString FailureReason;
};

// Encodes raster for path: PNG when the extension is ".PNG" in any case,
// JPEG otherwise, at no less than MinimumSaveDpi, with the colour profile.
// bitonal: every pixel is known to be 0 or 255 (see codecs::EncodePng).
EncodedPage EncodePage(const QString& path, const PageRaster& raster, float resolutionX,
                       float resolutionY, const QByteArray& iccProfile = {}, bool bitonal = false);

struct SaveOptions {
  // The file as it was read: nothing is written over a file that another
  // program replaced, changed or removed since.
  std::optional<FileIdentity> ReadAs;
  // Keep the file's first version in the folder's store of originals before
  // it is replaced.
  bool KeepOriginal = false;
  QByteArray IccProfile;
};

struct SaveResult {
  SaveOutcome Outcome = SaveOutcome::WriteFailed;
  // Why the save failed, in the user's words; empty when written.
  QString Reason;
  // The file as written, to check the next save against.
  std::optional<FileIdentity> Identity;
  friend bool operator==(const SaveResult& result, SaveOutcome outcome) {
    return result.Outcome == outcome;
  }
};

// Writes an encoded page over path, atomically: on any failure the file stays
// exactly as it was.
SaveResult WritePage(const QString& path, const EncodedPage& page, const SaveOptions& options);

// EncodePage, then WritePage. An empty raster is never written.
SaveResult SavePage(const QString& path, const PageRaster& raster, float resolutionX,
                    float resolutionY, const SaveOptions& options = {});

}  // namespace pagetrim
