// The page commands: open a page set, show, move, reload, overwrite, delete.
#pragma once

#include <QString>

#include "edit_state.h"
#include "page_window.h"

namespace pagetrim {

// Base window title: the program's name and version.
QString BaseTitle();

// Opens the folder of path as the page set and shows path. True when a page
// was shown.
bool OpenPageSet(EditState& state, PageWindow& window, const QString& path);
// Loads PageList[CurrentIndex] into every raster and both views.
void ShowPage(EditState& state, PageWindow& window);
void RefreshResultView(EditState& state, PageWindow& window);
void NextPage(EditState& state, PageWindow& window);
void PreviousPage(EditState& state, PageWindow& window);
void ReloadPage(EditState& state, PageWindow& window);
void OverwritePage(EditState& state, PageWindow& window);
void DeletePage(EditState& state, PageWindow& window);

}  // namespace pagetrim
