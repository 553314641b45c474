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
.legend-section h2,section>h2{font-size:1.15rem;margin:1rem 0 .3rem}
.legend{display:flex;flex-wrap:wrap;gap:.4rem 1.6rem;align-items:center;margin:.3rem 0 .6rem;font-size:.9rem}
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
.vpc h4{margin:0 0 .2rem;font-size:1rem;overflow-wrap:anywhere;white-space:pre-wrap}
.vpc dl{display:grid;grid-template-columns:max-content auto;gap:.25rem .8rem;margin:.2rem 0;font-size:.9rem}
.vpc dd,.nm,summary h2{white-space:pre-wrap}
.badge{display:inline-block;font-weight:700;border:1px solid #000;padding:0 .3rem;line-height:1.3;margin:.1rem 0;vertical-align:baseline}
.nav{margin:0 0 .4rem}
table.index{border-collapse:collapse;font-size:.9rem;margin:.2rem 0 .4rem 1.2rem}
table.index th,table.index td{border-bottom:1px solid #ccc;padding:.15rem .6rem;text-align:left;vertical-align:top}
table.index td:nth-child(n+3):not(:last-child){text-align:right}
table.index td.nm{white-space:pre}
ol.results{font-size:.9rem;padding-left:2.2rem}
ol.results li{margin:.15rem 0}
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

// The first page's search over every VPC of the estate: the folder's pieces of data are read,
// one script at a time, only when a search is made (from the inputs, or from the fragment:
// "#q=text&noroom", also when a link on the page changes it); the matches are drawn as text,
// never as markup, a few hundred at a time.
constexpr std::string_view FIRST_PAGE_SCRIPT = R"js(
(function () {
  var SHOWN_AT_ONCE = 200;
  var form = document.getElementById('filter');
  var q = document.getElementById('q');
  var noroom = document.getElementById('noroom');
  var shown = document.getElementById('shown');
  var results = document.getElementById('results');
  var more = document.getElementById('more');
  var folder = encodeURIComponent(form.getAttribute('data-folder'));
  var count = Number(form.getAttribute('data-pieces'));
  var pieces = [];
  var waiting = null;
  var found = [];
  var drawn = 0;
  window.addressMap = {
    add: function (piece) {
      var lower = piece.text.toLowerCase();
      var lines = piece.text.split('\n');
      var starts = new Int32Array(lines.length + 1);
      var at = 0;
      for (var i = 0; i < lines.length; i++) {
        starts[i] = at;
        var end = lower.indexOf('\n', at);
        at = (end < 0 ? lower.length : end) + 1;
      }
      starts[lines.length] = lower.length + 1;
      pieces.push({pages: piece.pages, lines: lines, lower: lower, starts: starts, meta: piece.meta});
    }
  };
  function load(then) {
    if (pieces.length === count) return then();
    if (waiting) { waiting.push(then); return; }
    waiting = [then];
    shown.textContent = 'Reading the VPCs of the estate…';
    var next = 1;
    (function read() {
      if (next > count) {
        var ready = waiting;
        waiting = null;
        ready.forEach(function (f) { f(); });
        return;
      }
      var script = document.createElement('script');
      script.src = folder + '/vpcs-' + next++ + '.js';
      script.onload = read;
      script.onerror = function () {
        shown.textContent = 'The search cannot read ' + script.src + ' (the folder beside this page).';
      };
      document.head.appendChild(script);
    })();
  }
  function search(text, only) {
    var hits = [];
    pieces.forEach(function (piece, p) {
      var wanted = function (line) { return !only || (piece.meta[2 * line + 1] & 1); };
      if (!text) {
        for (var l = 0; l < piece.lines.length; l++) if (wanted(l)) hits.push([p, l]);
        return;
      }
      var line = 0;
      for (var at = piece.lower.indexOf(text); at >= 0; at = piece.lower.indexOf(text, at)) {
        while (piece.starts[line + 1] <= at) line++;
        if (wanted(line)) hits.push([p, line]);
        at = piece.starts[++line];
        if (line >= piece.lines.length) break;
      }
    });
    return hits;
  }
  function add(parent, tag, text, cls) {
    var element = document.createElement(tag);
    element.textContent = text;
    if (cls) element.className = cls;
    parent.appendChild(element);
    return element;
  }
  function item(hit) {
    var piece = pieces[hit[0]];
    var f = piece.lines[hit[1]].split('\t');
    var flags = piece.meta[2 * hit[1] + 1];
    var li = document.createElement('li');
    var a = add(li, 'a', '');
    a.href = folder + '/' + encodeURIComponent(piece.pages[piece.meta[2 * hit[1]]]) + '#' +
      encodeURIComponent('vpc-' + f[0] + '-' + f[2] + '-' + f[3]);
    add(a, 'code', f[3]);
    li.appendChild(document.createTextNode(' '));
    if (f[4]) add(li, 'span', f[4], 'nm'); else add(li, 'i', 'no Name tag');
    li.appendChild(document.createTextNode(' · account '));
    add(li, 'code', f[0]);
    if (f[1]) { li.appendChild(document.createTextNode(' ')); add(li, 'span', f[1], 'nm'); }
    li.appendChild(document.createTextNode(' · ' + f[2] + ' · ' + f[6].split(' ').join(', ')));
    if (flags & 2) li.appendChild(document.createTextNode(' · default VPC'));
    if (flags & 1) { li.appendChild(document.createTextNode(' ')); add(li, 'span', 'NO ROOM', 'badge b-noroom'); }
    return li;
  }
  function draw() {
    var end = Math.min(found.length, drawn + SHOWN_AT_ONCE);
    for (; drawn < end; drawn++) results.appendChild(item(found[drawn]));
    shown.textContent = found.length + (found.length === 1 ? ' VPC found' : ' VPCs found') +
      (drawn < found.length ? ', the first ' + drawn + ' shown' : '');
    more.hidden = drawn >= found.length;
  }
  function apply() {
    load(function () {
      var text = q.value.trim().toLowerCase();
      var only = noroom.checked;
      results.textContent = '';
      found = text || only ? search(text, only) : [];
      drawn = 0;
      if (text || only) draw(); else { shown.textContent = ''; more.hidden = true; }
    });
  }
  function fromFragment() {
    var params = new URLSearchParams(location.hash.slice(1));
    if (!params.has('q') && !params.has('noroom')) return false;
    q.value = params.get('q') || '';
    noroom.checked = params.has('noroom');
    apply();
    return true;
  }
  q.addEventListener('input', apply);
  noroom.addEventListener('change', apply);
  more.addEventListener('click', draw);
  form.addEventListener('submit', function (e) { e.preventDefault(); });
  window.addEventListener('hashchange', function () {
    if (fromFragment()) document.getElementById('find').scrollIntoView();
  });
  window.addEventListener('beforeprint', function () {
    document.querySelectorAll('details').forEach(function (d) { d.open = true; });
  });
  form.hidden = false;
  fromFragment();
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

std::string_view first_page_script() { return FIRST_PAGE_SCRIPT; }

const std::string& account_page_content_security_policy() {
  static const std::string policy = "default-src 'none'; style-src " + csp_hash(STYLE) +
                                    "; script-src " + csp_hash(SCRIPT) +
                                    "; base-uri 'none'; form-action 'none'";
  return policy;
}

const std::string& first_page_content_security_policy() {
  // The search's data are scripts that the page's own script adds; 'strict-dynamic' admits
  // those and nothing the markup itself might carry.
  static const std::string policy = "default-src 'none'; style-src " + csp_hash(STYLE) +
                                    "; script-src " + csp_hash(FIRST_PAGE_SCRIPT) +
                                    " 'strict-dynamic'; base-uri 'none'; form-action 'none'";
  return policy;
}

const std::string& static_page_content_security_policy() {
  static const std::string policy = "default-src 'none'; style-src " + csp_hash(STYLE) +
                                    "; base-uri 'none'; form-action 'none'";
  return policy;
}

}  // namespace generator::generate
