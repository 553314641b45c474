#include "zip_builder.hpp"

#include <zip.h>

#include <cstdint>
#include <stdexcept>

namespace xlsx_test {

namespace {

const std::string MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string REL_NS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string PACKAGE_REL_NS = "http://schemas.openxmlformats.org/package/2006/relationships";

}  // namespace

void write_zip(const std::filesystem::path& path, const std::vector<Part>& parts) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("cannot create " + path.string());
  for (const auto& part : parts) {
    // libzip reads the buffers when the archive is closed; `parts` outlives that.
    zip_source_t* source = zip_source_buffer(archive, part.content.data(), part.content.size(), 0);
    if (source == nullptr ||
        zip_file_add(archive, part.name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw std::runtime_error("cannot add " + part.name);
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::vector<Part> workbook_parts(const std::string& sheet_data, const std::string& shared_strings,
                                 const std::string& cell_formats,
                                 const std::string& workbook_properties) {
  std::string relationships = "<Relationships xmlns=\"" + PACKAGE_REL_NS + "\">" +
                              "<Relationship Id=\"rId1\" Type=\"" + REL_NS +
                              "/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
  if (!shared_strings.empty()) {
    relationships += "<Relationship Id=\"rId2\" Type=\"" + REL_NS +
                     "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
  }
  if (!cell_formats.empty()) {
    relationships +=
        "<Relationship Id=\"rId3\" Type=\"" + REL_NS + "/styles\" Target=\"styles.xml\"/>";
  }
  relationships += "</Relationships>";
  std::vector<Part> parts{
      {"_rels/.rels", "<Relationships xmlns=\"" + PACKAGE_REL_NS +
                          "\"><Relationship Id=\"rId1\" Type=\"" + REL_NS +
                          "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       "<workbook xmlns=\"" + MAIN_NS + "\" xmlns:r=\"" + REL_NS + "\">" + workbook_properties +
           "<sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", relationships},
      {"xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + MAIN_NS + "\"><sheetData>" + sheet_data +
                                       "</sheetData></worksheet>"},
  };
  if (!shared_strings.empty()) {
    parts.push_back(
        {"xl/sharedStrings.xml", "<sst xmlns=\"" + MAIN_NS + "\">" + shared_strings + "</sst>"});
  }
  if (!cell_formats.empty()) {
    parts.push_back({"xl/styles.xml",
                     "<styleSheet xmlns=\"" + MAIN_NS + "\">" + cell_formats + "</styleSheet>"});
  }
  return parts;
}

namespace {

void put_32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int index = 0; index < 4; ++index)
    bytes[at + index] = static_cast<char>(value >> (8 * index) & 0xFF);
}

void put_16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

}  // namespace

std::string compound_file(const std::vector<std::u16string>& stream_names) {
  constexpr std::size_t SECTOR = 512;
  constexpr std::uint32_t END_OF_CHAIN = 0xFFFFFFFE;
  constexpr std::uint32_t FREE = 0xFFFFFFFF;
  // The header, then sector 0 (the allocation table) and sector 1 (the directory).
  std::string bytes(3 * SECTOR, '\0');
  const std::string signature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  bytes.replace(0, signature.size(), signature);
  put_16(bytes, 0x18, 0x3E);
  put_16(bytes, 0x1A, 3);
  put_16(bytes, 0x1C, 0xFFFE);
  put_16(bytes, 0x1E, 9);
  put_16(bytes, 0x20, 6);
  put_32(bytes, 0x2C, 1);
  put_32(bytes, 0x30, 1);
  put_32(bytes, 0x38, 4096);
  put_32(bytes, 0x3C, END_OF_CHAIN);
  put_32(bytes, 0x44, END_OF_CHAIN);
  put_32(bytes, 0x4C, 0);
  for (std::size_t index = 1; index < 109; ++index) put_32(bytes, 0x4C + 4 * index, FREE);
  put_32(bytes, SECTOR, 0xFFFFFFFD);  // sector 0 holds the table itself
  put_32(bytes, SECTOR + 4, END_OF_CHAIN);
  for (std::size_t index = 2; index < SECTOR / 4; ++index) put_32(bytes, SECTOR + 4 * index, FREE);
  if (stream_names.size() > 3) throw std::runtime_error("one directory sector holds four entries");
  const auto entry = [&](std::size_t index, const std::u16string& name, std::uint8_t type,
                         std::uint32_t child, std::uint32_t right) {
    const std::size_t at = 2 * SECTOR + 128 * index;
    for (std::size_t letter = 0; letter < name.size(); ++letter)
      put_16(bytes, at + 2 * letter, static_cast<std::uint16_t>(name[letter]));
    put_16(bytes, at + 0x40, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    bytes[at + 0x42] = static_cast<char>(type);
    bytes[at + 0x43] = 1;  // black
    put_32(bytes, at + 0x44, FREE);
    put_32(bytes, at + 0x48, right);
    put_32(bytes, at + 0x4C, child);
    put_32(bytes, at + 0x74, END_OF_CHAIN);
  };
  entry(0, u"Root Entry", 5, stream_names.empty() ? FREE : 1, FREE);
  for (std::size_t index = 0; index < stream_names.size(); ++index) {
    entry(index + 1, stream_names[index], 2, FREE,
          index + 1 < stream_names.size() ? static_cast<std::uint32_t>(index + 2) : FREE);
  }
  return bytes;
}

std::filesystem::path scratch_folder(const std::string& test_name) {
  const auto folder = std::filesystem::path(TEST_SCRATCH_DIR) / "xlsx" / test_name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace xlsx_test
