#pragma once

// The address map page's own style sheet and script, and the Content-Security-Policy that admits
// exactly these two by their hashes, so that nothing else on the page (an injected tag, a style
// attribute) can run or restyle it.

#include <string>
#include <string_view>

namespace generator::generate {

/// The text of the page's one <style> element.
[[nodiscard]] std::string_view map_style();

/// The text of the page's one <script> element: the search box and the filter for VPCs without
/// room, read also from the address's fragment ("#q=text&noroom"), and every folded section opened
/// before printing.
[[nodiscard]] std::string_view map_script();

/// The page's Content-Security-Policy: nothing from anywhere, save the style and script above,
/// each admitted by its SHA-256 hash.
[[nodiscard]] const std::string& map_content_security_policy();

}  // namespace generator::generate
