// A workbook package from its bytes (a zip archive, or the compound file of a password-protected
// or older workbook): its rows as any reader of the sheet gets them, and the discovery document
// convert builds from it (header row checked, accounts built and checked by the migration model),
// written as YAML.

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/convert/convert.hpp"
#include "generator/convert/workbook_checks.hpp"
#include "ovra/config.hpp"
#include "serializers/xlsx/xlsx.hpp"
#include "serializers/yaml/yaml.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::log_everything_quietly();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::as_text(data, size);
  // The plain table, as the loader registry's reader makes it.
  struct Ignored : serializers::SheetRows {
    void sheet(std::string_view) override {}
    void row(std::uint32_t, std::vector<serializers::SheetCell>&) override {}
  } ignored;
  try {
    serializers::load_from_xlsx_bytes(bytes, "fuzz.xlsx", ignored);
  } catch (const generator::Error&) {
    return 0;
  }
  try {
    const auto sheet = generator::convert::WorkbookSheet::read_bytes(bytes, "fuzz.xlsx");
    generator::convert::check_sheet(sheet, "fuzz.xlsx");
    serializers::CollectedList accounts("account_info");
    generator::convert::discovery_document(sheet, serializers::Document::object(),
                                           "template.yaml", accounts);
    (void)serializers::dump_yaml(accounts.document());
  } catch (const ovra::ValidationError&) {
  } catch (const generator::Error&) {
  }
  return 0;
}
