#pragma once

// What the AWS layer needs of the outside world: environment, HTTP transport, clock, pauses and
// randomness. The process context uses the real ones; tests put stand-ins in each slot.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "aws/environment.hpp"
#include "aws/retry.hpp"
#include "http/http.hpp"

namespace aws {

/// Waits between attempts; tests record the pauses instead of waiting.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  /// Blocks the caller for `duration`.
  virtual void sleep_for(std::chrono::milliseconds duration) = 0;
};

/// Asks the operator for the current code of an MFA device; tests put a stand-in here.
class MfaPrompt {
 public:
  virtual ~MfaPrompt() = default;
  /// The code that the device `mfa_serial` shows now, for the role profile `profile`;
  /// ClientError when there is no one to ask (no terminal).
  virtual std::string code(const std::string& profile, const std::string& mfa_serial) = 0;
};

/// The outside world of every AWS call; cheap to copy, copies share the transport.
struct Context {
  Environment environment = Environment::process();
  std::shared_ptr<http::Client> http;
  std::shared_ptr<Sleeper> sleeper;
  /// A uniformly distributed number in [0, 1), for back-off jitter.
  std::function<double()> random;
  /// The current time, for request signatures.
  std::function<std::chrono::system_clock::time_point()> now;
  /// Environment variables that programs started for credentials (credential_process) must not
  /// see: the caller's own secrets.
  std::vector<std::string> withheld_from_children;

  /// The transport settings of the HTTP clients made for this context and its workers.
  http::TransportSettings transport;
  /// How long one request keeps waiting out throttling answers (the pauses it takes, added up)
  /// before the last one is its error; zero: throttling is tried again only as often as every
  /// other transient failure (max_attempts).
  std::chrono::milliseconds throttling_patience = DEFAULT_THROTTLING_PATIENCE;
  /// Asks for the code of a role profile's mfa_serial; nothing: such a profile is refused.
  std::shared_ptr<MfaPrompt> mfa_prompt;
  /// The region of STS and Organizations requests when the operator's configuration names none
  /// (the region of the partition the run works in); empty: us-east-1's.
  std::string fallback_region;

  /// The process environment, libcurl with `transport`, real pauses, a random jitter source (safe
  /// on any thread) and the system clock.
  static Context for_process(const http::TransportSettings& transport = transport_settings());
  /// This context for one more thread: its own libcurl handle with the same transport, and
  /// requests and pauses that end once `cancellation` is set; environment, jitter source and clock
  /// are shared.
  [[nodiscard]] Context for_worker(std::shared_ptr<const http::Cancellation> cancellation) const;

  /// The transport of AWS requests: certificates verified, answers up to 64 MiB, a connection
  /// within 10 s, no pause above 60 s, no request above 5 minutes.
  static http::TransportSettings transport_settings();
};

}  // namespace aws
