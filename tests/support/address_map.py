"""The address map as a reader meets it in chromium: its first page, and the account pages that the
first page's table of accounts links to, each as the DOM the browser built."""

import urllib.parse
from pathlib import Path

from support import browser


class AddressMap:
    """The pages of the map written at `page`, read once: `first` is the first page's DOM, `pages`
    the DOM of each account page by account number, `cards` every VPC card by VPC id."""

    def __init__(self, page, fragment=""):
        self.path = Path(page)
        self.first = browser.parse(browser.dump_dom(self.path, fragment))
        self.pages, self.cards = {}, {}
        for account, target in self.account_links().items():
            dom = browser.parse(browser.dump_dom(target))
            self.pages[account] = dom
            for card in dom.find_all("article", "vpc"):
                self.cards[card.attributes["data-vpc"]] = card

    def account_links(self):
        """Account number -> the file its row in the table of accounts links to (entered accounts)."""
        table = [s for s in self.first.find_all("section") if s.attributes.get("id") == "accounts"][0]
        links = {}
        for row in table.find_all("tr"):
            anchors = row.find_all("a")
            if anchors:
                links[anchors[0].text] = self.resolve(anchors[0].attributes["href"])
        return links

    def resolve(self, href, base=None):
        """The file a relative link of a page of the map leads to (without its fragment)."""
        target = urllib.parse.unquote(urllib.parse.urldefrag(href)[0])
        return ((base or self.path).parent / target).resolve()

    def summary(self):
        """The first page's summary: term -> text."""
        header = self.first.find_all("header")[0]
        return {dt.text: dd.text for dt, dd in zip(header.find_all("dt"), header.find_all("dd"))}

    def section(self, section_id):
        return [s for s in self.first.find_all("section") if s.attributes.get("id") == section_id][0]


def found(page, fragment):
    """The VPC ids the first page's search lists for `fragment` ("q=text", "noroom"), with the text of
    each result and the number it reports, read once the page's script ran."""
    dom = browser.parse(browser.dump_dom(page, fragment))
    results = [li for li in dom.find_all("ol") if li.attributes.get("id") == "results"][0].find_all("li")
    shown = [s for s in dom.find_all("span") if s.attributes.get("id") == "shown"][0].text
    return [li.find_all("code")[0].text for li in results], [li.text for li in results], shown, dom
