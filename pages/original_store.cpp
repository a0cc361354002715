// The store of kept originals, on POSIX calls: hard links and renames are
// what make keeping a page free and restoring it atomic.
//
// Inside the store, besides the kept pages under their own names:
//   .pagetrim-written/NAME  every version pagetrim wrote under NAME, by its
//                           size and digest, so that a file another program
//                           put there is told apart where the file itself
//                           carries no mark: on file systems without
//                           attributes, and in a copy of the book that left
//                           them behind (cp -r, a memory card);
//   .pagetrim-older/NAME.N  originals set aside for such a file;
//   .pagetrim-XXXXXXXX      a copy or a note cut short by a crash, swept by
//                           RemoveLeftoverTemporaries.
// Names starting ".pagetrim-" are never kept pages.
#include "original_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "natural_compare.h"
#include "page_path.h"

namespace pagetrim {

namespace {

std::atomic<bool> hardLinksDisabled{false};
std::atomic<bool> attributesDisabled{false};

const QString WrittenFolder = QStringLiteral(".pagetrim-written/");
const QString OlderFolder = QStringLiteral(".pagetrim-older/");

// Set on each file pagetrim writes over a page that has a kept original,
// before the file takes the page's place.
constexpr char WrittenAttribute[] = "user.pagetrim.written";

QByteArray Native(const QString& path) {
  return QFile::encodeName(path);
}

bool IsStoreHousekeeping(const QString& name) {
  return name.startsWith(u".pagetrim-");
}

// A digest that tells pagetrim's own bytes from another program's: not
// against an adversary, so a fast one, as it is taken of every page written
// and of every page pagetrim may have written, before it is kept over or
// restored over. Its text holds a "-", which a SHA-256 in hex never does.
class QuickDigest {
 public:
  void Add(const char* bytes, qsizetype size) {
    const auto* data = reinterpret_cast<const Bytef*>(bytes);
    // zlib takes lengths as uInt: feed it pieces.
    for (qsizetype done = 0; done < size;) {
      const uInt n = uInt(std::min<qsizetype>(size - done, qsizetype(1) << 30));
      crc_ = crc32(crc_, data + done, n);
      adler_ = adler32(adler_, data + done, n);
      done += n;
    }
  }
  QByteArray Text() const {
    return QByteArray::number(qulonglong(crc_), 16) + '-' +
           QByteArray::number(qulonglong(adler_), 16);
  }

 private:
  uLong crc_ = crc32(0L, Z_NULL, 0);
  uLong adler_ = adler32(0L, Z_NULL, 0);
};

QByteArray QuickDigestOf(QByteArrayView bytes) {
  QuickDigest digest;
  digest.Add(bytes.data(), bytes.size());
  return digest.Text();
}

bool IsQuickDigest(const QByteArray& digest) {
  return digest.contains('-');
}

// The digests of a page file as it is now, each taken once, when first
// needed; empty when the file cannot be read.
class PageDigests {
 public:
  explicit PageDigests(const QString& path) : path_(path) {}
  const QByteArray& Quick() {
    if (!quick_)
      quick_ = Take(false);
    return *quick_;
  }
  // SHA-256, which notes of earlier versions hold.
  const QByteArray& Strong() {
    if (!strong_)
      strong_ = Take(true);
    return *strong_;
  }

 private:
  QByteArray Take(bool strong) const {
    QFile page(path_);
    if (!page.open(QIODevice::ReadOnly))
      return {};
    QuickDigest quick;
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    QByteArray piece(qsizetype(1) << 18, Qt::Uninitialized);
    for (;;) {
      const qint64 n = page.read(piece.data(), piece.size());
      if (n < 0)
        return {};
      if (n == 0)
        break;
      if (strong)
        sha256.addData(QByteArrayView(piece.constData(), qsizetype(n)));
      else
        quick.Add(piece.constData(), qsizetype(n));
    }
    return strong ? sha256.result().toHex() : quick.Text();
  }

