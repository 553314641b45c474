// The XML parts of a workbook (parts of the input in the order of PART_NAMES, missing ones left
// out), packed here into a stored zip archive so that mutations reach the XML readers instead of
// failing the archive's checksums; read as convert reads a workbook.

#include <zip.h>

#include <array>
#include <cstdlib>

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/convert/convert.hpp"
#include "generator/convert/workbook_checks.hpp"
#include "ovra/config.hpp"
#include "serializers/xlsx/xlsx.hpp"

namespace {

constexpr std::array<const char*, 7> PART_NAMES{
    "xl/worksheets/sheet1.xml",   "xl/sharedStrings.xml", "xl/styles.xml",      "xl/workbook.xml",
    "xl/_rels/workbook.xml.rels", "_rels/.rels",          "[Content_Types].xml"};

// The stored zip archive of `contents` under PART_NAMES; libzip failing to write one is no
// finding of the reader, so it ends the run.
std::string stored_archive(const std::vector<std::string>& contents) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (buffer == nullptr) std::abort();
  zip_source_keep(buffer);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (archive == nullptr) std::abort();
  for (std::size_t index = 0; index < contents.size() && index < PART_NAMES.size(); ++index) {
    zip_source_t* part =
        zip_source_buffer(archive, contents[index].data(), contents[index].size(), 0);
    const zip_int64_t added = zip_file_add(archive, PART_NAMES[index], part, ZIP_FL_OVERWRITE);
    if (part == nullptr || added < 0 ||
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(added), ZIP_CM_STORE, 0) != 0) {
      std::abort();
    }
  }
  if (zip_close(archive) != 0) std::abort();
  std::string bytes;
  if (zip_source_open(buffer) != 0) std::abort();
  char chunk[65536];
  for (zip_int64_t count; (count = zip_source_read(buffer, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(count));
  zip_source_close(buffer);
  zip_source_free(buffer);
  zip_error_fini(&error);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::log_everything_quietly();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string workbook =
      stored_archive(fuzz::split_parts(fuzz::as_text(data, size), PART_NAMES.size()));
  try {
    const auto sheet = generator::convert::WorkbookSheet::read_bytes(workbook, "fuzz.xlsx");
    generator::convert::check_sheet(sheet, "fuzz.xlsx");
    serializers::CollectedList accounts("account_info");
    generator::convert::discovery_document(sheet, serializers::Document::object(),
                                           "template.yaml", accounts);
  } catch (const ovra::ValidationError&) {
  } catch (const generator::Error&) {
  }
  return 0;
}
