#include "serializers/xlsx/compound_file.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace serializers::xlsx_detail {

namespace {

constexpr std::array<unsigned char, 8> SIGNATURE{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t HEADER_BYTES = 512;
constexpr std::size_t HEADER_FAT_SECTORS = 109;
constexpr std::size_t DIRECTORY_ENTRY_BYTES = 128;
constexpr std::uint32_t LAST_REGULAR_SECTOR = 0xFFFFFFFA;
constexpr std::uint8_t STREAM_OBJECT = 2;
// The stream in which an encrypted workbook package is kept, beside its EncryptionInfo.
constexpr std::u16string_view ENCRYPTED_PACKAGE = u"EncryptedPackage";

std::uint32_t little_endian_32(const char* bytes) {
  std::uint32_t value = 0;
  for (int index = 3; index >= 0; --index)
    value = value << 8 | static_cast<unsigned char>(bytes[index]);
  return value;
}

std::uint16_t little_endian_16(const char* bytes) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                    static_cast<unsigned char>(bytes[1]) << 8);
}

class CompoundFile {
 public:
  CompoundFile(std::uint64_t size, const ReadAt& read_at, const char* header, unsigned shift)
      : read_at_(read_at), sector_bytes_(std::size_t{1} << shift), sectors_(size >> shift) {
    const std::uint32_t fat_sectors = little_endian_32(header + 0x2C);
    for (std::size_t index = 0; index < HEADER_FAT_SECTORS && locations_.size() < fat_sectors;
         ++index)
      add_location(little_endian_32(header + 0x4C + 4 * index));
    // Files with more than 109 sectors of allocation table list the rest in a chain of their own.
    std::uint32_t difat = little_endian_32(header + 0x44);
    std::vector<char> sector(sector_bytes_);
    for (std::uint64_t step = 0; step < sectors_ && locations_.size() < fat_sectors &&
                                 difat <= LAST_REGULAR_SECTOR && read_sector(difat, sector);
         ++step) {
      const std::size_t entries = sector_bytes_ / 4 - 1;
      for (std::size_t index = 0; index < entries && locations_.size() < fat_sectors; ++index)
        add_location(little_endian_32(sector.data() + 4 * index));
      difat = little_endian_32(sector.data() + 4 * entries);
    }
  }

  // Whether a directory entry, met along the directory's chain of sectors, names `wanted`.
  [[nodiscard]] bool has_stream(std::uint32_t first_directory_sector,
                                std::u16string_view wanted) const {
    std::vector<char> sector(sector_bytes_);
    std::uint32_t current = first_directory_sector;
    for (std::uint64_t step = 0; step < sectors_ && current <= LAST_REGULAR_SECTOR; ++step) {
      if (!read_sector(current, sector)) return false;
      for (std::size_t at = 0; at + DIRECTORY_ENTRY_BYTES <= sector_bytes_;
           at += DIRECTORY_ENTRY_BYTES)
        if (names(sector.data() + at, wanted)) return true;
      const auto next = next_sector(current);
      if (!next) return false;
      current = *next;
    }
    return false;
  }

 private:
  void add_location(std::uint32_t sector) {
    if (sector <= LAST_REGULAR_SECTOR && sector < sectors_) locations_.push_back(sector);
  }

  bool read_sector(std::uint32_t sector, std::vector<char>& into) const {
    if (sector >= sectors_) return false;
    return read_at_((static_cast<std::uint64_t>(sector) + 1) * sector_bytes_, into);
  }

  [[nodiscard]] std::optional<std::uint32_t> next_sector(std::uint32_t sector) const {
    const std::size_t per_sector = sector_bytes_ / 4;
    const std::size_t table_sector = sector / per_sector;
    if (table_sector >= locations_.size()) return std::nullopt;
    std::array<char, 4> entry{};
    const std::uint64_t offset = (static_cast<std::uint64_t>(locations_[table_sector]) + 1) *
                                     sector_bytes_ +
                                 4 * (sector % per_sector);
    if (!read_at_(offset, entry)) return std::nullopt;
    return little_endian_32(entry.data());
  }

  static bool names(const char* entry, std::u16string_view wanted) {
    const std::size_t name_bytes = little_endian_16(entry + 0x40);
    if (static_cast<std::uint8_t>(entry[0x42]) != STREAM_OBJECT ||
        name_bytes != 2 * (wanted.size() + 1))
      return false;
    for (std::size_t index = 0; index < wanted.size(); ++index)
      if (little_endian_16(entry + 2 * index) != wanted[index]) return false;
    return true;
  }

  const ReadAt& read_at_;
  std::size_t sector_bytes_;
  std::uint64_t sectors_;
  // Where the sectors of the allocation table lie, in table order.
  std::vector<std::uint32_t> locations_;
};

}  // namespace

CompoundFileKind compound_file_kind(std::uint64_t size, const ReadAt& read_at) {
  std::array<char, HEADER_BYTES> header{};
  if (size < HEADER_BYTES || !read_at(0, header) ||
      std::memcmp(header.data(), SIGNATURE.data(), SIGNATURE.size()) != 0)
    return CompoundFileKind::none;
  const unsigned shift = little_endian_16(header.data() + 0x1E);
  if (shift != 9 && shift != 12) return CompoundFileKind::other;
  const CompoundFile file(size, read_at, header.data(), shift);
  return file.has_stream(little_endian_32(header.data() + 0x30), ENCRYPTED_PACKAGE)
             ? CompoundFileKind::encrypted_package
             : CompoundFileKind::other;
}

}  // namespace serializers::xlsx_detail
