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
// Puts a page passing through a batch on show: the state names it, as for
// ShowLoadedPage, but holds none of its pixels (the batch has written or is
// writing them), and the views draw the reduced pictures.
void ShowPassingPage(EditState& state, PageDisplay& display, const LoadedPage& page,
                     const ReducedPicture& left, const ReducedPicture& right);
void RefreshResultView(EditState& state, PageDisplay& display);
void NextPage(EditState& state, PageWindow& window);
void PreviousPage(EditState& state, PageWindow& window);
void ReloadPage(EditState& state, PageWindow& window);
void OverwritePage(EditState& state, PageWindow& window);
void DeletePage(EditState& state, PageWindow& window);

// Writes an encoded WorkingPage over the shown page's file: refused when the
// page could not be read or its file changed since; keeps the original first
// when keeping is on.
SaveResult WriteShownPage(EditState& state, const EncodedPage& page);

// What writing the shown page needs to know of it, taken on the window's
// thread, so that the write itself can run on another.
struct PageToWrite {
  QString Path;
  // How reading the page ended: a page not read is not written.
  Result Read;
  std::optional<FileIdentity> ReadAs;
  bool KeepOriginal = false;
  // The pages a batch writes next, whose originals are kept with this one's.
  QStringList KeepNext;
};
PageToWrite ShownPageToWrite(const EditState& state);
// WriteShownPage's write, on any thread.
SaveResult WritePageFile(const PageToWrite& page, const EncodedPage& encoded);
// After a write of the shown page: the next save checks against that file.
void NoteShownPageWritten(EditState& state, const SaveResult& result);

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
