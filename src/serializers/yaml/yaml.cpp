#include "serializers/yaml/yaml.hpp"

#include <vector>

#include "serializers/export/export.hpp"
#include "serializers/load/load.hpp"
#include "serializers/yaml/scalars.hpp"

namespace serializers {

Document make_timestamp(std::string_view text) {
  if (!yaml_scalars::is_valid_timestamp(text)) {
    throw ValueError("\"" + std::string(text) + "\" is not a YAML date or timestamp");
  }
  return Document::binary(std::vector<std::uint8_t>(text.begin(), text.end()), TIMESTAMP_SUBTYPE);
}

bool is_timestamp(const Document& node) {
  return node.is_binary() && node.get_binary().has_subtype() &&
         node.get_binary().subtype() == TIMESTAMP_SUBTYPE;
}

std::string timestamp_text(const Document& node) {
  if (!is_timestamp(node))
    throw TypeError(std::string("expected a date or timestamp, got ") + kind_name(node));
  const auto& bytes = node.get_binary();
  return std::string(bytes.begin(), bytes.end());
}

void register_yaml_serializers() {
  register_loader(FileExtensions(YAML_EXTS))(&load_from_yaml);
  register_exporter(FileExtensions(YAML_EXTS))(&export_to_yaml);
  Exporters::register_list_exporter(FileExtensions(YAML_EXTS), &export_list_to_yaml);
}

}  // namespace serializers