  QString path_;
  std::optional<QByteArray> quick_;
  std::optional<QByteArray> strong_;
};

// Errors by which a file system says it has no hard links (FAT and exFAT
// answer EPERM), or none to this file.
bool LinksUnsupported(int error) {
  return error == EPERM || error == EXDEV || error == EMLINK || error == EOPNOTSUPP ||
         error == ENOSYS;
}

Result MakeFolder(const QString& folder, const QString& parent) {
  if (::mkdir(Native(folder).constData(), 0777) == 0)
    return SyncFolder(parent);  // the new folder must outlive a crash
  if (errno == EEXIST)
    return {};
  return Result::FromError(errno);
}

Result MakeStore(const QString& folder) {
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

// The attribute holds the name pagetrim wrote the file under, its inode,
// size and modification time, and a digest of its bytes. The device is left
// out: a disk may come back under another number. The bytes decide (see
// AttributeSaysWritten); the inode and time are kept for earlier versions,
// which read them. A copy of a page under another page's name stays another
// program's file.
QByteArray AttributeValue(const QString& pagePath, const FileIdentity& identity,
                          const QByteArray& digest) {
  return "2 " + digest + ' ' + QByteArray::number(identity.Size) + ' ' +
         QByteArray::number(identity.ModifiedNs) + ' ' + QByteArray::number(identity.Inode) + ' ' +
         KeepingName(pagePath).toUtf8();
}

// What the page file's attribute says: pagetrim wrote this very file, or
// another; none when it has no attribute or its file system none at all.
std::optional<bool> AttributeSaysWritten(const QString& pagePath, const FileIdentity& current,
                                         PageDigests& digests) {
  char value[1024];
  const ssize_t length =
      ::getxattr(Native(pagePath).constData(), WrittenAttribute, value, sizeof(value));
  if (length < 0)
    return std::nullopt;
  // Version, digest, size, modification time, inode, then the name, which
  // may hold spaces.
  const QList<QByteArray> fields = QByteArray(value, int(length)).split(' ');
  if (fields.size() < 6 || fields[0] != "2")
    return false;
  const QByteArray name = fields.mid(5).join(' ');
  if (name != KeepingName(pagePath).toUtf8() || fields[2].toLongLong() != current.Size)
    return false;
  // Never the inode and time alone: a program that writes into the file
  // keeps its inode, its size too, and may put its time back (touch -r). A
  // book moved with its attributes (mv, cp -a, rsync -aX) has new inodes.
  return digests.Quick() == fields[1];
}

// A line of the note: a file pagetrim wrote, by identity and by its bytes.
struct WrittenFile {
  FileIdentity Identity;
  // QuickDigestOf; SHA-256 in hex in notes of earlier versions, or empty in
  // those of the earliest.
  QByteArray Digest;
};

// Lines beyond these, the oldest, are dropped: a page trimmed so often
// loses nothing by it, as versions that old are no longer anywhere.
constexpr std::size_t NoteLinesKept = 64;

QByteArray NoteLine(const WrittenFile& file) {
  const FileIdentity& id = file.Identity;
  QByteArray line = QByteArray::number(id.Device) + ' ' + QByteArray::number(id.Inode) + ' ' +
                    QByteArray::number(id.Size) + ' ' + QByteArray::number(id.ModifiedNs);
  if (!file.Digest.isEmpty())
    line += ' ' + file.Digest;
  return line + '\n';
}

std::vector<WrittenFile> ReadNote(const QString& pagePath) {
  std::vector<WrittenFile> files;
  QFile note(WrittenMarkOf(pagePath));
  if (!note.open(QIODevice::ReadOnly))
    return files;
  for (const QByteArray& line : note.readAll().split('\n')) {
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() != 4 && fields.size() != 5)
      continue;
    files.push_back({{fields[0].toULongLong(), fields[1].toULongLong(), fields[2].toLongLong(),
                      fields[3].toLongLong()},
                     fields.size() == 5 ? fields[4] : QByteArray()});
  }
  return files;
}

// Whether a line of the note describes the page file: by its bytes, as the
// attribute does, since a copy of the book, and FAT and exFAT through FUSE
// at every mount, number the files anew, and an edit may keep the inode,
// size and time. Lines of the earliest notes know nothing but the identity.
bool Describes(const WrittenFile& file, const FileIdentity& current, PageDigests& digests) {
  if (file.Digest.isEmpty())
    return file.Identity == current;
  if (file.Identity.Size != current.Size)
    return false;
  return (IsQuickDigest(file.Digest) ? digests.Quick() : digests.Strong()) == file.Digest;
}

// Whether pagetrim wrote the page file as it is now: the attribute on the
// file first, the note where the file has none.
bool WrittenByPagetrim(const QString& pagePath, const FileIdentity& current) {
  PageDigests digests(pagePath);
  if (const std::optional<bool> says = AttributeSaysWritten(pagePath, current, digests))
    return *says;
  const std::vector<WrittenFile> files = ReadNote(pagePath);
  return std::any_of(files.begin(), files.end(),
                     [&](const WrittenFile& file) { return Describes(file, current, digests); });
}

void ForgetWritten(const QString& pagePath) {
  // Most pages have no note. A note left behind describes files that are no
  // longer the page, and a file pagetrim did not write matches none of them.
  (void)::unlink(Native(WrittenMarkOf(pagePath)).constData());
}

// Moves a kept original out of the way of a newer one, into the store's
// folder of older originals, under its name and the first free number.
Result SetAside(const QString& kept, const QString& store) {
  if (const Result made = MakeFolder(store + OlderFolder, store); !made.Ok())
    return made;
  for (int n = 1;; ++n) {
    const QString older = store + OlderFolder + FileNameOf(kept) + u'.' + QString::number(n);
    if (QFileInfo::exists(older))
      continue;
    if (::rename(Native(kept).constData(), Native(older).constData()) != 0)
      return Result::FromError(errno);
    return SyncFolder(store);
  }
}

// Reads a whole file, refusing a short read: what is copied from it stands
// in for the file itself.
Result ReadWhole(const QString& path, QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return Result::FromError(errno);
  bytes = file.readAll();
  if (file.error() != QFileDevice::NoError || bytes.size() != file.size())
    return Result::FromError(errno != 0 ? errno : EIO);
  return {};
}

// A copy for file systems without hard links: the page's bytes, synced
// under a temporary name and then given the kept name.
Result CopyIntoStore(const QString& pagePath, const QString& kept, mode_t mode) {
  QByteArray bytes;
  if (const Result read = ReadWhole(pagePath, bytes); !read.Ok())
    return read;
  return WriteFileSynced(kept, bytes.constData(), std::size_t(bytes.size()), mode);
}

bool SameBytes(const QString& a, const QString& b) {
  QByteArray first;
  QByteArray second;
  return ReadWhole(a, first).Ok() && ReadWhole(b, second).Ok() && first == second;
}

// Whether the page file as it is now needs no keeping beside the kept
// original, and may be replaced by it: it is the kept file itself, a copy of
// it (a save cut short after keeping), or a file pagetrim wrote since.
bool KeptAlready(const QString& pagePath, const struct stat& page, const QString& kept,
                 const struct stat& keptInfo) {
  if (page.st_dev == keptInfo.st_dev && page.st_ino == keptInfo.st_ino)
    return true;
  if (WrittenByPagetrim(pagePath, IdentityOfStat(page)))
    return true;
  return page.st_size == keptInfo.st_size && SameBytes(pagePath, kept);
}

void RemoveStoreIfEmpty(const QString& folder) {
  // Each fails while it holds anything, and then stays, as it should.
  (void)::rmdir(Native(OriginalStoreOf(folder) + WrittenFolder).constData());
  (void)::rmdir(Native(OriginalStoreOf(folder)).constData());
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

void SetAttributesDisabled(bool disabled) {
  attributesDisabled.store(disabled);
}

namespace {

// What keeping one page put in its store, to be made durable.
struct Keeping {
  QString Page;
  QString Store;
  QString Kept;  // the name made, to take back when the store cannot be synced
};

// KeepOriginal up to the sync of the store: the page's original is linked or
// copied into the store, or was kept already (nothing to sync). An original
// set aside is synced at once: that step is rare.
Result PutInStore(const QString& pagePath, std::optional<Keeping>& added) {
  struct stat page {};
  if (::stat(Native(pagePath).constData(), &page) != 0)
    return errno == ENOENT ? Result{} : Result::CannotKeep(Result::FromError(errno));
  if (!S_ISREG(page.st_mode))
    return {};
  const QString folder = FolderOf(pagePath);
  const QString store = OriginalStoreOf(folder);
  const QString kept = KeptOriginalOf(pagePath);
  struct stat keptInfo {};
  if (::stat(Native(kept).constData(), &keptInfo) == 0) {
    // The first version wins over pagetrim's own writes.
    if (KeptAlready(pagePath, page, kept, keptInfo))
      return {};
    // Another program put this file here since: it is an original too.
    if (const Result aside = SetAside(kept, store); !aside.Ok())
      return Result::CannotKeep(aside);
    ReportSaveStep(SaveStep::OlderSetAside, pagePath);
    ForgetWritten(pagePath);
  }
  if (const Result made = MakeStore(folder); !made.Ok())
    return Result::CannotKeep(made);

  Result result;
  if (!hardLinksDisabled.load() && ::linkat(AT_FDCWD, Native(pagePath).constData(), AT_FDCWD,
                                            Native(kept).constData(), AT_SYMLINK_FOLLOW) == 0) {
  } else if (hardLinksDisabled.load() || LinksUnsupported(errno)) {
    result = CopyIntoStore(pagePath, kept, page.st_mode & 07777);
  } else {
    result = Result::FromError(errno);
  }
  if (!result.Ok())
    return Result::CannotKeep(result);
  added = Keeping{pagePath, store, kept};
  return {};
}

}  // namespace

Result KeepOriginal(const QString& pagePath) {
  return KeepOriginals(pagePath, {});
}

Result KeepOriginals(const QString& pagePath, const QStringList& nextPages) {
  std::vector<Keeping> added;
  std::optional<Keeping> first;
  if (const Result kept = PutInStore(pagePath, first); !kept.Ok())
    return kept;
  if (!first)
    return {};  // kept before: the pages after it are kept in their turn
  added.push_back(*first);
  for (const QString& next : nextPages) {
    std::optional<Keeping> also;
    if (PutInStore(next, also).Ok() && also)
      added.push_back(*also);
  }
  SyncDeferred();  // the store's sync is theirs too
  QStringList synced;
  Result result;
  for (const Keeping& keeping : added) {
    if (synced.contains(keeping.Store))
      continue;
    if (const Result sync = SyncFolder(keeping.Store); !sync.Ok() && result.Ok())
      result = sync;
    synced.append(keeping.Store);
  }
  if (!result.Ok()) {
    // An original that may not outlive a crash must not stand for one that
    // does: each page keeps its own again in its turn.
    for (const Keeping& keeping : added)
      (void)::unlink(Native(keeping.Kept).constData());
    return Result::CannotKeep(result);
  }
  for (const Keeping& keeping : added)
    ReportSaveStep(SaveStep::OriginalKept, keeping.Page);
  return {};
}

Result MarkWrittenPage(const QString& pagePath, int fd, const FileIdentity& written,
                       QByteArrayView bytes) {
  // Without a kept original the next save keeps whatever the page is.
  if (!HasKeptOriginal(pagePath))
    return {};
  const QByteArray digest = QuickDigestOf(bytes);
  bool marked = false;
  if (!attributesDisabled.load()) {
    const QByteArray value = AttributeValue(pagePath, written, digest);
    // Whatever the refusal (FAT, exFAT and many FUSE and network file
    // systems have no attributes; a full disk no room for one), the note
    // does the same.
    marked =
        ::fsetxattr(fd, WrittenAttribute, value.constData(), std::size_t(value.size()), 0) == 0;
  }
  // Every version stays in the note: a copy of the book made while a page
  // was being trimmed may hold any of them, as may a page put back from a
  // backup, and each still has its first original kept.
  std::vector<WrittenFile> files = ReadNote(pagePath);
  const bool known = std::any_of(files.begin(), files.end(), [&](const WrittenFile& file) {
    return file.Digest == digest && file.Identity.Size == written.Size;
  });
  if (!known)
    files.push_back({written, digest});
  QByteArray note;
  for (std::size_t i = files.size() > NoteLinesKept ? files.size() - NoteLinesKept : 0;
       i < files.size(); ++i) {
    note += NoteLine(files[i]);
  }
  const QString store = OriginalStoreOf(FolderOf(pagePath));
  const QString notePath = WrittenMarkOf(pagePath);
  Result result = MakeFolder(store + WrittenFolder, store);
  if (marked) {
    // The attribute proves the file pagetrim's own where it is. The note is
    // read only in a copy of the book that left the attribute behind, made
    // later: it needs no sync of its own before the rename, and one that
    // cannot be written leaves that copy to set this page's original aside,
    // as copies always did, and fails nothing.
    if (result.Ok() &&
        WriteFileUnsynced(notePath, note.constData(), std::size_t(note.size()), 0644).Ok())
      SyncFileLater(notePath);
    return {};
  }
  // The only mark: durable before the rename.
  if (result.Ok())
    result = WriteFileSynced(notePath, note.constData(), std::size_t(note.size()), 0644);
  if (result.Ok())
    result = SyncFolder(store + WrittenFolder);
  return Result::CannotKeep(result);
}

Result RemovePageKeepingOriginal(const QString& pagePath) {
  const QString folder = FolderOf(pagePath);
  const QByteArray page = Native(pagePath);
  struct stat info {};
  if (::lstat(page.constData(), &info) != 0)
    return Result::FromError(errno);
  if (S_ISDIR(info.st_mode))
    return Result::FromError(EISDIR);  // not a page file, whatever its name
  if (S_ISLNK(info.st_mode) || HasKeptOriginal(pagePath)) {
    // A link is kept by its target's content; the link itself just goes.
    if (const Result kept = KeepOriginal(pagePath); !kept.Ok())
      return kept;
    ReportSaveStep(SaveStep::BeforeReplace, pagePath);
    if (::unlink(page.constData()) != 0)
      return Result::FromError(errno);
  } else {
    if (const Result made = MakeStore(folder); !made.Ok())
      return Result::CannotKeep(made);
    ReportSaveStep(SaveStep::BeforeReplace, pagePath);
    if (::rename(page.constData(), Native(KeptOriginalOf(pagePath)).constData()) != 0)
      return Result::FromError(errno);
    // Done: an unsynced rename can only be undone by a power cut, never
    // halved, and "not removed" would be false of a page that is gone.
    (void)SyncFolder(OriginalStoreOf(folder));
  }
  if (!S_ISLNK(info.st_mode))
    ForgetWritten(pagePath);
  ReportSaveStep(SaveStep::Replaced, pagePath);
  (void)SyncFolder(folder);  // as above: the page is gone, whatever the sync says
  return {};
}

Result RestoreOriginal(const QString& pagePath) {
  const QString folder = FolderOf(pagePath);
  const QString kept = KeptOriginalOf(pagePath);
  struct stat info {};
  if (!HasKeptOriginal(pagePath))
    return Result::Failed(Reason::NoKeptOriginal);
  // Another program's file in the page's place (a rescan, an edit) would be
  // lost: it stays, and so does the original.
  struct stat keptInfo {};
  if (::stat(Native(kept).constData(), &keptInfo) != 0)
    return Result::FromError(errno);
  if (::stat(Native(pagePath).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
      !KeptAlready(pagePath, info, kept, keptInfo)) {
    return Result::Failed(Reason::ChangedElsewhere);
  }
  if (::lstat(Native(pagePath).constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
    // Written through the link, as every save of that page was.
    QByteArray bytes;
    if (const Result read = ReadWhole(kept, bytes); !read.Ok())
      return read;
    if (const Result written =
            ReplaceFileContents(pagePath, bytes.constData(), std::size_t(bytes.size()));
        !written.Ok()) {
      return written;
    }
    // The page is back. A kept copy that stays holds the same bytes: it is
    // restored again or discarded like any other, and loses nothing.
    (void)::unlink(Native(kept).constData());
  } else {
    if (::rename(Native(kept).constData(), Native(pagePath).constData()) != 0)
      return Result::FromError(errno);
    // rename does nothing when both names are links to one file, as they are
    // when a page was kept but never replaced; a link that stays is the
    // page's own file, as above.
    if (HasKeptOriginal(pagePath))
      (void)::unlink(Native(kept).constData());
    // An original that pagetrim once wrote (kept after its store was
    // discarded) is a first version again. Nearly every original has no
    // mark, so the failure that says so is ignored.
    (void)::removexattr(Native(pagePath).constData(), WrittenAttribute);
  }
  ForgetWritten(pagePath);
  // Done: as in RemovePageKeepingOriginal, a failed sync cannot make this
  // restore a failure.
  (void)SyncFolder(folder);
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
    return false;  // no store, or none that can be read: nothing to restore
  bool any = false;
  while (const dirent* entry = ::readdir(store)) {
    const QString name = QFile::decodeName(entry->d_name);
    if (name != u"." && name != u".." && !IsStoreHousekeeping(name)) {
      any = true;
      break;
    }
  }
  (void)::closedir(store);  // only read
  return any;
}

std::vector<PageNotRestored> RestoreAllOriginals(const QString& folder) {
  QStringList names = ListKeptOriginals(folder).Names;
  std::sort(names.begin(), names.end(),
            [](const QString& a, const QString& b) { return NaturalCompare(a, b) < 0; });
  std::vector<PageNotRestored> left;
  for (const QString& name : names) {
    if (const Result restored = RestoreOriginal(folder + name); !restored.Ok())
      left.push_back({name, restored});
  }
  return left;
}

int RemoveLeftoverTemporaries(const QString& folder) {
  const QString store = OriginalStoreOf(folder);
  return RemoveLeftoverTemporariesIn(folder) + RemoveLeftoverTemporariesIn(store) +
         RemoveLeftoverTemporariesIn(store + WrittenFolder);
}

Result DiscardKeptOriginals(const QString& folder) {
  errno = 0;
  if (!QDir(OriginalStoreOf(folder)).removeRecursively())
    return Result::FromError(errno != 0 ? errno : EIO);
  return SyncFolder(folder);
}

}  // namespace pagetrim
