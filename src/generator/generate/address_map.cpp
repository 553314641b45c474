#include "generator/generate/address_map.hpp"

#include <algorithm>
#include <array>
#include <ctime>
#include <nlohmann/json.hpp>
#include <span>

#include "base/files/atomic_file.hpp"
#include "base/hex/hex.hpp"
#include "base/text/html.hpp"
#include "generator/common/gateway_size.hpp"
#include "generator/generate/address_map_assets.hpp"
#include "generator/generate/address_map_cards.hpp"

namespace generator::generate {

using base::text::escape_html;

namespace {

// How many VPCs one file of the search's data holds: about two megabytes.
constexpr std::size_t VPCS_PER_SEARCH_PIECE = 20'000;

// How many accounts each table of the first page's list holds.
constexpr std::size_t ACCOUNTS_PER_TABLE = 500;

// The shared blocks the first page lists; the others stand on pages of their own, this many each.
constexpr std::size_t GROUPS_ON_FIRST_PAGE = 100;
constexpr std::size_t GROUPS_PER_PAGE = 500;
// Of each shared block, the blocks inside it listed, and of each block the VPCs named; the rest
// are counted, and the search finds the VPCs of a block. With these bounds the first page stays
// a few megabytes however much overlaps.
constexpr std::size_t NODES_LISTED = 10;
constexpr std::size_t VPCS_LISTED = 20;

// Groups with more VPCs than this start folded, so that a few thousand default VPCs sharing
// 172.31.0.0/16 do not push every other group out of sight.
constexpr std::size_t GROUP_SHOWN_OPEN = 30;

// The search data's flags of a VPC.
constexpr std::uint32_t NO_ROOM_FLAG = 1;
constexpr std::uint32_t DEFAULT_FLAG = 2;

// A text as one segment of a relative address: everything but letters, digits and "-._~"
// percent-encoded.
std::string url_segment(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += c;
    } else {
      constexpr std::string_view DIGITS = "0123456789ABCDEF";
      encoded += '%';
      encoded += DIGITS[byte >> 4];
      encoded += DIGITS[byte & 15];
    }
  }
  return encoded;
}

// The file name of an account's page: its number, or for anything but digits the number's bytes
// in hexadecimal, so that every account has a name of its own that is safe on any file system.
std::string account_page(std::string_view account_id) {
  const bool digits = !account_id.empty() && account_id.size() <= 32 &&
                      std::all_of(account_id.begin(), account_id.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
  if (digits) return "account-" + std::string(account_id) + ".html";
  return "account-x" +
         base::hex::lower_hex(std::span(reinterpret_cast<const unsigned char*>(account_id.data()),
                                        account_id.size())) +
         ".html";
}

// Where a page of the map stands: the first page, or a page in the folder. Links between them
// differ by where they start.
struct Place {
  bool in_folder;
  std::string folder;      // the folder's name as a relative address
  std::string first_page;  // the first page's name as a relative address

  [[nodiscard]] std::string to_folder_page(std::string_view name) const {
    return in_folder ? std::string(name) : folder + "/" + std::string(name);
  }
  [[nodiscard]] std::string to_first_page(std::string_view fragment) const {
    return (in_folder ? "../" + first_page : std::string()) + "#" + std::string(fragment);
  }
};

// The page a shared block is listed on (0 for the first page) and the link to its entry.
std::size_t group_page(std::size_t group) {
  return group < GROUPS_ON_FIRST_PAGE ? 0 : 1 + (group - GROUPS_ON_FIRST_PAGE) / GROUPS_PER_PAGE;
}

std::string overlaps_page_name(std::size_t page) {
  return "overlaps-" + std::to_string(page) + ".html";
}

std::string group_link(const Place& place, std::size_t group) {
  const std::string fragment = "overlap-" + std::to_string(group);
  const std::size_t page = group_page(group);
  if (page == 0) return place.to_first_page(fragment);
  return place.to_folder_page(overlaps_page_name(page)) + "#" + fragment;
}

// The first page's search for `text`.
std::string search_link(const Place& place, std::string_view text) {
  return place.to_first_page("q=" + url_segment(text));
}

std::string card_link(const Place& place, const VpcPlace& vpc) {
  return "<a href=\"" +
         escape_html(place.to_folder_page(url_segment(account_page(vpc.account_id)))) + "#" +
         card_id(vpc.account_id, vpc.region, vpc.vpc_id) + "\"><code>" +
         escape_html(vpc.vpc_id) + "</code></a> (account <code>" + escape_html(vpc.account_id) +
         "</code>, " + escape_html(vpc.region) + ")";
}

// The head of a page of the map, its pattern definitions and the start of its body.
std::string page_start(const std::string& title, const std::string& policy) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"Content-Security-Policy\" content=\"" +
         policy +
         "\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>" +
         title + "</title>\n<style>" + std::string(map_style()) +
         "</style></head><body>\n"
         "<svg class=\"defs\" aria-hidden=\"true\"><defs><pattern id=\"hatch\" width=\"6\" "
         "height=\"6\" patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\"><rect "
         "width=\"6\" height=\"6\" fill=\"#e69f00\"/><rect width=\"2.5\" height=\"6\" "
         "fill=\"#000\"/></pattern><pattern id=\"resv\" width=\"4\" height=\"4\" "
         "patternUnits=\"userSpaceOnUse\"><rect width=\"4\" height=\"4\" fill=\"#cc79a7\"/><rect "
         "width=\"4\" height=\"1.5\" fill=\"#fff\"/></pattern></defs></svg>\n";
}

