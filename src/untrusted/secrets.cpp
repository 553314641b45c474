#include "untrusted/secrets.hpp"

#include <algorithm>
#include <mutex>
#include <set>
#include <shared_mutex>

#include "untrusted/untrusted.hpp"

namespace untrusted {

namespace {

// Longer first, so that a secret that holds another is replaced whole.
struct LongerFirst {
  bool operator()(const std::string& left, const std::string& right) const {
    if (left.size() != right.size()) return left.size() > right.size();
    return left < right;
  }
};

using SecretSet = std::set<std::string, LongerFirst>;

struct HeldSecrets {
  std::shared_mutex mutex;
  SecretSet secrets;
};

HeldSecrets& held_secrets() {
  // Never destroyed: messages may still be written while static objects are torn down.
  static auto* held = new HeldSecrets;
  return *held;
}

std::string replaced(std::string text, const SecretSet& secrets) {
  for (const auto& secret : secrets) {
    if (text == secret) return std::string(SECRET_MARK);
    if (secret.size() < SHORTEST_SECRET_REPLACED_INSIDE_TEXT) continue;
    for (auto at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + SECRET_MARK.size())) {
      text.replace(at, secret.size(), SECRET_MARK);
    }
  }
  return text;
}

}  // namespace

std::string without_secrets(std::string text, std::vector<std::string> secrets) {
  SecretSet ordered;
  for (auto& secret : secrets) {
    if (!secret.empty()) ordered.insert(std::move(secret));
  }
  return replaced(std::move(text), ordered);
}

void hold_secret(std::string_view secret) {
  if (secret.empty()) return;
  std::string shown = printable(secret);
  HeldSecrets& held = held_secrets();
  const std::unique_lock lock(held.mutex);
  held.secrets.emplace(secret);
  if (shown != secret) held.secrets.insert(std::move(shown));
}

void forget_secrets() {
  HeldSecrets& held = held_secrets();
  const std::unique_lock lock(held.mutex);
  held.secrets.clear();
}

std::string redact(std::string text) {
  HeldSecrets& held = held_secrets();
  const std::shared_lock lock(held.mutex);
  if (held.secrets.empty()) return text;
  return replaced(std::move(text), held.secrets);
}

}  // namespace untrusted
