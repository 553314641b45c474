#include "base/hex/hex.hpp"

namespace base::hex {

std::string lower_hex(std::span<const unsigned char> bytes) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    out += DIGITS[byte >> 4];
    out += DIGITS[byte & 0x0F];
  }
  return out;
}

}  // namespace base::hex