// Every mark a page of the map may show, with what it means, under a heading of its own.
std::string legend(int gateway_prefix) {
  const std::string prefix = "/" + std::to_string(gateway_prefix);
  return "<section class=\"legend-section\" id=\"legend\"><h2>Legend</h2><div class=\"legend\">"
         "<span><svg class=\"k\"><rect width=\"100%\" height=\"100%\"/></svg>existing subnets "
         "(adjacent ones as one run)</span>"
         "<span><svg class=\"k\"><rect class=\"f\" width=\"100%\" height=\"100%\"/></svg>free "
         "space</span>"
         "<span><svg class=\"k\"><rect class=\"g\" width=\"100%\" height=\"100%\"/><line "
         "class=\"gm\" x1=\"50%\" x2=\"50%\" y1=\"0\" y2=\"100%\"/></svg>proposed gateway subnet "
         "(hatched, a black line through it)</span>"
         "<span><svg class=\"k\"><rect class=\"r\" width=\"100%\" height=\"100%\"/></svg>reserved "
         "range (reserved_cidrs)</span>"
         "<span><span class=\"badge b-noroom\">NO ROOM</span> no free " +
         prefix +
         " in any associated block (the card's border dashed)</span>"
         "<span><span class=\"badge b-overlaps\">OVERLAPS</span> shares addresses with other "
         "VPCs</span>"
         "<span><span class=\"badge b-external\">EXTERNAL</span> shares addresses with an "
         "external range (external_cidrs)</span>"
         "<span><span class=\"badge b-skipped\">SKIPPED</span> the account's role could not be "
         "assumed</span>"
         "<span><span class=\"badge b-failed\">SCAN FAILED</span> the region's VPCs could not be "
         "listed</span>"
         "<span>Bars are to scale; hover a piece for its addresses.</span></div></section>\n";
}

// A shared block's entry: the block, the blocks inside it as a nested list, each with (the first
// of) the VPCs that hold it, linked to their cards.
std::string group_entry(const Place& place, const EstateOverlaps& overlaps, std::size_t index) {
  const std::vector<ipv4::NestedNetwork>& group = overlaps.overlaps().groups[index];
  std::vector<std::size_t> members;
  for (const auto& node : group)
    members.insert(members.end(), node.owners.begin(), node.owners.end());
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  std::string html = "<details id=\"overlap-" + std::to_string(index) + "\"" +
                     (members.size() <= GROUP_SHOWN_OPEN ? " open" : "") + "><summary><code>" +
                     group.front().network.to_string() + "</code> · " +
                     plural(members.size(), "VPC", "VPCs", Digits::grouped) +
                     "</summary><ul class=\"tree\">";
  int depth = 0;
  const std::size_t listed = std::min(group.size(), NODES_LISTED);
  for (std::size_t i = 0; i < listed; ++i) {
    const ipv4::NestedNetwork& node = group[i];
    // One level deeper opens a list inside the item before; shallower closes as many.
    if (i > 0 && node.depth > depth) {
      html += "<ul class=\"tree\">";
    } else if (i > 0) {
      html += "</li>";
      for (int level = depth; level > node.depth; --level) html += "</ul></li>";
    }
    depth = node.depth;
    const std::string block = node.network.to_string();
    html += "<li><code>" + block + "</code>: ";
    for (std::size_t k = 0; k < node.owners.size() && k < VPCS_LISTED; ++k)
      html += (k ? ", " : "") + card_link(place, overlaps.vpc(node.owners[k]));
    if (node.owners.size() > VPCS_LISTED)
      html += ", <a class=\"more\" href=\"" + escape_html(search_link(place, block)) + "\">and " +
              grouped(node.owners.size() - VPCS_LISTED) + " more</a>";
  }
  html += "</li>";
  for (int level = depth; level > 0; --level) html += "</ul></li>";
  if (group.size() > listed)
    html += "<li class=\"more\">and " +
            plural(group.size() - listed, "more block", "more blocks", Digits::grouped) +
            " inside it (each card names its own)</li>";
  return html + "</ul></details>\n";
}

