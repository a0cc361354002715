// EditState: the one editing-state record of the program.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <optional>

#include "file_safety.h"
#include "page_codec.h"
#include "page_list.h"
#include "page_raster.h"

namespace pagetrim {

class PageBatch;
class PagePrefetcher;

struct EditState {
  pagetrim::PageList PageList;
  int CurrentIndex = -1;
  // Empty while no page is shown; reload and overwrite then do nothing.
  QString CurrentPath;
  // Whether the views hold a page: true from the first page shown on. A
  // drop that opens nothing leaves the last page on show.
  bool PageShown = false;

  PageRaster OriginalPage;  // as loaded; the left view
  PageRaster WorkingPage;   // being trimmed; the right view and what is saved
  // The analysis images. Only the one the analysis choice uses is built when
  // a page is shown; the other stays empty.
  PageRaster GrayPage;
  PageRaster BinaryPage;
  PageRaster AnalysisPage;  // what the margin scans read; same size as WorkingPage

  float PageResolutionX = 0;
  float PageResolutionY = 0;
  // The shown page's file as it was read, or as last saved: nothing is
  // written over a file that has changed since.
  std::optional<FileIdentity> PageIdentity;
  // What writing the page back keeps of the shown page's file: its colour
  // profile, and for a JPEG file its coding and its bytes.
  pagetrim::PageSource PageSource;
  // Where WorkingPage lies in OriginalPage while it is nothing but a cut of
  // it (see CutWorkingPage); none once its pixels were changed otherwise.
  std::optional<Rect> WorkingCut;
  // How reading the shown page's file ended: a page that could not be read
  // is never written, and says why.
  Result PageRead;
  // Keep each page file's first version before it is replaced or removed.
  bool KeepOriginals = true;

  // Trim state: the colour sampled by the last trim, the column at which the
  // top and bottom trims sample (kept across pages), and the cursors where
  // the last trims stopped, kept as the trims leave them.
  ColourValue BackgroundColor = 0;
  int SampleColumn = 0;
  int ScanColumn = 0;
  int ScanRow = 0;

  // View coordinates of the last mouse press on the right view.
  QPoint MouseDownPoint{0, 0};

  // Decodes the neighbours of the shown page ahead of time; none in tests
  // and batches run from the shell.
  PagePrefetcher* Prefetch = nullptr;
  // The batch running over the page set, if one is: the one thing the window
  // asks about batches. Set by the batch itself for its lifetime.
  PageBatch* RunningBatch = nullptr;
};

}  // namespace pagetrim
