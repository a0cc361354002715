// Records the system calls that name files and make them durable, as the
// program makes them, so that tests can check their order.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace pagetrim::test {

struct DiskCall {
  enum Kind { FileSynced, FolderSynced, Renamed, Linked, FolderMade, AttributeSet };
  Kind What;
  QString Path;  // synced: the file or folder; renamed, linked: the new name; made: the folder
  std::uint64_t Inode = 0;  // of the file synced, renamed, linked or marked
};

// The calls are fsync and fdatasync, rename, linkat, mkdir and fsetxattr,
// taken in place of the C library's by this test program, from every
// thread: a sync that the code leaves out is missing from the record.
void StartRecordingDiskCalls();
std::vector<DiskCall> StopRecordingDiskCalls();

}  // namespace pagetrim::test
