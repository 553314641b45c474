#pragma once

// The loader registry: file-name extension -> the function that reads files of that kind.

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "serializers/document.hpp"

namespace serializers {

/// Reads one file into a document tree.
using Loader = Document (*)(const std::filesystem::path& path);

/// One extension or several, given without the leading dot ("yaml", "yml").
struct FileExtensions {
  FileExtensions(const char* extension) : items{extension} {}
  FileExtensions(std::string extension) : items{std::move(extension)} {}
  FileExtensions(std::initializer_list<std::string> extensions) : items(extensions) {}
  FileExtensions(std::vector<std::string> extensions) : items(std::move(extensions)) {}
  std::vector<std::string> items;
};

/// Enters a loader under the extensions it was made for and returns the very same loader.
using LoadDecorator = std::function<Loader(Loader)>;

/// The lower-cased last suffix of the path's file name with its dot (".yaml"), or "" when the
/// name has no dot, starts with its only dot or ends with a dot.
std::string lower_extension(const std::filesystem::path& path);

/// The process-wide loader table; never instantiated.
class Loaders {
 public:
  Loaders() = delete;
  /// The loader registered for the path's lower-cased extension, or _ambiguous_loader.
  static Loader guess(const std::filesystem::path& path);
  /// A registration function bound to these extensions; applying it enters the loader under
  /// "." + each extension in order and fails with LoaderError on the first one already present.
  static LoadDecorator register_loader(FileExtensions file_exts);

 private:
  static std::vector<std::pair<std::string, Loader>>& _registry();
};

/// Loaders::register_loader, the name the format libraries use.
LoadDecorator register_loader(FileExtensions file_exts);

/// The fallback for an unknown extension: always fails with ValueError
/// "Could not determine loader from <path>".
[[noreturn]] Document _ambiguous_loader(const std::filesystem::path& path);

/// Reads the file with the loader its extension selects; the top level must be a mapping or null
/// (TypeError otherwise).
Document load_from_path(const std::filesystem::path& path);

}  // namespace serializers
