#include "platform/FileErrors.h"

#include <cerrno>

namespace bcu::platform {

std::string FileErrorText(int error) {
  switch (error) {
    case EISDIR:
      return "is a folder";
    case ENOTDIR:
      return "a part of the path is not a folder";
    case ENOENT:
      return "no such file or folder";
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
      return "the disk is full";
    case EFBIG:
      return "the file would be too large for this system";
    case EROFS:
      return "read-only file system";
    case EEXIST:
      return "already exists";
    case ENAMETOOLONG:
      return "the name is too long";
    default:
      return SystemFileErrorText(error);
  }
}

}  // namespace bcu::platform
