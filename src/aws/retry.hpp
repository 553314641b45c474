#pragma once

// The SDKs' standard retry behaviour, for every request of this layer: HTTP 5xx and transient
// transport failures are tried again after a capped, jittered exponential pause, up to a bounded
// number of attempts; throttling answers likewise, for up to a time of patience instead of a
// number of attempts, and they slow the client that met them down (the SDKs' adaptive mode); every
// other failure is final at once.

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "aws/environment.hpp"
#include "http/http.hpp"

namespace aws {

struct Context;

/// How long one request waits out throttling answers unless the context says otherwise.
inline constexpr std::chrono::milliseconds DEFAULT_THROTTLING_PATIENCE{60'000};
/// The shortest pause before a throttled request is tried again, so that patience is spent in
/// time rather than in attempts, whatever the jitter draws.
inline constexpr std::chrono::milliseconds MIN_THROTTLING_PAUSE{100};

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
  /// The policy of the instance metadata service; the attempts come from
  /// AWS_METADATA_SERVICE_NUM_ATTEMPTS, else from the profile's metadata_service_num_attempts
  /// (`profile_num_attempts`), when that is a positive number (at most 10 are made); one attempt
  /// otherwise.
  static RetryPolicy instance_metadata(const Environment& environment,
                                       const std::optional<std::string>& profile_num_attempts = {});
  /// The policy of the container credentials endpoint: three attempts, as the SDKs make.
  static RetryPolicy container();
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

/// The client-side send rate of one client (one account and region), as the SDKs' adaptive retry
/// mode keeps it: each throttling answer widens the interval between its requests (the rate is cut
/// to 70 %), each answer that comes through narrows it again until it is gone. Other clients are
/// not slowed. Safe to share between threads.
class AdaptiveRate {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  /// The pause still due at `now` before this client's next request may go out.
  [[nodiscard]] std::chrono::milliseconds due(TimePoint now) const;
  /// The interval between this client's requests (zero until it was throttled).
  [[nodiscard]] std::chrono::milliseconds interval() const;
  /// A request goes out at `now`.
  void sent(TimePoint now);
  /// A throttling answer came: the interval widens (to at least MIN_THROTTLING_PAUSE, at most
  /// `ceiling`).
  void throttled(std::chrono::milliseconds ceiling);
  /// An answer came through: the interval narrows, and below 10 ms is gone.
  void came_through();

 private:
  mutable std::mutex mutex_;
  std::chrono::milliseconds interval_{0};
  TimePoint last_sent_{};
};

/// Reads the error code that a failed answer names; "" when it names none.
using ErrorCodeReader = std::function<std::string(const http::Response&)>;

/// The one retry loop of every AWS request: sends the request that `build` makes (anew, and so
/// signed anew, for every attempt) no sooner than `rate` allows, until an answer comes that is
/// final, and returns that answer whatever its status. An answer is final when its status is 2xx,
/// when it is no transient failure, or when `retry.max_attempts` are spent; a throttling code
/// (read by `error_code`; an empty reader reads none) is transient in an answer of any status,
/// is waited out for the context's throttling_patience and slows `rate` down. UnansweredError when
/// no usable answer came: "Could not reach the endpoint for the <operation> operation (<url>)
/// after <n> attempt(s): ..." or, for an answer above the size cap, "Refused the answer of ...".
[[nodiscard]] http::Response send_with_retries(const Context& context, const RetryPolicy& retry,
                                               AdaptiveRate& rate, const std::string& operation,
                                               const std::string& url,
                                               const std::function<http::Request()>& build,
                                               const ErrorCodeReader& error_code);

/// Whether an HTTP status is a success (2xx).
[[nodiscard]] constexpr bool is_success(long http_status) {
  return http_status >= 200 && http_status < 300;
}

}  // namespace aws
