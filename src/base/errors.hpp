#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace base {

/// Base of every error raised on purpose; kind() is the name printed before the message.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  /// The short name of the error kind, as shown on standard error ("ValueError", "OSError").
  [[nodiscard]] virtual const char* kind() const noexcept = 0;
};

/// A value of the right type but not acceptable (a malformed CIDR, an unknown boolean word).
class ValueError : public Error {
 public:
  using Error::Error;
  [[nodiscard]] const char* kind() const noexcept override { return "ValueError"; }
};

/// Reading or writing a file failed at the operating-system level.
class OSError : public Error {
 public:
  using Error::Error;
  /// The whole message, and apart from it the reason alone (the system's words, "No space left on
  /// device"), for a caller that names the file in words of its own.
  OSError(const std::string& message, std::string reason)
      : Error(message), reason_(std::move(reason)) {}
  [[nodiscard]] const char* kind() const noexcept override { return "OSError"; }
  /// Why the operation failed, without the file's name; empty when the message alone says it.
  [[nodiscard]] const std::string& reason() const noexcept { return reason_; }

 private:
  std::string reason_;
};

#define BASE_DECLARE_ERROR(Name)                                               \
  class Name : public Error {                                                  \
   public:                                                                     \
    using Error::Error;                                                        \
    [[nodiscard]] const char* kind() const noexcept override { return #Name; } \
  }

/// A value of the wrong type (a text where a list was expected, say).
BASE_DECLARE_ERROR(TypeError);
/// A required key or column is missing.
BASE_DECLARE_ERROR(KeyError);
/// An index out of range, or a sequence that had to hold at least one item and was empty.
BASE_DECLARE_ERROR(IndexError);
/// A file that had to exist does not.
BASE_DECLARE_ERROR(FileNotFoundError);

#undef BASE_DECLARE_ERROR

}  // namespace base
