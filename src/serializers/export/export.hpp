#pragma once

// The exporter registry: file-name extension -> the function that writes files of that kind.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serializers/document.hpp"
#include "serializers/load/load.hpp"

namespace serializers {

/// Writes the data (data first, path second) to one file.
using Exporter = void (*)(const Document& data, const std::filesystem::path& path);

/// A list handed over one item at a time, so that a long list need not be held whole: a document
/// {key: [item, ...]} or the rows of a workbook; what it becomes (a file, a document in memory) is
/// complete only after `finish`.
class ListExport {
 public:
  virtual ~ListExport() = default;
  /// The next item of the list.
  virtual void append(const Document& item) = 0;
  /// Completes the document; an export dropped before it leaves nothing behind.
  virtual void finish() = 0;
};

/// Opens a list export into the file at `path` under `key` of the mapping `frame` (in the key's
/// place when the frame has it, else after its entries; the frame's own value there is not
/// written); nothing is written there before `finish`, and a failure to write is reported by
/// `finish` (as export_to_path would report it).
using ListExporter = std::unique_ptr<ListExport> (*)(const std::filesystem::path& path,
                                                     std::string key, Document frame);

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
  /// Enters a list exporter for extensions whose document exporter is already registered.
  static void register_list_exporter(const FileExtensions& file_exts, ListExporter exporter);
  /// The list exporter registered for the path's extension, or nothing.
  static ListExporter guess_list_exporter(const std::filesystem::path& path);

 private:
  struct Entry {
    std::string extension;
    Exporter exporter;
    ExportedData writes;
    ListExporter list_exporter = nullptr;
  };
  static std::vector<Entry>& _registry();
};

/// Exporters::register_exporter, the name the format libraries use.
ExportDecorator register_exporter(FileExtensions file_exts,
                                  ExportedData writes = ExportedData::document);

/// The fallback for an unknown extension: always fails with ValueError
/// "Could not determine exporter from <path>".
[[noreturn]] void _ambiguous_exporter(const Document& _, const std::filesystem::path& path);

/// The items of a list export gathered in memory.
class CollectedList : public ListExport {
 public:
  /// A list under `key` of the mapping `frame`, placed as a ListExporter places it.
  explicit CollectedList(std::string key, Document frame = Document::object())
      : key_(std::move(key)), frame_(std::move(frame)) {}
  void append(const Document& item) override { items_.push_back(item); }
  void finish() override {}
  /// The frame with everything appended under the key.
  [[nodiscard]] Document document() const {
    Document whole = frame_;
    whole[key_] = items_;
    return whole;
  }
  /// Everything appended, in order.
  [[nodiscard]] const Document& items() const noexcept { return items_; }

 private:
  std::string key_;
  Document frame_;
  Document items_ = Document::array();
};

/// A list export into `path` by the format its extension selects, under `key` of the mapping
/// `frame` (see ListExporter): written item by item where the format can, else gathered and
/// written with the document exporter at `finish`.
[[nodiscard]] std::unique_ptr<ListExport> open_list_export(const std::filesystem::path& path,
                                                           std::string key,
                                                           Document frame = Document::object());

/// Writes a mapping with the exporter its extension selects; anything but a mapping is refused
/// with TypeError before the path is looked at.
void export_to_path(const Document& data, const std::filesystem::path& path);

}  // namespace serializers
