// Kept originals: before pagetrim first replaces or removes a page file, it
// keeps the file as it was in a hidden folder beside the pages, so that every
// change can be undone.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <vector>

#include "file_safety.h"

namespace pagetrim {

// Hidden, so that file managers and globs do not show it; a folder, so that
// the page list never includes it; beside the pages, so that keeping a page
// is a hard link on the same file system.
inline const QString OriginalStoreName = QStringLiteral(".pagetrim-originals");

// The store of the folder (which ends with "/").
QString OriginalStoreOf(const QString& folder);
// Where a page's original is kept: the store of its folder, under its name,
// or under its target's name when it is a symbolic link to another page of
// the same folder, so that both names share the one file's original.
QString KeptOriginalOf(const QString& pagePath);
bool HasKeptOriginal(const QString& pagePath);

// Keeps the page file's current version unless it is kept already: the first
// version wins over pagetrim's own later writes, which MarkWrittenPage tells
// apart. A file that another program put in the page's place after its
// original was kept is kept too; the older original is set aside in the store
// rather than lost. A link's target is kept, and a copy takes the place of a
// hard link on file systems without them, written and synced before anything
// else happens. A page file that does not exist has nothing to keep.
Result KeepOriginal(const QString& pagePath);

// KeepOriginal for a page about to be replaced and, when its own original
// is to be kept now, for the pages that will be replaced after it (a batch's
// next pages) as well, with one sync of the store for all of them instead of
// one each: each original is still durable before its page is replaced. Only
// the first page's result counts; a later page whose original could not be
// kept is kept again when its turn comes.
Result KeepOriginals(const QString& pagePath, const QStringList& nextPages);

// Marks the file pagetrim is about to put in a page's place (fd, written, of
// these bytes) as its own, durably, before the rename: a later save of that
// file keeps nothing more, whenever the process or the power stopped. An
// extended attribute on the file itself where the file system has them, a
// synced note in the store where not. The note is written in either case,
// so that a copy of the book without its attributes still knows the pages
// pagetrim wrote by their bytes.
Result MarkWrittenPage(const QString& pagePath, int fd, const FileIdentity& written,
                       QByteArrayView bytes);

// Removes a page file so that it can be restored: moved into the store, or
// just removed when its original is kept already.
Result RemovePageKeepingOriginal(const QString& pagePath);

// Replaces the page file by its kept original, which then leaves the store.
// A page that was removed comes back. Refused, changing nothing, when there
// is no kept original, or another program put its own file in the page's
// place since (ChangedElsewhere).
Result RestoreOriginal(const QString& pagePath);

struct KeptOriginals {
  QStringList Names;  // page file names that can be restored, in no particular order
  qint64 Bytes = 0;   // of everything the store holds, older originals too
  int Count() const { return int(Names.size()); }
};
KeptOriginals ListKeptOriginals(const QString& folder);
// Whether the folder's store holds an original to restore; cheap whatever
// it holds.
bool HasKeptOriginals(const QString& folder);
// Whether the folder has a store at all, originals set aside included.
bool HasOriginalStore(const QString& folder);

struct PageNotRestored {
  QString Name;
  pagetrim::Result Result;
};
// Restores every kept original of the folder that can be; returns the pages
// left as they were and why, in natural order.
std::vector<PageNotRestored> RestoreAllOriginals(const QString& folder);

// Removes the temporary files that pagetrim left in the folder and in its
// store when it stopped before renaming them (see RemoveLeftoverTemporariesIn):
// never another program's file, nor the temporary of a pagetrim, in this
// process or another, that is writing there now. Returns how many it removed.
int RemoveLeftoverTemporaries(const QString& folder);

// Deletes the folder's store and everything in it.
Result DiscardKeptOriginals(const QString& folder);

// Makes KeepOriginal copy even where hard links work, as on FAT and exFAT.
void SetHardLinksDisabled(bool disabled);
// Makes MarkWrittenPage write notes even where files take attributes, as on
// FAT and exFAT.
void SetAttributesDisabled(bool disabled);

}  // namespace pagetrim
