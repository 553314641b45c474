#pragma once

// The files the programs read, opened so that neither the open nor a read can wait for ever.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "base/errors.hpp"

namespace base::files {

/// Why a path that exists cannot be read as an input file.
enum class InputProblem {
  directory,   // a folder
  not_a_file,  // a named pipe, a socket, a terminal or another device (the null device aside)
  unreadable,  // the system refused to open or read it (permissions, an I/O error)
};

/// An input that cannot be read: OSError "Cannot read <path>: <reason>", with the reason and the
/// problem apart, for callers that name the file in words of their own or pass over some problems.
class InputFileError : public OSError {
 public:
  InputFileError(const std::filesystem::path& path, const std::string& reason, InputProblem problem)
      : OSError("Cannot read " + path.string() + ": " + reason, reason), problem_(problem) {}
  /// What kind of thing stood in the way.
  [[nodiscard]] InputProblem problem() const noexcept { return problem_; }

 private:
  InputProblem problem_;
};

/// A file open for reading that cannot hold the run up: a regular file, or the null device, which
/// reads as empty (the usual way to name no file at all). Every file a program reads is opened
/// through it.
class InputFile {
 public:
  /// Opens `path` (through symbolic links) without waiting, so that a named pipe nobody writes,
  /// a terminal or a device holds up neither the open nor a read: anything but a regular file or
  /// the null device is refused (InputFileError: "it is a named pipe, not a regular file"), and so
  /// is a file that cannot be opened. Nothing when no file is there.
  [[nodiscard]] static std::optional<InputFile> open_if_present(const std::filesystem::path& path);

  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  /// Closes the file unless its descriptor was handed over.
  ~InputFile();

  /// The rest of the file when it holds at most `limit` more bytes; nothing when it holds more,
  /// known after limit + 1 bytes, so that nothing endless is read on. InputFileError when a read
  /// fails.
  [[nodiscard]] std::optional<std::string> read_up_to(std::size_t limit);

  /// Hands the open descriptor to a library that reads the file itself; the caller closes it
  /// from then on.
  [[nodiscard]] int release() noexcept;

 private:
  InputFile(std::filesystem::path path, int descriptor)
      : path_(std::move(path)), descriptor_(descriptor) {}

  std::filesystem::path path_;
  int descriptor_ = -1;
};

}  // namespace base::files
