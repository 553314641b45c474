#pragma once

// A small HTTP(S) client interface over libcurl; tests put a stand-in behind the same interface.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace http {

using Headers = std::vector<std::pair<std::string, std::string>>;

/// How the server's certificate is checked.
enum class TlsVerification {
  /// Against the system's trusted authorities, host name included.
  verify,
  /// Against the authorities of a PEM bundle, host name included.
  ca_file,
  /// The certificate must be the one whose SHA-256 fingerprint is pinned; nothing else is checked.
  pinned,
  /// Not at all (a controller on a self-signed certificate nobody pinned).
  skip,
};

/// Time limits, answer size cap and certificate check of every request a client sends; made once
/// by the program and handed to each client.
struct TransportSettings {
  /// Limit on establishing the connection, TLS handshake included.
  std::chrono::milliseconds connect_timeout{std::chrono::seconds(15)};
  /// Limit on a pause in which not a single byte arrives (whole seconds).
  std::chrono::milliseconds stall_timeout{std::chrono::seconds(60)};
  /// Limit on one whole exchange.
  std::chrono::milliseconds request_timeout{std::chrono::minutes(5)};
  /// The largest answer body read; a longer one is cut off and fails the request.
  std::size_t max_answer_bytes = std::size_t{64} << 20;
  TlsVerification tls_verification = TlsVerification::verify;
  /// The bundle of TlsVerification::ca_file.
  std::filesystem::path ca_file;
  /// The fingerprint of TlsVerification::pinned: 64 hexadecimal digits, any case, no colons.
  std::string certificate_sha256;
};

/// One request; the body is sent as it stands.
struct Request {
  std::string method = "GET";
  std::string url;
  Headers headers;
  std::string body;
  /// PEM file of the certificate authorities to trust instead of the client's; empty keeps the
  /// client's. Also trusted for an HTTPS proxy.
  std::string ca_file;
  /// A tighter limit on the whole exchange than the client's; zero keeps the client's.
  std::chrono::milliseconds timeout{0};
  /// A tighter limit on establishing the connection than the client's; zero keeps the client's.
  std::chrono::milliseconds connect_timeout{0};
};

/// The server's answer; any status counts as an answer.
struct Response {
  long status = 0;
  Headers headers;  // names lower-cased
  std::string body;
  /// The SHA-256 fingerprint of the certificate the server presented, as "AB:CD:..."; only when
  /// this exchange made a TLS handshake (a reused connection makes none).
  std::optional<std::string> certificate_sha256{};
  /// The first header of that (lower-case) name, if any.
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
};

/// The exchange could not be completed (name resolution, connection, TLS, time-out, an answer
/// above the size cap); the message names the request and, for a limit, the limit.
class TransportError : public std::runtime_error {
 public:
  /// Why the exchange failed, where a caller words it differently.
  enum class Cause { other, timed_out, answer_too_large, certificate_refused, ca_file_unreadable };

  TransportError(const std::string& message, int curl_code, Cause cause)
      : std::runtime_error(message), reason_(message), curl_code_(curl_code), cause_(cause) {}
  TransportError(const std::string& message, int curl_code, bool timed_out)
      : TransportError(message, curl_code, timed_out ? Cause::timed_out : Cause::other) {}
  /// The failure of `request`: the message is its method and address followed by `reason`.
  TransportError(const Request& request, std::string reason, int curl_code, Cause cause)
      : std::runtime_error(request.method + " " + request.url + ": " + reason),
        reason_(std::move(reason)),
        curl_code_(curl_code),
        cause_(cause) {}
  [[nodiscard]] int curl_code() const noexcept { return curl_code_; }
  [[nodiscard]] Cause cause() const noexcept { return cause_; }
  [[nodiscard]] bool timed_out() const noexcept { return cause_ == Cause::timed_out; }
  /// What went wrong without the request's method and address, for a caller that names the
  /// request itself; the whole message when the error was made without its request.
  [[nodiscard]] const std::string& reason() const noexcept { return reason_; }

 private:
  std::string reason_;
  int curl_code_;
  Cause cause_;
};

/// Sends requests and awaits their answers, one at a time.
class Client {
 public:
  virtual ~Client() = default;
  /// Performs the request; throws TransportError when no answer arrived.
  virtual Response send(const Request& request) = 0;
};

/// A flag that ends the requests and pauses of a piece of work that is no longer wanted; shared
/// by the threads doing that work and the one that calls it off.
class Cancellation {
 public:
  /// Calls the work off: requests in progress end with a TransportError, pauses end at once.
  void cancel();
  [[nodiscard]] bool cancelled() const noexcept { return cancelled_.load(); }
  /// Waits for `duration` or until the work is called off; true when it was.
  bool wait_for(std::chrono::milliseconds duration) const;

 private:
  std::atomic<bool> cancelled_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable called_off_;
};

/// The libcurl client: one handle, whose connections stay open between requests; every request
/// obeys the settings it was made with, and ends, within about a second, once `cancellation` (when
/// given) is set. A request with a header that is not `is_header_safe` is a TransportError before
/// anything is sent.
class CurlClient : public Client {
 public:
  explicit CurlClient(TransportSettings settings = {},
                      std::shared_ptr<const Cancellation> cancellation = nullptr);
  ~CurlClient() override;
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;
  Response send(const Request& request) override;

  /// What the last TLS handshake saw of the server's certificate (defined where it is used).
  struct CertificateCheck;

 private:
  TransportSettings settings_;
  // Outlives every connection of the handle: a handshake on a kept-alive connection still finds it.
  std::unique_ptr<CertificateCheck> certificate_check_;
  void* handle_;
  std::shared_ptr<const Cancellation> cancellation_;
};

/// Whether `text` may stand in a request header as a name or value: it holds no control
/// character (C0, tab included, or DEL), which could end the header or the request early.
[[nodiscard]] bool is_header_safe(std::string_view text);

/// A fingerprint as `openssl x509 -fingerprint -sha256` shows it: upper-case pairs joined by ":".
std::string fingerprint_text(std::string_view hex_digits);

/// Percent-encodes everything except the unreserved characters A-Z a-z 0-9 - _ . ~ (RFC 3986).
std::string percent_encode(std::string_view text);

/// application/x-www-form-urlencoded body: fields in the given order, spaces as "+".
std::string form_encode(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace http
