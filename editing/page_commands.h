// The page commands: open a page set, show, move, reload, overwrite, delete,
// and restore kept originals.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "edit_state.h"
#include "page_loading.h"
#include "page_window.h"

namespace pagetrim {

// Base window title: the program's name and version.
QString BaseTitle();

// Opens the folder of path as the page set and shows path. True when a page
// was shown.
bool OpenPageSet(EditState& state, PageWindow& window, const QString& path);
// OpenPageSet without showing the page, for batches where nothing is shown:
// true when path is one of the folder's pages, which CurrentIndex then names.
bool OpenPageSetUnshown(EditState& state, PageDisplay& display, const QString& path);
// Loads PageList[CurrentIndex] into every raster and both views, with the
// threshold and analysis choice of the moment.
void ShowPage(EditState& state, PageWindow& window);
// Puts a page already read into the rasters and both views; CurrentIndex and
// CurrentPath already name it.
void ShowLoadedPage(EditState& state, PageDisplay& display, const LoadedPage& page);
// Everything showing a page sets but its pixels: the file it was read as,
// whether it could be read, and the title.
void NamePageOnShow(EditState& state, PageDisplay& display, const PageFileInfo& file);
void RefreshResultView(EditState& state, PageDisplay& display);
void NextPage(EditState& state, PageWindow& window);
void PreviousPage(EditState& state, PageWindow& window);
void ReloadPage(EditState& state, PageWindow& window);
void OverwritePage(EditState& state, PageWindow& window);
void DeletePage(EditState& state, PageWindow& window);

// Writes an encoded page over a page file whose reading ended as read, the
// file being then readAs (none: it could not be opened): refused, for the
// reason it could not be read, when it could not, or when its file changed
// since; keeps the original first when keepOriginal. keepNext: the pages a
// batch writes next, whose originals are kept with this one's. On any thread.
SaveResult WritePageOver(const QString& path, const Result& read,
                         const std::optional<FileIdentity>& readAs, bool keepOriginal,
                         const EncodedPage& encoded, const QStringList& keepNext = {});

// The folder of the open page set; empty when none is open.
QString PageSetFolder(const EditState& state);
// Whether the shown page's file has a kept original to go back to.
bool ShownPageHasOriginal(const EditState& state);
// Replaces the shown page's file by its kept original and shows it again;
// refused with a notice when another program replaced the file since.
void RestoreShownPage(EditState& state, PageWindow& window);
// Restores every kept original of the folder, deleted pages included, which
// return to the page list; then shows the page that was shown, or the first.
// Pages that cannot be restored (another program's file in their place) are
// left as they are and reported afterwards, all at once.
void RestoreAllPages(EditState& state, PageWindow& window);
// Deletes the folder's kept originals.
void DiscardOriginals(EditState& state, PageWindow& window);

// The window's notices of a command that failed and of the pages that
// restoring every page left, in the words of ReasonText.
QString FailureNotice(FileCommand command, const Result& why);
QString NotRestoredNotice(const std::vector<PageNotRestored>& pages);

}  // namespace pagetrim
