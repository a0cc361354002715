// One page's way through a batch, top to bottom, written as values: read,
// edit, cut (and pad), encode, and keep only what the views need. It runs on
// any thread and builds neither an editing state nor a display.
#pragma once

#include <QSize>
#include <QString>
#include <atomic>

#include "page_codec.h"
#include "page_edit.h"
#include "page_loading.h"
#include "reduced_picture.h"

namespace pagetrim {

// 全頁左右削除, 同左+整形, 全頁上下余白削除, and 全頁自動削除, which cuts each page
// to its content.
enum class BatchKind { LeftRight, LeftRightNormalise, TopBottom, Auto };

// What a batch does to each page it reads.
struct BatchJob {
  BatchKind Kind = BatchKind::LeftRight;
  // The analysis image the margin trims read; finding the content reads the
  // page itself.
  AnalysisChoice Choice;
  // The column the top and bottom trims sample the background in.
  int SampleColumn = 0;
  // The views a page passing through is drawn in; empty where none is.
  QSize ViewSize;
};

// A page's edit once the batch's cuts (and padding) are done.
struct BatchCut {
  PageEdit Edit;
  // What the cuts kept, before any padding.
  QSize Kept;
};

// The cuts of the job's kind on a page as read, as the menu's commands make
// them: the margin trims (left and right sampling at row 10, or top and
// bottom in the job's sample column) or the content cut, then normalising
// for 同左+整形. The margin trims read only the analysis image of the page's
// two edge bands where that is enough.
BatchCut CutForBatch(const LoadedPage& page, const BatchJob& job);

// A page that has been through the batch: what showing it and writing it
// need, and no page-sized buffer but the encoded file.
struct BatchPage {
  // Its file as read; the file's own bytes are let go once encoded.
  PageFileInfo File;
  QSize Before;  // the page as read
  QSize Kept;    // what its cuts kept, before any padding
  // Written even when nothing was cut; a page that cannot be read is not.
  EncodedPage Encoded;
  // The page as loaded and as cut, reduced for the views.
  ReducedPicture Left;
  ReducedPicture Right;
};

// Reads the page at path and takes it through the job. stop, set from
// another thread, makes the read give up early.
BatchPage RunBatchPage(const QString& path, const BatchJob& job,
                       const std::atomic<bool>* stop = nullptr);

}  // namespace pagetrim
