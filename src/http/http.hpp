#pragma once

// A small HTTP(S) client interface over libcurl; tests put a stand-in behind the same interface.

#include <atomic>
#include <chrono>
#include <condition_variable>
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

/// Whether the server's certificate is checked.
enum class TlsVerification { verify, skip };

/// One request; the body is sent as it stands.
struct Request {
  std::string method = "GET";
  std::string url;
  Headers headers;
  std::string body;
  TlsVerification tls_verification = TlsVerification::verify;
  /// Limit on the whole exchange; zero means none.
  std::chrono::milliseconds timeout{0};
  /// Limit on establishing the connection; zero means libcurl's default.
  std::chrono::milliseconds connect_timeout{0};
};

/// The server's answer; any status counts as an answer.
struct Response {
  long status = 0;
  Headers headers;  // names lower-cased
  std::string body;
  /// The first header of that (lower-case) name, if any.
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
};

/// The exchange could not be completed (name resolution, connection, TLS, time-out).
class TransportError : public std::runtime_error {
 public:
  TransportError(const std::string& message, int curl_code, bool timed_out)
      : std::runtime_error(message), curl_code_(curl_code), timed_out_(timed_out) {}
  [[nodiscard]] int curl_code() const noexcept { return curl_code_; }
  [[nodiscard]] bool timed_out() const noexcept { return timed_out_; }

 private:
  int curl_code_;
  bool timed_out_;
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

/// The libcurl client: one handle, whose connections stay open between requests.
class CurlClient : public Client {
 public:
  CurlClient();
  /// A client whose requests end, within about a second, once `cancellation` is set.
  explicit CurlClient(std::shared_ptr<const Cancellation> cancellation);
  ~CurlClient() override;
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;
  Response send(const Request& request) override;

 private:
  void* handle_;
  std::shared_ptr<const Cancellation> cancellation_;
};

/// Percent-encodes everything except the unreserved characters A-Z a-z 0-9 - _ . ~ (RFC 3986).
std::string percent_encode(std::string_view text);

/// application/x-www-form-urlencoded body: fields in the given order, spaces as "+".
std::string form_encode(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace http
