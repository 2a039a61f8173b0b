#!/usr/bin/python3
"""The fleet page in a real browser (Debian's headless Chromium): its own
script runs under its Content-Security-Policy and sorts, hostile names stay
text, the lines of a machine needing attention open and close.

fleet_page.py SCOURIX_FLEET [SCREENSHOT.png]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

HOSTILE = [
    '<img src=x onerror="document.title=\'pwned\'">',
    "</td></tr></table><script>document.title='pwned'</script>",
    "\" onmouseover=\"document.title='pwned'",
]


def record(computer, status, scanned, infected, deleted=0, queued=0, windows="5.1.2600 Service Pack 3", lines=()):
    return json.dumps({
        "computer": computer, "windows": windows, "started": "2026-12-08T09:00:00", "ended": "2026-12-08T09:01:00",
        "program": "Scourix 1.0", "exitStatus": status, "filesScanned": scanned, "filesInfected": infected,
        "filesDeleted": deleted, "filesQueued": queued, "registryRepaired": False, "servicesRemoved": 0,
        "reportOnly": False, "lines": list(lines) + ["Scanning completed"],
    })


def main():
    fleet = sys.argv[1]
    screenshot = sys.argv[2] if len(sys.argv) > 2 else None
    work = tempfile.mkdtemp(prefix="fleet-page-")
    try:
        records = os.path.join(work, "records")
        os.mkdir(records)
        machines = [
            ("PC-CLEAN", 0, 900, 0), ("PC-CLEANED", 1, 12000, 2, 2), ("PC-RESTART", 3010, 80, 1, 0, 1),
            ("PC-FAILED", 2, 5, 3, 1, 0, "10.0.19045",
             ["C:\\WINDOWS\\x.exe     W32/Gibe.F.Worm Delete failed", HOSTILE[0]]),
        ]
        for i, machine in enumerate(machines):
            with open(os.path.join(records, "m%d.json" % i), "w") as f:
                f.write(record(*machine))
        for i, name in enumerate(HOSTILE):
            with open(os.path.join(records, "h%d.json" % i), "w") as f:
                f.write(record(name, 0, 100 + i, 0))
        page = os.path.join(work, "fleet.html")
        run = subprocess.run([fleet, "--html", page, records], capture_output=True)
        assert run.returncode == 1, run

        options = Options()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1600,720",
                         "--user-data-dir=" + os.path.join(work, "profile")):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            browser.get("file://" + page)
            assert browser.title == "Scourix: the fleet", browser.title

            def column(index):
                return [row.find_elements(By.TAG_NAME, "td")[index].text
                        for row in browser.find_elements(By.CSS_SELECTOR, "#fleet tbody tr")]

            # Hostile names are shown as the text they are; nothing of them ran or became markup.
            names = column(0)
            for name in HOSTILE:
                assert name in names, (name, names)
            assert not browser.find_elements(By.CSS_SELECTOR, "#fleet img, #fleet tbody script"), "markup from a record"
            assert browser.find_elements(By.CSS_SELECTOR, "#fleet tbody tr")[0].get_attribute("class") == "attention"

            # The page's own script sorts: numbers as numbers, the state by severity.
            heads = browser.find_elements(By.CSS_SELECTOR, "#fleet thead th")
            heads[2].click()
            scanned = [int(text) for text in column(2)]
            assert scanned == sorted(scanned), scanned
            assert heads[2].get_attribute("aria-sort") == "ascending"
            heads[2].click()
            scanned = [int(text) for text in column(2)]
            assert scanned == sorted(scanned, reverse=True), scanned
            assert heads[2].get_attribute("aria-sort") == "descending"
            heads[1].click()
            states = column(1)
            order = ["needs attention", "cleaned, restart pending", "cleaned", "clean"]
            assert [order.index(s) for s in states] == sorted(order.index(s) for s in states), states
            assert states[0] == "needs attention" and states[-1] == "clean", states

            # Windows by name; the failed machine's lines open, escaped.
            windows = column(6)
            assert "Windows XP SP3" in windows and "Windows 10 22H2" in windows, windows
            summary = browser.find_element(By.CSS_SELECTOR, "#fleet details summary")
            summary.click()
            lines = browser.find_element(By.CSS_SELECTOR, "#fleet details pre").text
            assert "W32/Gibe.F.Worm Delete failed" in lines and HOSTILE[0] in lines, lines

            assert browser.title == "Scourix: the fleet", "a record's text ran as script"
            # Nothing the policy had to block: the page's own script and style are allowed by their hashes.
            refused = [entry for entry in browser.get_log("browser") if "Content Security Policy" in entry["message"]]
            assert not refused, refused
            if screenshot:
                browser.save_screenshot(screenshot)
        finally:
            browser.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("fleet page: sorted, escaped and allowed only its own script and style")


if __name__ == "__main__":
    main()
