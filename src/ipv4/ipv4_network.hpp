#pragma once

// IPv4 networks in CIDR form: strict parsing, canonical text, overlap and aligned subnets.
// A generic piece: it knows nothing of the programs and throws its own error kind.

#include <compare>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ipv4 {

/// A text that is not a valid IPv4 CIDR block, or a subnet request that cannot be met.
class InvalidNetwork : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

/// Dotted-decimal text of an address ("10.0.0.128").
std::string format_address(std::uint32_t address);

/// An IPv4 network: a network address whose host bits are all zero, and a prefix length 0 to 32.
class Network {
 public:
  /// Parses "a.b.c.d/n" strictly: four decimal octets 0-255 without leading zeros, a slash, a
  /// prefix length 0-32 without leading zeros, nothing else, and no host bits set.
  static Network parse(std::string_view cidr);

  /// The network of `prefix_length` at `network_address`; InvalidNetwork when host bits are set or
  /// the prefix length is out of range.
  Network(std::uint32_t network_address, int prefix_length);

  [[nodiscard]] std::uint32_t network_address() const noexcept { return address_; }
  [[nodiscard]] int prefix_length() const noexcept { return prefix_length_; }
  /// The lowest address of the network (its network address).
  [[nodiscard]] std::uint32_t first_address() const noexcept { return address_; }
  /// The highest address of the network.
  [[nodiscard]] std::uint32_t last_address() const noexcept;
  /// The number of addresses the network holds (2^32 for /0).
  [[nodiscard]] std::uint64_t size() const noexcept {
    return std::uint64_t{1} << (32 - prefix_length_);
  }

  /// Canonical CIDR text: network address in dotted decimal, slash, prefix length.
  [[nodiscard]] std::string to_string() const;

  /// Whether the two networks share at least one address.
  [[nodiscard]] bool overlaps(const Network& other) const noexcept;
  /// Whether every address of `other` lies in this network.
  [[nodiscard]] bool contains(const Network& other) const noexcept;

  /// How many subnets of `new_prefix_length` this network holds; InvalidNetwork when the new prefix
  /// is shorter than this one's or longer than 32.
  [[nodiscard]] std::uint64_t subnet_count(int new_prefix_length) const;
  /// The subnet of `new_prefix_length` at position `index` in ascending address order.
  [[nodiscard]] Network subnet_at(int new_prefix_length, std::uint64_t index) const;
  /// All subnets of `new_prefix_length`, in ascending address order.
  [[nodiscard]] std::vector<Network> subnets(int new_prefix_length) const;

  friend bool operator==(const Network&, const Network&) = default;
  /// Ordered by network address, then by prefix length.
  friend std::strong_ordering operator<=>(const Network&, const Network&) = default;

 private:
  std::uint32_t address_;
  int prefix_length_;
};

}  // namespace ipv4
