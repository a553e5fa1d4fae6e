#!/usr/bin/python3
"""The web-page catalogue in a real browser: pages written by the console program under Wine, opened from disk in
headless Chromium through Selenium, and compared with the trees on disk.

    html_test.py BUILD_DIR DIRTALLY_CLI_EXE [--picture PNG]   (--picture: writes the README's picture instead)
"""
import datetime, fnmatch, os, shutil, subprocess, sys, unittest
from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

BUILD, CLI = sys.argv[1], sys.argv[2]
SCRATCH = os.path.join(BUILD, "testdrives", "html")
STAMP = datetime.datetime(2001, 3, 7, 8, 5, 3, tzinfo=datetime.timezone.utc).timestamp()
HOSTILE = ['<img src=x onerror=alert(1)>.txt', '"; alert(1); "', "a&b #1 %20 'q'.txt", "&lt;b&gt;.txt", "nl\nhere.txt"]
WORLD = ["Привет мир.txt", "日本語のファイル.txt", "😀 smile 🎉.png", "ΑΒΓ δέλτα.doc", "L" * 251 + ".txt"]  # 255 characters last
# Sizes as the table shows them (the exact bytes are on hover): bytes, singular, KB and MB and GB of 1024, one decimal.
SIZES = [(0, "0 bytes"), (1, "1 byte"), (1023, "1023 bytes"), (1024, "1.0 KB"), (1536, "1.5 KB"), (1048064, "1023.5 KB"),
         (5 << 20, "5.0 MB"), (5000000000, "4.7 GB")]
