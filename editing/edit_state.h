// EditState: the one editing-state record of the program.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <optional>

#include "file_safety.h"
#include "page_codec.h"
#include "page_edit.h"
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
  // The analysis images of OriginalPage. Only the one the analysis choice
  // uses is built when a page is shown; the other stays empty.
  PageRaster GrayPage;
  PageRaster BinaryPage;
  // The page being trimmed: WorkingPage (the right view, and what is
  // saved), AnalysisPage (what the margin scans read), WorkingCut, and the
  // page's source and resolution.
  PageEdit Edit;
  // The analysis choice the shown page was read with: what its analysis
  // image is made with again when its pixels change.
  AnalysisChoice ShownChoice;

  // The shown page's file as it was read, or as last saved: nothing is
  // written over a file that has changed since.
  std::optional<FileIdentity> PageIdentity;
  // How reading the shown page's file ended: a page that could not be read
  // is never written, and says why.
  Result PageRead;
  // Keep each page file's first version before it is replaced or removed.
  bool KeepOriginals = true;
  // 全頁自動削除 gives the pages of each side of the book one size, and its
  // text one place: it finds every page's content before it cuts any. Off,
  // it cuts each page to its own content, as 自動削除 does.
  bool OneSizePerSide = true;
  // 全頁自動削除 turns each page straight before finding its content.
  bool TurnPagesStraight = true;

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
