// Result: how an operation on page files ended, done or why not. The words
// for a failure are chosen where it is shown, not here.
#pragma once

namespace pagetrim {

// The failures the program knows. Errors of the system that are not named
// here are SystemError, shown in the system's own words for their errno.
enum class Reason {
  None,                // done
  NoSpace,             // ENOSPC
  Quota,               // EDQUOT
  NotPermitted,        // EACCES, EPERM, EROFS
  Missing,             // ENOENT
  NameTooLong,         // ENAMETOOLONG
  FolderInTheWay,      // EISDIR: a folder of the file's name
  ChangedElsewhere,    // another program changed the file since it was read
  UnreadableImage,     // an image of a kind the decoders cannot decode (12-bit JPEG, say)
  DamagedImage,        // damaged, cut short, or not an image at all
  ImageTooLarge,       // beyond the largest page: its pixels, its sides or its file's size
  ReadNotPermitted,    // EACCES, EPERM when opening or reading a page file
  ReadFailed,          // any other error of reading a file (EIO...), in Error
  NotAFile,            // a pipe, device or socket where a page file was
  Cancelled,           // a read given up because it was no longer wanted
  EmptyPage,           // a 0 x 0 page, which is never written
  OutOfMemory,         // the memory to decode or encode the page could not be had
  CannotEncode,        // the encoder refused the page for a reason other than memory or size
  NoEncoder,           // no encoder for the file's kind
  NoKeptOriginal,      // nothing to restore
  CannotKeepOriginal,  // the first version could not be kept; Cause says why
  SystemError,         // any other errno
};

struct [[nodiscard]] Result {
  Reason Why = Reason::None;
  // Why the original could not be kept, for CannotKeepOriginal; else None.
  Reason Cause = Reason::None;
  // The system's error number behind Why (or Cause), 0 where there is none.
  int Error = 0;

  bool Ok() const { return Why == Reason::None; }

  static Result Failed(Reason why) { return {why, Reason::None, 0}; }
  // The reason the program knows for a system error number (not 0), which
  // the result keeps.
  static Result FromError(int error);
  // The same for an error met while opening or reading a file: permission
  // means reading, and errors with no reason of their own are ReadFailed.
  static Result FromReadError(int error);
  // A page whose original could not be kept, because of cause.
  static Result CannotKeep(const Result& cause);

  friend bool operator==(const Result&, const Result&) = default;
};

}  // namespace pagetrim