// The first page's Overlaps section: the count, the first shared blocks and the pages of the rest.
std::string overlaps_section(const Place& place, const EstateOverlaps& overlaps) {
  const ipv4::Overlaps& found = overlaps.overlaps();
  std::string html = "<section class=\"ovl-groups\" id=\"overlaps\"><h2>Overlaps</h2>";
  if (overlaps.shared_count() == 0)
    return html + "<p>No two VPCs share addresses.</p></section>\n";
  html += "<p>" + plural(overlaps.shared_count(), "VPC shares", "VPCs share", Digits::grouped) +
          " addresses with other VPCs, in " +
          plural(found.pair_count, "pair", "pairs", Digits::grouped) + ", in " +
          plural(found.groups.size(), "shared block", "shared blocks", Digits::grouped) +
          ". Each entry is a block that two or more VPCs meet in, with the blocks inside it "
          "listed beneath it. A VPC overlaps the other VPCs of its block, those of the blocks "
          "its block lies in and those of the blocks inside its block; blocks side by side do "
          "not overlap each other.</p>";
  const std::size_t shown = std::min(found.groups.size(), GROUPS_ON_FIRST_PAGE);
  for (std::size_t index = 0; index < shown; ++index) html += group_entry(place, overlaps, index);
  if (found.groups.size() > shown) {
    html += "<p class=\"more\">" +
            plural(found.groups.size() - shown, "more shared block is", "more shared blocks are",
                   Digits::grouped) +
            " listed on further pages:";
    for (std::size_t page = 1; page <= group_page(found.groups.size() - 1); ++page)
      html += " <a href=\"" + escape_html(place.to_folder_page(overlaps_page_name(page))) +
              "\">" + std::to_string(page) + "</a>";
    html += "</p>";
  }
  return html + "</section>\n";
}

// The marks of the `index`th VPC: each block it shares with other VPCs (linked to its entry) and
// each block over external ranges.
std::string marks_of(const Place& place, const EstateOverlaps& overlaps,
                     const std::optional<SharedVpc>& shared,
                     std::span<const ExternalOverlap> external) {
  std::string marks;
  if (shared) {
    const auto& groups = overlaps.overlaps().groups;
    std::string blocks;
    for (const ipv4::Network& network : shared->networks) {
      // The groups are ascending and disjoint: the last that starts at or before the block holds it.
      const auto after = std::upper_bound(
          groups.begin(), groups.end(), network.first_address(),
          [](std::uint32_t address, const std::vector<ipv4::NestedNetwork>& group) {
            return address < group.front().network.first_address();
          });
      const auto group = static_cast<std::size_t>(after - groups.begin() - 1);
      blocks += std::string(blocks.empty() ? "" : ", ") + "<a href=\"" +
                escape_html(group_link(place, group)) + "\"><code>" + network.to_string() +
                "</code></a>";
    }
    marks += "<p class=\"extra\"><span class=\"badge b-overlaps\">OVERLAPS</span> " + blocks +
             " shares addresses with " +
             plural(shared->other_count, "other VPC", "other VPCs", Digits::grouped) + "</p>";
  }
  if (!external.empty()) {
    std::string text;
    for (std::size_t i = 0; i < external.size();) {
      const ipv4::Network block = external[i].block;
      std::vector<ipv4::Network> ranges;
      for (; i < external.size() && external[i].block == block; ++i)
        ranges.push_back(overlaps.external()[external[i].range]);
      text += std::string(text.empty() ? "" : "; ") + "<code>" + block.to_string() +
              "</code> shares addresses with " +
              (ranges.size() == 1 ? "the external range " : "the external ranges ") +
              code_list(ranges);
    }
    marks += "<p class=\"extra\"><span class=\"badge b-external\">EXTERNAL</span> " + text + "</p>";
  }
  return marks;
}

