// The recording stand-ins for the C library's calls that name files and make
// them durable: each makes the real system call and, while recording, notes
// what it did. Being defined in the test program, they take the place of the
// library's for the program's own code, which is linked into it.
#include "support/disk_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <atomic>
#include <mutex>

namespace pagetrim::test {
namespace {

std::atomic<bool> recording{false};
std::mutex lock;
std::vector<DiskCall> calls;

void Note(DiskCall::Kind what, const QString& path, std::uint64_t inode) {
  const std::lock_guard<std::mutex> hold(lock);
  calls.push_back({what, QDir::cleanPath(path), inode});
}

void NoteSync(int fd) {
  char path[4096];
  const ssize_t length =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof(path) - 1);
  struct stat info {};
  if (length < 0 || ::fstat(fd, &info) != 0)
    return;
  Note(S_ISDIR(info.st_mode) ? DiskCall::FolderSynced : DiskCall::FileSynced,
       QFile::decodeName(QByteArray(path, int(length))), info.st_ino);
}

std::uint64_t InodeAt(const char* path, bool follow) {
  struct stat info {};
  return ::fstatat(AT_FDCWD, path, &info, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 ? info.st_ino : 0;
}

}  // namespace

void StartRecordingDiskCalls() {
  const std::lock_guard<std::mutex> hold(lock);
  calls.clear();
  recording.store(true);
}

std::vector<DiskCall> StopRecordingDiskCalls() {
  recording.store(false);
  const std::lock_guard<std::mutex> hold(lock);
  return std::move(calls);
}

}  // namespace pagetrim::test

using pagetrim::test::DiskCall;
using pagetrim::test::recording;

extern "C" {

int fsync(int fd) {
  const int result = int(::syscall(SYS_fsync, fd));
  if (result == 0 && recording.load())
    pagetrim::test::NoteSync(fd);
  return result;
}

int fdatasync(int fd) {
  const int result = int(::syscall(SYS_fdatasync, fd));
  if (result == 0 && recording.load())
    pagetrim::test::NoteSync(fd);
  return result;
}

int rename(const char* from, const char* to) {
  const std::uint64_t inode = recording.load() ? pagetrim::test::InodeAt(from, false) : 0;
  const int result = int(::syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
  if (result == 0 && recording.load())
    pagetrim::test::Note(DiskCall::Renamed, QFile::decodeName(to), inode);
  return result;
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  const std::uint64_t inode = recording.load() && fromDir == AT_FDCWD
                                  ? pagetrim::test::InodeAt(from, flags & AT_SYMLINK_FOLLOW)
                                  : 0;
  const int result = int(::syscall(SYS_linkat, fromDir, from, toDir, to, flags));
  if (result == 0 && recording.load() && toDir == AT_FDCWD)
    pagetrim::test::Note(DiskCall::Linked, QFile::decodeName(to), inode);
  return result;
}

int mkdir(const char* path, mode_t mode) {
  const int result = int(::syscall(SYS_mkdirat, AT_FDCWD, path, mode));
  if (result == 0 && recording.load())
    pagetrim::test::Note(DiskCall::FolderMade, QFile::decodeName(path), 0);
  return result;
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  const int result = int(::syscall(SYS_fsetxattr, fd, name, value, size, flags));
  struct stat info {};
  if (result == 0 && recording.load() && ::fstat(fd, &info) == 0)
    pagetrim::test::Note(DiskCall::AttributeSet, QString(), info.st_ino);
  return result;
}

}  // extern "C"
