#include "aws/expiry.hpp"

#include <cstdio>
#include <ctime>
#include <string_view>

namespace aws {

std::optional<std::chrono::sys_seconds> parse_utc_time(const std::string& text) {
  std::tm parts{};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6) {
    return std::nullopt;
  }
  std::string_view rest = std::string_view(text).substr(static_cast<std::size_t>(consumed));
  if (rest.starts_with('.')) {
    rest.remove_prefix(1);
    while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
  }
  if (rest != "Z" && rest != "UTC" && rest != "+00:00" && rest != "") return std::nullopt;
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  const std::time_t seconds = ::timegm(&parts);
  if (seconds == -1) return std::nullopt;
  return std::chrono::sys_seconds(std::chrono::seconds(seconds));
}

bool due_for_renewal(const Credentials& credentials, std::chrono::system_clock::time_point now) {
  if (credentials.expiration.empty()) return false;
  const std::optional<std::chrono::sys_seconds> expiry = parse_utc_time(credentials.expiration);
  // Whole seconds on both sides: the clock's own nanoseconds reach only the year 2262.
  return expiry && std::chrono::floor<std::chrono::seconds>(now) + RENEWAL_MARGIN >= *expiry;
}

}  // namespace aws