// A field of a line of the search's data: tabs and line breaks would end it early.
std::string search_field(std::string_view text) {
  std::string field(text);
  std::replace_if(
      field.begin(), field.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; },
      ' ');
  return field;
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
      gateway_prefix_length(hpe_of(config.defaults.hpe));
  settings.add_vpc_cidr = config.defaults.add_vpc_cidr;
  settings.filter_cidrs = config.defaults.filter_cidrs.value_or(std::vector<std::string>{});
  settings.reserved = config.reserved_cidrs;
  settings.account_source = config.account_source;
  settings.accounts_configured = config.account_ids.size();
  settings.regions_configured = config.aws_regions;
  return settings;
}

std::filesystem::path AddressMap::folder_of(const std::filesystem::path& page) {
  return page.parent_path() / (page.stem().string() + "_files");
}

AddressMap::AddressMap(AddressMapSettings settings, std::filesystem::path page)
    : settings_(std::move(settings)),
      page_(std::move(page)),
      folder_(std::make_unique<base::files::FolderReplacement>(folder_of(page_))) {}

AddressMap::~AddressMap() = default;

void AddressMap::account_scanned(const AccountRecord& account) {
  AccountRow& row = accounts_.emplace_back();
  row.id = account.account_id;
  row.name = account.account_name;
  if (!account.entered) {
    row.skip_reason = account.skip_reason;
    ++skipped_;
    return;
  }
  ++accounts_entered_;
  closed_regions_.add(account);
  // The plan holds each account once, so its number names its page.
  row.page = account_page(account.account_id);
  for (const RegionRecord& region : account.regions) {
    const auto [found, added] = region_rows_.try_emplace(region.region, regions_.size());
    if (added) regions_.push_back({region.region});
    RegionRow& region_row = regions_[found->second];
    ++region_row.scanned;
    if (region.failed()) ++region_row.failed;
    region_row.vpcs += region.vpcs.size();
    for (const VpcRecord& vpc : region.vpcs)
      if (vpc.gateway_subnet.no_room()) ++region_row.vpcs_without_room;
  }

  const AccountSection section =
      draw_account(account, settings_.gateway_prefix, settings_.reserved);
  const std::string title = "Account " + escape_html(account.account_id) + " · Address map " +
                            escape_html(settings_.generated_at);
  const Place place{true, "", url_segment(page_.filename().string())};
  std::string page = page_start(title, account_page_content_security_policy()) +
                     "<p class=\"nav\"><a href=\"" + escape_html(place.to_first_page("accounts")) +
                     "\">Address map</a> of the scan of " + escape_html(settings_.generated_at) +
                     "</p>\n" + legend(settings_.gateway_prefix) +
                     "<form id=\"filter\" class=\"filter\" role=\"search\" hidden><input "
                     "type=\"search\" id=\"q\" placeholder=\"region, VPC id or name\" "
                     "aria-label=\"Search\"><label><input type=\"checkbox\" id=\"noroom\"> only "
                     "VPCs with no room</label><span id=\"shown\"></span></form>\n<main>\n";
  const auto offset = static_cast<std::uint32_t>(page.size());
  page += section.html + "</main>\n<script>" + std::string(map_script()) +
          "</script></body></html>\n";
  for (const std::uint32_t mark : section.mark_offsets) row.mark_offsets.push_back(offset + mark);
  folder_->write_file(row.page, page);

  row.regions = account.regions.size();
  row.regions_failed = section.regions_failed;
  row.vpcs = section.vpcs;
  row.vpcs_without_room = section.vpcs_without_room;
  regions_scanned_ += account.regions.size();
  regions_failed_ += section.regions_failed;
  vpcs_ += section.vpcs;
  vpcs_without_room_ += section.vpcs_without_room;
  default_vpcs_ += section.default_vpcs;
  keep_for_search(account, row.page);
}

