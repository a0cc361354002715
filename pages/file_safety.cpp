// File identity and atomic replacement, on POSIX calls: Qt's
// QSaveFile names its temporary file after the page, which is too long for a
// page whose name is near the 255-byte limit, and it cannot report errno.
#include "file_safety.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "page_path.h"

namespace pagetrim {

namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    // Whatever was written through it was synced before: a failed close
    // loses nothing.
    if (fd_ >= 0)
      (void)::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset(int fd) {
    if (fd_ >= 0)
      (void)::close(fd_);  // nothing was written through it yet
    fd_ = fd;
  }

 private:
  int fd_;
};

std::atomic<SaveStepHook> stepHook{nullptr};
std::atomic<bool> anonymousFilesDisabled{false};

mode_t NewFileMode() {
  // Read once; umask can only be read by setting it.
  static const mode_t mode = [] {
    const mode_t mask = ::umask(022);
    (void)::umask(mask);  // puts the mask back; umask cannot fail
    return mode_t(0666 & ~mask);
  }();
  return mode;
}

Result WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return Result::FromError(errno);
    }
    data += n;
    size -= std::size_t(n);
  }
  return {};
}

// Temporary files are named ".pagetrim-" and 8 of TemporaryLetters, or 6
// of mkostemp's letters where anonymous files cannot be named: hidden, never
// a page name, short whatever the page is called, and never the name of a
// folder of the store.
constexpr char TemporaryPrefix[] = ".pagetrim-";
constexpr char TemporaryLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int TemporaryLength = 8;
constexpr int FallbackLength = 6;

QByteArray TemporaryName(const QByteArray& folder) {
  QByteArray name = folder + TemporaryPrefix;
  for (int i = 0; i < TemporaryLength; ++i) {
    name +=
        TemporaryLetters[QRandomGenerator::global()->bounded(int(sizeof(TemporaryLetters) - 1))];
  }
  return name;
}

bool IsTemporaryName(const char* name) {
  const std::size_t prefix = sizeof(TemporaryPrefix) - 1;
  if (std::strncmp(name, TemporaryPrefix, prefix) != 0)
    return false;
  const char* rest = name + prefix;
  const std::size_t length = std::strlen(rest);
  const auto all = [&](auto isLetter) {
    for (std::size_t i = 0; i < length; ++i) {
      if (!isLetter(rest[i]))
        return false;
    }
    return true;
  };
  const auto ascii = [](char c, bool upperToo) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (upperToo && c >= 'A' && c <= 'Z');
  };
  return (length == std::size_t(TemporaryLength) && all([&](char c) { return ascii(c, false); })) ||
         (length == std::size_t(FallbackLength) && all([&](char c) { return ascii(c, true); }));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A named temporary file, locked for as long as it lives, so that it is
// never taken for one left behind: where anonymous files cannot be named.
// A sweep may remove the file in the moment between its making and its
// locking; then another is made.
Result MakeLockedTemporary(const QByteArray& folder, UniqueFd& fd, QByteArray& name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    name = folder + TemporaryPrefix + QByteArray(FallbackLength, 'X');
    fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.Valid())
      return Result::FromError(errno);
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0) {
      const int error = errno;
      (void)::unlink(name.constData());  // the error that came first is the one to report
      return Result::FromError(error);
    }
    if (::flock(fd.Get(), LOCK_EX) != 0)
      return {};  // a file system without locks: a sweep cannot lock it either, and leaves it
    struct stat named {};
    if (::stat(name.constData(), &named) == 0 && SameFile(opened, named))
      return {};
  }
  name.clear();
  return Result::FromError(EEXIST);
}

// Errors by which a file system says it keeps no modes (FAT and exFAT through
// FUSE, many network file systems): a mode is copied where it can be, and a
// page is never refused over one. ENOTSUP is EOPNOTSUPP on Linux.
bool ModesUnsupported(int error) {
  return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

// Anonymous files are named through /proc, which a container may lack.
bool CanNameAnonymousFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

// Gives an anonymous file (O_TMPFILE) a temporary name in its folder; name
// is left empty when it has none.
Result NameAnonymousFile(int fd, const QByteArray& folder, QByteArray& name) {
  const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd);
  for (int attempt = 0; attempt < 16; ++attempt) {
    name = TemporaryName(folder);
    if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) ==
        0)
      return {};
    if (errno != EEXIST)
      break;
  }
  const int error = errno;
  name.clear();
  return Result::FromError(error);
}

}  // namespace

