"""Debian's chromium in headless mode: the DOM of a local page after its scripts ran, and screenshots.
Each call starts a fresh browser with its own profile folder, offline and bounded in time."""

import shutil
import subprocess
import tempfile
from html.parser import HTMLParser
from pathlib import Path

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--hide-scrollbars"]


def available():
    """Whether a chromium program is on PATH."""
    return shutil.which("chromium") is not None


def _run(page, fragment, extra, timeout):
    url = Path(page).resolve().as_uri() + (f"#{fragment}" if fragment else "")
    with tempfile.TemporaryDirectory(prefix="chromium-profile-") as profile:
        return subprocess.run(["chromium", *FLAGS, f"--user-data-dir={profile}", *extra, url],
                              capture_output=True, text=True, timeout=timeout, check=True)


def dump_dom(page, fragment="", timeout=120):
    """The DOM of `page` (a local file, opened with `fragment` after "#") once its scripts ran, as HTML."""
    return _run(page, fragment, ["--virtual-time-budget=5000", "--dump-dom"], timeout).stdout


def screenshot(page, png, width=1280, height=900, timeout=120):
    """A PNG of the top `width` x `height` pixels of `page`."""
    _run(page, "", [f"--window-size={width},{height}", f"--screenshot={Path(png).resolve()}"], timeout)


class Element:
    """One element of a parsed DOM: tag, attributes, text inside it (children's too), children."""

    def __init__(self, tag, attributes, parent):
        self.tag, self.attributes, self.parent = tag, dict(attributes), parent
        self.children, self.text_parts = [], []

    @property
    def text(self):
        return "".join(self.text_parts)

    def classes(self):
        return (self.attributes.get("class") or "").split()

    def find_all(self, tag=None, cls=None):
        """Descendants with this tag and/or class, in document order."""
        found = []
        for child in self.children:
            if (tag is None or child.tag == tag) and (cls is None or cls in child.classes()):
                found.append(child)
            found.extend(child.find_all(tag, cls))
        return found


VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}


class _TreeBuilder(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Element("#document", {}, None)
        self.current = self.root

    def handle_starttag(self, tag, attrs):
        element = Element(tag, attrs, self.current)
        self.current.children.append(element)
        if tag not in VOID:
            self.current = element

    def handle_startendtag(self, tag, attrs):
        self.current.children.append(Element(tag, attrs, self.current))

    def handle_endtag(self, tag):
        node = self.current
        while node is not None and node.tag != tag:
            node = node.parent
        if node is not None and node.parent is not None:
            self.current = node.parent

    def handle_data(self, data):
        node = self.current
        while node is not None:
            node.text_parts.append(data)
            node = node.parent


def parse(html):
    """The element tree of a serialized DOM (as chromium's --dump-dom writes it)."""
    builder = _TreeBuilder()
    builder.feed(html)
    builder.close()
    return builder.root
