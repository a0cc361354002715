// The reasons behind system error numbers.
#include "result.h"

#include <cerrno>

namespace pagetrim {

Result Result::FromError(int error) {
  Reason why = Reason::SystemError;
  switch (error) {
    case ENOSPC:
      why = Reason::NoSpace;
      break;
    case EDQUOT:
      why = Reason::Quota;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      why = Reason::NotPermitted;
      break;
    case ENOENT:
      why = Reason::Missing;
      break;
    case ENAMETOOLONG:
      why = Reason::NameTooLong;
      break;
    case EISDIR:
      why = Reason::FolderInTheWay;
      break;
    default:
      break;
  }
  return {why, Reason::None, error};
}

Result Result::FromReadError(int error) {
  Reason why = Reason::ReadFailed;
  switch (error) {
    case EACCES:
    case EPERM:
      why = Reason::ReadNotPermitted;
      break;
    case ENOENT:
      why = Reason::Missing;
      break;
    case ENAMETOOLONG:
      why = Reason::NameTooLong;
      break;
    case EISDIR:
      why = Reason::FolderInTheWay;
      break;
    case ENOMEM:
      why = Reason::OutOfMemory;
      break;
    case ENXIO:  // a socket, or a device without its driver
      why = Reason::NotAFile;
      break;
    default:
      break;
  }
  return {why, Reason::None, error};
}

Result Result::CannotKeep(const Result& cause) {
  if (cause.Ok() || cause.Why == Reason::CannotKeepOriginal)
    return cause;
  return {Reason::CannotKeepOriginal, cause.Why, cause.Error};
}

}  // namespace pagetrim
