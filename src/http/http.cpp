#include "http/http.hpp"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <span>
#include <system_error>

#include "base/hex/hex.hpp"
#include "base/text/ascii.hpp"
#include "untrusted/untrusted.hpp"

namespace http {

// What the last TLS handshake saw of the server's certificate, and why it was refused.
struct CurlClient::CertificateCheck {
  TlsVerification mode;
  std::string pinned;     // lower-case hex digits
  std::string presented;  // lower-case hex digits; empty until a handshake shows a certificate
  std::string refusal;
};

namespace {

// libcurl wants one global initialisation per process before the first handle.
void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::atexit([] { curl_global_cleanup(); });
  });
}

// The answer body, cut off at the cap: a short count makes libcurl stop the download at once.
struct BodySink {
  std::string& body;
  std::size_t limit;
  bool exceeded = false;
};

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* target) {
  auto* sink = static_cast<BodySink*>(target);
  const std::size_t length = size * count;
  if (length > sink->limit - sink->body.size()) {
    sink->exceeded = true;
    return 0;
  }
  sink->body.append(data, length);
  return length;
}

// Called by OpenSSL in place of its chain check, during the handshake and so before a byte of the
// request leaves; it notes the fingerprint in every mode, so that an operator can learn what to
// pin.
int check_certificate(X509_STORE_CTX* store, void* argument) {
  auto* check = static_cast<CurlClient::CertificateCheck*>(argument);
  if (X509* leaf = X509_STORE_CTX_get0_cert(store)) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(leaf, EVP_sha256(), digest, &length) == 1)
      check->presented = base::hex::lower_hex(std::span(digest, length));
  }
  switch (check->mode) {
    case TlsVerification::skip:
      return 1;
    case TlsVerification::pinned:
      if (!check->presented.empty() && check->presented == check->pinned) return 1;
      check->refusal = "the server presented a certificate with SHA-256 fingerprint " +
                       fingerprint_text(check->presented) + ", not the pinned " +
                       fingerprint_text(check->pinned);
      X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
      return 0;
    case TlsVerification::verify:
    case TlsVerification::ca_file:
      break;
  }
  const int verified = X509_verify_cert(store);
  if (verified != 1) {
    check->refusal =
        "the server's certificate (SHA-256 fingerprint " + fingerprint_text(check->presented) +
        ") failed verification: " + X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
  }
  return verified;
}

CURLcode install_certificate_check(CURL*, void* ssl_context, void* argument) {
  SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(ssl_context), &check_certificate,
                                   argument);
  return CURLE_OK;
}

std::string duration_text(std::chrono::milliseconds duration) {
  if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
  return std::to_string(duration.count()) + " ms";
}

