#include "serializers/serializers.hpp"

#include <mutex>

#include "serializers/xlsx/xlsx.hpp"
#include "serializers/yaml/yaml.hpp"

namespace serializers {

void start_serializers() {
  // A second registration of a format is an error by design, so the start-up itself guards
  // against running twice.
  static std::once_flag started;
  std::call_once(started, [] {
    register_yaml_serializers();
    register_xlsx_serializers();
  });
}

}  // namespace serializers
