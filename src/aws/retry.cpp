#include "aws/retry.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace aws {

RetryPolicy RetryPolicy::standard(const Environment& environment,
                                  const std::optional<std::string>& profile_max_attempts) {
  RetryPolicy policy;
  std::optional<std::string> text = environment.get("AWS_MAX_ATTEMPTS");
  if (!text) text = profile_max_attempts;
  if (text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    // An unreadable setting keeps the default rather than disabling retries by accident.
    if (error == std::errc() && end == text->data() + text->size() && value > 0) {
      policy.max_attempts = std::min(value, 20);
    }
  }
  return policy;
}

bool is_throttling_code(std::string_view code) {
  static constexpr std::array<std::string_view, 14> codes = {
      "Throttling",
      "ThrottlingException",
      "ThrottledException",
      "RequestThrottledException",
      "TooManyRequestsException",
      "ProvisionedThroughputExceededException",
      "TransactionInProgressException",
      "RequestLimitExceeded",
      "BandwidthLimitExceeded",
      "LimitExceededException",
      "RequestThrottled",
      "SlowDown",
      "PriorRequestNotComplete",
      "EC2ThrottledException"};
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool is_transient_service_failure(std::string_view code, long http_status) {
  static constexpr std::array<std::string_view, 4> codes = {
      "RequestTimeout", "RequestTimeoutException", "InternalError", "IDPCommunicationError"};
  if (std::find(codes.begin(), codes.end(), code) != codes.end()) return true;
  return http_status == 429 || http_status == 500 || http_status == 502 || http_status == 503 ||
         http_status == 504;
}

bool is_transient_transport_failure(int curl_code) {
  switch (curl_code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

std::chrono::milliseconds backoff_delay(const RetryPolicy& policy, int retry_number,
                                        double random) {
  const double exponent = std::min(retry_number - 1, 30);
  const double ceiling = static_cast<double>(policy.base_backoff.count()) * std::pow(2.0, exponent);
  const double capped = std::min(std::clamp(random, 0.0, 1.0) * ceiling,
                                 static_cast<double>(policy.max_backoff.count()));
  return std::chrono::milliseconds(static_cast<long long>(capped));
}

std::chrono::milliseconds AdaptiveRate::due(TimePoint now) const {
  const std::lock_guard lock(mutex_);
  if (interval_.count() == 0) return interval_;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_sent_);
  return std::clamp(interval_ - elapsed, std::chrono::milliseconds(0), interval_);
}

std::chrono::milliseconds AdaptiveRate::interval() const {
  const std::lock_guard lock(mutex_);
  return interval_;
}

void AdaptiveRate::sent(TimePoint now) {
  const std::lock_guard lock(mutex_);
  last_sent_ = now;
}

void AdaptiveRate::throttled(std::chrono::milliseconds ceiling) {
  const std::lock_guard lock(mutex_);
  // The SDKs cut the rate to 70 % on every throttling answer; the interval is its inverse.
  const auto widened = std::chrono::milliseconds(static_cast<long long>(interval_.count() / 0.7));
  interval_ =
      std::min(std::max(widened, MIN_THROTTLING_PAUSE), std::max(ceiling, MIN_THROTTLING_PAUSE));
}

void AdaptiveRate::came_through() {
  const std::lock_guard lock(mutex_);
  interval_ = std::chrono::milliseconds(interval_.count() * 4 / 5);
  if (interval_ < std::chrono::milliseconds(10)) interval_ = std::chrono::milliseconds(0);
}

}  // namespace aws
