#include "ipv4/ipv4_network.hpp"

#include <array>
#include <charconv>
#include <optional>

namespace ipv4 {

namespace {

// The mask of the host bits of a prefix length; computed in 64 bits so that /0 does not shift
// by 32.
std::uint32_t host_mask(int prefix_length) {
  return static_cast<std::uint32_t>((std::uint64_t{1} << (32 - prefix_length)) - 1);
}

// A decimal number of at most `max_digits` digits, without sign or leading zeros, not above
// `limit`.
std::optional<unsigned> parse_decimal(std::string_view text, std::size_t max_digits,
                                      unsigned limit) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  if (text.size() > 1 && text.front() == '0') return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > limit)
    return std::nullopt;
  return value;
}

[[noreturn]] void refuse(std::string_view cidr, std::string_view why) {
  throw InvalidNetwork("'" + std::string(cidr) +
                       "' is not a valid IPv4 CIDR block: " + std::string(why));
}

void check_prefix_length(int prefix_length) {
  if (prefix_length < 0 || prefix_length > 32)
    throw InvalidNetwork("prefix length " + std::to_string(prefix_length) + " is outside 0 to 32");
}

}  // namespace

std::string format_address(std::uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xff) + '.' +
         std::to_string((address >> 8) & 0xff) + '.' + std::to_string(address & 0xff);
}

Network Network::parse(std::string_view cidr) {
  const std::size_t slash = cidr.find('/');
  if (slash == std::string_view::npos)
    refuse(cidr, "expected an address, a slash and a prefix length, such as 10.0.0.0/16");
  const std::string_view address_text = cidr.substr(0, slash);
  const std::string_view prefix_text = cidr.substr(slash + 1);

  std::uint32_t address = 0;
  std::size_t start = 0;
  for (int octet_index = 0; octet_index < 4; ++octet_index) {
    // The last octet runs to the slash; a stray fifth dot then makes it unreadable as a number.
    const std::size_t dot = octet_index < 3 ? address_text.find('.', start) : address_text.size();
    if (dot == std::string_view::npos)
      refuse(cidr, "the address must have four dot-separated octets");
    const std::string_view octet_text = address_text.substr(start, dot - start);
    const auto octet = parse_decimal(octet_text, 3, 255);
    if (!octet)
      refuse(cidr, "octet '" + std::string(octet_text) +
                       "' is not a number from 0 to 255 without leading zeros");
    address = (address << 8) | *octet;
    start = dot + 1;
  }

  const auto prefix_length = parse_decimal(prefix_text, 2, 32);
  if (!prefix_length)
    refuse(cidr, "prefix length '" + std::string(prefix_text) + "' is not a number from 0 to 32");

  const int prefix = static_cast<int>(*prefix_length);
  if ((address & host_mask(prefix)) != 0)
    refuse(cidr, "host bits are set (the network would be " +
                     Network(address & ~host_mask(prefix), prefix).to_string() + ")");
  return Network(address, prefix);
}

Network::Network(std::uint32_t network_address, int prefix_length)
    : address_(network_address), prefix_length_(prefix_length) {
  check_prefix_length(prefix_length);
  if ((network_address & host_mask(prefix_length)) != 0)
    throw InvalidNetwork(format_address(network_address) + "/" + std::to_string(prefix_length) +
                         " has host bits set");
}

std::uint32_t Network::last_address() const noexcept {
  return address_ | host_mask(prefix_length_);
}

std::string Network::to_string() const {
  return format_address(address_) + "/" + std::to_string(prefix_length_);
}

bool Network::overlaps(const Network& other) const noexcept {
  return first_address() <= other.last_address() && other.first_address() <= last_address();
}

bool Network::contains(const Network& other) const noexcept {
  return first_address() <= other.first_address() && other.last_address() <= last_address();
}

std::uint64_t Network::subnet_count(int new_prefix_length) const {
  check_prefix_length(new_prefix_length);
  if (new_prefix_length < prefix_length_)
    throw InvalidNetwork("/" + std::to_string(new_prefix_length) + " subnets do not fit in " +
                         to_string());
  return std::uint64_t{1} << (new_prefix_length - prefix_length_);
}

Network Network::subnet_at(int new_prefix_length, std::uint64_t index) const {
  if (index >= subnet_count(new_prefix_length))
    throw InvalidNetwork("subnet index " + std::to_string(index) + " is beyond the /" +
                         std::to_string(new_prefix_length) + " subnets of " + to_string());
  const std::uint64_t step = std::uint64_t{1} << (32 - new_prefix_length);
  return Network(static_cast<std::uint32_t>(address_ + index * step), new_prefix_length);
}

std::vector<Network> Network::subnets(int new_prefix_length) const {
  const std::uint64_t count = subnet_count(new_prefix_length);
  std::vector<Network> result;
  result.reserve(count);
  for (std::uint64_t index = 0; index < count; ++index)
    result.push_back(subnet_at(new_prefix_length, index));
  return result;
}

}  // namespace ipv4
