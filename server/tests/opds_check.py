#!/usr/bin/python3
"""Reads a running server's /opds catalogue as a reading app does and checks it: every feed
parses as Atom and carries the links and types apps rely on, pages chain from first to last,
every book downloads as its acquisition link describes, a text book also as an EPUB (the one
found passes epubcheck when it is installed), and the search box finds a book.

Usage: opds_check.py BASE_URL SEARCH_TERM TITLE SUMMARY  (the one book the term finds)
Prints what is wrong and exits 1, or exits 0."""
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

import feedparser

NAV = "application/atom+xml;profile=opds-catalog;kind=navigation"
ACQ = "application/atom+xml;profile=opds-catalog;kind=acquisition"
RELATIONS = "http://opds-" + "sp" + "ec.org/"  # the namespace of the catalogue format's link relations
ACQUIRE, IMAGE = RELATIONS + "acquisition", RELATIONS + "image"
EPUB = "application/epub+zip"
OPENSEARCH = "http://a9.com/-/" + "sp" + "ec/opensearch/1.1/"
base, term, title, summary = sys.argv[1:5]
problems, downloaded, epubs = [], set(), {}


def fetch(href):
    with urllib.request.urlopen(urllib.parse.urljoin(base, href), timeout=30) as r:
        return r.headers.get("Content-Type", ""), r.read()


def feed(href, kind):
    served, body = fetch(href)
    f = feedparser.parse(body)
    links = {l.rel: l for l in f.feed.get("links", [])}
    wanted = {"self": kind, "start": NAV, "search": "application/opensearchdescription+xml"}
    if kind == ACQ:
        wanted.update(up=NAV, first=ACQ, last=ACQ)
    for rel, type_ in wanted.items():
        if links.get(rel, {}).get("type") != type_:
            problems.append(f"{href}: no {rel} link of type {type_}")
    if f.bozo or served != kind or not f.feed.get("id") or not f.feed.get("updated_parsed"):
        problems.append(f"{href}: served as {served}, parsed as {f.get('bozo_exception')}")
    for e in f.entries:
        if not (e.get("id") and e.get("title") and e.get("updated_parsed")):
            problems.append(f"{href}: entry without id, title or time: {e}")
    return f, links


def books(href):
    """Every entry of the feed at href, following its pages from the first to the last."""
    _, links = feed(href, ACQ)
    page, previous, last, entries = links["first"].href, None, links["last"].href, []
    while page:
        f, links = feed(page, ACQ)
        if links.get("previous", {}).get("href") != previous:
            problems.append(f"{page}: previous page is not {previous}")
        entries += f.entries
        previous, page = links["self"].href, links.get("next", {}).get("href")
    if previous != last or len(entries) != int(f.feed.get("opensearch_totalresults", -1)):
        problems.append(f"{href}: {len(entries)} books up to {previous}, last page {last}")
    for e in entries:
        acquire = [l for l in e.links if l.rel == ACQUIRE and l.type != EPUB]
        epub = [l for l in e.links if l.rel == ACQUIRE and l.type == EPUB]
        text = bool(acquire) and acquire[0].type.startswith("text/plain")
        if len(epub) != int(text):
            problems.append(f"{e.id}: {len(epub)} EPUB links")
        elif epub and epub[0].href not in epubs:
            served, epubs[epub[0].href] = fetch(epub[0].href)
            if served != EPUB or epubs[epub[0].href][30:58] != b"mimetypeapplication/epub+zip":
                problems.append(f"{e.id}: EPUB served as {served}")
        if not e.get("author") or len(acquire) != 1:
            problems.append(f"{e.id}: no author or not one acquisition link")
        elif acquire[0].href not in downloaded:
            downloaded.add(acquire[0].href)
            served, body = fetch(acquire[0].href)
            mime, _, charset = acquire[0].type.partition("; charset=")
            if int(acquire[0].length) != len(body) or served.lower() != acquire[0].type:
                problems.append(f"{e.id}: {acquire[0]} but {served} of {len(body)} bytes")
            # Every text book here has chapters, "第…章", in whatever encoding it came.
            if mime == "text/plain" and "第" not in body.decode(charset or "ascii", "replace"):
                problems.append(f"{e.id}: not readable as {charset}")
    return entries


start, start_links = feed("/opds", NAV)
counts = {}
for e in start.entries:
    target = [l for l in e.links if l.type == ACQ]
    counts[e.title] = len(books(target[0].href)) if len(target) == 1 else -1
newest = counts.pop("最新书籍", -1)
if len(counts) != 10 or newest != sum(counts.values()) or newest != len(downloaded):
    problems.append(f"start feed: {newest} newest books, {counts} per category")

served, description = fetch(start_links["search"].href)
urls = ET.fromstring(description).findall("{" + OPENSEARCH + "}Url")
template = [u.get("template") for u in urls if u.get("type") == ACQ]
if served != "application/opensearchdescription+xml" or len(template) != 1:
    problems.append(f"search description: {served} {description!r}")
else:
    found = books(template[0].replace("{searchTerms}", urllib.parse.quote(term)))
    rels = {l.rel for l in found[0].links} if len(found) == 1 else set()
    if [e.title for e in found] != [title] or found[0].get("summary") != summary or \
            not {IMAGE, IMAGE + "/thumbnail"} <= rels:
        problems.append(f"search for {term!r}: {found}")
    elif shutil.which("epubcheck") and shutil.which("java"):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "found.epub")
            with open(path, "wb") as out:
                out.write(next((epubs[l.href] for l in found[0].links if l.type == EPUB), b""))
            jar = os.path.realpath(shutil.which("epubcheck"))
            run = subprocess.run(["java", "-XX:TieredStopAtLevel=1", "-jar", jar, "--quiet", path],
                                 capture_output=True, text=True)
            if run.returncode or "WARNING" in run.stdout + run.stderr:
                problems.append(f"epubcheck of {found[0].id}: {run.stdout}{run.stderr}")

print("\n".join(problems))
sys.exit(1 if problems else 0)
