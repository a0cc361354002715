// PageWindow: what the editing commands need of the main window. Tests put a
// recording window in its place.
#pragma once

#include <QString>

#include "page_raster.h"

namespace pagetrim {

class PageWindow {
 public:
  virtual ~PageWindow() = default;

  // The threshold box's text, exactly as typed.
  virtual QString ThresholdText() const = 0;
  // Whether the gray analysis image is chosen over the black-and-white one.
  virtual bool GrayChosen() const = 0;
  // Each view drops its picture and keeps a copy of the raster's pixels.
  virtual void ShowLeft(const PageRaster& raster) = 0;
  virtual void ShowRight(const PageRaster& raster) = 0;
  virtual void SetTitle(const QString& text) = 0;
  // A plain modal message with one OK button.
  virtual void ShowNotice(const QString& text) = 0;
  // The information box shown when the page file at path could not be saved.
  virtual void ReportSaveFailure(const QString& path) = 0;
  // Runs every pending window event, input included.
  virtual void PumpEvents() = 0;

  // While a batch runs: the commands that would change the page set or its
  // rasters are disabled, and the window shows how far the batch is.
  virtual void LockCommands() = 0;
  virtual void UnlockCommands() = 0;
  virtual void ShowBatchProgress(int pagesDone, int pageCount) = 0;
  // Whether the user asked the running batch to stop.
  virtual bool BatchCancelRequested() const = 0;
};

}  // namespace pagetrim
