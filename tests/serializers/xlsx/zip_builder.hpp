#pragma once

// Hand-made workbook packages for the reader tests: what no spreadsheet program writes on its own
// (rare cell types, hostile parts, broken packages).

#include <filesystem>
#include <string>
#include <vector>

namespace xlsx_test {

/// One file of a zip archive.
struct Part {
  std::string name;
  std::string content;
};

/// Writes `parts` as a deflated zip archive at `path`.
void write_zip(const std::filesystem::path& path, const std::vector<Part>& parts);

/// The parts of a one-sheet workbook whose sheet holds `sheet_data` (the inside of <sheetData>);
/// shared strings and styles parts are added when their inside is given.
std::vector<Part> workbook_parts(const std::string& sheet_data,
                                 const std::string& shared_strings = "",
                                 const std::string& cell_formats = "",
                                 const std::string& workbook_properties = "");

/// The bytes of a compound file (the container of password-protected and Excel 97-2003
/// workbooks) whose root holds empty streams of the given names, as Excel lays one out.
std::string compound_file(const std::vector<std::u16string>& stream_names);

/// A fresh, empty scratch folder for one test.
std::filesystem::path scratch_folder(const std::string& test_name);

}  // namespace xlsx_test
