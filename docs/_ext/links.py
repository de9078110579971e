"""Opens the built manual in headless Chromium, as a reader would, and
follows every internal link of the index and of a reference page: each must
lead to a page that loads and, for a link with a fragment, to an element of
that id.

Usage: links.py HTML-DIR
"""
import sys
from pathlib import Path
from urllib.parse import unquote, urldefrag, urlparse

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

START = ["index.html", "reference/c/kl01_read.html", "reference/python.html"]


def main(root: Path) -> int:
    options = Options()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    broken, seen = [], {}
    try:
        for start in START:
            page = (root / start).resolve().as_uri()
            driver.get(page)
            if not driver.find_elements(By.CSS_SELECTOR, "div.document, div[role=main]"):
                broken.append(f"{start}: did not load as a page of the manual")
            hrefs = [a.get_attribute("href") for a in driver.find_elements(By.CSS_SELECTOR, "a[href]")]
            for href in hrefs:
                if not href.startswith("file:"):
                    continue  # outside the manual
                target, fragment = urldefrag(href)
                if target not in seen:
                    path = Path(unquote(urlparse(target).path))
                    seen[target] = set()
                    if not path.exists():
                        broken.append(f"{start}: {href} leads nowhere")
                        continue
                    if path.suffix == ".html":
                        driver.get(target)
                        seen[target] = {e.get_attribute("id") for e in driver.find_elements(By.CSS_SELECTOR, "[id]")}
                        driver.get(page)
                if fragment and seen[target] and unquote(fragment) not in seen[target]:
                    broken.append(f"{start}: {href} names no element of that page")
    finally:
        driver.quit()
    for b in broken:
        print("broken link:", b)
    print(f"links: {len(seen)} pages followed, {len(broken)} broken")
    return 1 if broken or not seen else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(Path(sys.argv[1])))
