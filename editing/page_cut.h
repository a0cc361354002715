// Cutting the working page: the one way margins come off it, so that the
// editing state knows where the working page lies in the page as read.
#pragma once

#include "edit_state.h"

namespace pagetrim {

// Cuts WorkingPage and AnalysisPage alike down to keep, given in their own
// coordinates (right and bottom exclusive) and clipped to them. While nothing
// but cuts has changed the working page, WorkingCut follows it, so that a
// JPEG page can be written by copying its file's blocks.
void CutWorkingPage(EditState& state, Rect keep);

// The working page is the whole page as read (or nothing, for a page that
// could not be read).
void StartWorkingCut(EditState& state);

// The working page's pixels were changed other than by cutting: from now on
// it can only be written by coding it anew.
void ForgetWorkingCut(EditState& state);

}  // namespace pagetrim
