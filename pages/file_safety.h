// The file-system side of never losing a page: what a file is (its identity),
// and replacing a file atomically.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "result.h"

struct stat;

namespace pagetrim {

// What a file was when it was read. A file that another program replaced or
// edited since has another inode, size or modification time.
struct FileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t Size = 0;
  std::int64_t ModifiedNs = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at path, following symbolic links; none when the
// file cannot be looked at (it is gone, for one).
std::optional<FileIdentity> IdentityOf(const QString& path);
FileIdentity IdentityOfStat(const struct stat& info);

// Checks that the file at path is still the one read. Refuses when it is gone
// or another program changed it.
Result CheckUnchanged(const QString& path, const FileIdentity& read);

// Refuses a file the user may not write, whose replacement would otherwise
// go through as readily as any other's (a rename needs only the folder).
Result CheckWritable(const QString& path);

// Called with the new file, written but not yet renamed, and its identity,
// which the rename keeps: whatever it records is durable before the file
// takes the page's place. A failure fails the replacement.
using BeforeRename = std::function<Result(int fd, const FileIdentity& identity)>;

// Replaces the file at path by bytes: written to a short-named temporary file
// in the same folder, synced, then renamed over path; the folder's sync after
// the rename is put off (SyncFolderLater). The temporary file is locked for
// as long as it lives (see RemoveLeftoverTemporariesIn). A symbolic link is
// written through to its target. The old file keeps its permissions where the
// file system has them, and a file the user may not write is refused. At any
// moment the file is either the old one or the new one, never a part.
// written, when given, gets the new file's identity, taken before it is given
// the page's name.
Result ReplaceFileContents(const QString& path, const char* data, std::size_t size,
                           FileIdentity* written = nullptr, const BeforeRename& beforeRename = {});

// Creates the file at path with bytes and permissions, written and synced
// under a temporary name first, so that it exists whole or not at all.
Result WriteFileSynced(const QString& path, const char* data, std::size_t size, unsigned mode);
// The same without the sync, for a file whose loss to a power cut costs
// nothing that matters: until then it is whole or absent; after one it may
// be either, or empty.
Result WriteFileUnsynced(const QString& path, const char* data, std::size_t size, unsigned mode);

// Removes from the folder the temporary files that pagetrim left there when
// it stopped before renaming them, and only those: files of pagetrim's
// temporary names that no live writer holds (see WriteAtomically). Returns
// how many it removed; one that cannot be removed is hidden, never taken for
// a page, and tried again the next time.
int RemoveLeftoverTemporariesIn(const QString& folder);

// The file a page path stands for: its target when it is a symbolic link.
QString ResolvedPath(const QString& path);

// Makes the folder's entries (links made, files renamed in it) durable.
Result SyncFolder(const QString& folder);

// Syncs that nothing counts on yet, put off so that many share one: a
// folder a page was renamed into, a file whose loss to a power cut costs
// nothing that matters. They are made together when enough of them wait,
// at SyncDeferred, and when the process ends normally.
void SyncFolderLater(const QString& folder);
void SyncFileLater(const QString& path);
void SyncDeferred();

// Makes temporary files named from the start, as on FAT and exFAT, which
// have no anonymous files.
void SetAnonymousFilesDisabled(bool disabled);

// The steps of a change to a page file, in their order, reported to a hook so
// that tests can stop the process at each of them.
// StoreFileNamed: a file that is not a page (a copy or a note of the store)
// has its temporary name and is about to take its own, the path reported.
enum class SaveStep {
  OlderSetAside,
  OriginalKept,
  WrittenMarked,
  BeforeReplace,
  Replaced,
  StoreFileNamed
};
using SaveStepHook = void (*)(SaveStep step, const QString& path);
void SetSaveStepHook(SaveStepHook hook);
void ReportSaveStep(SaveStep step, const QString& path);

}  // namespace pagetrim
