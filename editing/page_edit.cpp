// The page being trimmed, cut and replaced as one value.
#include "page_edit.h"

#include <algorithm>
#include <utility>

namespace pagetrim {

PageEdit::PageEdit(PageRaster page, PageRaster analysis, pagetrim::PageSource source,
                   PageResolution resolution)
    : working_(std::move(page)),
      analysis_(std::move(analysis)),
      source_(std::move(source)),
      resolution_(resolution) {
  if (!working_.IsEmpty())
    cut_ = Rect{0, 0, working_.Width(), working_.Height()};
}

void PageEdit::Cut(Rect keep) {
  const int width = working_.Width();
  const int height = working_.Height();
  keep.Left = std::clamp(keep.Left, 0, width);
  keep.Right = std::clamp(keep.Right, keep.Left, width);
  keep.Top = std::clamp(keep.Top, 0, height);
  keep.Bottom = std::clamp(keep.Bottom, keep.Top, height);
  for (PageRaster* raster : {&analysis_, &working_}) {
    // An edit whose trims are done may have no analysis image: growing an
    // empty raster would make a white one.
    if (raster->IsEmpty())
      continue;
    raster->SetWidth(keep.Right);
    raster->SetHeight(keep.Bottom);
    raster->CropLeft(keep.Left);
    raster->CropTop(keep.Top);
  }
  if (!cut_)
    return;
  if (keep.Width() <= 0 || keep.Height() <= 0) {
    cut_.reset();
    return;
  }
  const Rect was = *cut_;
  cut_ =
      Rect{was.Left + keep.Left, was.Top + keep.Top, was.Left + keep.Right, was.Top + keep.Bottom};
}

void PageEdit::ReplacePixels(PageRaster pixels) {
  cut_.reset();
  working_ = std::move(pixels);
  analysis_.AssignFrom(working_);
}

void PageEdit::ReplacePixels(PageRaster pixels, AnalysisChoice choice) {
  cut_.reset();
  working_ = std::move(pixels);
  if (choice.Gray) {
    MakeGrayImage(working_, analysis_);
  } else {
    MakeBinaryImage(working_, analysis_, choice.Threshold);
  }
}

EncodedPage PageEdit::Encode(const QString& path) const {
  return EncodePage(path, working_, resolution_.X, resolution_.Y, source_, cut_);
}

bool PageEdit::CopiesBlocks(const QString& path) const {
  return WritesByCopyingBlocks(path, working_, source_, cut_);
}

}  // namespace pagetrim
