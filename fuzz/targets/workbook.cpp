// A workbook package from its bytes: the table as any reader gets it, and the accounts convert
// builds from it, checked by the migration model and written as YAML.

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/common/serializers/xlsx/xlsx.hpp"
#include "generator/common/serializers/yaml/yaml.hpp"
#include "generator/convert/account_records.hpp"
#include "generator/convert/convert.hpp"
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
    const auto rows = generator::serializers::load_numbered_records_from_xlsx_bytes(
        bytes, "fuzz.xlsx", generator::convert::text_columns());
    generator::serializers::Document discovery = generator::serializers::Document::object();
    discovery["account_info"] =
        generator::convert::generate_discovery_account_info(rows.records)["account_info"];
    (void)generator::serializers::dump_yaml(ovra::load_from_dict(discovery).to_document());
  } catch (const ovra::ValidationError&) {
  } catch (const generator::Error&) {
  }
  return 0;
}
