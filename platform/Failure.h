#pragma once
// The one failure type of the program: a message text in GBK and, where a system call caused
// it, the Windows error code (0 otherwise), the operation that failed ("open", "write",
// "move"...) and the path it was given (GBK; both empty when not known). The message is what
// the log shows; the rest serves the run's report.

#include <exception>
#include <string>

class EFailure : public std::exception {
 public:
  explicit EFailure(std::string message, int code = 0, std::string operation = "",
                    std::string path = "")
      : FMessage(std::move(message)), FCode(code), FOperation(std::move(operation)), FPath(std::move(path)) {}
  const std::string& Message() const noexcept { return FMessage; }
  int Code() const noexcept { return FCode; }
  const std::string& Operation() const noexcept { return FOperation; }
  const std::string& Path() const noexcept { return FPath; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
  int FCode;
  std::string FOperation;
  std::string FPath;
};

// The Windows error codes the platform reports.
enum : int {
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrInvalidData = 13,  // the data is invalid (a settings file in an encoding it cannot be read in)
  kErrNotSameDevice = 17,
  kErrWriteProtect = 19,   // the medium is write-protected (a file system mounted read-only)
  kErrDeviceFailure = 31,  // a device attached to the system is not functioning
  kErrSharingViolation = 32,
  kErrDiskFull = 112,
  kErrInvalidName = 123,
  kErrDirNotEmpty = 145,
  kErrAlreadyExists = 183,
  kErrNameTooLong = 206,
  kErrIoDevice = 1117,
  kErrNotAFile = 1920,  // the file cannot be accessed: a link, FIFO, socket or device
};

// The text of an I/O error by Windows code: 2 "File not found", 3 "Invalid filename",
// 4 "Too many open files", 5 "File access denied", any other "I/O error %d".
std::string IoErrorText(int code);
// The cause of a Windows error code in plain words for an operator ("permission denied",
// "no such folder", "disk full"...), English, for the console, the journal and the report.
std::string CauseText(int code);
// An EFailure with IoErrorText(code) as its message, and what failed on which path.
EFailure IoFailure(int code, const std::string& operation = "", const std::string& path = "");
// `pattern` with its first "%s" replaced by `arg` ("'%s' is not a valid integer value").
std::string Fmt(const std::string& pattern, const std::string& arg);

// The runtime's fixed texts, the failures' own words, in one place.
namespace Texts {
inline const std::string NotAnInteger = "'%s' is not a valid integer value";
inline const std::string NotADateTime = "'%s' is not a valid date and time";
inline const std::string UnableToWrite = "Unable to write to %s";
inline const std::string StreamReadError = "Stream read error";
inline const std::string StreamWriteError = "Stream write error";
}  // namespace Texts
