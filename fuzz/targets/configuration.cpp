// The configuration file of generate, from its text.

#include "fuzz_support.hpp"
#include "generator/common/errors.hpp"
#include "generator/config/config.hpp"
#include "untrusted/secrets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each input is a run of its own: the external IDs of earlier ones would only pile up.
  untrusted::forget_secrets();
  try {
    (void)generator::config::parse_config(fuzz::as_text(data, size), "fuzz-config.yaml");
  } catch (const generator::Error&) {
  }
  return 0;
}
