// One page's way through a batch, top to bottom, written as values: read,
// edit, cut (and pad), encode, and keep only what the views need. It runs on
// any thread and builds neither an editing state nor a display.
#pragma once

#include <QSize>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "book_layout.h"
#include "page_codec.h"
#include "page_edit.h"
#include "page_loading.h"
#include "page_skew.h"
#include "reduced_picture.h"

namespace pagetrim {

// 全頁左右削除, 同左+整形, 全頁上下余白削除, 全頁自動削除, which cuts each page to
// its content, and 全頁傾き補正, which turns each page straight.
enum class BatchKind { LeftRight, LeftRightNormalise, TopBottom, Auto, Deskew };

// What a batch that turns pages straight found of a page's turn.
struct PageTurning {
  // Whether the batch looked at the page's turn at all.
  bool Looked = false;
  SkewFinding Skew;
  // Whether the page was turned, and its size then: the pixels its cut is in.
  bool Turned = false;
  QSize TurnedSize;
};

// What the first pass of a batch that looks at the whole book before it cuts
// found of a page.
struct PageSurvey {
  // In the pixels of the page once turned straight, where it is to be; the
  // content of a page to be turned is found closely from the page as read,
  // and exactly once it is turned, in the second pass.
  PageContent Content;
  PageTurning Turning;
  // The file as it was read then: a page changed since is looked at again.
  std::optional<FileIdentity> Identity;
};

// What the first pass found of the whole book, for the second.
struct BookPlan {
  BookLayout Layout;
  std::vector<PageSurvey> Pages;
};

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
  // For 全頁自動削除 with one size per side: the book as the first pass found
  // it; none where each page is cut to its own content.
  std::shared_ptr<const BookPlan> Book;
  // 全頁自動削除 turns each page straight before finding its content.
  bool TurnPages = false;
  // Plans each page without encoding it.
  bool DryRun = false;
};

// A page's edit once the batch's cuts (and padding) are done.
struct BatchCut {
  PageEdit Edit;
  // What the cuts kept, before any padding.
  QSize Kept;
  // Where, in the page as read, or as turned; beyond it where paper was
  // added around it.
  Rect Cut;
  OwnSizeReason Own = OwnSizeReason::EachPage;
  PageTurning Turning;
};

// The first pass: what the page at path holds, found as 自動削除 finds it,
// and with turnPages how far it is turned and what it holds once straight.
PageSurvey SurveyBatchPage(const QString& path, bool turnPages,
                           const std::atomic<bool>* stop = nullptr);

// The cuts of the job's kind on a page as read, as the menu's commands make
// them: the margin trims (left and right sampling at row 10, or top and
// bottom in the job's sample column) or the content cut, then normalising
// for 同左+整形. The margin trims read only the analysis image of the page's
// two edge bands where that is enough. With the job's book, the page at
// index gets its side's size, placed in the book.
BatchCut CutForBatch(const LoadedPage& page, const BatchJob& job, int index = 0);

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
  // What the batch did with it; in a dry run, what it would do.
  Rect Cut;
  OwnSizeReason Own = OwnSizeReason::EachPage;
  bool Lossless = false;
  PageTurning Turning;
};

// Reads the page at path, the index-th of the batch, and takes it through
// the job. stop, set from another thread, makes the read give up early.
BatchPage RunBatchPage(const QString& path, const BatchJob& job, int index = 0,
                       const std::atomic<bool>* stop = nullptr);

}  // namespace pagetrim
