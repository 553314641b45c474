#include "zip_builder.hpp"

#include <zip.h>

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

std::filesystem::path scratch_folder(const std::string& test_name) {
  const auto folder = std::filesystem::path(TEST_SCRATCH_DIR) / "xlsx" / test_name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace xlsx_test