def windows(path): return "Z:" + path.replace("/", "\\")
def utc(mtime): return datetime.datetime.fromtimestamp(int(mtime), datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S")


def make_file(path, size=0, when=STAMP):
    with open(path, "wb") as f: f.truncate(size)
    os.utime(path, (when, when))


def make_tree():
    """Hostile and world names, a size of each kind, a path of over 1,000 characters, a link back up, a folder whose
    path passes what Linux can open (Wine cannot read it); a second start folder."""
    shutil.rmtree(SCRATCH, ignore_errors=True)
    top, second = os.path.join(SCRATCH, "top"), os.path.join(SCRATCH, "second")
    for folder in ("Docs/Old", "ПАПКА", "out"): os.makedirs(os.path.join(top if folder != "out" else SCRATCH, folder))
    for i, name in enumerate(HOSTILE + WORLD): make_file(os.path.join(top, name), i, STAMP + i * 3661)
    for size, _ in SIZES: make_file(os.path.join(top, "Docs", "size-%d.bin" % size), size, STAMP - size % 86400)
    for name, size in (("Old/report.TXT", 12), ("Old/notes.md", 7), ("../ПАПКА/файл.txt", 5)):
        make_file(os.path.join(top, "Docs", name), size)
    deep = os.path.join(top, *("level %02d " % level + "d" * 50 for level in range(18)))
    os.makedirs(deep)
    make_file(os.path.join(deep, "bottom.txt"), 3)
    # Made one level at a time from the parent's handle: the last path is too long for a path call.
    length, fd = len(top), os.open(top, os.O_RDONLY)
    for name in ["toolong"] + ["c" * 200] * 19 + ["unreadable " + "u" * 240]:
        os.mkdir(name, dir_fd=fd)
        inner = os.open(name, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd, length = inner, length + 1 + len(name)
    os.close(fd)
    assert length > 4096, "past what Linux opens by path"
    os.symlink("..", os.path.join(top, "Docs", "up"))
    os.makedirs(second)
    make_file(os.path.join(second, "report.txt"), 99)
    return top, second


def run_cli(*arguments):
    """Runs the console program; its exit code (output to files, never pipes)."""
    with open(os.path.join(SCRATCH, "cli.out"), "wb") as out, open(os.path.join(SCRATCH, "cli.err"), "wb") as err:
        return subprocess.call([os.path.join(BUILD, "wine-run.sh"), CLI] + list(arguments), stdout=out, stderr=err,
                               stdin=subprocess.DEVNULL)


def disk_entries(folder):
    """(name, is folder, size, mtime) of a folder's entries on disk; links are folders not followed."""
    return [(e.name, e.is_dir(), 0 if e.is_dir() else e.stat().st_size, e.stat(follow_symlinks=False).st_mtime)
            for e in os.scandir(folder)]


def browser():
    options = Options()
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1000"]: options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Page(unittest.TestCase):
    """One tree, two pages (all of it, and its top only with a filter and exclusions that try to end the script)."""

    @classmethod
    def setUpClass(cls):
        cls.top, cls.second = make_tree()
        cls.page, cls.text, cls.hostile_page = (os.path.join(SCRATCH, "out", n) for n in ("drive.html", "drive.txt", "filter.html"))
        cls.code = run_cli("--format", "html", "-s", "-o", windows(cls.page), windows(cls.top), windows(cls.second))
        run_cli("--encoding", "utf-8", "-s", "-o", windows(cls.text), windows(cls.top))
        run_cli("--format", "html", "--max-depth", "0", "--filter", "</script><script>alert(3)</script>", "--exclude",
                "</SCRIPT ><img src=x onerror=alert(4)>", "-o", windows(cls.hostile_page), windows(cls.top))
        cls.driver = browser()
        cls.driver.get("file://" + cls.page)

    @classmethod
    def tearDownClass(cls): cls.driver.quit()
    def js(self, script, *arguments): return self.driver.execute_script(script, *arguments)
    def find(self, selector, by=By.CSS_SELECTOR): return self.driver.find_element(by, selector)

    def open_tree_path(self, parts):
        """Clicks down the tree from a start folder (the base name of `parts[0]`) through the rest."""
        label = next(l for l in self.driver.find_elements(By.CSS_SELECTOR, "#tree > .node > .label")
                     if l.text.endswith(os.path.basename(parts[0])))
        for part in parts[1:]:
            label.find_element(By.CSS_SELECTOR, ".tname").click()
            label = next(l for l in label.find_elements(By.XPATH, "../div[@class='kids']/div/div[contains(@class,'label')]")
                         if l.find_element(By.CSS_SELECTOR, ".tname").text == part)
        label.find_element(By.CSS_SELECTOR, ".tname").click()

    def table(self):
        """The table's rows: (name, is folder, size text, size title, time)."""
        return self.js("""return Array.from(document.querySelectorAll('#rows .row')).sort(function (a, b) {
            return a.index - b.index; }).map(function (r) { var c = r.children; return [c[0].textContent,
            r.classList.contains('dir'), c[1].textContent, c[1].title, c[2].textContent]; });""")

    def search(self, query):
        """Searches; the count shown and the rows (name, folder path)."""
        self.js("var s = document.getElementById('search'); s.value = arguments[0]; s.dispatchEvent(new Event('input'));", query)
        self.driver.set_script_timeout(20)
        self.driver.execute_async_script("""var query = arguments[0], done = arguments[1];
            (function wait() { var last = window.lastSearch;
                if (last && last.query === query) done(); else setTimeout(wait, 5); })();""", query)
        rows = self.js("""return Array.from(document.querySelectorAll('#resultRows .row')).map(function (r) {
            return [r.children[0].textContent, r.children[1].textContent]; });""")
        return self.find("count", By.ID).text, [tuple(r) for r in rows]

    def test_1_folders_show_what_the_disk_holds(self):
        self.assertEqual(self.code, 4, "an unreadable folder is reported by the exit code")
        for parts, why in [([self.top], "hostile, world and 255-character names"), ([self.top, "Docs"], "sizes, a link back up"),
                           ([self.top, "Docs", "Old"], "two levels down"), ([self.top, "ПАПКА"], "a Cyrillic folder"),
                           ([self.second], "the second start folder")]:
            with self.subTest(why):
                folder = os.path.join(*parts)
                self.open_tree_path(parts)
                self.assertEqual(self.find("where", By.ID).text, windows(folder))
                shown = self.table()
                self.assertEqual([r[1] for r in shown], sorted((r[1] for r in shown), reverse=True), "folders first")
                self.assertEqual(sorted((r[0], r[1], r[4]) + ((r[3],) if not r[1] else ()) for r in shown),
                                 sorted((n, d, utc(t)) + (() if d else ("{:,} {}".format(s, "byte" if s == 1 else "bytes"),))
                                        for n, d, s, t in disk_entries(folder)))
        self.open_tree_path([self.top, "Docs"])
        shown = {r[0]: r[2] for r in self.table()}
        self.assertEqual([shown["size-%d.bin" % size] for size, _ in SIZES], [text for _, text in SIZES], "size units")

    def test_2_columns_sort(self):
        self.open_tree_path([self.top, "Docs"])
        head = {s.get_attribute("data-key"): s for s in self.driver.find_elements(By.CSS_SELECTOR, "#head span")}
        bytes_of = lambda r: int(r[3].split()[0].replace(",", ""))
        for key, value, descending in [("size", bytes_of, False), ("size", bytes_of, True), ("name", lambda r: r[0].lower(), False),
                                       ("time", lambda r: r[4], False), ("time", lambda r: r[4], True)]:
            with self.subTest(key=key, descending=descending):
                head[key].click()
                values = [value(r) for r in self.table() if not r[1]]
                self.assertEqual(values, sorted(values, reverse=descending))
                self.assertTrue(all(r[1] for r in self.table()[:2]), "folders stay first")

    def test_3_search_by_wildcard_and_text_and_choose_a_result(self):
        every = [(n, folder) for root in (self.top, self.second) for folder, dirs, files in os.walk(root) for n in dirs + files]
        for query, why in [("*.txt", "a wildcard over the whole name, any case"), ("*.TXT", "the pattern's case does not matter"),
                           ("REPORT", "plain text anywhere in a name, any case"), ("привет", "Cyrillic folded to lower case"),
                           ("? smile*", "? is one character, an emoji too"), ("NL?HERE*", "a line end too"), ("level 1? d*", "folders are found too"),
                           ("&lt;", "text is text, not an entity"), ("L" * 251 + ".???", "a 255-character name")]:
            with self.subTest(why):
                match = (lambda n: fnmatch.fnmatchcase(n.lower(), query.lower())) if any(c in query for c in "*?") else \
                        (lambda n: query.lower() in n.lower())
                expected = [(n, windows(f)) for n, f in every if match(n)]
                self.assertTrue(expected, "the case needs entries")
                count, rows = self.search(query)
                self.assertEqual((count, sorted(rows)), ("1 match" if len(expected) == 1 else "%d matches" % len(expected), sorted(expected)))
        for query, name, why in [("bottom", "bottom.txt", "the deepest folder, past 1,000 characters"),
                                 ("size-1536", "size-1536.bin", "a file two levels down"),
                                 ("пап", "ПАПКА", "a folder: its parent opens with it selected")]:
            with self.subTest(why):
                _, rows = self.search(query)
                self.assertEqual(len(rows), 1)
                self.find("#resultRows .row").click()
                self.assertEqual((self.find("where", By.ID).text, self.find("#rows .row.selected .name").text), (rows[0][1], name))

    def test_4_header_and_unreadable_folder(self):
        facts, walked = self.find("facts", By.ID).text, [w for root in (self.top, self.second) for w in os.walk(root)]
        self.assertIn("{:,} files in {:,} folders".format(sum(len(f) for _, _, f in walked), sum(len(d) for _, d, _ in walked)), facts)
        self.assertIn("({:,} bytes)".format(sum(os.path.getsize(os.path.join(p, n)) for p, _, f in walked for n in f)), facts)
        for folder in (self.top, self.second): self.assertIn(windows(folder), facts)
        self.assertIn("1 folder could not be read", facts)
        self.search("unreadable")
        self.find("#resultRows .row").click()
        ActionChains(self.driver).double_click(self.find("#rows .row.selected")).perform()
        with open(self.text, encoding="utf-8") as text:
            mark = next(line.strip() for line in text if line.startswith("<cannot read"))
        self.assertEqual(self.find("note", By.ID).text, mark, "marked as the text listing marks it")
        self.assertIn("bad", self.find("#tree .label.current").get_attribute("class"))

    def test_5_hostile_names_are_text_and_nothing_runs(self):
        self.open_tree_path([self.top])
        self.assertLessEqual(set(HOSTILE + WORLD), {r[0] for r in self.table()})
        self.driver.get("file://" + self.hostile_page)
        # At depth 0 (and with a filter no file matches) the subfolders are listed, not entered.
        self.assertEqual(sorted((r[0], r[1]) for r in self.table()), sorted((e[0], e[1]) for e in disk_entries(self.top) if e[1]))
        for text in ("</script><script>alert(3)</script>", "</SCRIPT ><img src=x onerror=alert(4)>"):
            self.assertIn(text, self.find("facts", By.ID).text)
        for page in (self.page, self.hostile_page):
            with self.subTest(page=page):
                self.driver.get("file://" + page)
                self.search("*")
                with self.assertRaises(NoAlertPresentException): self.driver.switch_to.alert.text
                self.assertEqual(self.js("return document.querySelectorAll('img, iframe, object, embed').length"), 0)
                self.assertEqual(self.js("return document.scripts.length"), 3, "only the page's own scripts")
                self.assertEqual([e for e in self.driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")], [])


def picture(path):
    """The README's picture: a small music catalogue (D:\\Music) with a search under way."""
    root = os.path.join(BUILD, "testdrives", "d", "Music")
    shutil.rmtree(root, ignore_errors=True)
    albums = {"Jazz/Kind of Blue": ["01 So What.flac", "02 Freddie Freeloader.flac", "03 Blue in Green.flac"],
              "Jazz/Time Out": ["01 Blue Rondo à la Turk.flac", "02 Strange Meadow Lark.flac", "03 Take Five.flac",
                                "04 Three to Get Ready.flac", "05 Kathy's Waltz.flac", "cover.jpg"],
              "Rock/Abbey Road": ["01 Come Together.mp3", "02 Something.mp3", "03 Here Comes the Sun.mp3"],
              "Классика/Чайковский": ["Лебединое озеро.ogg", "Щелкунчик.ogg"], "Live & Rare": ["#1 Encore (1999).mp3"]}
    for i, (album, tracks) in enumerate(sorted(albums.items())):
        os.makedirs(os.path.join(root, album))
        for j, track in enumerate(tracks):
            make_file(os.path.join(root, album, track), 3000000 + 1234567 * (i + j), STAMP + 86400 * (40 * i + j))
    page = os.path.join(SCRATCH, "music.html")
    os.makedirs(SCRATCH, exist_ok=True)
    run_cli("--format", "html", "-s", "-o", windows(page), "D:\\Music")
    driver = browser()
    driver.set_window_size(1100, 640)
    driver.get("file://" + page)
    for name in ("Jazz", "Time Out"): driver.find_element(By.XPATH, "//span[@class='tname' and text()='%s']" % name).click()
    driver.find_element(By.CSS_SELECTOR, "#rows .row:nth-child(4)").click()
    driver.save_screenshot(path)
    driver.quit()


if __name__ == "__main__":
    if "--picture" in sys.argv: picture(sys.argv[sys.argv.index("--picture") + 1])
    else: unittest.main(argv=[sys.argv[0], "-v"])
