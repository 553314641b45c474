#pragma once

// The outcome of the verify pass: whether the checked discovery file blocks the migration (the
// file refreshed from the scan is written by DriftCheck::write_refreshed).

#include "generator/generate/drift_check.hpp"

namespace generator::generate {

/// What the verify pass found.
struct Verification {
  /// Whether something blocks the migration with the file as it stands.
  bool blocks_migration = false;
};

/// The outcome of `check` once the scan is over (see DriftCheck): its summary logged, and whether
/// the file blocks the migration (its refreshed form is DriftCheck::write_refreshed).
[[nodiscard]] Verification verification_of(DriftCheck& check);

}  // namespace generator::generate
