#pragma once

// Signature Version 4 of AWS requests (Authorization header).

#include <chrono>
#include <string>
#include <string_view>

#include "aws/credentials.hpp"
#include "http/http.hpp"

namespace aws::sigv4 {

/// The parts of a request's URL that signing reads.
struct UrlParts {
  std::string scheme;
  std::string authority;  // host, with ":port" when the URL names one
  std::string path;       // "/" when the URL has none; as written (percent-encoded or not)
  std::string query;      // without "?"
};

/// Splits an absolute http(s) URL; ClientError for anything else.
[[nodiscard]] UrlParts split_url(const std::string& url);

/// The canonical URI: dot segments removed, repeated slashes merged, every segment
/// percent-encoded once (after decoding what was encoded).
[[nodiscard]] std::string canonical_uri(std::string_view path);
/// The canonical query: parameters decoded, re-encoded with the unreserved set, sorted by name
/// then value.
[[nodiscard]] std::string canonical_query(std::string_view query);

/// The canonical request of a request that already carries its Host and X-Amz-Date headers;
/// `signed_headers` receives the "a;b;c" list of the headers signed.
[[nodiscard]] std::string canonical_request(const http::Request& request,
                                            std::string& signed_headers);
/// The string to sign for a canonical request, an "yyyymmddThhmmssZ" time and a credential scope.
[[nodiscard]] std::string string_to_sign(std::string_view amz_date, std::string_view scope,
                                         std::string_view canonical_request_text);
/// The signing key derived from the secret for a day ("yyyymmdd"), region and service (raw bytes).
[[nodiscard]] std::string signing_key(std::string_view secret_access_key, std::string_view date,
                                      std::string_view region, std::string_view service);

/// Lower-case hexadecimal SHA-256 of `data`.
[[nodiscard]] std::string sha256_hex(std::string_view data);
/// "yyyymmddThhmmssZ" of a time in UTC.
[[nodiscard]] std::string amz_date(std::chrono::system_clock::time_point time);

/// Signs `request` in place: sets Host, X-Amz-Date, X-Amz-Security-Token (temporary credentials)
/// and Authorization, replacing any earlier ones. Every other header of the request is signed too,
/// except User-Agent and Expect, which proxies may change.
void sign(http::Request& request, const Credentials& credentials, std::string_view region,
          std::string_view service, std::chrono::system_clock::time_point time);

}  // namespace aws::sigv4
