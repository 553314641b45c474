// A discovery template or discovery file read as convert reads it, checked by the migration model
// in both scopes and written back out, and read as `generate --verify` reads a discovery file:
// account by account, then once more to copy its accounts.

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/generate/discovery_file.hpp"
#include "ovra/config.hpp"
#include "serializers/yaml/yaml.hpp"

namespace {

void check_and_write(const serializers::Document& document, ovra::Scope scope) {
  ovra::BaseModel::set_scope(scope);
  try {
    const ovra::DiscoveryConfig config = ovra::load_from_dict(document);
    (void)serializers::dump_yaml(config.to_document());
  } catch (const ovra::ValidationError&) {
  } catch (const generator::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  serializers::Document document;
  try {
    document =
        serializers::load_from_yaml_text(fuzz::as_text(data, size), "template.yaml");
  } catch (const generator::Error&) {
    return 0;
  }
  check_and_write(document, ovra::Scope::migration);
  check_and_write(document, ovra::Scope::discovery_only);
  try {
    const auto file =
        generator::generate::read_discovery_text(fuzz::as_text(data, size), "discovery.yaml");
    serializers::CollectedList accounts("account_info", file.sections);
    generator::generate::copy_discovery_accounts(
        file, [](serializers::Document entry, const auto&) { return entry; }, accounts);
  } catch (const ovra::ValidationError&) {
  } catch (const generator::Error&) {
  }
  return 0;
}
