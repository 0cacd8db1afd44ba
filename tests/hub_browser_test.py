#!/usr/bin/python3
"""tavrion-hub's page in a real browser (headless Chromium at a phone's 412 x 915) against two
units played by tavrion-sim: a change in one window shows in another within a second, each control
sends what the user chose and no more, refused values snap back, focus stays where the user left
it, standby and a lost link grey the page, and axe-core finds nothing serious in any of those
states. With --screenshots DIR it also saves each state as a phone shows it; with --https the hub
serves HTTPS with a certificate the test makes with openssl.
Usage: hub_browser_test.py PROGRAM_DIR [AXE_JS] [--screenshots DIR] [--https]"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
PHONE = (412, 915)


def read_line_matching(proc, pattern, timeout):
    """The first line of proc's standard output that matches, within timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = proc.stdout.readline()
        if not line:
            break
        m = re.search(pattern, line)
        if m:
            return m
    raise RuntimeError("no line matching %r" % pattern)


class Sim:
    """tavrion-sim's control port: faults, and its state as text."""

    def __init__(self, port):
        self.port = port

    def say(self, line):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(line.encode() + b"\n")
            text = b""
            while not re.search(rb"(^|\n)(ok|error[^\n]*)\n", text):
                chunk = s.recv(4096)
                if not chunk:
                    break
                text += chunk
        return text.decode()

    def routes(self):
        m = re.search(r"routes A\.\.D (\d) (\d) (\d) (\d)", self.say("status"))
        return [int(x) for x in m.groups()] if m else None

    def brightness(self):
        m = re.search(r"BRI (\d+)", self.say("status"))
        return int(m.group(1)) if m else None


def browser(https=False):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    if https:
        # The test's own self-signed certificate, which no browser trusts.
        options.add_argument("--ignore-certificate-errors")
    options.binary_location = shutil.which("chromium")
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=600,1000"):
        options.add_argument(a)
    d = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
    # Headless windows are at least 500 pixels wide: the phone's screen is emulated.
    d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                      {"width": PHONE[0], "height": PHONE[1], "deviceScaleFactor": 1, "mobile": True})
    return d


# Records what the page asks the hub to run, in order.
RECORD_SENT = """
if (!window.sent) {
  window.sent = [];
  const f = window.fetch;
  window.fetch = (url, o) => {
    if (o && o.method === "POST") window.sent.push(JSON.parse(o.body).commands.join("; "));
    return f(url, o);
  };
}
window.sent.length = 0;
if (!window.clicks) {
  window.clicks = [];
  for (const kind of ["pointerdown", "click"])
    document.addEventListener(kind, e => window.clicks.push(kind + " " + (e.target.id || e.target.tagName)
      + (e.target.disabled ? " (disabled)" : "") + " at " + Math.round(performance.now())), true);
  addEventListener("error", e => window.clicks.push("error " + e.message));
  addEventListener("unhandledrejection", e => window.clicks.push("rejected " + e.reason));
}"""

# What a page holds, printed when a wait runs out: enough to tell a tap that missed from one the
# page or the hub dropped.
PAGE_STATE = """
const q = s => document.querySelector(s);
return JSON.stringify({version: doc && doc.version, link: doc && doc.link, routes: doc && doc.routes, hubDownSince, signedOut,
  stale: q('#unit').classList.contains('stale'), inflight: inflight && inflight.command,
  queued: queue.map(j => j.command), sent: window.sent, clicks: (window.clicks || []).slice(-8),
  message: q('#message').textContent, details: q('#details').textContent,
  disabled: [...document.querySelectorAll('#routing button:disabled')].map(b => b.id).slice(0, 4),
  at: Math.round(performance.now())});"""

# The contrast of each visible disabled control's text against its own background, by WCAG's
# formula; the ones under 4.5:1.
CONTRAST_OF_DISABLED = """
const lum = c => {
  const [r, g, b] = c.match(/[\\d.]+/g).slice(0, 3).map(Number).map(v => v / 255)
    .map(v => v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4));
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
};
const low = [];
for (const e of document.querySelectorAll("button:disabled, select:disabled")) {
  if (e.offsetParent === null) continue;
  const s = getComputedStyle(e);
  const [a, b] = [lum(s.color), lum(s.backgroundColor)];
  const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  if (ratio < 4.5) low.push(e.id + " " + ratio.toFixed(2));
}
return low;"""


