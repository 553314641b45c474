#pragma once

// The outcome of the verify pass: whether the checked discovery file blocks the migration, and
// the file refreshed from the scan, checked by the migration model before it is written.

#include <nlohmann/json.hpp>

#include "generator/generate/discovery_file.hpp"
#include "generator/generate/drift_check.hpp"

namespace generator::generate {

/// What the verify pass found.
struct Verification {
  /// Whether something blocks the migration with the file as it stands.
  bool blocks_migration = false;
  /// The file with every blocked or empty gateway subnet chosen anew, everything else as read.
  nlohmann::ordered_json refreshed;
};

/// The outcome of `check` of `file` once the scan is over (see DriftCheck): its summary logged,
/// and the refreshed file, which the migration model checks (ovra::ValidationError naming `file`).
[[nodiscard]] Verification verification_of(DriftCheck& check, const DiscoveryFile& file);

}  // namespace generator::generate
