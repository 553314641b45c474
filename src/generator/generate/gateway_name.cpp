#include "generator/generate/gateway_name.hpp"

#include <algorithm>
#include <optional>

namespace generator::generate {

namespace {

// UTF-8 continuation bytes (10xxxxxx) never start a character.
bool starts_character(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

}  // namespace

std::string_view first_characters(std::string_view text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (!starts_character(text[index])) continue;
    if (seen == characters) return text.substr(0, index);
    ++seen;
  }
  return text;
}

std::string get_spoke_gw_name(const VpcRecord& vpc) {
  // An empty Name tag still counts as the name: the identifier stands in only without one.
  const std::string base = vpc.name().value_or(vpc.id);
  std::string name(first_characters(base, SPOKE_GW_NAME_BASE_LENGTH));
  name += SPOKE_GW_NAME_SUFFIX;
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

}  // namespace generator::generate
