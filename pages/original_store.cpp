// The store of kept originals, on POSIX calls: hard links and renames are
// what make keeping a page free and restoring it atomic.
//
// Inside the store, besides the kept pages under their own names:
//   .pagetrim-written/NAME  what pagetrim last wrote under NAME, so that a
//                           file another program put there is told apart;
//   .pagetrim-older/NAME.N  originals set aside for such a file;
//   .pagetrim-XXXXXXXX      a copy cut short by a crash.
// Names starting ".pagetrim-" are never kept pages.
#include "original_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>

#include "page_path.h"

namespace pagetrim {

namespace {

std::atomic<bool> hardLinksDisabled{false};

const QString WrittenFolder = QStringLiteral(".pagetrim-written/");
const QString OlderFolder = QStringLiteral(".pagetrim-older/");

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

bool IsStoreHousekeeping(const QString& name) {
  return name.startsWith(u".pagetrim-");
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

FileResult MakeFolder(const QString& folder, const QString& parent) {
  if (::mkdir(Native(folder).constData(), 0777) == 0)
    return SyncFolder(parent);  // the new folder must outlive a crash
  if (errno == EEXIST)
    return {};
  return FileResult::FromError(errno);
}

FileResult MakeStore(const QString& folder) {
  return MakeFolder(OriginalStoreOf(folder), folder);
}

// The name a page is kept under: its own, or its target's when it is a link
// to another page of the same folder.
QString KeepingName(const QString& pagePath) {
  const QFileInfo page(pagePath);
  if (page.isSymLink()) {
    const QFileInfo target(ResolvedPath(pagePath));
    if (target.absolutePath() == QFileInfo(page.absolutePath()).canonicalFilePath())
      return target.fileName();
  }
  return page.fileName();
}

QString WrittenMarkOf(const QString& pagePath) {
  return OriginalStoreOf(FolderOf(pagePath)) + WrittenFolder + KeepingName(pagePath);
}

std::optional<FileIdentity> WrittenIdentity(const QString& pagePath) {
  QFile mark(WrittenMarkOf(pagePath));
  if (!mark.open(QIODevice::ReadOnly))
    return std::nullopt;
  const QList<QByteArray> fields = mark.readAll().trimmed().split(' ');
  if (fields.size() != 4)
    return std::nullopt;
  return FileIdentity{fields[0].toULongLong(), fields[1].toULongLong(), fields[2].toLongLong(),
                      fields[3].toLongLong()};
}

void ForgetWritten(const QString& pagePath) {
  ::unlink(Native(WrittenMarkOf(pagePath)).constData());
}

// Moves a kept original out of the way of a newer one, into the store's
// folder of older originals, under its name and the first free number.
FileResult SetAside(const QString& kept, const QString& store) {
  if (const FileResult made = MakeFolder(store + OlderFolder, store); !made.Ok)
    return made;
  for (int n = 1;; ++n) {
    const QString older = store + OlderFolder + FileNameOf(kept) + u'.' + QString::number(n);
    if (QFileInfo::exists(older))
      continue;
    if (::rename(Native(kept).constData(), Native(older).constData()) != 0)
      return FileResult::FromError(errno);
    return SyncFolder(store);
  }
}

// Reads a whole file, refusing a short read: what is copied from it stands
// in for the file itself.
FileResult ReadWhole(const QString& path, QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return FileResult::FromError(errno);
  bytes = file.readAll();
  if (file.error() != QFileDevice::NoError || bytes.size() != file.size())
    return FileResult::FromError(errno != 0 ? errno : EIO);
  return {};
}

// A copy for file systems without hard links: the page's bytes, synced
// under a temporary name and then given the kept name.
FileResult CopyIntoStore(const QString& pagePath, const QString& kept, mode_t mode) {
  QByteArray bytes;
  if (const FileResult read = ReadWhole(pagePath, bytes); !read.Ok)
    return read;
  return WriteFileSynced(kept, bytes.constData(), std::size_t(bytes.size()), mode);
}

void RemoveStoreIfEmpty(const QString& folder) {
  // Each fails while it holds anything.
  ::rmdir(Native(OriginalStoreOf(folder) + WrittenFolder).constData());
  ::rmdir(Native(OriginalStoreOf(folder)).constData());
}

}  // namespace

QString OriginalStoreOf(const QString& folder) {
  return folder + OriginalStoreName + u'/';
}

QString KeptOriginalOf(const QString& pagePath) {
  return OriginalStoreOf(FolderOf(pagePath)) + KeepingName(pagePath);
}

bool HasKeptOriginal(const QString& pagePath) {
  struct stat info {};
  return ::lstat(Native(KeptOriginalOf(pagePath)).constData(), &info) == 0;
}

void SetHardLinksDisabled(bool disabled) {
  hardLinksDisabled.store(disabled);
}

FileResult KeepOriginal(const QString& pagePath) {
  struct stat page {};
  if (::stat(Native(pagePath).constData(), &page) != 0)
    return errno == ENOENT ? FileResult{} : CannotKeep(ReasonForError(errno));
  if (!S_ISREG(page.st_mode))
    return {};
  const QString folder = FolderOf(pagePath);
  const QString store = OriginalStoreOf(folder);
  const QString kept = KeptOriginalOf(pagePath);
  struct stat keptInfo {};
  if (::stat(Native(kept).constData(), &keptInfo) == 0) {
    // The first version wins over pagetrim's own writes: the page is still
    // the kept file itself, or the file pagetrim wrote last.
    const FileIdentity current = IdentityOfStat(page);
    if (current.Device == std::uint64_t(keptInfo.st_dev) &&
        current.Inode == std::uint64_t(keptInfo.st_ino)) {
      return {};
    }
    if (WrittenIdentity(pagePath) == current)
      return {};
    // Another program put this file here since: it is an original too.
    if (const FileResult aside = SetAside(kept, store); !aside.Ok)
      return CannotKeep(aside.Reason);
    ForgetWritten(pagePath);
  }
  if (const FileResult made = MakeStore(folder); !made.Ok)
    return CannotKeep(made.Reason);

  FileResult result;
  if (!hardLinksDisabled.load() && ::linkat(AT_FDCWD, Native(pagePath).constData(), AT_FDCWD,
                                            Native(kept).constData(), AT_SYMLINK_FOLLOW) == 0) {
    result = SyncFolder(store);
  } else if (hardLinksDisabled.load() || LinksUnsupported(errno)) {
    result = CopyIntoStore(pagePath, kept, page.st_mode & 07777);
    if (result.Ok)
      result = SyncFolder(store);
  } else {
    result = FileResult::FromError(errno);
  }
  if (!result.Ok)
    return CannotKeep(result.Reason);
  ReportSaveStep(SaveStep::OriginalKept, pagePath);
  return {};
}

void RecordWrittenPage(const QString& pagePath, const FileIdentity& written) {
  const QString store = OriginalStoreOf(FolderOf(pagePath));
  if (!MakeFolder(store + WrittenFolder, store).Ok)
    return;  // without the note a later save only keeps one version more
  QFile mark(WrittenMarkOf(pagePath));
  if (mark.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    mark.write(QByteArray::number(written.Device) + ' ' + QByteArray::number(written.Inode) + ' ' +
               QByteArray::number(written.Size) + ' ' + QByteArray::number(written.ModifiedNs) +
               '\n');
  }
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
  if (!S_ISLNK(info.st_mode))
    ForgetWritten(pagePath);
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
    QByteArray bytes;
    if (const FileResult read = ReadWhole(kept, bytes); !read.Ok)
      return read;
    if (const FileResult written =
            ReplaceFileContents(pagePath, bytes.constData(), std::size_t(bytes.size()));
        !written.Ok) {
      return written;
    }
    ::unlink(Native(kept).constData());
  } else {
    if (::rename(Native(kept).constData(), Native(pagePath).constData()) != 0)
      return FileResult::FromError(errno);
    // rename does nothing when both names are links to one file, as they are
    // when a page was kept but never replaced.
    if (HasKeptOriginal(pagePath))
      ::unlink(Native(kept).constData());
  }
  ForgetWritten(pagePath);
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
    if (IsStoreHousekeeping(entry.fileName()))
      continue;
    kept.Names.append(entry.fileName());
    kept.Bytes += entry.size();
  }
  const QFileInfoList older = QDir(OriginalStoreOf(folder) + OlderFolder)
                                  .entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
  for (const QFileInfo& entry : older)
    kept.Bytes += entry.size();
  return kept;
}

bool HasOriginalStore(const QString& folder) {
  return QFileInfo(OriginalStoreOf(folder)).isDir();
}

bool HasKeptOriginals(const QString& folder) {
  DIR* store = ::opendir(Native(OriginalStoreOf(folder)).constData());
  if (store == nullptr)
    return false;
  bool any = false;
  while (const dirent* entry = ::readdir(store)) {
    const QString name = QFile::decodeName(entry->d_name);
    if (name != u"." && name != u".." && !IsStoreHousekeeping(name)) {
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
  errno = 0;
  if (!QDir(OriginalStoreOf(folder)).removeRecursively())
    return FileResult::FromError(errno != 0 ? errno : EIO);
  return SyncFolder(folder);
}

}  // namespace pagetrim
