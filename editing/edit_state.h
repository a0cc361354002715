// EditState: the one editing-state record of the program.
#pragma once

#include <QPoint>
#include <QString>

#include "page_list.h"
#include "page_raster.h"

namespace pagetrim {

struct EditState {
  pagetrim::PageList PageList;
  int CurrentIndex = -1;
  // Empty while no page is shown; reload and overwrite then do nothing.
  QString CurrentPath;

  PageRaster OriginalPage;  // as loaded; the left view
  PageRaster WorkingPage;   // being trimmed; the right view and what is saved
  PageRaster GrayPage;
  PageRaster BinaryPage;
  PageRaster AnalysisPage;  // what the margin scans read; same size as WorkingPage

  float PageResolutionX = 0;
  float PageResolutionY = 0;

  // Trim state: the colour sampled by the last trim, the column at which the
  // top and bottom trims sample (kept across pages), and the trim cursors.
  ColourValue BackgroundColor = 0;
  int SampleColumn = 0;
  int ScanColumn = 0;
  int ScanRow = 0;

  // View coordinates of the last mouse press on the right view.
  QPoint MouseDownPoint{0, 0};
};

}  // namespace pagetrim
