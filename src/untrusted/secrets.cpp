#include "untrusted/secrets.hpp"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <unordered_map>

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

// The secrets of a run with an index over their first bytes. A run over a whole organisation
// holds two secrets per account, and every log argument is searched for all of them: looking each
// one up in turn made a message cost in proportion to the accounts, so a run of 10,000 accounts
// spent minutes on its last messages. With the index, a message costs in proportion to its length.
class SecretIndex {
 public:
  void insert(std::string secret) {
    const auto [kept, added] = secrets_.insert(std::move(secret));
    if (!added || kept->size() < SHORTEST_SECRET_REPLACED_INSIDE_TEXT) return;
    const std::uint32_t key = key_at(*kept, 0);
    by_first_bytes_[key].push_back(&*kept);
    filter_[filter_slot(key)] = true;
  }

  void clear() {
    secrets_.clear();
    by_first_bytes_.clear();
    filter_.assign(filter_.size(), false);
  }

  [[nodiscard]] bool empty() const { return secrets_.empty(); }

  // Each secret replaced wherever it appears, longer secrets first: a place that a longer one
  // covers is not taken by a shorter one, and one secret's places do not overlap each other.
  [[nodiscard]] std::string replaced(std::string text) const {
    if (secrets_.count(text) != 0) return std::string(SECRET_MARK);
    struct Place {
      const std::string* secret;
      std::size_t at;
    };
    std::vector<Place> places;
    for (std::size_t at = 0; at + SHORTEST_SECRET_REPLACED_INSIDE_TEXT <= text.size(); ++at) {
      const std::uint32_t key = key_at(text, at);
      if (!filter_[filter_slot(key)]) continue;
      const auto found = by_first_bytes_.find(key);
      if (found == by_first_bytes_.end()) continue;
      for (const std::string* secret : found->second)
        if (text.compare(at, secret->size(), *secret) == 0) places.push_back({secret, at});
    }
    if (places.empty()) return text;
    const LongerFirst longer_first;
    std::sort(places.begin(), places.end(), [&](const Place& left, const Place& right) {
      if (*left.secret != *right.secret) return longer_first(*left.secret, *right.secret);
      return left.at < right.at;
    });
    std::vector<Place> taken;
    std::vector<bool> covered(text.size(), false);
    for (const Place& place : places) {
      const auto begin = covered.begin() + static_cast<std::ptrdiff_t>(place.at);
      const auto end = begin + static_cast<std::ptrdiff_t>(place.secret->size());
      if (std::find(begin, end, true) != end) continue;
      std::fill(begin, end, true);
      taken.push_back(place);
    }
    std::sort(taken.begin(), taken.end(),
              [](const Place& left, const Place& right) { return left.at < right.at; });
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (const Place& place : taken) {
      out.append(text, copied, place.at - copied);
      out += SECRET_MARK;
      copied = place.at + place.secret->size();
    }
    out.append(text, copied, std::string::npos);
    return out;
  }

 private:
  static_assert(SHORTEST_SECRET_REPLACED_INSIDE_TEXT <= sizeof(std::uint32_t));
  static std::uint32_t key_at(std::string_view text, std::size_t at) {
    std::uint32_t key = 0;
    for (std::size_t i = 0; i < SHORTEST_SECRET_REPLACED_INSIDE_TEXT; ++i)
      key = (key << 8) | static_cast<unsigned char>(text[at + i]);
    return key;
  }
  // Most places of a message begin no secret: a bit per hashed key turns them away before the
  // table is asked.
  static std::size_t filter_slot(std::uint32_t key) {
    return (key * 2654435761u) >> (32 - FILTER_BITS);
  }
  static constexpr int FILTER_BITS = 20;

  SecretSet secrets_;
  std::unordered_map<std::uint32_t, std::vector<const std::string*>> by_first_bytes_;
  std::vector<bool> filter_ = std::vector<bool>(std::size_t{1} << FILTER_BITS);
};

struct HeldSecrets {
  std::shared_mutex mutex;
  SecretIndex secrets;
};

HeldSecrets& held_secrets() {
  // Never destroyed: messages may still be written while static objects are torn down.
  static auto* held = new HeldSecrets;
  return *held;
}

}  // namespace

std::string without_secrets(std::string text, std::vector<std::string> secrets) {
  SecretIndex index;
  for (auto& secret : secrets) {
    if (!secret.empty()) index.insert(std::move(secret));
  }
  return index.replaced(std::move(text));
}

void hold_secret(std::string_view secret) {
  if (secret.empty()) return;
  std::string shown = printable(secret);
  HeldSecrets& held = held_secrets();
  const std::unique_lock lock(held.mutex);
  held.secrets.insert(std::string(secret));
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
  return held.secrets.replaced(std::move(text));
}

}  // namespace untrusted