// Each VPC is one line of tab-separated fields (account, its name, region, VPC id, Name tag,
// gateway name, blocks), searched as one text; its page and flags go beside the text as numbers.
void AddressMap::keep_for_search(const AccountRecord& account, const std::string& page) {
  bool page_listed = false;
  for (const RegionRecord& region : account.regions) {
    for (const VpcRecord& vpc : region.vpcs) {
      if (!page_listed) {
        search_pages_.push_back(page);
        page_listed = true;
      }
      std::string blocks;
      for (const BlockRecord& block : vpc.blocks)
        if (block.is_associated())
          blocks += (blocks.empty() ? "" : " ") + block.network.to_string();
      if (search_lines_ > 0) search_text_ += '\n';
      search_text_ += search_field(account.account_id) + '\t' +
                      search_field(account.account_name.value_or("")) + '\t' +
                      search_field(region.region) + '\t' + search_field(vpc.id) + '\t' +
                      search_field(vpc.name().value_or("")) + '\t' +
                      search_field(vpc.gateway_name) + '\t' + blocks;
      search_meta_.push_back(static_cast<std::uint32_t>(search_pages_.size() - 1));
      search_meta_.push_back((vpc.gateway_subnet.no_room() ? NO_ROOM_FLAG : 0) |
                             (vpc.is_default ? DEFAULT_FLAG : 0));
      ++search_lines_;
    }
  }
  // A piece holds whole accounts, so that each names its accounts' pages once.
  if (search_lines_ >= VPCS_PER_SEARCH_PIECE) write_search_piece();
}

void AddressMap::write_search_piece() {
  if (search_lines_ == 0) return;
  const nlohmann::json piece = {{"pages", search_pages_}, {"text", search_text_},
                                {"meta", search_meta_}};
  // ASCII only, with anything that is not UTF-8 replaced: the file is read as a script.
  folder_->write_file("vpcs-" + std::to_string(++search_pieces_) + ".js",
                      "addressMap.add(" +
                          piece.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) +
                          ");\n");
  search_pages_.clear();
  search_text_.clear();
  search_meta_.clear();
  search_lines_ = 0;
}

void AddressMap::mark_cards(const EstateOverlaps& overlaps) {
  if (overlaps.vpc_count() != vpcs_)
    throw std::logic_error("the address map and the overlap check saw different scans");
  const Place place{true, "", url_segment(page_.filename().string())};
  const auto& external = overlaps.external_overlaps();
  std::size_t next_shared = 0;
  std::size_t next_external = 0;
  std::size_t vpc = 0;
  for (AccountRow& row : accounts_) {
    // The page is read only once one of its cards has a mark.
    std::string drawn;
    std::string marked;
    std::size_t copied = 0;
    for (const std::uint32_t offset : row.mark_offsets) {
      std::optional<SharedVpc> shared;
      if (next_shared < overlaps.shared_count() && overlaps.shared(next_shared).vpc == vpc) {
        shared = overlaps.shared(next_shared++);
        ++row.vpcs_overlapping;
      }
      const std::size_t first_external = next_external;
      while (next_external < external.size() && external[next_external].vpc == vpc)
        ++next_external;
      ++vpc;
      if (!shared && first_external == next_external) continue;
      if (drawn.empty()) drawn = folder_->read_file(row.page);
      marked.append(drawn, copied, offset - copied);
      marked += marks_of(place, overlaps, shared,
                         std::span(external).subspan(first_external, next_external - first_external));
      copied = offset;
    }
    if (drawn.empty()) continue;
    marked.append(drawn, copied);
    folder_->write_file(row.page, marked);
  }
}

void AddressMap::write_overlap_pages(const EstateOverlaps& overlaps) {
  const auto& groups = overlaps.overlaps().groups;
  if (groups.size() <= GROUPS_ON_FIRST_PAGE) return;
  const Place place{true, "", url_segment(page_.filename().string())};
  for (std::size_t page = 1; page <= group_page(groups.size() - 1); ++page) {
    const std::size_t first = GROUPS_ON_FIRST_PAGE + (page - 1) * GROUPS_PER_PAGE;
    const std::size_t end = std::min(groups.size(), first + GROUPS_PER_PAGE);
    std::string html =
        page_start("Overlaps " + std::to_string(page) + " · Address map " +
                       escape_html(settings_.generated_at),
                   static_page_content_security_policy()) +
        "<p class=\"nav\"><a href=\"" + escape_html(place.to_first_page("overlaps")) +
        "\">Address map</a> of the scan of " + escape_html(settings_.generated_at) +
        "</p>\n<section class=\"ovl-groups\"><h2>Overlaps: shared blocks " + grouped(first + 1) +
        " to " + grouped(end) + " of " + grouped(groups.size()) + "</h2>";
    for (std::size_t index = first; index < end; ++index)
      html += group_entry(place, overlaps, index);
    folder_->write_file(overlaps_page_name(page),
                        html + "</section>\n" + legend(settings_.gateway_prefix) +
                            "</body></html>\n");
  }
}

