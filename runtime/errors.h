// Runtime layer: the exceptions every other layer raises, each carrying the exact text the user sees.
//
// The runtime layer uses only the standard library and POSIX. One place per front end turns an
// exception into what the user sees (the window's error box, the command line's error printer).
#pragma once

#include <stdexcept>
#include <string>

namespace kavrimo {

// Base of every failure the system reports; what() is the user-visible message.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// A file operation failed. The code selects the message: 2 "File not found", 3 "Invalid filename",
// 4 "Too many open files", 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
// 106 "Invalid numeric input", any other n "I/O error n".
//
// The error may name the file it concerns (as the user named it or derived it from a name), for front
// ends that show it beside the message; the message itself never holds the name.
class EInOutError : public Error {
 public:
  explicit EInOutError(int code, std::string path = {})
      : Error(MessageFor(code)), code_(code), path_(std::move(path)) {}
  int ErrorCode() const { return code_; }
  const std::string& Path() const { return path_; }
  static std::string MessageFor(int code);

 private:
  int code_;
  std::string path_;
};

// A text that does not convert to a number.
class EConvertError : public Error {
 public:
  using Error::Error;
};

// Floating-point faults; underflow and inexact results are never reported.
class EMathError : public Error {
 public:
  using Error::Error;
};
class EInvalidOp : public EMathError {
 public:
  EInvalidOp() : EMathError("Invalid floating point operation") {}
};
class EZeroDivide : public EMathError {
 public:
  EZeroDivide() : EMathError("Floating point division by zero") {}
};
class EOverflow : public EMathError {
 public:
  EOverflow() : EMathError("Floating point overflow") {}
};

// The settings file could not be written: "Unable to write to <path>".
class EIniFileException : public Error {
 public:
  using Error::Error;
};

// A text file could not be opened for reading: "Cannot open file <path>".
class EFOpenError : public Error {
 public:
  explicit EFOpenError(const std::string& path) : Error("Cannot open file " + path) {}
};

// A command refused its input before touching any file (grid size, template validity).
class ECommandError : public Error {
 public:
  using Error::Error;
};

// The message as the error displays show it: a "." is appended when the last character's code is
// above that of "." (so a letter or digit gets a full stop; ".", ")" and the like do not).
std::string WithFullStop(const std::string& message);

}  // namespace kavrimo
