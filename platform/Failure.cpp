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

EFailure IoFailure(int code, const std::string& operation, const std::string& path) {
  return EFailure(IoErrorText(code), code, operation, path);
}

std::string Fmt(const std::string& pattern, const std::string& arg) {
  std::string out = pattern;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out;
}
