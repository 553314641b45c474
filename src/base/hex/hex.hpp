#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace base::hex {

/// The bytes as lower-case hexadecimal digits, two per byte ("00ff" for {0x00, 0xFF}): how
/// digests are written in signatures, file names and fingerprints.
[[nodiscard]] std::string lower_hex(std::span<const unsigned char> bytes);

}  // namespace base::hex
