// The YAML reader on any text; a document that reads and writes must read back to itself.

#include <cstdlib>

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "serializers/yaml/yaml.hpp"

using serializers::Document;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Document document;
  try {
    document = serializers::parse_yaml(fuzz::as_text(data, size), "fuzz.yaml");
  } catch (const generator::Error&) {
    return 0;
  }
  if (!document.is_object()) return 0;
  std::string written;
  try {
    written = serializers::dump_yaml(document);
  } catch (const generator::Error&) {
    // Texts that are not UTF-8 are refused by the writer, not lost.
    return 0;
  }
  const Document again = serializers::parse_yaml(written, "written.yaml");
  if (again.dump(-1, ' ', false, Document::error_handler_t::replace) !=
      document.dump(-1, ' ', false, Document::error_handler_t::replace)) {
    std::abort();
  }
  return 0;
}
