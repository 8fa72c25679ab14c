#include "Failure.h"

std::string IoErrorText(int code) {
  switch (code) {
    case kErrFileNotFound: return "File not found";
    case kErrPathNotFound: return "Invalid filename";
    case kErrTooManyOpenFiles: return "Too many open files";
    case kErrAccessDenied: return "File access denied";
    default: return "I/O error " + std::to_string(code);
  }
}

std::string CauseText(int code) {
  switch (code) {
    case kErrFileNotFound: return "no such file";
    case kErrPathNotFound: return "no such folder";
    case kErrTooManyOpenFiles: return "too many open files";
    case kErrAccessDenied: return "permission denied";
    case kErrNotEnoughMemory: return "out of memory";
    case kErrInvalidData: return "unreadable contents";
    case kErrNotSameDevice: return "on another file system";
    case kErrWriteProtect: return "read-only file system";
    case kErrDeviceFailure:
    case kErrIoDevice: return "device error";
    case kErrSharingViolation: return "in use by another program";
    case kErrDiskFull: return "disk full";
    case kErrInvalidName: return "a name the system does not take";
    case kErrDirNotEmpty: return "folder not empty";
    case kErrAlreadyExists: return "already exists";
    case kErrNameTooLong: return "name too long";
    case kErrNotAFile: return "a link or special file, not a plain file";
    default: return "error " + std::to_string(code);
  }
}

EFailure IoFailure(int code, const std::string& operation, const std::string& path) {
  return EFailure(IoErrorText(code), code, operation, path);
}

std::string Fmt(const std::string& pattern, const std::string& arg) {
  std::string out = pattern;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out;
}
