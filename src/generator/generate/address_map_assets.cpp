#include "generator/generate/address_map_assets.hpp"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

namespace generator::generate {

namespace {

// Bars are SVG whose geometry is given in attributes, which the policy does not govern.
constexpr std::string_view STYLE = R"css(
:root{font-family:system-ui,sans-serif;color:#111;background:#fff}
body{margin:1rem 2rem}
[hidden]{display:none!important}
h1{margin:0 0 .4rem}
code{font-family:ui-monospace,monospace}
dl.summary{display:grid;grid-template-columns:max-content auto;gap:.15rem 1rem;margin:.4rem 0}
dl.summary dt{font-weight:600}
dd{margin:0}
.defs{position:absolute;width:0;height:0}
.legend{display:flex;flex-wrap:wrap;gap:.4rem 1.6rem;align-items:center;margin:.6rem 0;font-size:.9rem}
.legend svg{width:2.6rem;height:1rem;vertical-align:middle;border:1px solid #555;margin-right:.3rem}
.filter{position:sticky;top:0;z-index:1;background:#fff;padding:.5rem 0;border-bottom:1px solid #bbb}
.filter input[type=search]{width:22rem;max-width:60%}
.filter label{margin-left:1rem}
#shown{margin-left:1rem;font-style:italic}
details{margin:.4rem 0}
summary{cursor:pointer}
summary h2,summary h3{display:inline;font-size:1.15rem;margin:0}
summary h3{font-size:1rem}
details.region{margin-left:1.2rem}
.note{margin:.2rem 0 .2rem 1.2rem}
.vpcs{display:grid;grid-template-columns:repeat(auto-fill,minmax(27rem,1fr));gap:.6rem;margin:.4rem 0 .8rem 1.2rem}
.vpc{border:1px solid #888;border-radius:4px;padding:.4rem .6rem;break-inside:avoid;content-visibility:auto;contain-intrinsic-size:auto 8rem}
.vpc.noroom{border:2px dashed #000}
.vpc h4{margin:0 0 .2rem;font-size:1rem;overflow-wrap:anywhere}
.vpc dl{display:grid;grid-template-columns:max-content auto;gap:0 .8rem;margin:.2rem 0;font-size:.9rem}
.badge{font-weight:700;border:1px solid #000;padding:0 .3rem}
.blk{margin:.35rem 0 0;font-size:.85rem}
.bar{display:block;width:100%;height:1.3rem;border:1px solid #555;box-sizing:border-box;margin-top:.1rem}
.bar rect,.k rect{fill:#0072b2;stroke:#0072b2;stroke-width:1}
.bar .f,.k .f{fill:#fff;stroke:none}
.bar .g,.k .g{fill:url(#hatch);stroke:#000;stroke-width:2}
.bar .r,.k .r{fill:url(#resv);stroke:none}
.ovl-groups details{margin:.2rem 0 .2rem 1.2rem}
ul.tree{margin:.1rem 0;padding-left:1.4rem}
.gm{stroke:#000;stroke-width:4}
.failed{font-weight:600}
.extra{font-size:.85rem;margin:.3rem 0 0}
@media print{.filter{display:none}*{print-color-adjust:exact;-webkit-print-color-adjust:exact}}
)css";

// Reads the filter from the fragment ("#q=text&noroom") so that a link can carry it, and opens
// every folded section before printing.
constexpr std::string_view SCRIPT = R"js(
(function () {
  var form = document.getElementById('filter');
  var q = document.getElementById('q');
  var noroom = document.getElementById('noroom');
  var shown = document.getElementById('shown');
  var cards = Array.prototype.slice.call(document.querySelectorAll('article.vpc'));
  var keys = cards.map(function (c) { return c.getAttribute('data-search').toLowerCase(); });
  var sections = Array.prototype.slice.call(document.querySelectorAll('details.region, details.account'));
  function apply() {
    var text = q.value.trim().toLowerCase();
    var only = noroom.checked;
    var count = 0;
    cards.forEach(function (card, i) {
      var hit = (!text || keys[i].indexOf(text) >= 0) && (!only || card.classList.contains('noroom'));
      card.hidden = !hit;
      if (hit) count++;
    });
    var filtering = Boolean(text) || only;
    sections.forEach(function (s) {
      s.hidden = filtering && !s.querySelector('article.vpc:not([hidden])');
    });
    shown.textContent = filtering ? count + ' of ' + cards.length + ' VPCs shown' : '';
  }
  var params = new URLSearchParams(location.hash.slice(1));
  if (params.has('q')) q.value = params.get('q');
  if (params.has('noroom')) noroom.checked = true;
  q.addEventListener('input', apply);
  noroom.addEventListener('change', apply);
  form.addEventListener('submit', function (e) { e.preventDefault(); });
  window.addEventListener('beforeprint', function () {
    document.querySelectorAll('details').forEach(function (d) { d.open = true; });
  });
  form.hidden = false;
  apply();
})();
)js";

// The CSP source expression of an inline element's text: 'sha256-<base64 of its digest>'.
std::string csp_hash(std::string_view text) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 digest failed");
  std::array<unsigned char, 4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1> encoded{};
  const int written = EVP_EncodeBlock(encoded.data(), digest.data(), static_cast<int>(length));
  return "'sha256-" +
         std::string(reinterpret_cast<const char*>(encoded.data()),
                     static_cast<std::size_t>(written)) +
         "'";
}

}  // namespace

std::string_view map_style() { return STYLE; }

std::string_view map_script() { return SCRIPT; }

const std::string& map_content_security_policy() {
  static const std::string policy = "default-src 'none'; style-src " + csp_hash(STYLE) +
                                    "; script-src " + csp_hash(SCRIPT) +
                                    "; base-uri 'none'; form-action 'none'";
  return policy;
}

}  // namespace generator::generate
