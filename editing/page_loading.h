// Reading a page for showing: its pixels and the analysis image the margin
// scans read, made in one pass while the decoded rows are still cached.
#pragma once

#include <QSize>
#include <QString>
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>

#include "content_box.h"
#include "margin_trim.h"
#include "page_codec.h"
#include "page_raster.h"
#include "page_window.h"
#include "reduced_picture.h"

namespace pagetrim {

// The choice in force now: the threshold box's value (128 when it holds no
// integer) and the analysis radio buttons.
AnalysisChoice ChoiceOf(const AnalysisChoices& choices);

// A page as read from its file, ready to be shown.
struct LoadedPage {
  QString Path;
  PageRaster Page;      // 0 x 0 when the file could not be decoded
  PageRaster Analysis;  // the gray or black-and-white image of Page, by Choice
  AnalysisChoice Choice;
  PageFileInfo File;
  // Page made small for views of reducedFor's size; empty unless asked for.
  ReducedPicture Reduced;
  // The page reduced for finding its content, when it was read for that.
  std::shared_ptr<const PageReduction> Reduction;
  // What the left-and-right trims keep of the analysis image, when the page
  // was read for that.
  std::optional<Rect> SideTrimsKept;
};

// What reading a page makes of its rows as they are decoded, while they are
// still cached, besides its pixels.
struct ReadFor {
  // A reduced picture for views of this size; none when empty.
  QSize Views;
  // The analysis image. Without it, only a page that is its own analysis
  // image gets one: the caller analyses what it needs.
  bool Analysis = true;
  // The reduction that finding the page's content reads.
  bool Content = false;
  // What the left-and-right trims keep.
  bool SideTrims = false;
};

// Reads the page file and makes what is asked of it. Safe on any thread;
// cancel (set from another thread) makes it give up early with an
// unreadable page.
LoadedPage ReadPage(const QString& path, AnalysisChoice choice,
                    const std::atomic<bool>* cancel = nullptr, const ReadFor& wants = {});

// The analysis image of a page for a choice: the page itself where it is its
// own (a gray page seen in gray, a 1-bit page at any threshold from 1 to 255).
PageRaster AnalysisImageOf(const PageRaster& page, bool bitonal, AnalysisChoice choice);
// Rebuilds the analysis image for another choice, from the page's pixels.
void Reanalyse(LoadedPage& page, AnalysisChoice choice);

// How much memory pages read ahead of the one on show may take together.
inline constexpr std::size_t DefaultWorkAheadBytes = std::size_t(1) << 30;

// What reading the page file will take in memory while it waits to be shown:
// its file, its pixels, its analysis image, the decoder's buffers and the
// encoded file, from its header alone.
std::size_t EstimatePageBytes(const QString& path);
// What a page already read holds.
std::size_t PageBytes(const LoadedPage& page);

}  // namespace pagetrim
