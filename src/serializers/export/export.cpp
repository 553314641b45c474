#include "serializers/export/export.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <ranges>

#include "serializers/errors.hpp"

namespace serializers {

std::vector<Exporters::Entry>& Exporters::_registry() {
  static std::vector<Entry> registry;
  return registry;
}

Exporter Exporters::guess(const std::filesystem::path& path) {
  const std::string extension = lower_extension(path);
  for (const Entry& entry : _registry()) {
    if (entry.extension == extension) return entry.exporter;
  }
  return &_ambiguous_exporter;
}

std::optional<std::string> Exporters::missing_exporter(const std::filesystem::path& path) {
  const std::string extension = lower_extension(path);
  const auto& registry = _registry();
  const auto found = std::find_if(registry.begin(), registry.end(),
                                  [&](const Entry& entry) { return entry.extension == extension; });
  if (found != registry.end() && found->writes == ExportedData::document) return std::nullopt;
  // A workbook's exporter is in the table too, but it takes rows, not a document.
  const auto documents = [](const Entry& entry) { return entry.writes == ExportedData::document; };
  const std::string known = fmt::format(
      "{}", fmt::join(registry | std::views::filter(documents) | std::views::transform(&Entry::extension), ", "));
  std::string problem;
  if (extension.empty())
    problem = "the file name has no extension";
  else if (found != registry.end())
    problem = "a '" + extension + "' file holds rows of a table, not a document like this one";
  else
    problem = "no writer for the extension '" + extension + "'";
  return problem + " (known: " + (known.empty() ? "none" : known) + ")";
}

ExportDecorator Exporters::register_exporter(FileExtensions file_exts, ExportedData writes) {
  return [extensions = std::move(file_exts.items), writes](Exporter exporter) {
    auto& registry = _registry();
    for (const auto& ext : extensions) {
      const std::string dot_ext = "." + ext;
      const bool present = std::any_of(registry.begin(), registry.end(), [&](const Entry& entry) {
        return entry.extension == dot_ext;
      });
      if (present)
        throw ExporterError("Exporter for file extension " + ext + " already exists in registry.");
      registry.push_back({dot_ext, exporter, writes});
    }
    return exporter;
  };
}

void Exporters::register_list_exporter(const FileExtensions& file_exts, ListExporter exporter) {
  auto& registry = _registry();
  for (const auto& ext : file_exts.items) {
    const auto found = std::find_if(registry.begin(), registry.end(), [&](const Entry& entry) {
      return entry.extension == "." + ext && entry.writes == ExportedData::document;
    });
    if (found == registry.end())
      throw ExporterError("No document exporter for file extension " + ext + " to stream lists.");
    found->list_exporter = exporter;
  }
}

ListExporter Exporters::guess_list_exporter(const std::filesystem::path& path) {
  const std::string extension = lower_extension(path);
  for (const Entry& entry : _registry()) {
    if (entry.extension == extension) return entry.list_exporter;
  }
  return nullptr;
}

namespace {

// For formats that cannot be written item by item: the list is gathered and written whole.
class GatheredListExport : public ListExport {
 public:
  GatheredListExport(std::filesystem::path path, std::string key, Document frame)
      : path_(std::move(path)), items_(std::move(key), std::move(frame)) {}
  void append(const Document& item) override { items_.append(item); }
  void finish() override { export_to_path(items_.document(), path_); }

 private:
  std::filesystem::path path_;
  CollectedList items_;
};

}  // namespace

std::unique_ptr<ListExport> open_list_export(const std::filesystem::path& path, std::string key,
                                             Document frame) {
  if (const ListExporter exporter = Exporters::guess_list_exporter(path))
    return exporter(path, std::move(key), std::move(frame));
  return std::make_unique<GatheredListExport>(path, std::move(key), std::move(frame));
}

ExportDecorator register_exporter(FileExtensions file_exts, ExportedData writes) {
  return Exporters::register_exporter(std::move(file_exts), writes);
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

}  // namespace serializers
