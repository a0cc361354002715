// PageEdit: the page being trimmed, as one value that only cuts and
// replacements change, so that it always knows where it lies in the page as
// read and how its file wants it written.
#pragma once

#include <QString>
#include <optional>

#include "margin_trim.h"
#include "page_codec.h"
#include "page_raster.h"

namespace pagetrim {

class PageEdit {
 public:
  // Nothing to edit.
  PageEdit() = default;
  // Starts from a page as read: the working page is all of it. analysis is
  // the image the margin trims read, of the page's size (or empty where no
  // trim reads one); source and resolution are what writing it back keeps.
  PageEdit(PageRaster page, PageRaster analysis, PageSource source = {},
           PageResolution resolution = {});

  // The page being trimmed: the right view, and what is saved.
  const PageRaster& WorkingPage() const { return working_; }
  // What the margin scans read; always of WorkingPage's size once a trim
  // has read it.
  const PageRaster& AnalysisPage() const { return analysis_; }
  // Where WorkingPage lies in the page as read while it is nothing but a cut
  // of it; none once its pixels were changed otherwise, or when it is empty.
  const std::optional<Rect>& WorkingCut() const { return cut_; }
  // What writing the page back keeps of its file: its colour profile, and for
  // a JPEG file its coding and its bytes.
  const pagetrim::PageSource& PageSource() const { return source_; }
  float PageResolutionX() const { return resolution_.X; }
  float PageResolutionY() const { return resolution_.Y; }

  // Cuts WorkingPage and AnalysisPage alike down to keep, given in their own
  // coordinates (right and bottom exclusive) and clipped to them. The cut is
  // the one way margins come off the page, and WorkingCut follows it, so
  // that a JPEG page can be written by copying its file's blocks.
  void Cut(Rect keep);
  // The working page's pixels become pixels made from it (padded onto a
  // canvas, turned): from now on it can only be written by coding it anew.
  // The new pixels are their own analysis image, so that later trims
  // compare their colours; or, given a choice, it is made from them anew.
  void ReplacePixels(PageRaster pixels);
  void ReplacePixels(PageRaster pixels, AnalysisChoice choice);

  // The working page encoded for the file at path: JPEG or PNG as its name
  // says, with its source's coding, and by copying the source's blocks where
  // the working page is a cut that keeps whole blocks.
  EncodedPage Encode(const QString& path) const;
  // Whether Encode would copy the source's blocks.
  bool CopiesBlocks(const QString& path) const;

 private:
  PageRaster working_;
  PageRaster analysis_;
  std::optional<Rect> cut_;
  pagetrim::PageSource source_;
  PageResolution resolution_;
};

}  // namespace pagetrim
