// Cutting the working page and keeping track of where it lies.
#include "page_cut.h"

#include <algorithm>

namespace pagetrim {

void CutWorkingPage(EditState& state, Rect keep) {
  const int width = state.WorkingPage.Width();
  const int height = state.WorkingPage.Height();
  keep.Left = std::clamp(keep.Left, 0, width);
  keep.Right = std::clamp(keep.Right, keep.Left, width);
  keep.Top = std::clamp(keep.Top, 0, height);
  keep.Bottom = std::clamp(keep.Bottom, keep.Top, height);
  for (PageRaster* raster : {&state.AnalysisPage, &state.WorkingPage}) {
    raster->SetWidth(keep.Right);
    raster->SetHeight(keep.Bottom);
    raster->CropLeft(keep.Left);
    raster->CropTop(keep.Top);
  }
  if (!state.WorkingCut)
    return;
  if (keep.Width() <= 0 || keep.Height() <= 0) {
    state.WorkingCut.reset();
    return;
  }
  const Rect was = *state.WorkingCut;
  state.WorkingCut =
      Rect{was.Left + keep.Left, was.Top + keep.Top, was.Left + keep.Right, was.Top + keep.Bottom};
}

void StartWorkingCut(EditState& state) {
  if (state.WorkingPage.IsEmpty()) {
    state.WorkingCut.reset();
  } else {
    state.WorkingCut = Rect{0, 0, state.WorkingPage.Width(), state.WorkingPage.Height()};
  }
}

void ForgetWorkingCut(EditState& state) {
  state.WorkingCut.reset();
}

}  // namespace pagetrim
