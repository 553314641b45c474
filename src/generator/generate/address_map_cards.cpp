#include "generator/generate/address_map_cards.hpp"

#include <fmt/format.h>

#include <optional>

#include "base/text/html.hpp"
#include "generator/generate/address_map_geometry.hpp"

namespace generator::generate {

using base::text::escape_html;

namespace {

// A share of the block in per cent for an SVG length: at most three decimals, no trailing zeros.
std::string percent(std::uint64_t part, std::uint64_t whole) {
  std::string text =
      fmt::format("{:.3f}", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text + "%";
}

// The network that is exactly the run of addresses from `first` to `last`, if there is one.
std::optional<ipv4::Network> as_network(std::uint32_t first, std::uint32_t last) {
  const std::uint64_t size = std::uint64_t{last} - first + 1;
  if ((size & (size - 1)) != 0 || first % size != 0) return std::nullopt;
  int prefix = 32;
  for (std::uint64_t rest = size; rest > 1; rest >>= 1) --prefix;
  return ipv4::Network(first, prefix);
}

// A run of addresses as CIDR text when it is exactly one network, else as a range.
std::string range_text(std::uint32_t first, std::uint32_t last) {
  if (const auto network = as_network(first, last)) return network->to_string();
  return ipv4::format_address(first) + " – " + ipv4::format_address(last);
}


// The tooltip of a piece: what it is and its addresses; a merged run names its first subnets.
std::string piece_title(const BarPiece& piece) {
  const std::string range = range_text(piece.first, piece.last);
  switch (piece.kind) {
    case PieceKind::gateway:
      return "gateway subnet " + range;
    case PieceKind::reserved:
      return "reserved " + range + " (reserved_cidrs)";
    case PieceKind::free:
      if (as_network(piece.first, piece.last)) return "free " + range;
      return "free " + range + " (" +
             plural(std::uint64_t{piece.last} - piece.first + 1, "address", "addresses",
                    Digits::grouped) +
             ")";
    case PieceKind::used:
      break;
  }
  if (piece.subnets.size() == 1 && piece.subnets.front().first_address() == piece.first &&
      piece.subnets.front().last_address() == piece.last)
    return range;
  if (piece.subnets.empty()) return "used " + range;  // the rest of a run the gateway cut
  constexpr std::size_t NAMED = 8;
  std::string title = plural(piece.subnets.size(), "subnet", "subnets", Digits::grouped);
  title.append(" ").append(range).append(":");
  for (std::size_t i = 0; i < piece.subnets.size() && i < NAMED; ++i)
    title.append(" ").append(piece.subnets[i].to_string());
  if (piece.subnets.size() > NAMED)
    title.append(" and ").append(grouped(piece.subnets.size() - NAMED)).append(" more");
  return title;
}

// The class attribute of a piece's rectangle; used space, by far the most pieces, takes the bar's
// default look and needs none.
const char* piece_class(PieceKind kind) {
  switch (kind) {
    case PieceKind::used:
      return "";
    case PieceKind::free:
      return " class=\"f\"";
    case PieceKind::gateway:
      return " class=\"g\"";
    case PieceKind::reserved:
      return " class=\"r\"";
  }
  return "";
}

// Draws an entered account's sections into `section`.
class AccountDrawing {
 public:
  AccountDrawing(AccountSection& section, int gateway_prefix,
                 const std::vector<ipv4::Network>& reserved)
      : section_(section), body_(section.html), gateway_prefix_(gateway_prefix), reserved_(reserved) {}

  void draw_region(const AccountRecord& account, const RegionRecord& region);

 private:
  void draw_vpc(const AccountRecord& account, const RegionRecord& region, const VpcRecord& vpc);

  AccountSection& section_;
  std::string& body_;
  int gateway_prefix_;
  const std::vector<ipv4::Network>& reserved_;
};

void AccountDrawing::draw_region(const AccountRecord& account, const RegionRecord& region) {
  body_ += "<details class=\"region\" open><summary><h3>" + escape_html(region.region) + "</h3>";
  if (region.failed()) {
    ++section_.regions_failed;
    body_ += " <span class=\"badge b-failed\">SCAN FAILED</span></summary><p class=\"note failed\">" +
             escape_html(region.failure_message) + "</p></details>\n";
    return;
  }
  body_ += " · " + plural(region.vpcs.size(), "VPC", "VPCs", Digits::grouped) + "</summary>\n";
  if (region.vpcs.empty()) {
    body_ += "<p class=\"note\">No VPCs.</p></details>\n";
    return;
  }
  body_ += "<div class=\"vpcs\">\n";
  for (const auto& vpc : region.vpcs) draw_vpc(account, region, vpc);
  body_ += "</div></details>\n";
}

void AccountDrawing::draw_vpc(const AccountRecord& account, const RegionRecord& region,
                              const VpcRecord& vpc) {
  ++section_.vpcs;
  if (vpc.is_default) ++section_.default_vpcs;
  const bool no_room = vpc.gateway_subnet.no_room();
  if (no_room) ++section_.vpcs_without_room;
  const std::optional<std::string> name = vpc.name();

  std::string search =
      account.account_id + " " + region.region + " " + vpc.id + " " + vpc.gateway_name;
  if (account.account_name) search += " " + *account.account_name;
  if (name) search += " " + *name;

  body_ += std::string("<article class=\"vpc") + (no_room ? " noroom" : "") + "\" id=\"" +
           card_id(account.account_id, region.region, vpc.id) + "\" data-vpc=\"" +
           escape_html(vpc.id) + "\" data-search=\"" + escape_html(search) + "\"><h4><code>" +
           escape_html(vpc.id) + "</code> " +
           (name ? escape_html(*name) : std::string("<i>no Name tag</i>")) + "</h4><dl>";
  body_ += "<dt>Gateway name</dt><dd class=\"gw-name\">" + escape_html(vpc.gateway_name) + "</dd>";
  body_ += "<dt>Gateway subnet</dt><dd class=\"gw-subnet\">";
  if (no_room)
    body_ += "<span class=\"badge b-noroom\">NO ROOM</span> no free /" +
             std::to_string(gateway_prefix_) + " in any associated block";
  else if (!vpc.gateway_subnet.network)
    body_ += "none proposed: each VPC gets a new block (add_vpc_cidr)";
  else
    body_ += "<code>" + vpc.gateway_subnet.text() + "</code>";
  body_ += "</dd></dl>";
  // The overlaps are known only once the whole estate is scanned.
  section_.mark_offsets.push_back(static_cast<std::uint32_t>(body_.size()));

  std::vector<ipv4::Network> subnets;
  std::size_t without_ipv4 = 0;
  for (const auto& subnet : vpc.subnets) {
    if (subnet.network)
      subnets.push_back(*subnet.network);
    else
      ++without_ipv4;
  }
  const std::optional<ipv4::Network>& gateway = vpc.gateway_subnet.network;

  std::vector<std::string> not_drawn;
  for (const auto& block_record : vpc.blocks) {
    const ipv4::Network* block = &block_record.network;
    if (!block_record.is_associated()) {
      not_drawn.push_back("<code>" + block->to_string() + "</code> (" +
                          escape_html(block_record.state) + ")");
      continue;
    }
    const std::vector<BarPiece> pieces =
        bar_pieces(*block, subnets, gateway ? &*gateway : nullptr, reserved_);
    std::uint64_t used = 0;
    std::size_t count = 0;
    for (const auto& piece : pieces) {
      if (piece.kind == PieceKind::used) used += std::uint64_t{piece.last} - piece.first + 1;
      count += piece.subnets.size();
    }
    body_ += "<p class=\"blk\"><code>" + block->to_string() + "</code>" +
             (*block == vpc.primary ? " primary" : "") + " · " +
             plural(count, "subnet", "subnets", Digits::grouped) + " · " +
             fmt::format("{:.1f}",
                         100.0 * static_cast<double>(used) / static_cast<double>(block->size())) +
             " % used</p><svg class=\"bar\" aria-hidden=\"true\">";
    for (const auto& piece : pieces) {
      body_ += std::string("<rect") + piece_class(piece.kind) + " x=\"" +
               percent(piece.first - block->first_address(), block->size()) + "\" width=\"" +
               percent(std::uint64_t{piece.last} - piece.first + 1, block->size()) +
               "\" height=\"100%\"><title>" + piece_title(piece) + "</title></rect>";
    }
    // A /27 in a /16 is a third of a pixel wide; a line through its middle keeps it in sight.
    for (const auto& piece : pieces) {
      if (piece.kind != PieceKind::gateway) continue;
      const std::string middle = percent(
          2 * (std::uint64_t{piece.first} - block->first_address()) + piece.last - piece.first + 1,
          2 * block->size());
      body_ += "<line class=\"gm\" x1=\"" + middle + "\" x2=\"" + middle +
               "\" y1=\"0\" y2=\"100%\"><title>" + piece_title(piece) + "</title></line>";
    }
    body_ += "</svg>";
  }
  if (!not_drawn.empty()) {
    body_ += "<p class=\"extra\">Not associated, not drawn:";
    for (std::size_t i = 0; i < not_drawn.size(); ++i) body_ += (i ? ", " : " ") + not_drawn[i];
    body_ += "</p>";
  }
  if (without_ipv4 > 0)
    body_ += "<p class=\"extra\">" + plural(without_ipv4, "subnet", "subnets", Digits::grouped) +
             " without an IPv4 block</p>";
  body_ += "</article>\n";
}

}  // namespace

std::string code_list(const std::vector<ipv4::Network>& networks) {
  std::string text;
  for (const auto& network : networks)
    text += (text.empty() ? "<code>" : ", <code>") + network.to_string() + "</code>";
  return text;
}

std::string card_id(std::string_view account_id, std::string_view region,
                    std::string_view vpc_id) {
  std::string id = "vpc-";
  id.append(account_id).append("-").append(region).append("-").append(vpc_id);
  return escape_html(id);
}

AccountSection draw_account(const AccountRecord& account, int gateway_prefix,
                            const std::vector<ipv4::Network>& reserved) {
  AccountSection section;
  std::string& body = section.html;
  const std::string id = escape_html(account.account_id);
  const std::string name = account.account_name ? escape_html(*account.account_name) : "";
  body += "<details class=\"account\" open><summary><h2>Account <code>" + id + "</code>";
  if (!name.empty()) body += " " + name;
  body += "</h2>";
  if (!account.account_name) body += " (not listed on the controller)";
  std::size_t vpcs = 0;
  for (const auto& region : account.regions) vpcs += region.vpcs.size();
  body += " · " + plural(account.regions.size(), "region", "regions", Digits::grouped) + ", " +
          plural(vpcs, "VPC", "VPCs", Digits::grouped) + "</summary>\n";
  AccountDrawing drawing(section, gateway_prefix, reserved);
  for (const auto& region : account.regions) drawing.draw_region(account, region);
  body += "</details>\n";
  return section;
}

}  // namespace generator::generate
