// The batches: trim every page of the folder and write it back.
#pragma once

#include "edit_state.h"
#include "page_window.h"

namespace pagetrim {

// For every page in turn: show it fresh from its file, trim its left and right
// margins (sampling at row 10), normalise it when asked, and write it over its
// file. Window events run between pages. At the end the page that was shown
// when the batch started is shown again, fresh from its file. A cancel request
// stops the batch after the page in hand has been saved.
void TrimAllLeftRight(EditState& state, PageWindow& window, bool withNormalise);

// The same with the top and bottom margins, sampled in SampleColumn.
void TrimAllTopBottom(EditState& state, PageWindow& window);

}  // namespace pagetrim
