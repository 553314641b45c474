#include "generator/common/serializers/export/export.hpp"

#include <algorithm>

#include "generator/common/errors.hpp"

namespace generator::serializers {

std::vector<std::pair<std::string, Exporter>>& Exporters::_registry() {
  static std::vector<std::pair<std::string, Exporter>> registry;
  return registry;
}

Exporter Exporters::guess(const std::filesystem::path& path) {
  const std::string extension = lower_extension(path);
  for (const auto& [key, exporter] : _registry()) {
    if (key == extension) return exporter;
  }
  return &_ambiguous_exporter;
}

std::optional<std::string> Exporters::missing_exporter(const std::filesystem::path& path) {
  if (guess(path) != &_ambiguous_exporter) return std::nullopt;
  const std::string extension = lower_extension(path);
  std::string known;
  for (const auto& entry : _registry()) known += (known.empty() ? "" : ", ") + entry.first;
  return (extension.empty() ? std::string("the file name has no extension")
                            : "no writer for the extension '" + extension + "'") +
         " (known: " + (known.empty() ? "none" : known) + ")";
}

ExportDecorator Exporters::register_exporter(FileExtensions file_exts) {
  return [extensions = std::move(file_exts.items)](Exporter exporter) {
    auto& registry = _registry();
    for (const auto& ext : extensions) {
      const std::string dot_ext = "." + ext;
      const bool present = std::any_of(registry.begin(), registry.end(),
                                       [&](const auto& entry) { return entry.first == dot_ext; });
      if (present)
        throw ExporterError("Exporter for file extension " + ext + " already exists in registry.");
      registry.emplace_back(dot_ext, exporter);
    }
    return exporter;
  };
}

ExportDecorator register_exporter(FileExtensions file_exts) {
  return Exporters::register_exporter(std::move(file_exts));
}

void _ambiguous_exporter(const Document&, const std::filesystem::path& path) {
  throw ValueError("Could not determine exporter from " + path.string());
}

void export_to_path(const Document& data, const std::filesystem::path& path) {
  if (!data.is_object()) {
    throw TypeError(std::string("export_to_path: data must be a mapping, got ") + kind_name(data));
  }
  Exporters::guess(path)(data, path);
}

}  // namespace generator::serializers
