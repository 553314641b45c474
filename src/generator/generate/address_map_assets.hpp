#pragma once

// The address map's own style sheet and scripts, and the Content-Security-Policies that admit
// exactly these by their hashes, so that nothing else on a page (an injected tag, a style
// attribute) can run or restyle it.

#include <string>
#include <string_view>

namespace generator::generate {

/// The text of the one <style> element of every page of the map.
[[nodiscard]] std::string_view map_style();

/// The text of an account page's one <script> element: the search box and the filter for VPCs
/// without room over the page's cards, read also from the address's fragment ("#q=text&noroom"),
/// and every folded section opened before printing.
[[nodiscard]] std::string_view map_script();

/// The text of the first page's one <script> element: the search over every VPC of the estate,
/// whose data it reads from the folder's "vpcs-N.js" scripts (each calls addressMap.add) when a
/// search is made, and every folded section opened before printing.
[[nodiscard]] std::string_view first_page_script();

/// An account page's Content-Security-Policy: nothing from anywhere, save the style and
/// map_script, each admitted by its SHA-256 hash.
[[nodiscard]] const std::string& account_page_content_security_policy();

/// The first page's: the style and first_page_script by their hashes, and the scripts that one
/// adds ('strict-dynamic'); nothing else.
[[nodiscard]] const std::string& first_page_content_security_policy();

/// A page of the map without a script: the style by its hash, nothing else.
[[nodiscard]] const std::string& static_page_content_security_policy();

}  // namespace generator::generate
