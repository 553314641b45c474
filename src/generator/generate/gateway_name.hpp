#pragma once

// The proposed name of the spoke gateway of a VPC.

#include <string>
#include <string_view>

#include "generator/generate/scan_records.hpp"

namespace generator::generate {

/// How many characters of the VPC's name (or identifier) the gateway name keeps.
inline constexpr std::size_t SPOKE_GW_NAME_BASE_LENGTH = 23;
/// What every proposed gateway name ends with.
inline constexpr std::string_view SPOKE_GW_NAME_SUFFIX = "-HVNGW";

/// The first 23 characters (not bytes) of the VPC's first "Name" tag value, or of its identifier
/// when it has no such tag, followed by "-HVNGW", with every space turned into "_".
[[nodiscard]] std::string get_spoke_gw_name(const VpcRecord& vpc);

/// The longest start of the UTF-8 text `text` that holds at most `characters` characters; a
/// character is cut whole or not at all.
[[nodiscard]] std::string_view first_characters(std::string_view text, std::size_t characters);

}  // namespace generator::generate
