"""The handheld's page used as a person would, in headless Chromium.

Usage: browser_test.py QXSIM [--docs]
Starts `QXSIM serve` in the repository's root (a fresh device with the
shipped device files), then on the page: starts the client and the browser
from the world's events, taps the tray button, chooses Settings, types an ID
and a password, presses OK and answers the notice, each on the screen;
checks the registry view (the scrambled password, the User-Agent token);
downloads the scenario and replays it with QXSIM to the same transcript and
registry; goes back to the menu and chooses About instead. With --docs it
also retakes docs/serve-page.png, the page with the notice on the screen.
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

SCALE = 1.5  # the page shows the 240 x 320 screen at 360 x 480
PROFILE_KEY = "HKEY_CURRENT_USER\\Software\\Brennic Inc\\Quorvix\\Quorvix"
AGENT_KEY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent"
# "secret" as the client scrambles it, and the digest the token carries.
SCRAMBLED = '"PWD" = "sdaqaq"'
TOKEN = "JavaScript(user1;5ebe2294ecd0e0f08eab7690d2a6ee69;"
STORY = ["start client 2002", "advance 1 tick", "browser open", "advance 1 tick", "tap button",
         "choose Settings", "type 1003 user1", "type 1012 secret", "press OK", "answer OK", "export"]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)
    return condition


class Page:
    def __init__(self, driver, address):
        self.driver = driver
        self.base = address.split("/?")[0]
        self.token = address.split("token=")[1]

    def idle(self):
        WebDriverWait(self.driver, 20).until(
            lambda d: d.execute_script("return !document.body.classList.contains('busy')"))

    def ask(self, path):
        """What the server answers the page's own request for path."""
        request = urllib.request.Request(self.base + path, headers={"X-Qxsim-Token": self.token})
        with urllib.request.urlopen(request, timeout=20) as response:
            return response.read().decode("utf-8")

    def event(self, verb):
        form = self.driver.find_element(By.CSS_SELECTOR, "form.event[data-verb='%s']" % verb)
        form.find_element(By.TAG_NAME, "button").click()
        self.idle()

    def tap(self, x, y):
        """A tap at (x, y) of the handheld's screen."""
        screen = self.driver.find_element(By.CSS_SELECTOR, "#screen svg")
        ActionChains(self.driver).move_to_element_with_offset(
            screen, round((x + 0.5) * SCALE - 180), round((y + 0.5) * SCALE - 240)).click().perform()

    def tap_region(self, step):
        """A tap in the middle of what the page says a tap there does."""
        regions = self.driver.execute_script("return regions")
        region = next((r for r in regions if r.get("step") == step), None)
        if not check(region is not None, "the screen offers %r" % step):
            return
        self.tap(region["x"] + region["w"] // 2, region["y"] + region["h"] // 2)

    def type_into(self, step, text):
        self.tap_region(step)
        field = WebDriverWait(self.driver, 10).until(
            lambda d: d.find_element(By.CSS_SELECTOR, "#screen input.overlay"))
        field.send_keys(text, Keys.ENTER)
        self.idle()

    def menu_entry(self, text):
        for entry in self.driver.find_elements(By.CSS_SELECTOR, "#screen text.menu-entry"):
            if entry.text == text:
                return entry
        return None

    def show_key(self, key):
        field = self.driver.find_element(By.ID, "key")
        field.clear()
        field.send_keys(key, Keys.ENTER)
        self.idle()
        return self.driver.find_element(By.ID, "values").text

    def steps(self):
        return [e.text for e in self.driver.find_elements(By.CSS_SELECTOR, "#steps > li .line")]


def start_server(qxsim):
    server = subprocess.Popen([qxsim, "serve"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    ready, _, _ = select.select([server.stdout], [], [], 60)
    address = server.stdout.readline().strip() if ready else ""
    if not address.startswith("http://127.0.0.1:"):
        server.kill()
        raise SystemExit("qxsim serve printed no address: %r %s" % (address, server.stderr.read()))
    return server, address


def browser(work, downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--no-first-run", "--hide-scrollbars", "--window-size=1400,960",
                     "--user-data-dir=" + os.path.join(work, "profile")]:
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    return driver


def replay(qxsim, scenario):
    """qxsim's transcript of the file, without its first and last lines (which name the file as given)."""
    run = subprocess.run([qxsim, scenario], capture_output=True, text=True, timeout=60)
    check(run.returncode == 0, "the downloaded scenario replays without a problem: " + run.stderr)
    return run.stdout.split("\n", 1)[1].rsplit("End of scenario", 1)[0]


def use_the_page(page, qxsim, work, downloads, docs):
    driver = page.driver
    WebDriverWait(driver, 20).until(lambda d: d.find_elements(By.CSS_SELECTOR, "#steps > li"))
    page.idle()
    for verb in ["start client", "advance", "browser open", "advance"]:
        page.event(verb)
    page.tap(192, 306)  # the tray button over the browser's menu bar
    page.idle()
    entry = WebDriverWait(driver, 10).until(lambda d: page.menu_entry("Settings"))
    entry.click()
    page.idle()
    page.type_into("type 1003", "user1")
    page.type_into("type 1012", "secret")
    page.tap_region("press OK")
    page.idle()
    notice = " ".join(e.text for e in driver.find_elements(By.CSS_SELECTOR, "#screen text.box-text"))
    check("Internet Explorer" in notice, "the notice is on the screen: %r" % notice)
    check(SCRAMBLED in page.show_key(PROFILE_KEY), "the registry view shows the scrambled password")
    if docs:
        driver.save_screenshot(os.path.join("docs", "serve-page.png"))
    page.tap_region("answer OK")
    page.idle()
    check(TOKEN in page.show_key(AGENT_KEY), "the registry view shows the User-Agent token")

    line = driver.find_element(By.ID, "line")
    line.send_keys("export", Keys.ENTER)
    page.idle()
    scenario = page.ask("/scenario")
    check(scenario.splitlines()[-len(STORY):] == STORY, "the story is the natural steps: %r" % scenario)

    driver.find_element(By.ID, "download").click()
    saved = os.path.join(downloads, "session.qxs")
    deadline = time.time() + 20
    while not os.path.exists(saved) and time.time() < deadline:
        time.sleep(0.1)
    if check(os.path.exists(saved), "Download scenario gives session.qxs"):
        with open(saved, encoding="utf-8") as file:
            check(file.read() == scenario, "the downloaded file is the story")
        # It imports the shipped device files from beside it.
        for name in os.listdir("scenarios"):
            if name.endswith(".reg"):
                shutil.copy(os.path.join("scenarios", name), downloads)
        live = page.ask("/transcript").split("\n", 1)[1]
        replayed = replay(qxsim, saved)
        check(replayed == live, "the replay's transcript is the live one")
        check('"PWD"="sdaqaq"' in replayed, "the replay exports the same registry")

    # Back to the open menu, and About this time.
    for item in driver.find_elements(By.CSS_SELECTOR, "#steps > li"):
        if item.find_element(By.CSS_SELECTOR, ".line").text == "tap button":
            item.click()
            break
    page.idle()
    about = WebDriverWait(driver, 10).until(lambda d: page.menu_entry("About Quorvix"))
    check("undone" in driver.find_element(By.CSS_SELECTOR, "#steps > li:last-child").get_attribute("class"),
          "the steps after the one gone back to wait, greyed")
    about.click()
    page.idle()
    steps = page.steps()
    check(steps[-2:] == ["tap button", 'choose "About Quorvix"'], "About follows the tap: %r" % steps[-3:])
    check("choose Settings" not in steps and "export" not in steps, "the later steps are gone: %r" % steps)
    check(page.ask("/scenario").endswith('tap button\nchoose "About Quorvix"\n'), "the scenario ends with About")


def main():
    qxsim = os.path.abspath(sys.argv[1])
    docs = "--docs" in sys.argv[2:]
    work = tempfile.mkdtemp()
    downloads = os.path.join(work, "downloads")
    os.makedirs(downloads)
    server, address = start_server(qxsim)
    driver = None
    try:
        driver = browser(work, downloads)
        driver.get(address)
        use_the_page(Page(driver, address), qxsim, work, downloads, docs)
    finally:
        if driver is not None:
            driver.quit()
        server.terminate()
        server.wait(timeout=20)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("serve page: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
