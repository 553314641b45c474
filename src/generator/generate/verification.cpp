#include "generator/generate/verification.hpp"

namespace generator::generate {

Verification verification_of(DriftCheck& check) {
  check.finish();
  return Verification{check.blocks_migration()};
}

}  // namespace generator::generate
