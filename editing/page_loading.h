// Reading a page for showing: its pixels and the analysis image the margin
// scans read, made in one pass while the decoded rows are still cached.
#pragma once

#include <QSize>
#include <QString>
#include <atomic>
#include <cstddef>
#include <memory>

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
};

// Reads and analyses the page file. Safe on any thread; cancel (set from
// another thread) makes it give up early with an unreadable page. With a
// view size, a reduced picture for such views is sampled from the rows as
// they are decoded. Without analyse, only a page that is its own analysis
// image gets one: the caller analyses what it needs. With forContent, the
// page is also reduced for finding its content as its rows are decoded.
LoadedPage ReadPage(const QString& path, AnalysisChoice choice,
                    const std::atomic<bool>* cancel = nullptr, QSize reducedFor = {},
                    bool analyse = true, bool forContent = false);

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
