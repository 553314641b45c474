#pragma once

// The compound file (the "structured storage" container) that a password-protected workbook and
// the workbooks of Excel 97-2003 are saved in instead of a zip archive: only enough of it is read
// to tell the two apart, so that the operator learns what to do with the file.

#include <cstdint>
#include <functional>
#include <span>

namespace serializers::xlsx_detail {

/// What a file that is not a zip archive turned out to be.
enum class CompoundFileKind {
  /// Not a compound file at all.
  none,
  /// A compound file holding an encrypted workbook package (a stream named EncryptedPackage).
  encrypted_package,
  /// Any other compound file (an Excel 97-2003 workbook, a document of another program).
  other,
};

/// Fills `into` with the bytes at `offset`; false when the file has fewer bytes there.
using ReadAt = std::function<bool(std::uint64_t offset, std::span<char> into)>;

/// Which kind of file of `size` bytes, read through `read_at`, is. A damaged or hostile compound
/// file is `other`: the walk of its directory is bounded by its size and never follows a chain of
/// sectors twice round.
CompoundFileKind compound_file_kind(std::uint64_t size, const ReadAt& read_at);

}  // namespace serializers::xlsx_detail
