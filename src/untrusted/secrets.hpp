#pragma once

// The secrets a run holds (passwords, tokens, secret keys), kept so that no message leaving the
// program shows one, whatever peer or file echoed it into the message.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace untrusted {

/// What stands in a message where a secret was.
inline constexpr std::string_view SECRET_MARK = "********";

/// Secrets shorter than this are replaced only where they make up a whole text: a short one
/// inside every word would make the messages unreadable and shows little of itself.
inline constexpr std::size_t SHORTEST_SECRET_REPLACED_INSIDE_TEXT = 4;

/// `text` with each of `secrets` replaced by SECRET_MARK wherever it appears (by the rule of
/// SHORTEST_SECRET_REPLACED_INSIDE_TEXT); longer secrets are replaced first.
[[nodiscard]] std::string without_secrets(std::string text, std::vector<std::string> secrets);

/// Keeps `secret` until the process ends, so that `redact` replaces it from now on; also keeps
/// the escaped form in which `printable` would show it. Empty texts are ignored. Safe on any
/// thread.
void hold_secret(std::string_view secret);

/// Forgets every secret held so far: for a process that plays many runs in a row (a fuzz target),
/// in which they would pile up.
void forget_secrets();

/// `text` with every secret held so far replaced by SECRET_MARK. Safe on any thread.
[[nodiscard]] std::string redact(std::string text);

}  // namespace untrusted
