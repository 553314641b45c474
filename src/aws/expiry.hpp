#pragma once

// When temporary credentials run out, and when they are renewed: a few minutes ahead, as the SDKs
// refresh them, so that no request goes out with credentials about to expire.

#include <chrono>
#include <optional>
#include <string>

#include "aws/credentials.hpp"

namespace aws {

/// How long before their expiry temporary credentials are renewed.
inline constexpr std::chrono::minutes RENEWAL_MARGIN{5};

/// The time of "2026-01-02T03:04:05Z" (also with fractions of a second, "UTC" or "+00:00"), in
/// whole seconds; nothing for anything else.
[[nodiscard]] std::optional<std::chrono::sys_seconds> parse_utc_time(const std::string& text);

/// Whether `credentials` have expired or expire within RENEWAL_MARGIN of `now`; false for
/// credentials whose expiry is not given or cannot be read, which are kept for the whole run.
[[nodiscard]] bool due_for_renewal(const Credentials& credentials,
                                   std::chrono::system_clock::time_point now);

}  // namespace aws
