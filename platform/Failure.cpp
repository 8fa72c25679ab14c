#include "Failure.h"

#include <cerrno>

std::string IoErrorText(int code) {
  switch (code) {
    case kErrFileNotFound: return "File not found";
    case kErrPathNotFound: return "Invalid filename";
    case kErrTooManyOpenFiles: return "Too many open files";
    case kErrAccessDenied: return "File access denied";
    default: return "I/O error " + std::to_string(code);
  }
}

EFailure IoFailure(int code, const std::string& operation, const std::string& path) {
  return EFailure(IoErrorText(code), code, operation, path);
}

// The one place where a host error becomes the Windows code the program was written
// against. ENOENT is reported as "file missing" here; the platform turns it into "path
// missing" where it knows that the parent folder is gone.
int WinErrorOf(int errnoValue) {
  switch (errnoValue) {
    case 0: return 0;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case ELOOP: return kErrPathNotFound;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return kErrAccessDenied;
    case EWOULDBLOCK:
    case EBUSY: return kErrSharingViolation;
    case ENOSPC: return kErrDiskFull;
#ifdef EDQUOT
    case EDQUOT: return kErrDiskFull;
#endif
    case EEXIST: return kErrAlreadyExists;
    case ENOTEMPTY: return 145;    // the folder is not empty
    case EXDEV: return 17;         // not the same device
    case ENAMETOOLONG: return 206;  // name too long
    case EILSEQ:
    case EINVAL: return kErrInvalidName;
    case ENOMEM: return 8;         // not enough memory
    case EIO: return 1117;         // device I/O error
    case EFBIG: return kErrDiskFull;
    case EBADF: return 6;          // invalid handle
    default: return 31;            // a device attached to the system is not functioning
  }
}

std::string Fmt(const std::string& pattern, const std::string& arg) {
  std::string out = pattern;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out;
}