FileIdentity IdentityOfStat(const struct stat& info) {
  return FileIdentity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino),
                      std::int64_t(info.st_size),
                      std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::optional<FileIdentity> IdentityOf(const QString& path) {
  struct stat info {};
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
    return std::nullopt;
  return IdentityOfStat(info);
}

Result CheckUnchanged(const QString& path, const FileIdentity& read) {
  const std::optional<FileIdentity> now = IdentityOf(path);
  if (!now)
    return Result::FromError(errno);
  if (*now != read)
    return Result::Failed(Reason::ChangedElsewhere);
  return {};
}

QString ResolvedPath(const QString& path) {
  const QFileInfo info(path);
  if (!info.isSymLink())
    return path;
  const QString canonical = info.canonicalFilePath();  // empty for a dangling link
  return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

Result SyncFolder(const QString& folder) {
  const UniqueFd fd(
      ::open(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(),
             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid() || ::fsync(fd.Get()) != 0)
    return Result::FromError(errno);
  return {};
}

namespace {

// Writes target through a temporary file in its folder, synced unless sync
// is false, then renamed over it. mode: the new file's permissions. path,
// when not empty, is the page reported to the step hook; its folder's sync
// after the rename is put off (SyncFolderLater).
Result WriteAtomically(const QString& target, const char* data, std::size_t size, mode_t mode,
                       const struct stat* owner, const QString& path, FileIdentity* written,
                       const BeforeRename& beforeRename, bool sync = true) {
  const QByteArray targetName = QFile::encodeName(target);
  const QByteArray folder = QFile::encodeName(FolderOf(target));
  const QByteArray openFolder = folder.isEmpty() ? QByteArray(".") : folder;

  // An anonymous file leaves nothing behind if the process dies while writing.
  // It is locked before it is named, and the lock lasts until it is renamed
  // or removed: a sweep of temporaries left behind never takes it.
  QByteArray tempName;
  const bool tryAnonymous = CanNameAnonymousFiles() && !anonymousFilesDisabled.load();
  UniqueFd fd(tryAnonymous ? ::open(openFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
                           : -1);
  const bool anonymous = fd.Valid();
  if (anonymous) {
    (void)::flock(fd.Get(), LOCK_EX | LOCK_NB);  // see MakeLockedTemporary
  } else {
    if (tryAnonymous && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return Result::FromError(errno);
    if (const Result made = MakeLockedTemporary(folder, fd, tempName); !made.Ok())
      return made;
  }
  // The failure that came first is the one to report: a temporary file that
  // cannot be removed is hidden, and never taken for a page.
  const auto removeTemporary = [&] {
    if (!tempName.isEmpty())
      (void)::unlink(tempName.constData());
  };
  const auto fail = [&](int error) {
    removeTemporary();
    return Result::FromError(error);
  };

  if (const Result wrote = WriteAll(fd.Get(), data, size); !wrote.Ok()) {
    removeTemporary();
    return wrote;
  }
  // The last write set the modification time; nothing below changes it.
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0)
    return fail(errno);
  const FileIdentity identity = IdentityOfStat(info);
  if (beforeRename) {
    // Before the mode, which may take away the write permission an
    // attribute needs.
    if (const Result recorded = beforeRename(fd.Get(), identity); !recorded.Ok()) {
      removeTemporary();
      return recorded;
    }
  }
  if (::fchmod(fd.Get(), mode) != 0 && !ModesUnsupported(errno))
    return fail(errno);
  if (owner != nullptr && (owner->st_uid != ::geteuid() || owner->st_gid != ::getegid())) {
    // Keeping the owner needs privileges; a page that must change owner is
    // still better saved than not.
    [[maybe_unused]] const int ignored = ::fchown(fd.Get(), owner->st_uid, owner->st_gid);
  }
  // What was recorded on the file itself must be as durable as its bytes.
  if (sync && (beforeRename ? ::fsync(fd.Get()) : ::fdatasync(fd.Get())) != 0)
    return fail(errno);
  if (written != nullptr)
    *written = identity;
  if (beforeRename && !path.isEmpty())
    ReportSaveStep(SaveStep::WrittenMarked, path);
  if (anonymous) {
    if (const Result named = NameAnonymousFile(fd.Get(), folder, tempName); !named.Ok())
      return named;
  }
  ReportSaveStep(path.isEmpty() ? SaveStep::StoreFileNamed : SaveStep::BeforeReplace,
                 path.isEmpty() ? target : path);
  if (::rename(tempName.constData(), targetName.constData()) != 0)
    return fail(errno);
  if (path.isEmpty())
    return {};
  ReportSaveStep(SaveStep::Replaced, path);
  // Nothing that keeps an original counts on the rename: until the folder
  // is synced, a power cut can only undo it, leaving the page as it was.
  SyncFolderLater(FolderOf(target));
  return {};
}

}  // namespace

Result CheckWritable(const QString& path) {
  const QByteArray native = QFile::encodeName(ResolvedPath(path));
  struct stat info {};
  if (::stat(native.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
      ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0) {
    return Result::FromError(errno);
  }
  return {};
}

Result ReplaceFileContents(const QString& path, const char* data, std::size_t size,
                           FileIdentity* written, const BeforeRename& beforeRename) {
  if (const Result writable = CheckWritable(path); !writable.Ok())
    return writable;
  const QString target = ResolvedPath(path);
  struct stat old {};
  const bool replacing = ::stat(QFile::encodeName(target).constData(), &old) == 0;
  return WriteAtomically(target, data, size, replacing ? (old.st_mode & 07777) : NewFileMode(),
                         replacing ? &old : nullptr, path, written, beforeRename);
}

Result WriteFileSynced(const QString& path, const char* data, std::size_t size, unsigned mode) {
  return WriteAtomically(path, data, size, mode_t(mode & 07777), nullptr, QString(), nullptr, {});
}

Result WriteFileUnsynced(const QString& path, const char* data, std::size_t size, unsigned mode) {
  return WriteAtomically(path, data, size, mode_t(mode & 07777), nullptr, QString(), nullptr, {},
                         false);
}

int RemoveLeftoverTemporariesIn(const QString& folder) {
  DIR* listing = ::opendir(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder));
  if (listing == nullptr)
    return 0;  // no such folder, or none to read: nothing of pagetrim's to sweep
  const int dir = ::dirfd(listing);
  int removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    if (!IsTemporaryName(entry->d_name))
      continue;
    // Only a regular file, not opened through a link, and only while no
    // writer holds its lock: a live writer, in this process or another,
    // holds it from before the name exists until the name is gone.
    struct stat named {};
    if (::fstatat(dir, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode))
      continue;
    const UniqueFd fd(
        ::openat(dir, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat opened {};
    if (!fd.Valid() || ::fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    // Still the file locked, and not one made under the same name since.
    if (::fstatat(dir, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(named, opened) && ::unlinkat(dir, entry->d_name, 0) == 0) {
      ++removed;
    }
  }
  (void)::closedir(listing);  // only read
  return removed;
}

namespace {

// The syncs put off, made together whenever enough of them wait, and when
// the process ends (normally).
class DeferredSyncs {
 public:
  ~DeferredSyncs() { SyncAll(); }
  void Add(const QString& path, bool folder) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      QStringList& list = folder ? folders_ : files_;
      if (!list.contains(path))
        list.append(path);
      if (++waiting_ < SyncsPutOff)
        return;
    }
    SyncAll();
  }
  // Best effort: nothing put off here is what keeps an original safe. The
  // writing of every file is started before any is waited for, so that a
  // journalling file system commits them together.
  void SyncAll() {
    QStringList files;
    QStringList folders;
    {
      const std::lock_guard<std::mutex> hold(lock_);
      files.swap(files_);
      folders.swap(folders_);
      waiting_ = 0;
    }
    std::vector<int> fds;
    for (const QString& path : files) {
      const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        continue;  // gone since
      (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
      fds.push_back(fd);
      if (!folders.contains(FolderOf(path)))
        folders.append(FolderOf(path));
    }
    for (const int fd : fds) {
      (void)::fdatasync(fd);
      (void)::close(fd);  // only read
    }
    for (const QString& folder : folders)
      (void)SyncFolder(folder);
  }

 private:
  // A batch's page takes a few tens of milliseconds to make, and a sync as
  // many on a USB stick: one in this many pages is little.
  static constexpr int SyncsPutOff = 16;
  std::mutex lock_;
  QStringList files_;
  QStringList folders_;
  int waiting_ = 0;
};

DeferredSyncs& Deferred() {
  static DeferredSyncs syncs;
  return syncs;
}

}  // namespace

void SyncFolderLater(const QString& folder) {
  Deferred().Add(folder, true);
}

void SyncFileLater(const QString& path) {
  Deferred().Add(path, false);
}

void SyncDeferred() {
  Deferred().SyncAll();
}

void SetAnonymousFilesDisabled(bool disabled) {
  anonymousFilesDisabled.store(disabled);
}

void SetSaveStepHook(SaveStepHook hook) {
  stepHook.store(hook);
}

void ReportSaveStep(SaveStep step, const QString& path) {
  if (const SaveStepHook hook = stepHook.load())
    hook(step, path);
}

}  // namespace pagetrim
