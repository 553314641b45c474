// A workbook package from its bytes: the table as any reader gets it, and the discovery document
// convert builds from it (header row checked, accounts built, the whole checked by the migration
// model), written as YAML.

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "generator/common/serializers/yaml/yaml.hpp"
#include "generator/convert/convert.hpp"
#include "generator/convert/workbook_checks.hpp"
#include "ovra/config.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::log_everything_quietly();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::as_text(data, size);
  try {
    (void)generator::serializers::load_numbered_records_from_xlsx_bytes(bytes, "fuzz.xlsx", {});
  } catch (const generator::Error&) {
    return 0;
  }
  try {
    const auto sheet = generator::serializers::load_numbered_records_from_xlsx_bytes(
        bytes, "fuzz.xlsx", generator::convert::text_columns());
    generator::convert::check_sheet(sheet, "fuzz.xlsx");
    (void)generator::serializers::dump_yaml(generator::convert::discovery_document(
        sheet.records, generator::serializers::Document::object(), "template.yaml"));
  } catch (const ovra::ValidationError&) {
  } catch (const generator::Error&) {
  }
  return 0;
}
