#pragma once

// The YAML format: a YAML 1.1 reader (safe schema, one document) and the writer that gives every
// YAML file of the system its layout (block style, sequences indented under their key, every string
// value double-quoted, plain ASCII).
//
// Dates and timestamps: a plain scalar that YAML 1.1 reads as a timestamp (2024-05-01,
// 2001-12-14 21:59:43.10 -5, 2001-12-14t21:59:43.10-05:00, or any scalar tagged !!timestamp) is
// kept as its exact text in a binary node with the subtype TIMESTAMP_SUBTYPE (see make_timestamp).
// The writer writes such a node back as that same plain text, so a read-then-write round trip
// leaves the scalar unchanged in the file and other YAML readers still see a date, not a string.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serializers/document.hpp"
#include "serializers/errors.hpp"
#include "serializers/export/export.hpp"

namespace serializers {

/// The extensions the YAML reader and writer are registered under, in this order.
inline const std::vector<std::string> YAML_EXTS{"yaml", "yml"};

/// Deepest nesting of mappings and sequences that is read or written.
inline constexpr std::size_t MAX_NESTING_DEPTH = 1000;

/// Most nodes that aliases may copy into one document (guards against alias bombs).
inline constexpr std::size_t MAX_ALIAS_EXPANSION_NODES = 1'000'000;

/// Most text bytes that aliases may copy into one document.
inline constexpr std::size_t MAX_ALIAS_EXPANSION_BYTES = 64u << 20;

/// The largest YAML file read: far above any configuration or template, far below what would
/// exhaust memory (a device such as /dev/zero is refused once this much has been read).
inline constexpr std::size_t MAX_FILE_BYTES = 8u << 20;

/// Binary subtype that marks a date or timestamp node ("ts").
inline constexpr std::uint64_t TIMESTAMP_SUBTYPE = 0x7473;

/// A YAML text that cannot be read; the message names the source, line and column.
class YAMLError : public ValueError {
 public:
  using ValueError::ValueError;
  [[nodiscard]] const char* kind() const noexcept override { return "YAMLError"; }
};

/// A date or timestamp node holding `text` exactly as written (ValueError unless it is a YAML 1.1
/// timestamp with a valid date and time).
Document make_timestamp(std::string_view text);

/// True when `node` is a date or timestamp node made by make_timestamp or the reader.
bool is_timestamp(const Document& node);

/// The text of a date or timestamp node (TypeError for any other node).
std::string timestamp_text(const Document& node);

/// The integers of a document that were not written as their plain decimal digits (0x1F, 017,
/// 0b101, 1:30, 1_000, +5): each value's decimal digits -> the text first written for it. A reader
/// of the document can thus tell an unquoted 0x19DEBD01C7 from the number 111111111111.
using IntegerSpellings = std::map<std::string, std::string, std::less<>>;

/// Reads exactly one YAML document (an empty text gives null); `source_name` names the text in
/// error messages. Plain scalars are typed by the YAML 1.1 rules, quoted ones are always strings;
/// anchors, aliases and merge keys are resolved; mapping keys are the key scalars' texts. With
/// `spellings`, the integers written otherwise than in decimal digits are noted there.
Document parse_yaml(std::string_view text, const std::string& source_name,
                    IntegerSpellings* spellings = nullptr);

/// The whole text of the file at `path`, at most MAX_FILE_BYTES (ValueError beyond); a missing file
/// is a FileNotFoundError, an unreadable one or one that is not a regular file (a named pipe, a
/// device) an OSError, found without waiting on it.
std::string read_yaml_file(const std::filesystem::path& path);

/// What a streamed reading does with each item of its list as soon as the item is read.
using ListItemHandler = std::function<void(Document item)>;

class YamlFile;

/// Reads the YAML file from its start, one document that is a mapping (or empty: null), as
/// parse_yaml reads it, except that the items of the list under `key` are handed to `on_item` as
/// they are read and not kept: what is held at once (the document, less the items handed over)
/// spans at most MAX_FILE_BYTES of the file, so a file of any size up to the file's bound can be
/// read. Returns the mapping with an empty list under `key` (when the document has the key); a
/// top level that is not a mapping is a TypeError, a file beyond its bound a ValueError naming
/// the bound. Can be called again for another reading of the same file.
Document stream_yaml_list(const YamlFile& file, std::string_view key,
                          const ListItemHandler& on_item);

/// The same for a YAML text; `source_name` names it in error messages.
Document stream_yaml_list_text(std::string_view text, const std::string& source_name,
                               std::string_view key, const ListItemHandler& on_item);

/// A YAML file opened for streamed readings (stream_yaml_list), each from its start. The file is
/// opened without blocking and must be a regular file: a FIFO or a device is refused by name.
class YamlFile {
 public:
  /// Opens `path`, whose readings may take at most `max_bytes`; `what` names the kind of file in
  /// the message that refuses a larger one ("a discovery file"). FileNotFoundError for a missing
  /// file, OSError for one that cannot be read or is not a regular file.
  YamlFile(std::filesystem::path path, std::uint64_t max_bytes, std::string what);
  ~YamlFile();
  YamlFile(const YamlFile&) = delete;
  YamlFile& operator=(const YamlFile&) = delete;

  /// The path it was opened from, for messages.
  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

 private:
  friend Document stream_yaml_list(const YamlFile& file, std::string_view key,
                                   const ListItemHandler& on_item);
  std::filesystem::path path_;
  std::uint64_t max_bytes_;
  std::string what_;
  int descriptor_ = -1;
};

/// Reads the YAML file at `path`: a mapping, or null for an empty document; any other top level is
/// a TypeError, a missing file a FileNotFoundError, an unreadable one an OSError.
Document load_from_yaml(const std::filesystem::path& path);

/// The same for a YAML text; `source_name` names it in error messages, and `spellings` is filled
/// as by parse_yaml.
Document load_from_yaml_text(std::string_view text, const std::string& source_name,
                             IntegerSpellings* spellings = nullptr);

/// The YAML text of `data` in the system's layout, ending with a line break.
std::string dump_yaml(const Document& data);

/// Writes the mapping `data` to `path` all or nothing (TypeError naming `data` for anything but a
/// mapping, before the file is touched).
void export_to_yaml(const Document& data, const std::filesystem::path& path);

/// A list export writing the mapping `frame` with [item, ...] under `key` to `path` item by item,
/// in the layout dump_yaml gives the whole document, all or nothing (see serializers::ListExport
/// and ListExporter).
std::unique_ptr<ListExport> export_list_to_yaml(const std::filesystem::path& path,
                                                std::string key,
                                                Document frame = Document::object());

/// Enters load_from_yaml, export_to_yaml and export_list_to_yaml in the two registries under YAML_EXTS; a second call
/// fails with LoaderError.
void register_yaml_serializers();

}  // namespace serializers
