#include "stand_ins.hpp"

#include <algorithm>
#include <cctype>

namespace aws::testing {

namespace {

std::string decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> form_fields(const std::string& body) {
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start < body.size()) {
    auto end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    const auto equals = pair.find('=');
    fields[decode(pair.substr(0, equals))] =
        equals == std::string::npos ? "" : decode(pair.substr(equals + 1));
    start = end + 1;
  }
  return fields;
}

std::string header(const http::Request& request, const std::string& name) {
  const auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  };
  for (const auto& [key, value] : request.headers) {
    if (lower(key) == lower(name)) return value;
  }
  return "";
}

Context make_context(std::map<std::string, std::string> variables,
                     std::shared_ptr<http::Client> client,
                     std::shared_ptr<RecordingSleeper> sleeper) {
  Context context;
  context.environment = Environment::fixed(std::move(variables));
  context.http = std::move(client);
  context.sleeper = std::move(sleeper);
  context.random = [] { return 0.5; };
  context.now = [] { return std::chrono::system_clock::from_time_t(1440938160); };
  return context;
}

http::Response answer(long status, std::string body) {
  http::Response response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

}  // namespace aws::testing
