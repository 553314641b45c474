#include "fuzz_support.hpp"

#include <charconv>
#include <chrono>

#include "generator/log/log.hpp"
#include "support/log_capture.hpp"

namespace fuzz {

namespace {

using generator::test_support::DroppedLines;

class NoPause : public aws::Sleeper {
 public:
  void sleep_for(std::chrono::milliseconds) override {}
};

}  // namespace

std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

std::vector<std::string> split_parts(std::string_view input, std::size_t max_parts) {
  std::vector<std::string> parts;
  while (parts.size() + 1 < max_parts) {
    const auto separator = input.find(PART_SEPARATOR);
    if (separator == std::string_view::npos) break;
    parts.emplace_back(input.substr(0, separator));
    input.remove_prefix(separator + PART_SEPARATOR.size());
  }
  parts.emplace_back(input);
  return parts;
}

void log_everything_quietly() {
  auto& top = generator::log::get_logger(generator::log::TOP_LOGGER);
  if (!top.handlers().empty()) return;
  top.add_handler(std::make_shared<DroppedLines>());
  top.set_level(generator::log::DEBUG);
  generator::log::get_logger("").add_handler(std::make_shared<DroppedLines>());
}

generator::test_support::ScriptedHttp scripted_http(const std::vector<std::string>& answers) {
  generator::test_support::ScriptedHttp http;
  constexpr std::string_view STATUS_PREFIX = "HTTP ";
  for (std::string_view answer : answers) {
    long status = 200;
    if (answer.starts_with(STATUS_PREFIX)) {
      const auto line_end = answer.find('\n');
      const std::string_view status_text = answer.substr(
          STATUS_PREFIX.size(),
          (line_end == std::string_view::npos ? answer.size() : line_end) - STATUS_PREFIX.size());
      long code = 0;
      const auto [end, error] =
          std::from_chars(status_text.data(), status_text.data() + status_text.size(), code);
      if (error == std::errc() && end == status_text.data() + status_text.size()) status = code;
      answer.remove_prefix(line_end == std::string_view::npos ? answer.size() : line_end + 1);
    }
    http.answer(status, std::string(answer));
  }
  http.fail_when_used_up("no more scripted answers");
  return http;
}

aws::Context scripted_aws_context(std::map<std::string, std::string> variables,
                                  std::vector<std::string> answers) {
  aws::Context context;
  context.environment = aws::Environment::fixed(std::move(variables));
  context.http = std::make_shared<generator::test_support::ScriptedHttp>(scripted_http(answers));
  context.sleeper = std::make_shared<NoPause>();
  context.random = [] { return 0.5; };
  context.now = [] { return std::chrono::system_clock::time_point(std::chrono::hours(480'000)); };
  return context;
}

}  // namespace fuzz