def main():
    args = [a for a in sys.argv[1:]]
    shots = None
    if "--screenshots" in args:
        i = args.index("--screenshots")
        shots = args[i + 1]
        del args[i:i + 2]
    https = "--https" in args
    if https:
        args.remove("--https")
        if not shutil.which("openssl"):
            print("SKIP: openssl is not installed")
            return SKIP
    scheme = "https" if https else "http"
    program_dir = args[0]
    axe_path = args[1] if len(args) > 1 else os.path.join(os.path.dirname(__file__), "..", ".deps", "npm",
                                                          "node_modules", "axe-core", "axe.min.js")
    if not shutil.which("chromium") or not shutil.which("chromedriver"):
        print("SKIP: chromium and chromium-driver are not installed (tools/install-deps.sh installs them)")
        return SKIP
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("SKIP: python3-selenium is not installed (tools/install-deps.sh installs it)")
        return SKIP
    if not os.path.isfile(axe_path):
        print("FAIL: axe-core is missing at %s (tools/install-deps.sh installs it)" % axe_path)
        return 1
    with open(axe_path) as f:
        axe_source = f.read()
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait

    work = tempfile.mkdtemp(prefix="tavrion-hub-browser-")
    procs, drivers = [], []
    failures = []
    try:
        # Two devices, one per unit: units that shared one device would each see the other's
        # output selection between their OUT and INP exchanges.
        def start_sim(*link):
            proc = subprocess.Popen([os.path.join(program_dir, "tavrion-sim"), "--control-port", "0", "--no-stdin"] + list(link),
                                    stdout=subprocess.PIPE, text=True)
            procs.append(proc)
            return proc

        sim_proc = start_sim("--tcp", "0")
        tcp_port = int(read_line_matching(sim_proc, r"TCP on 127\.0\.0\.1:(\d+)", 20).group(1))
        sim = Sim(int(read_line_matching(sim_proc, r"control on 127\.0\.0\.1:(\d+)", 20).group(1)))
        sim.say("set restart-ms 800")
        desk_proc = start_sim("--serial", os.path.join(work, "serial", "COM1"))
        desk_sim = Sim(int(read_line_matching(desk_proc, r"control on 127\.0\.0\.1:(\d+)", 20).group(1)))
        # The test names a unit with markup in it; the README's picture shows a plain name.
        desk_name = "Desk" if shots else "Desk <b>2</b>"
        cam_name = "Camera" if shots else "<i>Cam</i>"
        # The room names its inputs and outputs; one name holds markup, shown as text.
        units = {"units": [{"id": "room", "name": "Meeting room", "tcp": "127.0.0.1:%d" % tcp_port,
                            "inputs": {"1": "Lectern PC", "2": cam_name}, "outputs": {"A": "Projector"}},
                           {"id": "desk", "name": desk_name, "serial": os.path.join(work, "serial", "COM1")}],
                 "poll_seconds": 0}
        with open(os.path.join(work, "units.json"), "w") as f:
            json.dump(units, f)
        token_file = os.path.join(work, "hub.token")
        tls = []
        if https:
            cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                            "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                            "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
            os.chmod(key, 0o600)
            tls = ["--tls-cert", cert, "--tls-key", key]
        # Named sign-ins beside the token file's administrator: their tokens from the address printed once.
        def add_sign_in(name, role):
            out = subprocess.run([os.path.join(program_dir, "tavrion-hub"), "user", "add", name, "--role", role,
                                  "--token-file", token_file], check=True, capture_output=True, text=True).stdout
            return re.search(r"\?token=([0-9a-f]{64})", out).group(1)
        sign_ins = {"viewer": add_sign_in("reception", "viewer"), "operator": add_sign_in("tech", "operator")}
        hub = subprocess.Popen([os.path.join(program_dir, "tavrion-hub"), "--units", os.path.join(work, "units.json"),
                                "--listen", "127.0.0.1:0", "--token-file", token_file] + tls,
                               stdout=subprocess.PIPE, text=True)
        procs.append(hub)
        port = int(read_line_matching(hub, r"127\.0\.0\.1:(\d+)/", 20).group(1))
        with open(token_file) as f:
            token = f.read().strip()

        def wait(d, what, seconds=10):
            try:
                return WebDriverWait(d, seconds, 0.05).until(lambda d: d.execute_script("return " + what))
            except Exception:
                for name, page in (("one", one), ("two", two)):
                    try:
                        print("state of window %s: %s" % (name, page.execute_script(PAGE_STATE)))
                    except Exception as e:
                        print("state of window %s unknown: %s" % (name, e))
                print("simulator: " + sim.say("status").replace("\n", " | "))
                raise

        def ready(d, unit, who=None):
            d.get("%s://127.0.0.1:%d/?token=%s#%s" % (scheme, port, who or token, unit))
            # The unit has reported its routes and the page is live.
            wait(d, "!!document.querySelector(\"#routing button[data-output='B'][aria-pressed='true']\") "
                    "&& !document.getElementById('unit').classList.contains('stale')", 30)
            d.execute_script(RECORD_SENT)

        def sent(d):
            return d.execute_script("return window.sent.slice()")

        def settled(d):
            return wait(d, "!document.querySelector('.pending')", 20)

        def notice(d):
            return d.execute_script("return document.getElementById('message').textContent")

        one = two = None
        one, two = browser(https), browser(https)
        drivers += [one, two]
        ready(one, "room")
        ready(two, "room")

        def check(name, ok, detail=""):
            print(("ok   " if ok else "FAIL ") + name + ((": " + detail) if detail else ""))
            if not ok:
                failures.append(name)

        def axe(d, state):
            d.execute_script(axe_source)
            found = d.execute_async_script("""
                const done = arguments[arguments.length - 1];
                axe.run(document, {resultTypes: ["violations"]}).then(r => done(r.violations
                  .filter(v => v.impact === "serious" || v.impact === "critical")
                  .map(v => v.id + " (" + v.impact + "): " + v.nodes.map(n => n.target.join(" ")).slice(0, 3).join(", "))));""")
            check("axe-core finds nothing serious in " + state, not found, "; ".join(found))
            # axe-core leaves disabled controls out; their text is held to 4.5:1 all the same.
            low = d.execute_script(CONTRAST_OF_DISABLED)
            check("disabled controls keep 4.5:1 in " + state, not low, "; ".join(low))
            if shots:
                d.save_screenshot(os.path.join(shots, "hub-" + state.replace(" ", "-") + ".png"))

        # A name from the units file is shown as the text it is, never as markup.
        check("a unit's name is plain text", desk_name in one.find_element(By.ID, "unit-desk").text)

        # ---- the room's names, the lists' placeholder, rows that fit, the address's #unit ----------
        b1 = one.find_element(By.ID, "route-B-1").text
        b2 = one.find_element(By.ID, "route-B-2").text
        check("route buttons carry the inputs' names, as text", b1.split() == ["1", "Lectern", "PC"] and b2.replace("\n", "") == "2" + cam_name,
              "%r %r" % (b1, b2))
        check("the output's row carries its name", "Projector" in one.find_element(By.ID, "name-A").text,
              one.find_element(By.ID, "name-A").text)
        check("the page names who is signed in", one.find_element(By.ID, "who").text == "Signed in as admin (admin)",
              one.find_element(By.ID, "who").text)
        placeholder = one.execute_script("const o = document.getElementById('resolution').options[0]; "
                                         "return [o.disabled, o.hidden, document.getElementById('edid').options[0].disabled]")
        check("'not reported' is a placeholder, hidden while the unit reports a value", placeholder == [True, True, True],
              repr(placeholder))
        wrapped = one.execute_script("""return [...document.querySelectorAll('#picture .row')].filter(r => !r.hidden).filter(r => {
            const tops = [...r.children].map(c => c.getBoundingClientRect()); return tops.some(t => t.top >= tops[0].bottom);
          }).map(r => r.dataset.row)""")
        check("no picture row wraps its value under its label at 412 px", not wrapped, repr(wrapped))
        one.execute_script("location.hash = '#desk'")
        wait(one, "document.getElementById('h-state').textContent.startsWith('Desk')", 30)
        one.back()
        wait(one, "document.getElementById('h-state').textContent === 'Meeting room' "
                  "&& !document.getElementById('unit').classList.contains('stale')", 30)
        check("the address's #unit and Back switch the unit", True)
        one.execute_script(RECORD_SENT)

        # ---- roles: a viewer and an operator see only what they may use --------------------------
        three = browser(https)
        drivers.append(three)
        VISIBLE = """return Object.fromEntries(['recall-row', 'save-row', 'picture-reset-row', 'menu-section']
            .map(id => [id, !document.getElementById(id).hidden]).concat([['route', !document.getElementById('route-B-1').disabled],
            ['edid', !document.getElementById('edid').disabled], ['read', !document.getElementById('read-now').disabled]]))"""
        expected = {"viewer": {"recall-row": False, "save-row": False, "picture-reset-row": False, "menu-section": False,
                               "route": False, "edid": False, "read": True},
                    "operator": {"recall-row": True, "save-row": False, "picture-reset-row": False, "menu-section": False,
                                 "route": True, "edid": False, "read": True}}
        for role, name in (("viewer", "reception"), ("operator", "tech")):
            ready(three, "room", sign_ins[role])
            wait(three, "document.getElementById('who').textContent.includes('%s')" % name)
            shown_controls = three.execute_script(VISIBLE)
            check("the %s sees only the controls it may use" % role, shown_controls == expected[role], repr(shown_controls))
            if shots:
                three.save_screenshot(os.path.join(shots, "hub-%s.png" % role))
        # Removed while its page is open: the page says it is signed out.
        subprocess.run([os.path.join(program_dir, "tavrion-hub"), "user", "remove", "tech", "--token-file", token_file],
                       check=True, capture_output=True)
        wait(three, "signedOut === true", 20)
        check("a removed sign-in's open page is signed out", "Not signed in" in notice(three), notice(three))

        # ---- live: a route made in one window shows in the other within a second --------------
        def timed_click(i):
            two.execute_script("""
                window.seenAt = null;
                const check = () => {
                    const b = document.getElementById("route-B-%d");
                    if (window.seenAt === null && b.getAttribute("aria-pressed") === "true" && !b.classList.contains("pending"))
                        window.seenAt = Date.now();
                };
                new MutationObserver(check).observe(document.body, {subtree: true, childList: true, attributes: true});""" % i)
            # Timed from the click as the page gets it, not from WebDriver's emulated tap.
            one.execute_script("document.getElementById('route-B-%d').addEventListener('click', "
                               "() => { window.clickedAt = Date.now(); }, {once: true})" % i)
            one.find_element(By.ID, "route-B-%d" % i).click()
            seen_at = WebDriverWait(two, 15, 0.05).until(lambda d: d.execute_script("return window.seenAt"))
            clicked = one.execute_script("return window.clickedAt")
            settled(one)
            return seen_at - clicked

        # On a machine loaded by other work one attempt may miss the second; three are allowed.
        times = []
        for attempt in range(3):
            if attempt:
                timed_click(1)
            times.append(timed_click(3))
            if times[-1] <= 1000:
                break
        check("the second window shows the route within 1 s", times[-1] <= 1000, "%s ms" % times)
        check("the simulator holds B = 3", (sim.routes() or [0, 0])[1] == 3, str(sim.routes()))
        two.execute_script("window.heard = []; new MutationObserver(() => window.heard.push("
                           "document.getElementById('others').textContent)).observe("
                           "document.getElementById('others'), {childList: true, characterData: true, subtree: true});")
        one.execute_script(RECORD_SENT)
        one.find_element(By.ID, "route-C-1").click()
        try:
            wait(two, "window.heard.length > 0")
        except Exception:
            pass
        heard = two.execute_script("return window.heard")
        check("a change made elsewhere is announced once", len(heard) == 1 and "C" in heard[0] and "input 1" in heard[0],
              "%r; sent %r" % (heard, sent(one)))
        settled(one)
        axe(one, "matrix")
        if shots:  # the README's picture: both units linked
            one.save_screenshot(os.path.join(shots, "hub-phone.png"))

        # ---- a slider moved by a held key sends one value, not one per step -------------------
        one.execute_script(RECORD_SENT)
        start = sim.brightness()
        bright = one.find_element(By.ID, "ctl-pic-brightness-all")
        bright.send_keys(Keys.ARROW_RIGHT * 10)
        wait(one, "window.sent.length > 0", 5)
        settled(one)
        time.sleep(0.3)
        check("a held key on a slider sends one value", sent(one) == ["picture brightness all %d" % (start + 10)],
              repr(sent(one)))
        check("the simulator holds that value", sim.brightness() == start + 10, str(sim.brightness()))

        # ---- an event during a drag neither ends the drag nor sends: the release sends once ----
        from selenium.webdriver.common.action_chains import ActionChains
        one.execute_script(RECORD_SENT)
        contrast = one.find_element(By.ID, "ctl-pic-contrast-all")
        one.execute_script("arguments[0].scrollIntoView({block: 'center'})", contrast)
        ActionChains(one).click_and_hold(contrast).move_by_offset(-60, 0).perform()
        version = one.execute_script("return doc.version")
        # The notice stands over the page's foot, as a user would, the button is scrolled into view.
        d1 = two.find_element(By.ID, "route-D-1")
        two.execute_script("arguments[0].scrollIntoView({block: 'center'})", d1)
        d1.click()
        wait(one, "doc.version > %d" % version)
        ActionChains(one).move_by_offset(20, 0).release().perform()
        settled(one)
        dragged = int(contrast.get_attribute("value"))
        status = sim.say("status")
        check("a drag sends once, on release, whatever arrives meanwhile",
              sent(one) == ["picture contrast all %d" % dragged] and re.search(r"CON %d " % dragged, status) is not None,
              "%r, slider at %d" % (sent(one), dragged))

        # ---- a route tapped while a command runs is sent after it, in order --------------------
        one.execute_script(RECORD_SENT)
        sim.say("delay 700 LCK once")
        top = lambda: one.execute_script("return document.getElementById('route-B-2').getBoundingClientRect().top + window.scrollY")
        before_top = top()
        one.find_element(By.ID, "lock-on").click()
        time.sleep(0.02)
        one.find_element(By.ID, "route-B-2").click()
        pending = one.find_element(By.ID, "route-B-2").get_attribute("class")
        settled(one)
        check("a route tapped during a running command is sent",
              sent(one) == ["lock on", "route B 2"] and (sim.routes() or [0, 0])[1] == 2,
              "%r, simulator %r; %s" % (sent(one), sim.routes(), notice(one)))
        check("it shows as on its way meanwhile", "pending" in pending, pending)
        check("nothing moved under the finger", top() == before_top, "%s -> %s" % (before_top, top()))
        one.find_element(By.ID, "lock-off").click()
        settled(one)

        # ---- Dual: a refused list value snaps back, with the reason in plain words -------------
        one.find_element(By.ID, "mode-dual").click()
        settled(one)
        wait(one, "document.querySelector('#name-A .output-key').textContent === 'AL'")
        axe(one, "dual")
        one.execute_script(RECORD_SENT)
        res = one.find_element(By.ID, "resolution")
        before = res.get_attribute("value")
        # Arrow keys on the closed list step through it: nothing is sent until Enter.
        res.send_keys(Keys.ARROW_UP)
        res.send_keys(Keys.ARROW_UP)
        res.send_keys(Keys.ARROW_UP)
        time.sleep(1.0)
        check("arrow steps on the resolution list send nothing", sent(one) == [], repr(sent(one)))
        res.send_keys(Keys.ESCAPE)
        Select(res).select_by_value("5")  # a choice, as from the list's picker
        settled(one)
        snapped = res.get_attribute("value")
        check("a refused resolution snaps back to the unit's", snapped == before, "%s, was %s" % (snapped, before))
        check("the message says why, in plain words", "resolution 5" in notice(one) and "Matrix mode only" in notice(one),
              notice(one))
        # A refusal by the unit itself: the button returns to the unit's value, the reason is plain.
        sim.say("err 001 LCK once")
        one.find_element(By.ID, "lock-on").click()
        settled(one)
        check("a refused button snaps back", one.find_element(By.ID, "lock-off").get_attribute("aria-pressed") == "true"
              and "The unit refused Panel lock on" in notice(one) and "ERR001" in one.find_element(By.ID, "details").text,
              notice(one))
        cut = one.execute_script("const n = document.getElementById('notice'), d = document.getElementById('details'); "
                                 "return [n.scrollHeight - n.clientHeight, d.getBoundingClientRect().bottom - n.getBoundingClientRect().bottom]")
        check("the notice shows its Details line whole", cut[0] <= 0 and cut[1] <= 0, repr(cut))
        one.find_element(By.ID, "route-A-2").click()  # a command that works: the error is gone
        settled(one)
        check("the error clears once a command works", "refused" not in notice(one), notice(one))

        # ---- TV Wall -----------------------------------------------------------------------------
        one.find_element(By.ID, "mode-tv-wall").click()
        settled(one)
        wait(one, "!document.getElementById('bezel-section').hidden")
        check("bezel H goes up to the unit's maximum", one.find_element(By.ID, "ctl-bezel-h").get_attribute("max") == "120",
              one.find_element(By.ID, "ctl-bezel-h").get_attribute("max"))
        axe(one, "tv wall")
        if shots:  # the lower half: picture, bezel and the menu keys unfolded
            one.execute_script("document.getElementById('menu-section').open = true; window.scrollTo(0, document.body.scrollHeight)")
            one.save_screenshot(os.path.join(shots, "hub-tv-wall-lower.png"))
            one.execute_script("document.getElementById('menu-section').open = false; window.scrollTo(0, 0)")
        one.execute_script(RECORD_SENT)
        one.find_element(By.ID, "read-now").click()
        wait(one, "document.getElementById('message').textContent.includes('done')")
        check("Read now reads the whole unit", sent(one) == ["status"], repr(sent(one)))
        # A mute the unit reports by itself shows, and is announced.
        sim.say("unsolicited AUD000")
        wait(one, "document.getElementById('sound-off').getAttribute('aria-pressed') === 'true'")
        check("a mute the unit reported shows as sound off",
              "Sound off" in one.execute_script("return document.getElementById('others').textContent"))
        one.find_element(By.ID, "mode-matrix").click()
        settled(one)

        # ---- focus stays on a unit button across events and the list's refresh ----------------
        one.execute_script("document.getElementById('unit-room').focus()")
        two.find_element(By.ID, "route-D-2").click()
        time.sleep(6)  # the unit list is read again every 5 s
        check("the focused unit button keeps focus", one.execute_script("return document.activeElement.id") == "unit-room",
              one.execute_script("return document.activeElement.id || document.activeElement.tagName"))

        # ---- standby: two taps; the page greys what the unit refuses, and gives focus back -----
        one.execute_script("document.getElementById('route-B-1').focus()")
        two.find_element(By.ID, "power-standby").click()
        armed = two.execute_script("return document.getElementById('message').textContent")
        check("Standby asks for a second tap", "again" in armed and sim.say("status").startswith("power on"), armed)
        two.find_element(By.ID, "power-standby").click()
        wait(one, "document.getElementById('route-B-1').disabled && document.getElementById('lock-on').disabled", 15)
        check("standby disables what the unit refuses",
              one.execute_script("return !document.getElementById('power-on').disabled && "
                                 "document.getElementById('sound-on').disabled && document.getElementById('mode-dual').disabled"))
        axe(one, "standby")
        one.find_element(By.ID, "power-on").click()
        check("while it powers on, the notice says so", "being switched on" in notice(one), notice(one))
        wait(one, "!document.getElementById('route-B-1').disabled", 30)
        settled(one)
        one.execute_script("document.getElementById('route-B-1').focus()")  # the tap on Power moved it
        two.find_element(By.ID, "power-standby").click()
        two.find_element(By.ID, "power-standby").click()
        wait(one, "document.getElementById('route-B-1').disabled", 15)
        two.find_element(By.ID, "power-on").click()
        wait(one, "!document.getElementById('route-B-1').disabled", 30)
        check("focus comes back to the route button after power-on",
              one.execute_script("return document.activeElement.id") == "route-B-1",
              one.execute_script("return document.activeElement.id || document.activeElement.tagName"))

        # ---- link down: values greyed, controls off, the notice says since when ----------------
        one.find_element(By.ID, "unit-desk").click()
        wait(one, "document.getElementById('h-state').textContent.startsWith('Desk') "
                  "&& !document.getElementById('unit').classList.contains('stale')", 30)
        desk_sim.say("vanish")
        wait(one, "document.getElementById('unit').classList.contains('stale')", 15)
        check("a lost link disables the controls",
              one.execute_script("return document.getElementById('route-A-1').disabled") and "since" in notice(one),
              notice(one))
        axe(one, "link down")
        # The hub gone: the page says since when, and nothing looks live.
        hub.terminate()
        hub.wait(20)
        wait(one, "document.getElementById('message').textContent.startsWith('The hub cannot be reached since')", 15)
        check("with the hub gone, no unit says linked",
              "linked" not in one.find_element(By.ID, "units").text, one.find_element(By.ID, "units").text)
        if shots:
            one.save_screenshot(os.path.join(shots, "hub-gone.png"))
        if failures:
            print("FAIL: " + ", ".join(failures))
            return 1
        print("all checks passed; the second window showed B = 3 %d ms after the click" % times[-1])
        return 0
    finally:
        for d in drivers:
            try:
                d.quit()
            except Exception:
                pass
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(20)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
