#include "generator/generate/verification.hpp"

#include "ovra/config.hpp"

namespace generator::generate {

Verification verification_of(DriftCheck& check, const DiscoveryFile& file) {
  check.finish();
  Verification verification{check.blocks_migration(), check.refreshed_document()};
  try {
    (void)ovra::load_from_dict(verification.refreshed);
  } catch (const ovra::ValidationError& error) {
    throw ovra::ValidationError("the refreshed discovery file of " + file.path.string() + ": " +
                                error.what());
  }
  return verification;
}

}  // namespace generator::generate
