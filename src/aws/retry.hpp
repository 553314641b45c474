#pragma once

// The SDKs' standard retry behaviour: throttling answers, HTTP 5xx and transient transport
// failures are tried again after a capped, jittered exponential pause, up to a bounded number of
// attempts; every other failure is final at once.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "aws/environment.hpp"

namespace aws {

/// How often and how patiently a request is tried.
struct RetryPolicy {
  /// Attempts in all, the first one included.
  int max_attempts = 3;
  /// Upper bound of the pause before any attempt.
  std::chrono::milliseconds max_backoff{20'000};
  /// Base of the exponential growth: the pause before retry n (1-based) is at most base * 2^(n-1).
  std::chrono::milliseconds base_backoff{1'000};

  /// The standard policy; the attempts come from AWS_MAX_ATTEMPTS, else from the profile's
  /// max_attempts (`profile_max_attempts`), when that is a positive number.
  static RetryPolicy standard(const Environment& environment,
                              const std::optional<std::string>& profile_max_attempts = {});
};

/// Whether a service error code means "slow down" (Throttling, RequestLimitExceeded, ...).
[[nodiscard]] bool is_throttling_code(std::string_view code);
/// Whether a service error code or HTTP status is a transient server-side failure.
[[nodiscard]] bool is_transient_service_failure(std::string_view code, long http_status);
/// Whether a libcurl failure code is a connection problem worth trying again.
[[nodiscard]] bool is_transient_transport_failure(int curl_code);

/// The pause before retry `retry_number` (1 for the first retry): random * base * 2^(n-1), capped.
[[nodiscard]] std::chrono::milliseconds backoff_delay(const RetryPolicy& policy, int retry_number,
                                                      double random);

}  // namespace aws
