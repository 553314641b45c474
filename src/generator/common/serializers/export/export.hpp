#pragma once

// The exporter registry: file-name extension -> the function that writes files of that kind.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "generator/common/serializers/document.hpp"
#include "generator/common/serializers/load/load.hpp"

namespace generator::serializers {

/// Writes the data (data first, path second) to one file.
using Exporter = void (*)(const Document& data, const std::filesystem::path& path);

/// Enters an exporter under the extensions it was made for and returns the very same exporter.
using ExportDecorator = std::function<Exporter(Exporter)>;

/// What an exporter writes: a document (a mapping, as export_to_path hands over) or a list of row
/// records (a workbook), which its callers hand to it directly.
enum class ExportedData { document, rows };

/// The process-wide exporter table; never instantiated.
class Exporters {
 public:
  Exporters() = delete;
  /// The exporter registered for the path's lower-cased extension, or _ambiguous_exporter.
  static Exporter guess(const std::filesystem::path& path);
  /// Why export_to_path could not write a document to `path` (its extension has no exporter, or
  /// one that writes only rows), naming the extensions that would do; nothing when it could.
  static std::optional<std::string> missing_exporter(const std::filesystem::path& path);
  /// A registration function bound to these extensions, for an exporter of that kind of data;
  /// fails with ExporterError on the first extension already present, keeping those entered
  /// before it.
  static ExportDecorator register_exporter(FileExtensions file_exts,
                                           ExportedData writes = ExportedData::document);

 private:
  struct Entry {
    std::string extension;
    Exporter exporter;
    ExportedData writes;
  };
  static std::vector<Entry>& _registry();
};

/// Exporters::register_exporter, the name the format libraries use.
ExportDecorator register_exporter(FileExtensions file_exts,
                                  ExportedData writes = ExportedData::document);

/// The fallback for an unknown extension: always fails with ValueError
/// "Could not determine exporter from <path>".
[[noreturn]] void _ambiguous_exporter(const Document& _, const std::filesystem::path& path);

/// Writes a mapping with the exporter its extension selects; anything but a mapping is refused
/// with TypeError before the path is looked at.
void export_to_path(const Document& data, const std::filesystem::path& path);

}  // namespace generator::serializers
