#include "http/http.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace http {

namespace {

// libcurl wants one global initialisation per process before the first handle.
void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::atexit([] { curl_global_cleanup(); });
  });
}

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
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
  std::string name(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
    value.remove_suffix(1);
  response->headers.emplace_back(std::move(name), std::string(value));
  return size * count;
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

CurlClient::CurlClient() {
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
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &append_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // No proxy option is set on purpose: libcurl then takes https_proxy/HTTPS_PROXY, http_proxy and
  // no_proxy/NO_PROXY from the environment, as the operator's other tools do.
  if (request.tls_verification == TlsVerification::skip) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (!request.ca_file.empty()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, request.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY_CAINFO, request.ca_file.c_str());
  }
  if (request.timeout.count() > 0)
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  if (request.connect_timeout.count() > 0) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(request.connect_timeout.count()));
  }

  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) {
    const std::string detail = error_buffer[0] ? error_buffer : curl_easy_strerror(code);
    throw TransportError(request.method + " " + request.url + ": " + detail, code,
                         code == CURLE_OPERATION_TIMEDOUT);
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
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
