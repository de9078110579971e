"""What a user does in the panel, in a real browser, checked through the
library and on the wire (the rack's pcap)."""
from __future__ import annotations

import json
import os
import struct
import subprocess
import urllib.request

import pytest

import varnode
from browser_support import SHOTS, wait_for

A = {kind: f"198.18.0.{n}" for kind, n in
     [("KL01", 11), ("KL02", 12), ("KS01", 13), ("KS02", 14), ("QU01", 15), ("RA01", 16), ("RE01", 17),
      ("WE01", 18), ("HX01", 19), ("HX02", 20)]}


def api(panel, path, body=None):
    request = urllib.request.Request(panel["url"].rstrip("/") + path,
                                     data=None if body is None else json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as reply:
        return json.load(reply)


def rack_ready(panel):
    return wait_for(lambda: {m["address"] for m in api(panel, "/api/modules")["modules"]
                             if m["state"] == "ok"} >= set(A.values()), "all ten modules to answer", 30)


def open_module(browser, panel, kind):
    browser.get(f"{panel['url']}#/module/{A[kind]}")
    wait_for(lambda: browser.execute_script("return window.panel && window.panel.state.module !== null"),
             f"the {kind} page")


def shot(browser, name):
    if SHOTS is None:
        return
    SHOTS.mkdir(parents=True, exist_ok=True)
    browser.save_screenshot(str(SHOTS / f"{name}.png"))


def requests_to(address):
    """Requests the rack received for `address` so far, from its pcap."""
    data = open(os.environ["VARNODE_PANEL_PCAP"], "rb").read()
    wanted, count, at = bytes(int(o) for o in address.split(".")), 0, 24
    while at + 16 <= len(data):
        length = struct.unpack_from("=I", data, at + 8)[0]
        packet = data[at + 16: at + 16 + length]
        at += 16 + length
        if len(packet) >= 28 and packet[16:20] == wanted and packet[22:24] == b"\x75\x30":
            count += 1
    return count


def test_the_rack_page_lists_the_ten_modules(browser, panel):
    rack_ready(panel)
    browser.get(panel["url"])
    # Rows are redrawn as readings come: read them in one step.
    rows = wait_for(lambda: (lambda r: r if len(r) >= 10 else None)(browser.execute_script(
        "return [...document.querySelectorAll('#rack tbody tr[data-address]')]"
        ".map(r => [r.dataset.address, r.cells[0].textContent, r.cells[4].textContent])")), "ten rows")
    assert {address: kind for address, kind, _ in rows} == {a: k for k, a in A.items()}
    assert {state for _, _, state in rows} == {"answering"}
    shot(browser, "rack")


def test_a_ks01_toggle_switches_the_output(browser, panel):
    rack_ready(panel)
    ks01 = varnode.KS01(A["KS01"])
    ks01.write({2: False})
    open_module(browser, panel, "KS01")
    browser.find_element("css selector", 'button[data-output="2"]').click()
    wait_for(lambda: ks01.measure([2])[0] > 0, "output 2 to draw its load")
    assert ks01.measure([2]) == [pytest.approx(0.2)]  # the rack's default load, 0.1 A per channel number
    wait_for(lambda: browser.find_element("css selector", 'td[data-value="2"]').text.startswith("0.2"),
             "the measured current on the page")
    shot(browser, "ks01")


def test_a_typed_we01_value_reaches_the_module_on_confirm(browser, panel):
    rack_ready(panel)
    we01 = varnode.WE01(A["WE01"])
    open_module(browser, panel, "WE01")
    box = browser.find_element("css selector", 'input[data-volts="3"]')
    box.clear()
    box.send_keys("-2.75")
    assert we01.status()["output 3"].value != pytest.approx(-2.75)  # typing alone sends nothing
    browser.find_element("css selector", 'button[data-apply="3"]').click()
    wait_for(lambda: we01.status()["output 3"].value == pytest.approx(-2.75), "output 3 at -2.75 V")
    shot(browser, "we01")


def test_an_hx01_channel_set_to_k_shows_the_rack_temperature(browser, panel):
    rack_ready(panel)
    open_module(browser, panel, "HX01")
    from selenium.webdriver.support.ui import Select
    Select(browser.find_element("css selector", 'select[data-sensor="1"]')).select_by_value("K")
    browser.find_element("css selector", 'button[data-apply-sensor="1"]').click()
    # The rack's channel 1 is at 100 °C.
    shown = wait_for(lambda: _float(browser.find_element("css selector", 'td[data-kelvin="1"]').text),
                     "a temperature on channel 1")
    assert shown == pytest.approx(373.15, abs=0.05)
    assert float(browser.find_element("css selector", 'td[data-celsius="1"]').text) == pytest.approx(100, abs=0.05)
    wait_for(lambda: browser.execute_script("return window.panel.state.trend.length") > 3, "a trend")
    shot(browser, "hx01")


def _float(text):
    try:
        return float(text)
    except ValueError:
        return None


def test_an_re01_block_is_drawn_whole(browser, panel):
    rack_ready(panel)
    open_module(browser, panel, "RE01")
    browser.find_element("css selector", "#stream-samples").clear()
    browser.find_element("css selector", "#stream-samples").send_keys("1500")
    browser.find_element("css selector", "#stream-start").click()
    wait_for(lambda: browser.execute_script("return window.panel.blockSamples()") == 1500, "a block of 1500", 30)
    stats = browser.find_elements("css selector", "#stats tbody tr[data-stats]")
    assert [r.get_attribute("data-stats") for r in stats] == ["1", "2", "3"]
    csv = urllib.request.urlopen(f"{panel['url']}api/modules/{A['RE01']}/block.csv", timeout=10).read().decode()
    assert csv.startswith("seconds,re01.1,re01.2,re01.3\n") and len(csv.splitlines()) == 1501
    shot(browser, "re01")
    browser.find_element("css selector", "#stream-stop").click()
    wait_for(lambda: api(panel, f"/api/modules/{A['RE01']}")["stream"] is None, "the stream to stop")


def test_a_silent_module_is_marked_and_recovers(browser, panel):
    rack_ready(panel)
    browser.get(panel["url"])
    row = f'#rack tr[data-address="{A["KL02"]}"] td.state'
    # The route to it vanishes inside this namespace only.
    subprocess.run(["ip", "route", "add", "blackhole", f"{A['KL02']}/32"], check=True)
    try:
        wait_for(lambda: "silent, last seen" in text(browser, row), "KL02 marked silent")
        shot(browser, "rack-silent")
    finally:
        subprocess.run(["ip", "route", "del", "blackhole", f"{A['KL02']}/32"], check=True)
    wait_for(lambda: text(browser, row) == "answering", "KL02 back")


def text(browser, selector):
    return browser.execute_script("const e = document.querySelector(arguments[0]); return e ? e.textContent : ''",
                                  selector)


def test_two_tabs_share_one_poller(browser, panel):
    rack_ready(panel)
    address = A["QU01"]
    open_module(browser, panel, "QU01")
    first = browser.current_window_handle
    browser.switch_to.new_window("tab")
    open_module(browser, panel, "QU01")
    second = browser.current_window_handle
    before_wire, before_panel = requests_to(address), api(panel, f"/api/modules/{address}")["requests"]
    # Both tabs draw the same readings: each reading was one request.
    wait_for(lambda: len(browser.execute_script("return window.panel.renders()")) > 20, "twenty readings")
    seen_second = {r[2].get("reference") for r in browser.execute_script("return window.panel.renders()")}
    browser.switch_to.window(first)
    seen_first = {r[2].get("reference") for r in browser.execute_script("return window.panel.renders()")}
    after_wire, after_panel = requests_to(address), api(panel, f"/api/modules/{address}")["requests"]
    assert len(seen_second & seen_first) >= 15
    # What went to the module is what the one poller sent, not twice that.
    assert after_wire - before_wire == pytest.approx(after_panel - before_panel, abs=2)
    browser.switch_to.window(second)
    browser.close()
    browser.switch_to.window(first)


def test_a_recording_reads_back(browser, panel, tmp_path):
    log = pytest.importorskip("varnode.log", reason="varnode.log is not in this tree yet")
    rack_ready(panel)
    browser.get(panel["url"])
    wait_for(lambda: browser.find_elements("css selector", 'input[data-record]'), "the recording section")
    for key in (f"{A['QU01']}/1", f"{A['QU01']}/reference", f"{A['KL01']}/6"):
        browser.find_element("css selector", f'input[data-record="{key}"]').click()
    prefix = browser.find_element("css selector", "#record-prefix")
    prefix.clear()
    prefix.send_keys("e2e")
    interval = browser.find_element("css selector", "#record-interval")
    interval.clear()
    interval.send_keys("0.2")
    browser.find_element("css selector", "#record").click()
    wait_for(lambda: api(panel, "/api/recording")["rows"] >= 5, "five rows")
    wait_for(lambda: "rows" in browser.find_element("css selector", "#recording-rows").text, "rows shown")
    shot(browser, "recording")
    browser.find_element("css selector", "#record").click()
    state = wait_for(lambda: (lambda s: s if not s["recording"] else None)(api(panel, "/api/recording")), "stop")
    read = log.read(state["path"])
    ids = {m["kind"]: m["id"] for m in read.header["modules"]}
    assert read.columns == [f"{ids['KL01']}.6", f"{ids['QU01']}.1", f"{ids['QU01']}.reference"]  # as on the page
    assert len(read.index) == state["rows"] >= 5
    assert list(read.index) == sorted(read.index)
    assert set(read.values[read.columns[0]]) == {1.0}  # KL01 input 6: bit 5 of the rack's 0xA0


@pytest.mark.parametrize("kind", ["KL01", "KL02", "KS02", "QU01", "RA01", "HX02"])
def test_every_other_family_page_shows_its_module(browser, panel, kind):
    rack_ready(panel)
    open_module(browser, panel, kind)
    heading = browser.find_element("css selector", "section h2").text
    assert heading.startswith(f"{kind} {A[kind]}")
    shot(browser, kind.lower())
