#pragma once

// Read access to the parts of a workbook package (a zip archive), each bounded in size.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

struct zip;

namespace serializers::xlsx_detail {

/// An open workbook package; the parts are looked up by name as other readers look them up:
/// ignoring letter case, and with a backslash taken for the slash that some writers put there.
class Archive {
 public:
  /// Opens the archive at `path`: FileNotFoundError when it is missing, OSError when it cannot be
  /// read, XLSXError when it is not a consistent zip archive (naming a part it holds twice, or
  /// saying that it is password-protected or an older kind of workbook).
  explicit Archive(const std::filesystem::path& path);
  /// Opens the archive held in `bytes`, which must outlive it; `name` stands for it in messages.
  /// XLSXError as above.
  Archive(std::string_view bytes, const std::filesystem::path& name);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  /// Whether the package holds a part of that name (without a leading slash).
  [[nodiscard]] bool has(std::string_view part) const;

  /// Hands the uncompressed bytes of `part` to `consume` piece by piece; XLSXError when the part is
  /// missing, corrupt or larger than `max_bytes` once uncompressed.
  void stream(std::string_view part, std::uint64_t max_bytes,
              const std::function<void(std::string_view bytes)>& consume) const;

  /// The path the archive was opened from, for messages.
  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

 private:
  void index_parts();
  [[nodiscard]] const std::uint64_t* find(std::string_view part) const;

  std::filesystem::path path_;
  zip* archive_ = nullptr;
  // Each part's name as it is looked up (see part_key) -> its index in the archive.
  std::unordered_map<std::string, std::uint64_t> parts_;
};

/// "'<path>'" as messages name a workbook.
std::string quoted(const std::filesystem::path& path);

}  // namespace serializers::xlsx_detail
