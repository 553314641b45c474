#pragma once

// How large a spoke gateway's subnet is: generate picks subnets of this size and convert checks
// edited ones against it.

namespace generator {

/// Whether the spoke gateway is a high-performance one, which needs a /25 instead of a /27.
enum class Hpe : bool { disabled = false, enabled = true };

/// The gateway kind that the configuration's `hpe` flag asks for.
[[nodiscard]] constexpr Hpe hpe_of(bool high_performance) {
  return high_performance ? Hpe::enabled : Hpe::disabled;
}

/// The prefix length of the gateway subnet: 25 for a high-performance gateway, 27 otherwise.
[[nodiscard]] constexpr int gateway_prefix_length(Hpe hpe) { return hpe == Hpe::enabled ? 25 : 27; }

}  // namespace generator
