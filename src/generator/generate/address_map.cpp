#include "generator/generate/address_map.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <optional>
#include <unordered_map>

#include "base/files/atomic_file.hpp"
#include "base/text/html.hpp"
#include "generator/common/gateway_size.hpp"
#include "generator/generate/address_map_assets.hpp"
#include "generator/generate/address_map_geometry.hpp"

namespace generator::generate {

using base::text::escape_html;

namespace {

// A count with thousands separators ("65,536").
std::string grouped(std::uint64_t number) {
  const std::string digits = std::to_string(number);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string plural(std::uint64_t count, std::string_view one, std::string_view many) {
  return grouped(count) + " " + std::string(count == 1 ? one : many);
}

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
             plural(std::uint64_t{piece.last} - piece.first + 1, "address", "addresses") + ")";
    case PieceKind::used:
      break;
  }
  if (piece.subnets.size() == 1 && piece.subnets.front().first_address() == piece.first &&
      piece.subnets.front().last_address() == piece.last)
    return range;
  if (piece.subnets.empty()) return "used " + range;  // the rest of a run the gateway cut
  constexpr std::size_t NAMED = 8;
  std::string title = plural(piece.subnets.size(), "subnet", "subnets");
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

// The key of a VPC among the cards: its account, region and id.
std::string card_key(const std::string& account_id, const std::string& region,
                     const std::string& vpc_id) {
  return account_id + '\n' + region + '\n' + vpc_id;
}

// The element id of a VPC's card, as an attribute value; a link to it is "#" and the same text.
std::string card_id(const std::string& account_id, const std::string& region,
                    const std::string& vpc_id) {
  return escape_html("vpc-" + account_id + "-" + region + "-" + vpc_id);
}

std::string card_link(const VpcPlace& vpc) {
  return "<a href=\"#" + card_id(vpc.account_id, vpc.region, vpc.vpc_id) + "\"><code>" +
         escape_html(vpc.vpc_id) + "</code></a> (account <code>" + escape_html(vpc.account_id) +
         "</code>, " + escape_html(vpc.region) + ")";
}

std::string code_list(const std::vector<ipv4::Network>& networks) {
  std::string text;
  for (const auto& network : networks)
    text += (text.empty() ? "<code>" : ", <code>") + network.to_string() + "</code>";
  return text;
}

// Groups with more VPCs than this start folded, so that a few thousand default VPCs sharing
// 172.31.0.0/16 do not push every other group out of sight.
constexpr std::size_t GROUP_SHOWN_OPEN = 30;

// Every block that two or more VPCs meet in, with the blocks inside it as a nested list, each
// block with the VPCs that hold it, linked to their cards. Every overlapping VPC is named once per
// block of its that overlaps, which stays as long as the cards however many pairs there are.
std::string overlaps_section(const EstateOverlaps& overlaps) {
  const ipv4::Overlaps& found = overlaps.overlaps();
  std::string html = "<section class=\"ovl-groups\" id=\"overlaps\"><h2>Overlaps</h2>";
  if (found.owners.empty()) return html + "<p>No two VPCs share addresses.</p></section>\n";
  html += "<p>" + plural(found.owners.size(), "VPC shares", "VPCs share") +
          " addresses with other VPCs, in " + plural(found.pair_count, "pair", "pairs") +
          ". Each entry is a block that two or more VPCs meet in, with the blocks inside it "
          "listed beneath it. A VPC overlaps the other VPCs of its block, those of the blocks "
          "its block lies in and those of the blocks inside its block; blocks side by side do "
          "not overlap each other.</p>";
  for (std::size_t index = 0; index < found.groups.size(); ++index) {
    const std::vector<ipv4::NestedNetwork>& group = found.groups[index];
    std::vector<std::size_t> members;
    for (const auto& node : group) members.insert(members.end(), node.owners.begin(), node.owners.end());
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    html += "<details id=\"overlap-" + std::to_string(index) + "\"" +
            (members.size() <= GROUP_SHOWN_OPEN ? " open" : "") + "><summary><code>" +
            group.front().network.to_string() + "</code> · " +
            plural(members.size(), "VPC", "VPCs") + "</summary><ul class=\"tree\">";
    int depth = 0;
    for (std::size_t i = 0; i < group.size(); ++i) {
      const ipv4::NestedNetwork& node = group[i];
      // One level deeper opens a list inside the item before; shallower closes as many.
      if (i > 0 && node.depth > depth) {
        html += "<ul class=\"tree\">";
      } else if (i > 0) {
        html += "</li>";
        for (int level = depth; level > node.depth; --level) html += "</ul></li>";
      }
      depth = node.depth;
      html += "<li><code>" + node.network.to_string() + "</code>: ";
      for (std::size_t k = 0; k < node.owners.size(); ++k)
        html += (k ? ", " : "") + card_link(overlaps.vpcs()[node.owners[k]]);
    }
    html += "</li>";
    for (int level = depth; level > 0; --level) html += "</ul></li>";
    html += "</ul></details>\n";
  }
  return html + "</section>\n";
}

}  // namespace

std::string format_scan_time(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::array<char, 32> buffer{};
  const std::size_t length =
      std::strftime(buffer.data(), buffer.size(), "%Y-%m-%d %H:%M:%S UTC", &utc);
  return std::string(buffer.data(), length);
}

AddressMapSettings AddressMapSettings::from_config(
    const config::Config& config, std::chrono::system_clock::time_point scan_time) {
  AddressMapSettings settings;
  settings.generated_at = format_scan_time(scan_time);
  settings.controller = config.controller.ip;
  settings.gateway_prefix =
      gateway_prefix_length(config.defaults.hpe ? Hpe::enabled : Hpe::disabled);
  settings.add_vpc_cidr = config.defaults.add_vpc_cidr;
  settings.filter_cidrs = config.defaults.filter_cidrs.value_or(std::vector<std::string>{});
  settings.reserved = config.reserved_cidrs;
  settings.accounts_configured = config.account_ids.size();
  return settings;
}

AddressMap::AddressMap(AddressMapSettings settings) : settings_(std::move(settings)) {}

void AddressMap::account_scanned(const AccountRecord& account) {
  const std::string id = escape_html(account.account_id);
  const std::string name = account.account_name ? escape_html(*account.account_name) : "";
  body_ += "<details class=\"account\" open><summary><h2>Account <code>" + id + "</code>";
  if (!name.empty()) body_ += " " + name;
  body_ += "</h2>";
  if (!account.account_name) body_ += " (not listed on the controller)";
  if (!account.entered) {
    body_ += " <span class=\"badge\">SKIPPED</span></summary><p class=\"note failed\">" +
             escape_html(account.skip_reason) + "</p></details>\n";
    skipped_.push_back("<code>" + id + "</code>: " + escape_html(account.skip_reason));
    return;
  }
  ++accounts_entered_;
  closed_regions_.add(account);
  std::size_t vpcs = 0;
  for (const auto& region : account.regions) vpcs += region.vpcs.size();
  body_ += " · " + plural(account.regions.size(), "region", "regions") + ", " +
           plural(vpcs, "VPC", "VPCs") + "</summary>\n";
  for (const auto& region : account.regions) draw_region(account, region);
  body_ += "</details>\n";
}

void AddressMap::draw_region(const AccountRecord& account, const RegionRecord& region) {
  ++regions_scanned_;
  body_ += "<details class=\"region\" open><summary><h3>" + escape_html(region.region) + "</h3>";
  if (region.failed()) {
    ++regions_failed_;
    body_ += " <span class=\"badge\">SCAN FAILED</span></summary><p class=\"note failed\">" +
             escape_html(region.failure_message) + "</p></details>\n";
    return;
  }
  body_ += " · " + plural(region.vpcs.size(), "VPC", "VPCs") + "</summary>\n";
  if (region.vpcs.empty()) {
    body_ += "<p class=\"note\">No VPCs.</p></details>\n";
    return;
  }
  body_ += "<div class=\"vpcs\">\n";
  for (const auto& vpc : region.vpcs) draw_vpc(account, region, vpc);
  body_ += "</div></details>\n";
}

void AddressMap::draw_vpc(const AccountRecord& account, const RegionRecord& region,
                          const VpcRecord& vpc) {
  ++vpcs_;
  const bool no_room = vpc.gateway_subnet.no_room();
  if (no_room) ++vpcs_without_room_;
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
    body_ += "<span class=\"badge\">NO ROOM</span> no free /" +
             std::to_string(settings_.gateway_prefix) + " in any associated block";
  else if (!vpc.gateway_subnet.network)
    body_ += "none proposed: each VPC gets a new block (add_vpc_cidr)";
  else
    body_ += "<code>" + vpc.gateway_subnet.text() + "</code>";
  body_ += "</dd></dl>";
  // The overlaps are known only once the whole estate is scanned.
  marks_.push_back({body_.size(), card_key(account.account_id, region.region, vpc.id)});

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
        bar_pieces(*block, subnets, gateway ? &*gateway : nullptr, settings_.reserved);
    std::uint64_t used = 0;
    std::size_t count = 0;
    for (const auto& piece : pieces) {
      if (piece.kind == PieceKind::used) used += std::uint64_t{piece.last} - piece.first + 1;
      count += piece.subnets.size();
    }
    body_ += "<p class=\"blk\"><code>" + block->to_string() + "</code>" +
             (*block == vpc.primary ? " primary" : "") + " · " +
             plural(count, "subnet", "subnets") + " · " +
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
    body_ += "<p class=\"extra\">" + plural(without_ipv4, "subnet", "subnets") +
             " without an IPv4 block</p>";
  body_ += "</article>\n";
}

std::string AddressMap::body_with_marks(const EstateOverlaps& overlaps) const {
  const std::vector<VpcPlace>& vpcs = overlaps.vpcs();
  const auto& groups = overlaps.overlaps().groups;
  std::unordered_map<std::string, std::string> mark_of;
  for (const ipv4::OwnerOverlaps& found : overlaps.overlaps().owners) {
    std::string blocks;
    for (const ipv4::Network& network : found.networks) {
      // The groups are ascending and disjoint: the last that starts at or before the block holds it.
      const auto after = std::upper_bound(
          groups.begin(), groups.end(), network.first_address(),
          [](std::uint32_t address, const std::vector<ipv4::NestedNetwork>& group) {
            return address < group.front().network.first_address();
          });
      blocks += std::string(blocks.empty() ? "" : ", ") + "<a href=\"#overlap-" +
                std::to_string(after - groups.begin() - 1) + "\"><code>" + network.to_string() +
                "</code></a>";
    }
    const VpcPlace& vpc = vpcs[found.owner];
    mark_of[card_key(vpc.account_id, vpc.region, vpc.vpc_id)] +=
        "<p class=\"extra\"><span class=\"badge\">OVERLAPS</span> " + blocks +
        " shares addresses with " + plural(found.other_count, "other VPC", "other VPCs") + "</p>";
  }
  for (const ExternalOverlap& found : overlaps.external_overlaps()) {
    std::string text;
    for (const auto& [block, ranges] : found.blocks)
      text += std::string(text.empty() ? "" : "; ") + "<code>" + block.to_string() +
              "</code> shares addresses with " + (ranges.size() == 1 ? "the external range " : "the external ranges ") +
              code_list(ranges);
    const VpcPlace& vpc = vpcs[found.vpc];
    mark_of[card_key(vpc.account_id, vpc.region, vpc.vpc_id)] +=
        "<p class=\"extra\"><span class=\"badge\">EXTERNAL</span> " + text + "</p>";
  }
  std::string body;
  std::size_t copied = 0;
  for (const MarkPoint& mark : marks_) {
    const auto found = mark_of.find(mark.key);
    if (found == mark_of.end()) continue;
    body.append(body_, copied, mark.offset - copied);
    body += found->second;
    copied = mark.offset;
  }
  body.append(body_, copied);
  return body;
}

std::string AddressMap::page(const EstateOverlaps& overlaps) const {
  const std::string prefix = "/" + std::to_string(settings_.gateway_prefix);
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"" +
      map_content_security_policy() + "\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Address map " +
      escape_html(settings_.generated_at) + "</title>\n<style>" + std::string(map_style()) +
      "</style></head><body>\n"
      "<svg class=\"defs\" aria-hidden=\"true\"><defs><pattern id=\"hatch\" width=\"6\" "
      "height=\"6\" patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\"><rect "
      "width=\"6\" height=\"6\" fill=\"#e69f00\"/><rect width=\"2.5\" height=\"6\" "
      "fill=\"#000\"/></pattern><pattern id=\"resv\" width=\"4\" height=\"4\" "
      "patternUnits=\"userSpaceOnUse\"><rect width=\"4\" height=\"4\" fill=\"#cc79a7\"/><rect "
      "width=\"4\" height=\"1.5\" fill=\"#fff\"/></pattern></defs></svg>\n"
      "<header><h1>Address map</h1><dl class=\"summary\">";
  const auto row = [&page](std::string_view term, const std::string& value) {
    page += "<dt>" + std::string(term) + "</dt><dd>" + value + "</dd>";
  };
  row("Scanned", escape_html(settings_.generated_at));
  row("Controller", "<code>" + escape_html(settings_.controller) + "</code>");
  row("Gateway subnet",
      settings_.add_vpc_cidr
          ? "none proposed: each VPC gets a new block (add_vpc_cidr)"
          : prefix +
                (settings_.gateway_prefix == gateway_prefix_length(Hpe::enabled) ? " (hpe)" : ""));
  std::string filters;
  for (const auto& cidr : settings_.filter_cidrs)
    filters += (filters.empty() ? "<code>" : ", <code>") + escape_html(cidr) + "</code>";
  row("Filtered CIDRs", filters.empty() ? "none" : filters);
  row("Reserved ranges", settings_.reserved.empty() ? "none" : code_list(settings_.reserved));
  std::string external;
  for (const ipv4::Network& range : overlaps.external()) {
    const auto over = std::count_if(
        overlaps.external_overlaps().begin(), overlaps.external_overlaps().end(),
        [&](const ExternalOverlap& found) {
          return std::any_of(found.blocks.begin(), found.blocks.end(), [&](const auto& block) {
            return std::find(block.second.begin(), block.second.end(), range) != block.second.end();
          });
        });
    external += std::string(external.empty() ? "" : ", ") + "<code>" + range.to_string() +
                "</code> (" + plural(static_cast<std::uint64_t>(over), "VPC", "VPCs") +
                " over it)";
  }
  row("External ranges", external.empty() ? "none" : external);
  row("Accounts", grouped(settings_.accounts_configured) + " configured, " +
                      grouped(accounts_entered_) + " entered, " + grouped(skipped_.size()) +
                      " skipped");
  std::string regions = grouped(regions_scanned_);
  if (regions_failed_ > 0)
    regions += ", of which " + grouped(regions_failed_) + " could not be scanned";
  row("Regions", regions);
  // Closed regions hold nothing to draw, but a reader looking for a region needs to see why.
  std::string closed;
  for (const ClosedRegionCount::Entry& entry : closed_regions_.entries())
    closed += std::string(closed.empty() ? "" : ", ") + "<code>" + escape_html(entry.region) +
              "</code> (" + plural(entry.accounts, "account", "accounts") + ")";
  row("Closed by a service control policy", closed.empty() ? "none" : closed);
  row("VPCs", grouped(vpcs_));
  row("VPCs with no room",
      settings_.add_vpc_cidr ? "not checked (add_vpc_cidr)" : grouped(vpcs_without_room_));
  const ipv4::Overlaps& found = overlaps.overlaps();
  row("VPCs that overlap", found.owners.empty()
                               ? "none"
                               : "<a href=\"#overlaps\">" + grouped(found.owners.size()) +
                                     ", in " + plural(found.pair_count, "pair", "pairs") + "</a>");
  page += "</dl>";
  if (!skipped_.empty()) {
    page += "<p>Skipped accounts:</p><ul>";
    for (const auto& skipped : skipped_) page += "<li>" + skipped + "</li>";
    page += "</ul>";
  }
  page += "</header>\n" + overlaps_section(overlaps);
  page +=
      "<div class=\"legend\">"
      "<span><svg class=\"k\"><rect width=\"100%\" height=\"100%\"/></svg>existing subnets "
      "(adjacent ones as one run)</span>"
      "<span><svg class=\"k\"><rect class=\"f\" width=\"100%\" height=\"100%\"/></svg>free "
      "space</span>"
      "<span><svg class=\"k\"><rect class=\"g\" width=\"100%\" height=\"100%\"/><line "
      "class=\"gm\" x1=\"50%\" x2=\"50%\" y1=\"0\" y2=\"100%\"/></svg>proposed gateway subnet "
      "(hatched, a black line through it)</span>"
      "<span><svg class=\"k\"><rect class=\"r\" width=\"100%\" height=\"100%\"/></svg>reserved "
      "range (reserved_cidrs)</span>"
      "<span><span class=\"badge\">NO ROOM</span> no free " +
      prefix +
      " in any associated block</span>"
      "<span><span class=\"badge\">OVERLAPS</span> shares addresses with other VPCs; "
      "<span class=\"badge\">EXTERNAL</span> with an external range</span>"
      "<span>Bars are to scale; hover a piece for its addresses.</span></div>\n"
      "<form id=\"filter\" class=\"filter\" role=\"search\" hidden><input type=\"search\" "
      "id=\"q\" placeholder=\"account, region, VPC id or name\" aria-label=\"Search\">"
      "<label><input type=\"checkbox\" id=\"noroom\"> only VPCs with no room</label>"
      "<span id=\"shown\"></span></form>\n<main>\n";
  page += body_with_marks(overlaps);
  page += "</main>\n<script>" + std::string(map_script()) + "</script></body></html>\n";
  return page;
}

void AddressMap::write(const std::filesystem::path& path, const EstateOverlaps& overlaps) const {
  base::files::write_text_atomically(path, page(overlaps));
}

}  // namespace generator::generate
