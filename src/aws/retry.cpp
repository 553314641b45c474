#include "aws/retry.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "aws/context.hpp"
#include "aws/errors.hpp"

namespace aws {

namespace {

// The attempts that the variable, else the profile's setting, asks for; nothing when neither is a
// whole number of at least 1. Larger numbers are cut to `most`.
std::optional<int> attempts_setting(const Environment& environment, const char* variable,
                                    const std::optional<std::string>& of_profile, int most) {
  std::optional<std::string> text = environment.get(variable);
  if (!text) text = of_profile;
  if (!text) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  // An unreadable setting keeps the default rather than disabling retries by accident.
  if (error != std::errc() || end != text->data() + text->size() || value < 1) return std::nullopt;
  return std::min(value, most);
}

}  // namespace

RetryPolicy RetryPolicy::standard(const Environment& environment,
                                  const std::optional<std::string>& profile_max_attempts) {
  RetryPolicy policy;
  if (const auto attempts =
          attempts_setting(environment, "AWS_MAX_ATTEMPTS", profile_max_attempts, 20)) {
    policy.max_attempts = *attempts;
  }
  return policy;
}

RetryPolicy RetryPolicy::instance_metadata(const Environment& environment,
                                           const std::optional<std::string>& profile_num_attempts) {
  RetryPolicy policy;
  // A laptop has no metadata service: one attempt, unless asked for more, keeps the chain quick.
  policy.max_attempts =
      attempts_setting(environment, "AWS_METADATA_SERVICE_NUM_ATTEMPTS", profile_num_attempts, 10)
          .value_or(1);
  return policy;
}

RetryPolicy RetryPolicy::container() {
  RetryPolicy policy;
  policy.max_attempts = 3;
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

http::Response send_with_retries(const Context& context, const RetryPolicy& retry,
                                 AdaptiveRate& rate, const std::string& operation,
                                 const std::string& url,
                                 const std::function<http::Request()>& build,
                                 const ErrorCodeReader& error_code) {
  const bool patient = context.throttling_patience.count() > 0;
  std::chrono::milliseconds throttled_for{0};
  int throttled = 0;
  int failed = 0;
  std::chrono::milliseconds pause = rate.due(context.now());
  for (int attempts = 1;; ++attempts) {
    if (pause.count() > 0) context.sleeper->sleep_for(pause);
    // Built and signed anew for every attempt: a signature is only valid for a few minutes.
    const http::Request request = build();
    rate.sent(context.now());
    try {
      http::Response response = context.http->send(request);
      if (is_success(response.status)) {
        rate.came_through();
        return response;
      }
      const std::string code = error_code ? error_code(response) : std::string();
      if (is_throttling_code(code)) {
        rate.throttled(retry.max_backoff);
        if (patient) {
          // Throttling passes by definition: it is waited out, with growing jittered pauses no
          // shorter than the client's own interval, until the patience is spent.
          pause = std::max({backoff_delay(retry, ++throttled, context.random()),
                            MIN_THROTTLING_PAUSE, rate.interval()});
          if (throttled_for + pause > context.throttling_patience) return response;
          throttled_for += pause;
          continue;
        }
      }
      const bool retryable =
          is_throttling_code(code) || is_transient_service_failure(code, response.status);
      if (!retryable || ++failed >= retry.max_attempts) return response;
    } catch (const http::TransportError& error) {
      if (error.cause() == http::TransportError::Cause::answer_too_large) {
        throw UnansweredError(
            "Refused the answer of the " + operation + " operation (" + url + "): " + error.what(),
            error.what());
      }
      if (!is_transient_transport_failure(error.curl_code()) || ++failed >= retry.max_attempts) {
        throw UnansweredError("Could not reach the endpoint for the " + operation + " operation (" +
                                  url + ") after " + std::to_string(attempts) +
                                  " attempt(s): " + error.what(),
                              error.what());
      }
    }
    pause = backoff_delay(retry, failed, context.random());
  }
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
