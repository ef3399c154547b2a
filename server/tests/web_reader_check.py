#!/usr/bin/python3
"""The web reader in a real browser: Debian's Chromium, headless, with a phone's screen, against
the real server on a free loopback port. Exit 77 when Chromium or Selenium is not installed.

usage: web_reader_check.py FOLIOWAY_SERVER [SCREENSHOT_DIR]
"""
import hashlib
import http.cookiejar
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("python3-selenium is not installed")
    sys.exit(77)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("chromium or chromium-driver is not installed")
    sys.exit(77)

SERVER = sys.argv[1]
SHOTS = sys.argv[2] if len(sys.argv) > 2 else ""
MARKUP = "<script>document.title='pwned'</script> 甲 & 乙 <b>粗</b>"
LONG_BOOK = "长河记\n" + "".join(
    ("第%s章 河上\n" % "一二"[i // 130 - 1] if i and i % 130 == 0 else "") +
    "　　（%d）风从河面上吹过来，带着潮湿的泥土气息，岸边的芦苇一层层地倒伏下去，又慢慢站起来。\n" % i
    for i in range(390))


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


class Client:
    """A browser-less visitor of the server, for seeding and for the second account."""

    def __init__(self, base):
        self.base = base
        self.jar = http.cookiejar.CookieJar()
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(self.jar))
        self.token = ""

    def call(self, method, path, form=None, headers=None):
        data = urllib.parse.urlencode(form).encode() if form is not None else None
        request = urllib.request.Request(self.base + path, data=data, method=method, headers=headers or {})
        if data is not None:
            request.add_header("Content-Type", "application/x-www-form-urlencoded; charset=utf-8")
        try:
            with self.opener.open(request, timeout=60) as answer:
                return answer.status, answer.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def web(self, method, path, form=None):
        return self.call(method, "/read/api/" + path, form, {"X-Folioway-Token": self.token})

    def sign_up_and_log_in(self, name, password):
        status, body = self.call("POST", "/readerserver/userinfo.asp",
                                 {"action": "reg", "username": name, "userpass": password, "email": name + "@example.cn"})
        if "1|" not in body.decode():
            fail("sign-up of %s: %s" % (name, body.decode()))
        self.token = json.loads(self.web("GET", "session")[1])["token"]
        status, body = self.web("POST", "login", {"username": name, "password": password})
        if status != 200 or not json.loads(body)["ok"]:
            fail("login of %s: %s" % (name, body.decode()))

    def upload(self, file_name, text, title):
        gb = lambda s: s.encode("gb18030")
        body = (b"--B\r\nContent-Disposition:form-data;name=\"file1\";filename=\"C:\\" + file_name.encode() + b"\"\r\n\r\n" +
                text.encode("utf-8") + b"\r\n--B\r\nContent-Disposition: form-data; name=\"stype\"\r\n\r\n" + gb("其他分类") +
                b"\r\n--B\r\nContent-Disposition: form-data; name=\"sname\"\r\n\r\n" + gb(title) +
                b"\r\n--B\r\nContent-Disposition: form-data; name=\"sstatue\"\r\n\r\n" + gb("全集") + b"\r\n--B--")
        request = urllib.request.Request(self.base + "/readerserver/uploadbook.asp", data=body, method="POST",
                                         headers={"Content-Type": "multipart/form-data; boundary=B"})
        with self.opener.open(request, timeout=60) as answer:
            if not answer.read().decode("gb18030").startswith("1|"):
                fail("upload refused")


def page_shown(driver):
    """(chapter, page) from the position line, "第 1 / 3 章　4/20页"."""
    found = re.match(r"第 (\d+) / \d+ 章　(\d+)/", driver.find_element(By.ID, "position").text)
    return (int(found.group(1)), int(found.group(2))) if found else None


def tap_right(driver):
    driver.execute_script("""
        const v = document.getElementById('viewport'), r = v.getBoundingClientRect();
        v.dispatchEvent(new MouseEvent('click', {bubbles: true, clientX: r.left + r.width * 0.9, clientY: r.top + r.height / 2}));
    """)


def book_id(client, key):
    status, body = client.web("GET", "books?key=" + urllib.parse.quote(key))
    books = json.loads(body)["books"]
    if status != 200 or not books:
        fail("the catalogue does not find %s: %s" % (key, body.decode()))
    return books[0]["id"]


def main():
    work = tempfile.mkdtemp(prefix="folioway-web-")
    data = os.path.join(work, "data")
    books = os.path.join(work, "import")
    os.makedirs(books)
    with open(os.path.join(books, "长河记.txt"), "w", encoding="gb18030", newline="\r\n") as f:
        f.write(LONG_BOOK)
    with open(os.path.join(books, "标记之书.txt"), "w", encoding="utf-8") as f:
        f.write("标记之书\n" + MARKUP + "\n")
    subprocess.run([SERVER, "--data", data, "import", books, "--category", "其他分类"], check=True,
                   stdout=subprocess.DEVNULL)
    server = subprocess.Popen([SERVER, "--data", data, "--port", "0", "--no-log"], stdout=subprocess.PIPE, text=True)
    driver = None
    try:
        line = server.stdout.readline()
        if "listening on" not in line:
            fail("the server did not start: " + line)
        base = line.split("listening on", 1)[1].strip()

        owner = Client(base)
        owner.sign_up_and_log_in("webreader", "secret1")
        owner.upload("own.txt", "自己的书\n只给自己看。\n", "自己的书")
        other = Client(base)
        other.sign_up_and_log_in("otherone", "secret2")
        status, body = owner.web("GET", "shelf")
        long_id = book_id(owner, "长河记")
        markup_id = book_id(owner, "标记之书")

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + os.path.join(work, "profile"), "--window-size=390,844", "--lang=zh-CN"):
            options.add_argument(arg)
        options.add_experimental_option("mobileEmulation", {"deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 2,
                                                                              "touch": True}})
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        wait = WebDriverWait(driver, 60)
        shown = lambda element_id: wait.until(lambda d: d.find_element(By.ID, element_id).is_displayed())

        def click(css):
            # Lists are drawn anew when an answer arrives: an item found just before is clicked again.
            def attempt(d):
                try:
                    d.find_element(By.CSS_SELECTOR, css).click()
                    return True
                except (NoSuchElementException, StaleElementReferenceException):
                    return False
            wait.until(attempt)

        def shot(name):
            if SHOTS:
                os.makedirs(SHOTS, exist_ok=True)
                driver.save_screenshot(os.path.join(SHOTS, name + ".png"))

        driver.get(base + "/read/")
        shown("login")
        shot("1-login")
        driver.find_element(By.ID, "username").send_keys("webreader")
        driver.find_element(By.ID, "password").send_keys("secret1")
        driver.find_element(By.ID, "loginButton").click()
        shown("library")

        # The catalogue: find the long book, put it on the shelf, open it.
        driver.find_element(By.ID, "tabCatalogue").click()
        driver.find_element(By.ID, "searchKey").send_keys("长河记")
        driver.find_element(By.CSS_SELECTOR, "#searchForm button").click()
        item = '#catalogueList li[data-book="%d"]' % long_id
        # The search's answer, not the whole catalogue shown before it.
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#catalogueList li")) == 1 and
                   d.find_elements(By.CSS_SELECTOR, item))
        click(item + " button")
        wait.until(lambda d: d.find_element(By.CSS_SELECTOR, item + " button").text == "已加入")
        shot("2-catalogue")
        driver.find_element(By.ID, "tabShelf").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#shelfList li[data-book="%d"]' % long_id))
        shot("3-shelf")
        click('#shelfList li[data-book="%d"] .info' % long_id)
        shown("reader")
        wait.until(lambda d: "（1）" in d.find_element(By.ID, "page").text)

        # Three pages forward with taps on the right third.
        for turn in range(3):
            tap_right(driver)
            wait.until(lambda d, n=turn + 2: page_shown(d) == (1, n))
        shot("4-reading")
        # The place is sent once reading stops, and arrives as a sync item the desktop reads.
        wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-place-sent"))
        sent = driver.find_element(By.TAG_NAME, "body").get_attribute("data-place-sent")
        cookies = "; ".join("%s=%s" % (c["name"], c["value"]) for c in driver.get_cookies())
        pull = urllib.request.Request(base + "/folioway/sync/v1/pull?after=0", headers={"Cookie": cookies})
        with urllib.request.urlopen(pull, timeout=60) as answer:
            xml = answer.read().decode()
        if "<kind>position</kind>" not in xml or "手机浏览器" not in xml or "<kind>shelf</kind>" not in xml:
            fail("the place did not arrive as a sync item: " + xml)
        fraction = float(sent.split(":")[1])
        if not 0 < fraction <= 1:
            fail("the place sent is still the top of the book: " + sent)

        # A later place read on the desktop is offered when the book opens again, not jumped to.
        desktop = ('<sync><item><kind>position</kind><key>%s</key><changed>%d</changed><payload>'
                   '{"chapter":1,"title":"x","fraction":0.5,"linesRead":200,"lineCount":400}</payload></item></sync>'
                   % (json.loads(owner.web("GET", "shelf")[1])["books"][0]["key"], int(time.time() * 1000)))
        push = urllib.request.Request(base + "/folioway/sync/v1/push", data=desktop.encode(), method="POST",
                                      headers={"Cookie": cookies, "Content-Type": "text/xml"})
        with urllib.request.urlopen(push, timeout=60) as answer:
            if b"<result>stored</result>" not in answer.read():
                fail("the desktop's place was not stored")
        driver.find_element(By.ID, "backButton").click()
        shown("library")
        click('#shelfList li[data-book="%d"] .info' % long_id)
        shown("offer")
        if "在另一台设备上读到" not in driver.find_element(By.ID, "offerText").text or page_shown(driver) != (1, 4):
            fail("the desktop's place is not offered, or the page moved by itself: " + str(page_shown(driver)))
        shot("5-offer")
        driver.find_element(By.ID, "offerGo").click()
        wait.until(lambda d: d.find_element(By.ID, "offer").is_displayed() is False)
        wait.until(lambda d: page_shown(d)[0] == 1 and page_shown(d)[1] > 4)

        # Without the server the open book still reads, from what the browser kept; the place
        # read meanwhile is sent once the server is back.
        wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-offline") == str(long_id))
        server.terminate()
        server.wait(timeout=60)
        driver.refresh()
        shown("library")
        click('#shelfList li[data-book="%d"] .info' % long_id)
        shown("reader")
        wait.until(lambda d: "风从" in d.find_element(By.ID, "page").text)
        before = page_shown(driver)
        tap_right(driver)
        wait.until(lambda d: page_shown(d) == (before[0], before[1] + 1))
        wait.until(lambda d: "联网后发送" in d.find_element(By.ID, "status").text)
        shot("6-offline")
        server = subprocess.Popen([SERVER, "--data", data, "--port", base.rsplit(":", 1)[1], "--no-log"],
                                  stdout=subprocess.PIPE, text=True)
        if "listening on" not in server.stdout.readline():
            fail("the server did not start again")
        waiting = json.loads(driver.execute_script("return localStorage.getItem('folioway.place.%d')" % long_id))
        driver.execute_script("window.dispatchEvent(new Event('online'))")
        wait.until(lambda d: json.loads(d.execute_script("return localStorage.getItem('folioway.place.%d')" % long_id))["sent"])
        with urllib.request.urlopen(pull, timeout=60) as answer:
            xml = answer.read().decode()
        if '"fraction":%s' % ("%.6f" % waiting["fraction"]).rstrip("0") not in xml and str(waiting["changed"]) not in xml:
            fail("the place read offline did not arrive: " + xml)

        # A book whose text holds markup shows it as text.
        driver.get(base + "/read/")
        shown("library")
        driver.execute_script("arguments[0].click()", driver.find_element(By.ID, "tabCatalogue"))
        driver.find_element(By.ID, "searchKey").send_keys("标记之书")
        driver.find_element(By.CSS_SELECTOR, "#searchForm button").click()
        click('#catalogueList li[data-book="%d"] .info' % markup_id)
        wait.until(lambda d: "甲" in d.find_element(By.ID, "page").text)
        page = driver.find_element(By.ID, "page")
        if MARKUP not in page.text:
            fail("the markup is not shown as text: " + page.text)
        if page.find_elements(By.TAG_NAME, "script") or page.find_elements(By.TAG_NAME, "b") or driver.title == "pwned":
            fail("the book's markup became part of the page")
        shot("7-markup")
        refused = [entry["message"] for entry in driver.get_log("browser") if "Content Security Policy" in entry["message"]]
        if refused:
            fail("the page breaks its own Content-Security-Policy: " + refused[0])

        # Another account's own upload answers 404, as for a book that does not exist.
        status, body = owner.web("GET", "books?key=" + urllib.parse.quote("自己的书"))
        if json.loads(body)["books"]:
            fail("an upload waiting for review is in the catalogue")
        listed = owner.call("GET", "/readerserver/listuserbook.asp?uname=webreader")[1].decode()
        private_id = int(re.search(r"<id>(\d+)</id>", listed).group(1))
        if owner.web("GET", "book/%d" % private_id)[0] != 200:
            fail("the uploader cannot read an own upload")
        if other.web("GET", "book/%d" % private_id)[0] != 404 or other.web("GET", "book/%d/1" % private_id)[0] != 404:
            fail("another account can read someone's upload")
        # A private copy, sent as the program sends it, is its owner's alone.
        text = "私藏\n第一章 私\n只给自己\n".encode()
        put = "/folioway/private/v1/put?fingerprint=%d:%s&name=%s" % (
            len(text), hashlib.sha1(text).hexdigest(), urllib.parse.quote("私藏"))
        request = urllib.request.Request(base + put, data=text, method="POST",
                                         headers={"Content-Type": "application/octet-stream"})
        with owner.opener.open(request, timeout=60) as answer:
            copy_id = re.search(r"<id>(\d+)</id>", answer.read().decode()).group(1)
        for suffix in ("", "/1"):
            if owner.web("GET", "book/p" + copy_id + suffix)[0] != 200:
                fail("the owner cannot read a private copy")
            if other.web("GET", "book/p" + copy_id + suffix)[0] != 404:
                fail("another account can read someone's private copy")
        print("ok")
    finally:
        if driver:
            driver.quit()
        server.terminate()
        server.wait(timeout=60)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
