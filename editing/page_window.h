// PageWindow: what the editing commands need of the main window, in three
// roles. Tests put a recording window in its place; a batch run from the
// shell has a window that only reports.
#pragma once

#include <QSize>
#include <QString>
#include <optional>
#include <vector>

#include "book_layout.h"
#include "original_store.h"
#include "page_raster.h"
#include "page_skew.h"
#include "reduced_picture.h"
#include "result.h"

namespace pagetrim {

// The commands on the page set's files whose failure a notice reports.
enum class FileCommand { DeletePage, RestorePage, DiscardOriginals };

// What the commands show.
class PageDisplay {
 public:
  virtual ~PageDisplay() = default;
  // Each view drops its picture and keeps a copy of the raster's pixels.
  virtual void ShowLeft(const PageRaster& raster) = 0;
  virtual void ShowRight(const PageRaster& raster) = 0;
  // How reading the shown page's file ended: when it could not be read, the
  // right view says so, and why, instead of showing nothing.
  virtual void MarkUnreadable(const Result& why) = 0;
  virtual void SetTitle(const QString& text) = 0;
  // A plain modal message with one OK button.
  virtual void ShowNotice(const QString& text) = 0;
  // The box of a page file that could not be saved, and why. When canStop
  // (in a batch) the box also offers to stop; true when chosen.
  virtual bool ReportSaveFailure(const QString& path, const Result& why, bool canStop) = 0;
  // The notice of a command that failed, and why.
  virtual void ReportFailure(FileCommand command, const Result& why) = 0;
  // Once every page that could be was restored: the pages left as they
  // were, and why, in page order; only when there are any.
  virtual void ReportPagesNotRestored(const std::vector<PageNotRestored>& pages) = 0;

  // The size a view draws pages in, so that a batch can make each page's
  // pictures for the views while it reads the page; empty where pages are
  // not drawn.
  virtual QSize ViewSize() const { return {}; }
  // A page passing through a batch, drawn from reduced pictures of the page
  // as loaded (left) and as trimmed (right): the views keep only those.
  virtual void ShowReduced(const ReducedPicture& /*left*/, const ReducedPicture& /*right*/) {}
};

// What the user chose for finding ink: read each time a page is shown.
class AnalysisChoices {
 public:
  virtual ~AnalysisChoices() = default;
  // The threshold box's text, exactly as typed.
  virtual QString ThresholdText() const = 0;
  // Whether the gray analysis image is chosen over the black-and-white one.
  virtual bool GrayChosen() const = 0;
};

// A page of a batch that deserves a look. Either its trims kept less than
// half of its width or of its height: usually a page whose ink the analysis
// image did not show (text lighter than the threshold), or whose margin was
// not blank where the background was sampled. Or a batch that gives a book
// one size per side gave it a size of its own (Own says why): a cover, a
// plate, a fold-out. Its file is written like any other.
struct PageToCheck {
  QString Path;
  QSize Before;  // the page as read
  QSize After;   // what its cuts kept, before any padding
  OwnSizeReason Own = OwnSizeReason::None;
  // A batch that turns every page straight left it as it was, unsure of its
  // turn, for this reason.
  SkewDoubt Unsure = SkewDoubt::None;
};

// What a batch did, or in a dry run would do, with one page.
struct PageOutcome {
  QString Path;
  // The page as read, upright; 0 x 0 when it could not be read.
  QSize Size;
  // What its cuts keep, in the pixels of the page as read (right and bottom
  // exclusive); beyond the page where paper is added around it.
  Rect Cut;
  // Whether it keeps a size of its own rather than its side's, and why.
  OwnSizeReason Own = OwnSizeReason::None;
  // Written by copying its file's blocks, nothing coded anew.
  bool Lossless = false;
  // For batches that turn pages straight: whether they looked, the page's
  // turn (none when unsure, and why), whether it was turned, and its size
  // then, which Cut is in.
  bool LookedForTurn = false;
  std::optional<double> Skew;
  SkewDoubt Doubt = SkewDoubt::None;
  bool Turned = false;
  QSize TurnedSize;
};

// What a batch reports as it goes.
class BatchReport {
 public:
  virtual ~BatchReport() = default;
  // While a batch runs, the commands that would change the page set or its
  // rasters are locked; the window derives which from the running batch.
  virtual void LockCommands() = 0;
  virtual void UnlockCommands() = 0;
  virtual void ShowBatchProgress(int pagesDone, int pageCount) = 0;
  // A batch that looks at the whole book first goes through every page
  // before it cuts any.
  virtual void ShowSurveyProgress(int /*pagesDone*/, int /*pageCount*/) {}
  // Each page once the batch is done with it (written, or in a dry run
  // planned), in page order.
  virtual void ReportPageDone(const PageOutcome& /*page*/) {}
  // Once the batch has ended and the start page is shown again, the pages
  // written that need a look, in page order; only when there are any.
  virtual void ReportPagesToCheck(const std::vector<PageToCheck>& pages) = 0;
  // Runs every pending window event, input included: the window repaints
  // between two pages, and Esc can ask the batch to stop.
  virtual void PumpEvents() = 0;
};

class PageWindow : public PageDisplay, public AnalysisChoices, public BatchReport {};

// A display that shows nothing, for trims made where no one looks.
class NoDisplay : public PageDisplay {
 public:
  void ShowLeft(const PageRaster&) override {}
  void ShowRight(const PageRaster&) override {}
  void MarkUnreadable(const Result&) override {}
  void SetTitle(const QString&) override {}
  void ShowNotice(const QString&) override {}
  bool ReportSaveFailure(const QString&, const Result&, bool) override { return false; }
  void ReportFailure(FileCommand, const Result&) override {}
  void ReportPagesNotRestored(const std::vector<PageNotRestored>&) override {}
};

}  // namespace pagetrim