std::string AddressMap::summary(const EstateOverlaps& overlaps) const {
  const std::string prefix = "/" + std::to_string(settings_.gateway_prefix);
  std::string html = "<header><h1>Address map</h1><dl class=\"summary\">";
  const auto row = [&html](std::string_view term, const std::string& value) {
    html += "<dt>" + std::string(term) + "</dt><dd>" + value + "</dd>";
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
  for (std::size_t range = 0; range < overlaps.external().size(); ++range)
    external += std::string(external.empty() ? "" : ", ") + "<code>" +
                overlaps.external()[range].to_string() + "</code> (" +
                plural(overlaps.vpcs_over_external()[range], "VPC", "VPCs", Digits::grouped) +
                " over it)";
  row("External ranges", external.empty() ? "none" : external);
  // The controller's and the organization's lists are known only to the plan: every account of
  // them is handed over, entered or skipped.
  const std::string planned =
      settings_.account_source == config::AccountSource::listed
          ? grouped(settings_.accounts_configured) + " configured"
          : grouped(accounts_entered_ + skipped_) +
                (settings_.account_source == config::AccountSource::controller
                     ? " planned (from the controller's list)"
                     : " planned (from the organization)");
  row("Accounts", planned + ", " + grouped(accounts_entered_) + " entered, " + grouped(skipped_) +
                      " skipped");
  std::string configured;
  for (const auto& region : settings_.regions_configured)
    configured += (configured.empty() ? ": " : ", ") + escape_html(region);
  row("Regions configured", settings_.regions_configured.empty()
                                ? std::string("none: the regions enabled for each account")
                                : grouped(settings_.regions_configured.size()) + configured);
  std::string scanned = grouped(regions_scanned_);
  if (regions_failed_ > 0)
    scanned += ", of which " + grouped(regions_failed_) + " could not be scanned";
  row("Account-regions scanned", scanned);
  // Closed regions hold nothing to draw, but a reader looking for a region needs to see why.
  std::string closed;
  for (const ClosedRegionCount::Entry& entry : closed_regions_.entries())
    closed += std::string(closed.empty() ? "" : ", ") + "<code>" + escape_html(entry.region) +
              "</code> (" + plural(entry.accounts, "account", "accounts", Digits::grouped) + ")";
  row("Closed by a service control policy", closed.empty() ? "none" : closed);
  row("VPCs",
      grouped(vpcs_) + (default_vpcs_ > 0 ? ", of which " + plural(default_vpcs_, "default VPC",
                                                                   "default VPCs", Digits::grouped)
                                          : ""));
  row("VPCs with no room",
      settings_.add_vpc_cidr ? "not checked (add_vpc_cidr)" : grouped(vpcs_without_room_));
  row("VPCs that overlap",
      overlaps.shared_count() == 0
          ? "none"
          : "<a href=\"#overlaps\">" + grouped(overlaps.shared_count()) + ", in " +
                plural(overlaps.overlaps().pair_count, "pair", "pairs", Digits::grouped) + "</a>");
  html += "</dl>";
  if (skipped_ > 0) {
    html += "<p>Skipped accounts:</p><ul>";
    for (const AccountRow& account : accounts_)
      if (!account.skip_reason.empty())
        html += "<li><code>" + escape_html(account.id) + "</code>: " +
                escape_html(account.skip_reason) + "</li>";
    html += "</ul>";
  }
  return html + "</header>\n";
}

std::string AddressMap::accounts_section() const {
  const std::string folder = url_segment(folder_of(page_).filename().string());
  std::string html = "<section id=\"accounts\"><h2>Accounts</h2>";
  for (std::size_t first = 0; first < accounts_.size(); first += ACCOUNTS_PER_TABLE) {
    const std::size_t end = std::min(accounts_.size(), first + ACCOUNTS_PER_TABLE);
    // Only the first table is laid out when the page opens: ten thousand rows would take seconds.
    html += std::string("<details class=\"accounts\"") + (first == 0 ? " open" : "") +
            "><summary>Accounts " + grouped(first + 1) + " to " + grouped(end) + ": <code>" +
            escape_html(accounts_[first].id) + "</code> to <code>" +
            escape_html(accounts_[end - 1].id) +
            "</code></summary><table class=\"index\"><thead><tr><th>Account</th><th>Name</th>"
            "<th>Regions scanned</th><th>VPCs</th><th>No room</th><th>Overlapping</th>"
            "<th>Notes</th></tr></thead><tbody>\n";
    for (std::size_t index = first; index < end; ++index)
      html += account_row(folder, accounts_[index]);
    html += "</tbody></table></details>\n";
  }
  return html + "</section>\n";
}

std::string AddressMap::account_row(const std::string& folder, const AccountRow& account) {
  const std::string id = "<code>" + escape_html(account.id) + "</code>";
  std::string html = "<tr><td>";
  html += account.page.empty() ? id
                               : "<a href=\"" +
                                     escape_html(folder + "/" + url_segment(account.page)) +
                                     "\">" + id + "</a>";
  html += "</td><td class=\"nm\">" +
          (account.name ? escape_html(*account.name) : "<i>not listed on the controller</i>") +
          "</td>";
  if (!account.skip_reason.empty())
    return html +
           "<td></td><td></td><td></td><td></td><td><span class=\"badge b-skipped\">SKIPPED"
           "</span> " +
           escape_html(account.skip_reason) + "</td></tr>\n";
  html += "<td>" + grouped(account.regions) + "</td><td>" + grouped(account.vpcs) + "</td><td>" +
          grouped(account.vpcs_without_room) + "</td><td>" + grouped(account.vpcs_overlapping) +
          "</td><td>";
  if (account.regions_failed > 0)
    html += "<span class=\"badge b-failed\">SCAN FAILED</span> " +
            plural(account.regions_failed, "region", "regions", Digits::grouped);
  return html + "</td></tr>\n";
}

std::string AddressMap::regions_section() const {
  const Place place{false, "", ""};
  std::string html =
      "<section id=\"regions\"><h2>Regions</h2><table class=\"index\"><thead><tr><th>Region</th>"
      "<th>Accounts scanned</th><th>Could not be scanned</th><th>VPCs</th><th>No room</th></tr>"
      "</thead><tbody>\n";
  for (const RegionRow& region : regions_)
    html += "<tr><td><a href=\"" + escape_html(search_link(place, region.name)) + "\">" +
            escape_html(region.name) + "</a></td><td>" + grouped(region.scanned) + "</td><td>" +
            grouped(region.failed) + "</td><td>" + grouped(region.vpcs) + "</td><td>" +
            grouped(region.vpcs_without_room) + "</td></tr>\n";
  return html + "</tbody></table></section>\n";
}

std::string AddressMap::first_page(const EstateOverlaps& overlaps) const {
  const std::string folder = url_segment(folder_of(page_).filename().string());
  const Place place{false, folder, ""};
  return page_start("Address map " + escape_html(settings_.generated_at),
                    first_page_content_security_policy()) +
         summary(overlaps) + overlaps_section(place, overlaps) +
         "<section id=\"find\"><h2>Find a VPC</h2><form id=\"filter\" class=\"filter\" "
         "role=\"search\" hidden data-folder=\"" +
         escape_html(folder_of(page_).filename().string()) + "\" data-pieces=\"" + std::to_string(search_pieces_) +
         "\"><input type=\"search\" id=\"q\" placeholder=\"VPC id or name, account, region or "
         "block\" aria-label=\"Search\"><label><input type=\"checkbox\" id=\"noroom\"> only VPCs "
         "with no room</label><span id=\"shown\"></span></form><ol id=\"results\" "
         "class=\"results\"></ol><button type=\"button\" id=\"more\" hidden>Show more</button>"
         "</section>\n" +
         accounts_section() + regions_section() + legend(settings_.gateway_prefix) + "<script>" +
         std::string(first_page_script()) + "</script></body></html>\n";
}

void AddressMap::finish(const EstateOverlaps& overlaps) {
  write_search_piece();
  mark_cards(overlaps);
  write_overlap_pages(overlaps);
  base::files::AtomicFileWriter page(page_);
  page.append(first_page(overlaps));
  folder_->commit([&] { page.commit(); });
}

}  // namespace generator::generate
