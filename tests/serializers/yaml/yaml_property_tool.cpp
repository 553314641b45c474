// yaml_property_tool MODE IN OUT [IN OUT ...]
//   json-to-yaml: reads JSON, writes it with export_to_yaml
//   yaml-to-json: reads YAML with load_from_yaml, writes JSON (ASCII, full float precision)
//   yaml-to-yaml: reads YAML with load_from_yaml, writes it back with export_to_yaml
// A failure of one pair writes "ERROR <kind>: <message>" into its OUT file and goes on.

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "generator/common/errors.hpp"
#include "serializers/yaml/yaml.hpp"

namespace {

using serializers::Document;

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void convert(const std::string& mode, const std::string& in, const std::string& out) {
  if (mode == "json-to-yaml") {
    std::ifstream input(in, std::ios::binary);
    serializers::export_to_yaml(Document::parse(input), out);
  } else if (mode == "yaml-to-json") {
    write_text(out, serializers::load_from_yaml(in).dump(-1, ' ', true));
  } else if (mode == "yaml-to-yaml") {
    serializers::export_to_yaml(serializers::load_from_yaml(in), out);
  } else {
    throw std::invalid_argument("unknown mode " + mode);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::cerr << "usage: yaml_property_tool MODE IN OUT [IN OUT ...]\n";
    return 2;
  }
  const std::string mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    try {
      convert(mode, argv[i], argv[i + 1]);
    } catch (const generator::Error& error) {
      write_text(argv[i + 1], std::string("ERROR ") + error.kind() + ": " + error.what());
    } catch (const std::exception& error) {
      write_text(argv[i + 1], std::string("ERROR ") + error.what());
    }
  }
  return 0;
}
