// The store of kept originals, on POSIX calls: hard links and renames are
// what make keeping a page free and restoring it atomic.
#include "original_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <atomic>
#include <cerrno>

#include "page_path.h"

namespace pagetrim {

namespace {

std::atomic<bool> hardLinksDisabled{false};

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

FileResult CannotKeep(const QString& reason) {
  return FileResult::Failed(QStringLiteral("元の画像を保存できません（%1）").arg(reason));
}

// Errors by which a file system says it has no hard links (FAT and exFAT
// answer EPERM), or none to this file.
bool LinksUnsupported(int error) {
  return error == EPERM || error == EXDEV || error == EMLINK || error == EOPNOTSUPP ||
         error == ENOSYS;
}

FileResult MakeStore(const QString& folder) {
  if (::mkdir(Native(OriginalStoreOf(folder)).constData(), 0777) == 0)
    return SyncFolder(folder);  // the store itself must outlive a crash
  if (errno == EEXIST)
    return {};
  return FileResult::FromError(errno);
}

// A copy for file systems without hard links: the page's bytes, synced
// under a temporary name and then given the kept name.
FileResult CopyIntoStore(const QString& pagePath, const QString& kept, mode_t mode) {
  QFile page(pagePath);
  if (!page.open(QIODevice::ReadOnly))
    return FileResult::FromError(errno);
  const QByteArray bytes = page.readAll();
  if (page.error() != QFileDevice::NoError)
    return FileResult::FromError(errno != 0 ? errno : EIO);
  return WriteFileSynced(kept, bytes.constData(), std::size_t(bytes.size()), mode);
}

void RemoveStoreIfEmpty(const QString& folder) {
  ::rmdir(Native(OriginalStoreOf(folder)).constData());  // fails while it holds anything
}

}  // namespace

QString OriginalStoreOf(const QString& folder) {
  return folder + OriginalStoreName + u'/';
}

QString KeptOriginalOf(const QString& pagePath) {
  return OriginalStoreOf(FolderOf(pagePath)) + FileNameOf(pagePath);
}

bool HasKeptOriginal(const QString& pagePath) {
  struct stat info {};
  return ::lstat(Native(KeptOriginalOf(pagePath)).constData(), &info) == 0;
}

void SetHardLinksDisabled(bool disabled) {
  hardLinksDisabled.store(disabled);
}

FileResult KeepOriginal(const QString& pagePath) {
  if (HasKeptOriginal(pagePath))
    return {};  // the first version wins
  struct stat page {};
  if (::stat(Native(pagePath).constData(), &page) != 0)
    return errno == ENOENT ? FileResult{} : CannotKeep(ReasonForError(errno));
  if (!S_ISREG(page.st_mode))
    return {};
  const QString folder = FolderOf(pagePath);
  if (const FileResult made = MakeStore(folder); !made.Ok)
    return CannotKeep(made.Reason);

  const QString kept = KeptOriginalOf(pagePath);
  FileResult result;
  if (!hardLinksDisabled.load() && ::linkat(AT_FDCWD, Native(pagePath).constData(), AT_FDCWD,
                                            Native(kept).constData(), AT_SYMLINK_FOLLOW) == 0) {
    result = SyncFolder(OriginalStoreOf(folder));
  } else if (hardLinksDisabled.load() || LinksUnsupported(errno)) {
    result = CopyIntoStore(pagePath, kept, page.st_mode & 07777);
    if (result.Ok)
      result = SyncFolder(OriginalStoreOf(folder));
  } else {
    result = FileResult::FromError(errno);
  }
  if (!result.Ok)
    return CannotKeep(result.Reason);
  ReportSaveStep(SaveStep::OriginalKept, pagePath);
  return {};
}

FileResult RemovePageKeepingOriginal(const QString& pagePath) {
  const QString folder = FolderOf(pagePath);
  const QByteArray page = Native(pagePath);
  struct stat info {};
  if (::lstat(page.constData(), &info) != 0)
    return FileResult::FromError(errno);
  if (S_ISDIR(info.st_mode))
    return FileResult::FromError(EISDIR);  // not a page file, whatever its name
  if (S_ISLNK(info.st_mode) || HasKeptOriginal(pagePath)) {
    // A link is kept by its target's content; the link itself just goes.
    if (const FileResult kept = KeepOriginal(pagePath); !kept.Ok)
      return kept;
    ReportSaveStep(SaveStep::BeforeReplace, pagePath);
    if (::unlink(page.constData()) != 0)
      return FileResult::FromError(errno);
  } else {
    if (const FileResult made = MakeStore(folder); !made.Ok)
      return CannotKeep(made.Reason);
    ReportSaveStep(SaveStep::BeforeReplace, pagePath);
    if (::rename(page.constData(), Native(KeptOriginalOf(pagePath)).constData()) != 0)
      return FileResult::FromError(errno);
    SyncFolder(OriginalStoreOf(folder));
  }
  ReportSaveStep(SaveStep::Replaced, pagePath);
  SyncFolder(folder);
  return {};
}

FileResult RestoreOriginal(const QString& pagePath) {
  const QString folder = FolderOf(pagePath);
  const QString kept = KeptOriginalOf(pagePath);
  struct stat info {};
  if (!HasKeptOriginal(pagePath))
    return FileResult::Failed(QStringLiteral("元の画像がありません"));
  if (::lstat(Native(pagePath).constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
    // Written through the link, as every save of that page was.
    QFile original(kept);
    if (!original.open(QIODevice::ReadOnly))
      return FileResult::FromError(errno);
    const QByteArray bytes = original.readAll();
    if (const FileResult written =
            ReplaceFileContents(pagePath, bytes.constData(), std::size_t(bytes.size()));
        !written.Ok)
      return written;
    ::unlink(Native(kept).constData());
  } else {
    if (::rename(Native(kept).constData(), Native(pagePath).constData()) != 0)
      return FileResult::FromError(errno);
    // rename does nothing when both names are links to one file, as they are
    // when a page was kept but never replaced.
    if (HasKeptOriginal(pagePath))
      ::unlink(Native(kept).constData());
  }
  SyncFolder(folder);
  RemoveStoreIfEmpty(folder);
  return {};
}

KeptOriginals ListKeptOriginals(const QString& folder) {
  KeptOriginals kept;
  const QFileInfoList entries =
      QDir(OriginalStoreOf(folder))
          .entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
  for (const QFileInfo& entry : entries) {
    kept.Names.append(entry.fileName());
    kept.Bytes += entry.size();
  }
  return kept;
}

bool HasKeptOriginals(const QString& folder) {
  DIR* store = ::opendir(Native(OriginalStoreOf(folder)).constData());
  if (store == nullptr)
    return false;
  bool any = false;
  while (const dirent* entry = ::readdir(store)) {
    const QByteArray name(entry->d_name);
    if (name != "." && name != "..") {
      any = true;
      break;
    }
  }
  ::closedir(store);
  return any;
}

FileResult RestoreAllOriginals(const QString& folder) {
  for (const QString& name : ListKeptOriginals(folder).Names) {
    if (const FileResult restored = RestoreOriginal(folder + name); !restored.Ok)
      return restored;
  }
  return {};
}

FileResult DiscardKeptOriginals(const QString& folder) {
  const QString store = OriginalStoreOf(folder);
  for (const QString& name : ListKeptOriginals(folder).Names) {
    if (::unlink(Native(store + name).constData()) != 0)
      return FileResult::FromError(errno);
  }
  if (::rmdir(Native(store).constData()) != 0 && errno != ENOENT)
    return FileResult::FromError(errno);
  return SyncFolder(folder);
}

}  // namespace pagetrim
