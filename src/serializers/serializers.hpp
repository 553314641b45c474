#pragma once

// The serializers package: the loader and exporter registries with every file format entered.
// A program calls start_serializers() once before its first load_from_path or export_to_path.

namespace serializers {

/// Enters the YAML and workbook formats in both registries, exactly once per process however often
/// it is called.
void start_serializers();

}  // namespace serializers