std::string size_text(std::size_t bytes) {
  constexpr std::size_t mebibyte = std::size_t{1} << 20;
  if (bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// The tighter of the client's limit and the request's own, which is zero when it has none.
std::chrono::milliseconds tighter(std::chrono::milliseconds client_limit,
                                  std::chrono::milliseconds request_limit) {
  if (request_limit.count() <= 0) return client_limit;
  return std::min(client_limit, request_limit);
}

// The host of an address ("https://h:443/x" gives "h").
std::string_view host_of(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  return url.substr(0, url.find_first_of(":/?#"));
}

// libcurl's text for a refused connection names the request's host and port again, with the
// milliseconds it took ("Failed to connect to h port 443 after 0 ms: Couldn't connect to server"),
// where the message names the request already; the system's reason says more. A connection to a
// proxy keeps libcurl's text, which names the proxy.
std::string connection_failure(CURL* curl, const Request& request, std::string detail) {
  const std::string own_host = "Failed to connect to " + std::string(host_of(request.url)) + " port ";
  if (!detail.starts_with(own_host)) return detail;
  long os_errno = 0;
  curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &os_errno);
  std::string text = curl_easy_strerror(CURLE_COULDNT_CONNECT);
  if (os_errno != 0)
    text += " (" + std::error_code(static_cast<int>(os_errno), std::generic_category()).message() +
            ")";
  return text;
}

std::size_t append_header(char* data, std::size_t size, std::size_t count, void* target) {
  auto* response = static_cast<Response*>(target);
  std::string_view line(data, size * count);
  // A new status line starts a new header block (redirects, 100 Continue): keep only the last.
  if (line.starts_with("HTTP/")) {
    response->headers.clear();
    return size * count;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return size * count;
  std::string name = base::text::lower_case(line.substr(0, colon));
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
    value.remove_suffix(1);
  response->headers.emplace_back(std::move(name), std::string(value));
  return size * count;
}

// libcurl's progress callback: a non-zero answer ends the transfer.
int check_cancellation(void* cancellation, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const Cancellation*>(cancellation)->cancelled() ? 1 : 0;
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
};

}  // namespace

std::optional<std::string> Response::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

void Cancellation::cancel() {
  {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  called_off_.notify_all();
}

bool Cancellation::wait_for(std::chrono::milliseconds duration) const {
  std::unique_lock lock(mutex_);
  return called_off_.wait_for(lock, duration, [this] { return cancelled_.load(); });
}

CurlClient::CurlClient(TransportSettings settings, std::shared_ptr<const Cancellation> cancellation)
    : settings_(std::move(settings)),
      certificate_check_(std::make_unique<CertificateCheck>(
          CertificateCheck{settings_.tls_verification,
                           base::text::lower_case(settings_.certificate_sha256),
                           {},
                           {}})),
      cancellation_(std::move(cancellation)) {
  ensure_curl_initialised();
  handle_ = curl_easy_init();
  if (!handle_) throw TransportError("could not create an HTTP handle", CURLE_FAILED_INIT, false);
}

CurlClient::~CurlClient() { curl_easy_cleanup(static_cast<CURL*>(handle_)); }

Response CurlClient::send(const Request& request) {
  CURL* curl = static_cast<CURL*>(handle_);
  curl_easy_reset(curl);
  Response response;
  HeaderList header_list;
  for (const auto& [name, value] : request.headers) {
    // The callers check what they put in headers and name its source; this is the last guard.
    if (!is_header_safe(name) || !is_header_safe(value)) {
      throw TransportError(request,
                           "the request header " + untrusted::printable(name) +
                               " holds a control character; nothing was sent",
                           CURLE_BAD_FUNCTION_ARGUMENT, TransportError::Cause::other);
    }
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    header_list.list = curl_slist_append(header_list.list, line.c_str());
  }
  // libcurl would add "Expect: 100-continue" to larger bodies and an Accept header of its own.
  header_list.list = curl_slist_append(header_list.list, "Expect:");
  char error_buffer[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (!request.body.empty() || request.method == "POST" || request.method == "PUT") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, header_list.list);
  BodySink sink{response.body, settings_.max_answer_bytes};
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  // An answer that announces its length is refused before its first byte.
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(settings_.max_answer_bytes));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &append_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");

  CertificateCheck& certificate = *certificate_check_;
  certificate.presented.clear();
  certificate.refusal.clear();
  // Only an OpenSSL build of libcurl hands out its TLS context; without it a pin would silently
  // check nothing, so the request is not made.
  if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &install_certificate_check) != CURLE_OK &&
      settings_.tls_verification == TlsVerification::pinned) {
    throw TransportError(request,
                         "this libcurl cannot check a pinned certificate (it is not built with "
                         "OpenSSL)",
                         CURLE_NOT_BUILT_IN, TransportError::Cause::certificate_refused);
  }
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &certificate);
  switch (settings_.tls_verification) {
    case TlsVerification::verify:
      break;
    case TlsVerification::ca_file:
      curl_easy_setopt(curl, CURLOPT_CAINFO, settings_.ca_file.c_str());
      // Only the operator's bundle is trusted, not the system's folder of authorities as well.
      curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char*>(nullptr));
      break;
    case TlsVerification::pinned:
      // The pin names the one certificate; whatever names it carries, it is the controller.
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
      break;
    case TlsVerification::skip:
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
      break;
  }
  // No proxy option is set on purpose: libcurl then takes https_proxy/HTTPS_PROXY, http_proxy and
  // no_proxy/NO_PROXY from the environment, as the operator's other tools do.
  if (!request.ca_file.empty()) {
    // Instead of the system's authorities, not beside them: libcurl would still look in the
    // system's folder of authorities unless told not to.
    curl_easy_setopt(curl, CURLOPT_CAINFO, request.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_PROXY_CAINFO, request.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY_CAPATH, static_cast<char*>(nullptr));
  }

  if (cancellation_) {
    if (cancellation_->cancelled())
      throw TransportError(request, "cancelled", CURLE_ABORTED_BY_CALLBACK,
                           TransportError::Cause::other);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &check_cancellation);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, cancellation_.get());
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }
  const auto connect_limit = tighter(settings_.connect_timeout, request.connect_timeout);
  const auto request_limit = tighter(settings_.request_timeout, request.timeout);
  const auto stall_seconds =
      std::max<long>(1, static_cast<long>((settings_.stall_timeout.count() + 999) / 1000));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_limit.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request_limit.count()));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stall_seconds);

  const CURLcode code = curl_easy_perform(curl);
  if (!certificate.presented.empty())
    response.certificate_sha256 = fingerprint_text(certificate.presented);
  if (code != CURLE_OK) {
    // libcurl's text may quote the server (the names in its certificate): escaped, it cannot forge
    // a line of the message it ends up in.
    std::string detail =
        untrusted::printable(error_buffer[0] ? error_buffer : curl_easy_strerror(code));
    auto cause = TransportError::Cause::other;
    if (code == CURLE_COULDNT_CONNECT) {
      detail = connection_failure(curl, request, std::move(detail));
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
      cause = TransportError::Cause::timed_out;
      curl_off_t connected_at = 0;
      curl_off_t elapsed = 0;
      curl_easy_getinfo(
          curl,
          request.url.starts_with("https:") ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T,
          &connected_at);
      curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &elapsed);
      const auto elapsed_limit = std::chrono::microseconds(elapsed);
      if (connected_at == 0) {
        detail = "no connection within " + duration_text(connect_limit) + " (connect time-out)";
      } else if (elapsed_limit + std::chrono::milliseconds(100) >= request_limit) {
        detail = "no complete answer within " + duration_text(request_limit) +
                 " (time limit of a request)";
      } else {
        detail = "no data for " + std::to_string(stall_seconds) + " s (stall time-out)";
      }
    } else if (sink.exceeded || code == CURLE_FILESIZE_EXCEEDED) {
      cause = TransportError::Cause::answer_too_large;
      detail = "the answer is larger than the limit of " + size_text(settings_.max_answer_bytes);
    } else if (code == CURLE_SSL_CACERT_BADFILE) {
      // Before the handshake: the bundle could not be loaded (a broken PEM block, say).
      cause = TransportError::Cause::ca_file_unreadable;
      const std::string& bundle =
          request.ca_file.empty() ? settings_.ca_file.string() : request.ca_file;
      detail = "the certificate authority file " + untrusted::printable(bundle) +
               " could not be read as PEM certificates (" + detail + "); nothing was sent";
    } else if (!certificate.refusal.empty()) {
      cause = TransportError::Cause::certificate_refused;
      detail = certificate.refusal;
    } else if (code == CURLE_PEER_FAILED_VERIFICATION) {
      cause = TransportError::Cause::certificate_refused;
      if (response.certificate_sha256) {
        detail += " (the server presented a certificate with SHA-256 fingerprint " +
                  *response.certificate_sha256 + ")";
      }
    }
    throw TransportError(request, std::move(detail), code, cause);
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

bool is_header_safe(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

std::string fingerprint_text(std::string_view hex_digits) {
  std::string out;
  for (std::size_t i = 0; i < hex_digits.size(); ++i) {
    if (i > 0 && i % 2 == 0) out += ':';
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(hex_digits[i])));
  }
  return out;
}

std::string percent_encode(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

std::string form_encode(const std::vector<std::pair<std::string, std::string>>& fields) {
  const auto encode = [](std::string_view text) {
    std::string encoded = percent_encode(text);
    // In form bodies a space is "+", and "%20" would be read the same; "+" itself stays encoded.
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      if (encoded.compare(i, 3, "%20") == 0) {
        out += '+';
        i += 2;
      } else {
        out += encoded[i];
      }
    }
    return out;
  };
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += encode(name);
    body += '=';
    body += encode(value);
  }
  return body;
}

}  // namespace http
