#pragma once

// A small HTTP(S) client interface over libcurl; tests put a stand-in behind the same interface.

#include <chrono>
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
  /// PEM file of the certificate authorities to trust instead of the system's; empty for the
  /// system's store. Also trusted for an HTTPS proxy.
  std::string ca_file;
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

/// The libcurl client.
class CurlClient : public Client {
 public:
  CurlClient();
  ~CurlClient() override;
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;
  Response send(const Request& request) override;

 private:
  void* handle_;
};

/// Percent-encodes everything except the unreserved characters A-Z a-z 0-9 - _ . ~ (RFC 3986).
std::string percent_encode(std::string_view text);

/// application/x-www-form-urlencoded body: fields in the given order, spaces as "+".
std::string form_encode(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace http
