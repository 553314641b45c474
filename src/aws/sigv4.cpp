#include "aws/sigv4.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <span>
#include <vector>

#include "aws/errors.hpp"
#include "base/hex/hex.hpp"
#include "base/text/ascii.hpp"

namespace aws::sigv4 {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX sequences; a "%" not followed by two hex digits stays as it is.
std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
        hex_value(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string hmac_sha256(std::string_view key, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest, &length);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

// Header values are signed with outer blanks removed and inner runs of blanks reduced to one space.
std::string canonical_header_value(std::string_view value) {
  std::string out;
  bool pending_space = false;
  for (const char c : value) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) out += ' ';
    pending_space = false;
    out += c;
  }
  return out;
}

bool is_unsigned_header(const std::string& name) {
  return name == "authorization" || name == "user-agent" || name == "expect" ||
         name == "x-amzn-trace-id";
}

}  // namespace

UrlParts split_url(const std::string& url) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string::npos) throw ClientError("not an absolute URL: " + url);
  UrlParts parts;
  parts.scheme = base::text::lower_case(std::string_view(url).substr(0, scheme_end));
  if (parts.scheme != "http" && parts.scheme != "https")
    throw ClientError("not an http or https URL: " + url);
  const auto rest = std::string_view(url).substr(scheme_end + 3);
  const auto authority_end = rest.find_first_of("/?#");
  parts.authority = std::string(rest.substr(0, authority_end));
  if (parts.authority.empty() || parts.authority.find('@') != std::string::npos) {
    throw ClientError("URL without a plain host: " + url);
  }
  std::string_view remainder =
      authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);
  if (const auto fragment = remainder.find('#'); fragment != std::string_view::npos)
    remainder = remainder.substr(0, fragment);
  const auto question = remainder.find('?');
  parts.path = std::string(remainder.substr(0, question));
  if (question != std::string_view::npos) parts.query = std::string(remainder.substr(question + 1));
  if (parts.path.empty()) parts.path = "/";
  // The default port is not part of the Host header that libcurl sends.
  const auto colon = parts.authority.rfind(':');
  if (colon != std::string::npos && parts.authority.find(']', colon) == std::string::npos) {
    const auto port = parts.authority.substr(colon + 1);
    if ((parts.scheme == "http" && port == "80") || (parts.scheme == "https" && port == "443")) {
      parts.authority.erase(colon);
    }
  }
  return parts;
}

std::string canonical_uri(std::string_view path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const auto end = slash == std::string_view::npos ? path.size() : slash;
    const std::string segment = percent_decode(path.substr(start, end - start));
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  std::string out;
  for (const auto& segment : segments) {
    out += '/';
    out += http::percent_encode(segment);
  }
  // A path that ends in a slash (or a dot segment) keeps its trailing slash.
  const bool trailing =
      !segments.empty() && (path.ends_with('/') || path.ends_with("/.") || path.ends_with("/.."));
  if (out.empty() || trailing) out += "/";
  return out;
}

std::string canonical_query(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> parameters;
  std::size_t start = 0;
  while (start < query.size()) {
    auto end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const auto pair = query.substr(start, end - start);
    if (!pair.empty()) {
      const auto equals = pair.find('=');
      const auto name = pair.substr(0, equals);
      const auto value =
          equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
      parameters.emplace_back(http::percent_encode(percent_decode(name)),
                              http::percent_encode(percent_decode(value)));
    }
    start = end + 1;
  }
  std::sort(parameters.begin(), parameters.end());
  std::string out;
  for (const auto& [name, value] : parameters) {
    if (!out.empty()) out += '&';
    out += name + "=" + value;
  }
  return out;
}

std::string canonical_request(const http::Request& request, std::string& signed_headers) {
  const UrlParts url = split_url(request.url);
  // Repeated headers are signed as one, their values joined by commas in the order given.
  std::map<std::string, std::string> headers;
  for (const auto& [name, value] : request.headers) {
    const std::string key = base::text::lower_case(name);
    if (is_unsigned_header(key)) continue;
    auto [position, added] = headers.try_emplace(key, canonical_header_value(value));
    if (!added) position->second += "," + canonical_header_value(value);
  }
  std::string text =
      request.method + "\n" + canonical_uri(url.path) + "\n" + canonical_query(url.query) + "\n";
  signed_headers.clear();
  for (const auto& [name, value] : headers) {
    text += name + ":" + value + "\n";
    if (!signed_headers.empty()) signed_headers += ';';
    signed_headers += name;
  }
  text += "\n" + signed_headers + "\n" + sha256_hex(request.body);
  return text;
}

std::string string_to_sign(std::string_view amz_date_text, std::string_view scope,
                           std::string_view canonical_request_text) {
  return "AWS4-HMAC-SHA256\n" + std::string(amz_date_text) + "\n" + std::string(scope) + "\n" +
         sha256_hex(canonical_request_text);
}

std::string signing_key(std::string_view secret_access_key, std::string_view date,
                        std::string_view region, std::string_view service) {
  const std::string date_key = hmac_sha256("AWS4" + std::string(secret_access_key), date);
  const std::string region_key = hmac_sha256(date_key, region);
  const std::string service_key = hmac_sha256(region_key, service);
  return hmac_sha256(service_key, "aws4_request");
}

std::string sha256_hex(std::string_view data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return base::hex::lower_hex(digest);
}

std::string amz_date(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

void sign(http::Request& request, const Credentials& credentials, std::string_view region,
          std::string_view service, std::chrono::system_clock::time_point time) {
  const UrlParts url = split_url(request.url);
  const std::string date_time = amz_date(time);
  const std::string date = date_time.substr(0, 8);
  std::erase_if(request.headers, [](const auto& header) {
    const std::string name = base::text::lower_case(header.first);
    return name == "host" || name == "x-amz-date" || name == "x-amz-security-token" ||
           name == "authorization";
  });
  request.headers.emplace_back("Host", url.authority);
  request.headers.emplace_back("X-Amz-Date", date_time);
  if (!credentials.session_token.empty())
    request.headers.emplace_back("X-Amz-Security-Token", credentials.session_token);

  std::string signed_headers;
  const std::string canonical = canonical_request(request, signed_headers);
  const std::string scope =
      date + "/" + std::string(region) + "/" + std::string(service) + "/aws4_request";
  const std::string key = signing_key(credentials.secret_access_key, date, region, service);
  const std::string signature = hmac_sha256(key, string_to_sign(date_time, scope, canonical));
  request.headers.emplace_back(
      "Authorization",
      "AWS4-HMAC-SHA256 Credential=" + credentials.access_key_id + "/" + scope +
          ", SignedHeaders=" + signed_headers + ", Signature=" +
          base::hex::lower_hex(std::span(reinterpret_cast<const unsigned char*>(signature.data()),
                                         signature.size())));
}

}  // namespace aws::sigv4
