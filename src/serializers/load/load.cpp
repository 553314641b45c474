#include "serializers/load/load.hpp"

#include <algorithm>
#include <cctype>

#include "base/text/ascii.hpp"
#include "serializers/errors.hpp"

namespace serializers {

std::string lower_extension(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
  return base::text::lower_case(std::string_view(name).substr(dot));
}

std::vector<std::pair<std::string, Loader>>& Loaders::_registry() {
  static std::vector<std::pair<std::string, Loader>> registry;
  return registry;
}

Loader Loaders::guess(const std::filesystem::path& path) {
  const std::string extension = lower_extension(path);
  for (const auto& [key, loader] : _registry()) {
    if (key == extension) return loader;
  }
  return &_ambiguous_loader;
}

LoadDecorator Loaders::register_loader(FileExtensions file_exts) {
  return [extensions = std::move(file_exts.items)](Loader loader) {
    auto& registry = _registry();
    for (const auto& ext : extensions) {
      const std::string dot_ext = "." + ext;
      const bool present = std::any_of(registry.begin(), registry.end(),
                                       [&](const auto& entry) { return entry.first == dot_ext; });
      if (present)
        throw LoaderError("Loader for file extension " + ext + " already exists in registry.");
      registry.emplace_back(dot_ext, loader);
    }
    return loader;
  };
}

LoadDecorator register_loader(FileExtensions file_exts) {
  return Loaders::register_loader(std::move(file_exts));
}

Document _ambiguous_loader(const std::filesystem::path& path) {
  throw ValueError("Could not determine loader from " + path.string());
}

Document load_from_path(const std::filesystem::path& path) {
  const Loader loader = Loaders::guess(path);
  Document data = loader(path);
  if (!data.is_object() && !data.is_null()) {
    throw TypeError("Expected a mapping at the top of " + path.string() + ", got " +
                    kind_name(data));
  }
  return data;
}

}  // namespace serializers
