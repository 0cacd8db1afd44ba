#!/usr/bin/python3
"""tavrion-hub as a site runs it, against tavrion-sim on loopback: /healthz without a token;
/metrics with a token or --metrics-open, answered at once while a unit is mid-reading, and
accepted by `promtool check metrics`; a real Prometheus server scraping it, asked through its
HTTP API for a unit's link state; READY=1 and WATCHDOG=1 on a notify socket of the test's own;
the OpenAPI document served as kept in docs/, naming every route with examples that match what
the hub answers, and passing an OpenAPI validator; a web port in use named with its reason, and
the warning for --metrics-open beyond loopback.
Usage: hub_site_test.py PROGRAM_DIR SOURCE_DIR [CASE...]   (cases: see CASES at the end)"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

SKIP = 77


def read_line_matching(proc, pattern, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = proc.stdout.readline()
        if not line:
            break
        m = re.search(pattern, line)
        if m:
            return m
    raise RuntimeError("no line matching %r" % pattern)


def drain(proc):
    """Reads the rest of proc's standard output, so that it never waits on a full pipe."""
    threading.Thread(target=lambda: [None for _ in proc.stdout], daemon=True).start()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Site:
    """One simulated unit (its MOD reply late by 0.8 s, so a full reading takes a while), a hub on it
    with --metrics-open and a notify socket, and a second hub with a unit that cannot be reached."""

    def __init__(self, program_dir, work):
        self.program_dir, self.work, self.procs = program_dir, work, []
        sim = self.start([os.path.join(program_dir, "tavrion-sim"), "--tcp", "0", "--no-stdin",
                          "--fault", "delay 800 MOD"])
        tcp = int(read_line_matching(sim, r"TCP on 127\.0\.0\.1:(\d+)", 20).group(1))
        drain(sim)
        self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.notify.bind(os.path.join(work, "notify"))
        self.notify.settimeout(10)
        self.token_file = os.path.join(work, "hub.token")
        self.port = self.hub([{"id": "room", "name": "Meeting room", "tcp": "127.0.0.1:%d" % tcp,
                              "inputs": {"1": "Lectern PC"}, "outputs": {"A": "Projector"}}], "--metrics-open",
                             env={"NOTIFY_SOCKET": os.path.join(work, "notify"), "WATCHDOG_USEC": "200000"})
        self.started = time.monotonic()
        with open(self.token_file) as f:
            self.token = f.read().strip()
        self.closed_port = self.hub([{"id": "gone", "tcp": "127.0.0.1:%d" % free_port()}], name="closed")

    def start(self, args, env=None):
        # Standard error into a file: a pipe nobody reads would stall a program that logs.
        log = open(os.path.join(self.work, "%d.log" % len(self.procs)), "w")
        proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=log, text=True,
                                env=dict(os.environ, **(env or {})))
        proc.log = log.name
        self.procs.append(proc)
        return proc

    def hub(self, units, *options, env=None, name="hub"):
        path = os.path.join(self.work, name + ".json")
        with open(path, "w") as f:
            json.dump({"units": units, "poll_seconds": 0}, f)
        proc = self.start([os.path.join(self.program_dir, "tavrion-hub"), "--units", path, "--listen", "127.0.0.1:0",
                           "--token-file", self.token_file] + list(options), env)
        port = int(read_line_matching(proc, r"127\.0\.0\.1:(\d+)/", 20).group(1))
        drain(proc)
        return port

    def ask(self, path, method="GET", body=None, token=True, port=None):
        """(status, content type, body) of one request."""
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (port or self.port, path), method=method,
                                         data=body.encode() if isinstance(body, str) else body)
        if token:
            request.add_header("Authorization", "Bearer " + self.token)
        try:
            with urllib.request.urlopen(request, timeout=20) as r:
                return r.status, r.headers.get("Content-Type", ""), r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Content-Type", ""), e.read()

    def metrics(self, port=None, token=False):
        status, _, body = self.ask("/metrics", token=token, port=port)
        assert status == 200, "/metrics answered %d" % status
        return body.decode()

    def wait_for_reading(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if value(self.metrics(), 'tavrion_unit_last_full_read_timestamp_seconds{unit="room"}') > 0:
                return
            time.sleep(0.2)
        raise AssertionError("the unit's full reading never ended")

    def close(self):
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.notify.close()


def value(text, sample):
    for line in text.splitlines():
        if line.startswith(sample + " "):
            return float(line.split()[-1])
    raise AssertionError("no sample %s in:\n%s" % (sample, text))


def case_notify(site, source_dir):
    seen = []
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and not ("READY=1" in "".join(seen) and "".join(seen).count("WATCHDOG=1") >= 3):
        seen.append(site.notify.recv(256).decode())
    text = "".join(seen)
    assert "READY=1" in text and text.count("WATCHDOG=1") >= 3, "the notify socket got %r" % seen
    assert text.index("READY=1") < text.index("WATCHDOG=1"), "a watchdog pat came before READY=1"


def case_health_and_access(site, source_dir):
    rows = [
        # (path, method, token, port, status, what)
        ("/healthz", "GET", False, site.port, 200, "health without a token"),
        ("/healthz", "HEAD", False, site.port, 200, "health by HEAD"),
        ("/healthz", "POST", False, site.port, 405, "health by POST"),
        ("/metrics", "GET", False, site.port, 200, "metrics without a token under --metrics-open"),
        ("/metrics", "GET", False, site.closed_port, 401, "metrics without a token"),
        ("/metrics", "GET", True, site.closed_port, 200, "metrics with the token"),
        ("/metrics", "POST", True, site.port, 405, "metrics by POST"),
        ("/api/openapi.json", "GET", False, site.port, 200, "the API's description without a token"),
        ("/api/units", "GET", False, site.port, 401, "the API without a token, also under --metrics-open"),
    ]
    for path, method, token, port, status, what in rows:
        got, _, body = site.ask(path, method=method, token=token, port=port, body="" if method == "POST" else None)
        assert got == status, "%s: %s %s answered %d, not %d" % (what, method, path, got, status)
    assert site.ask("/healthz", token=False)[2] == b"ok\n"


def case_metrics(site, source_dir):
    # Mid-reading (the late MOD reply holds the first reading up): answered at once.
    began = time.monotonic()
    text = site.metrics()
    took = time.monotonic() - began
    if value(text, 'tavrion_unit_last_full_read_timestamp_seconds{unit="room"}') == 0:
        assert took < 1.0, "a scrape during a reading took %.2f s" % took
    site.wait_for_reading()
    site.ask("/api/units/room/run", method="POST", body='{"commands": ["route B 3"]}')
    text = site.metrics()
    assert value(text, 'tavrion_unit_link_state{unit="room",state="up"}') == 1
    assert value(text, 'tavrion_unit_answering{unit="room"}') == 1
    assert abs(value(text, 'tavrion_unit_last_full_read_timestamp_seconds{unit="room"}') - time.time()) < 120
    answered = value(text, 'tavrion_unit_exchanges_total{unit="room",outcome="answered"}')
    assert answered >= 10, "only %d exchanges answered" % answered
    outcomes = sum(float(l.split()[-1]) for l in text.splitlines() if l.startswith('tavrion_unit_exchanges_total{unit="room"'))
    assert value(text, 'tavrion_unit_exchange_duration_seconds_count{unit="room"}') == outcomes
    # The late MOD reply lands in a bucket above half a second.
    assert value(text, 'tavrion_unit_exchange_duration_seconds_bucket{unit="room",le="0.5"}') < outcomes
    assert value(text, 'tavrion_http_requests_total{code="200"}') >= 3
    assert value(text, "tavrion_http_open_connections") >= 1
    assert value(text, 'tavrion_unit_protocol_clients{unit="room"}') == 0
    assert "tavrion_mqtt_connected" not in text, "MQTT figures without a broker"
    assert value(text, "process_resident_memory_bytes") > 1e6
    assert value(text, "process_open_fds") >= 3
    assert abs(value(text, "process_start_time_seconds") - (time.time() - (time.monotonic() - site.started))) < 30
    down = site.metrics(port=site.closed_port, token=True)
    assert value(down, 'tavrion_unit_answering{unit="gone"}') == 0
    # An event stream shows while it is open.
    with urllib.request.urlopen(urllib.request.Request("http://127.0.0.1:%d/api/units/room/events" % site.port,
                                                       headers={"Authorization": "Bearer " + site.token}), timeout=10) as s:
        s.readline()
        assert value(site.metrics(), "tavrion_http_event_streams") == 1
    promtool = shutil.which("promtool")
    if not promtool:
        print("promtool not installed: the format check is skipped")
        return
    check = subprocess.run([promtool, "check", "metrics"], input=text, capture_output=True, text=True)
    assert check.returncode == 0, "promtool check metrics: %s%s" % (check.stdout, check.stderr)


def case_prometheus(site, source_dir):
    prometheus = shutil.which("prometheus")
    if not prometheus:
        print("prometheus not installed: skipped")
        return
    site.wait_for_reading()
    storage = os.path.join(site.work, "prometheus")
    config = os.path.join(site.work, "prometheus.yml")
    with open(config, "w") as f:
        f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                "scrape_configs:\n  - job_name: tavrion-hub\n"
                "    authorization:\n      credentials_file: %s\n"
                "    static_configs:\n      - targets: ['127.0.0.1:%d']\n" % (site.token_file, site.port))
    web = free_port()
    proc = site.start([prometheus, "--config.file=" + config, "--storage.tsdb.path=" + storage,
                       "--web.listen-address=127.0.0.1:%d" % web])
    query = "http://127.0.0.1:%d/api/v1/query?query=%s" % (
        web, urllib.request.quote('tavrion_unit_link_state{unit="room",state="up"}'))
    deadline = time.monotonic() + 60
    last = None
    while time.monotonic() < deadline:
        try:
            with urllib.request.urlopen(query, timeout=5) as r:
                last = json.load(r)
            result = last["data"]["result"]
            if result and result[0]["value"][1] == "1":
                assert result[0]["metric"]["job"] == "tavrion-hub"
                return
        except (OSError, ValueError):
            pass
        time.sleep(0.5)
    with open(proc.log) as f:
        raise AssertionError("Prometheus never saw the unit up: %s\n%s" % (last, f.read()[-2000:]))


def shape(v):
    """The JSON value's structure: keys of objects, the kind of everything else."""
    if isinstance(v, dict):
        return {k: shape(x) for k, x in v.items()}
    if isinstance(v, list):
        return [shape(v[0])] if v else []
    if v is None:
        return None
    return {bool: "bool", int: "number", float: "number", str: "string"}[type(v)]


def same_shape(example, real, where):
    """Every key of the example is in the real answer with the same kind, and the other way round."""
    if isinstance(example, dict) and isinstance(real, dict):
        missing = set(example) ^ set(real)
        assert not missing, "%s: keys %s differ between the example and the hub" % (where, sorted(missing))
        for k in example:
            if example[k] is not None and real[k] is not None:
                same_shape(example[k], real[k], where + "." + k)
    elif isinstance(example, list) and isinstance(real, list):
        if example and real:
            same_shape(example[0], real[0], where + "[0]")
    else:
        assert example == real, "%s: the example has %r where the hub answers %r" % (where, example, real)


# Every route the hub answers, each answer the document shows, and a request that gets it:
# (method, route as documented, path asked, body, status).
EXCHANGES = [
    ("get", "/healthz", "/healthz", None, 200),
    ("get", "/metrics", "/metrics", None, 200),
    ("get", "/api/openapi.json", "/api/openapi.json", None, 200),
    ("get", "/", "/", None, 200),
    ("get", "/api/units", "/api/units", None, 200),
    ("get", "/api/units/{id}", "/api/units/room", None, 200),
    ("get", "/api/units/{id}", "/api/units/nowhere", None, 404),
    ("post", "/api/units/{id}/run", "/api/units/room/run", '{"commands": ["route B 3"]}', 200),
    ("post", "/api/units/{id}/run", "/api/units/room/run", '{"commands": ["route Z 3"]}', 400),
    ("post", "/api/units/{id}/run", "/api/units/room/run", '{"commands": ["lock on"], "if_version": 0}', 409),
    ("post", "/api/units/{id}/restore", "/api/units/room/restore", "[]", 400),
    ("get", "/api/units/{id}/events", "/api/units/room/events", None, 200),
    ("get", "/api/audit", "/api/audit?unit=room&limit=5", None, 200),
    ("get", "/api/audit", "/api/audit?since=yesterday", None, 400),
]


def case_openapi(site, source_dir):
    with open(os.path.join(source_dir, "docs", "openapi.json")) as f:
        doc = json.load(f)
    status, kind, served = site.ask("/api/openapi.json", token=False)
    assert status == 200 and kind.startswith("application/json") and json.loads(served) == doc, \
        "the hub does not serve docs/openapi.json as it is"
    documented = {(m, p) for p, item in doc["paths"].items() for m in item if m in ("get", "post", "put", "delete", "head")}
    asked = {(m, p) for m, p, _, _, _ in EXCHANGES}
    assert documented == asked, "routes documented but not answered: %s; answered but not documented: %s" % (
        sorted(documented - asked), sorted(asked - documented))
    site.wait_for_reading()
    for method, route, path, body, want in EXCHANGES:
        responses = doc["paths"][route][method]["responses"]
        assert str(want) in responses, "%s %s: answer %d is not documented" % (method, route, want)
        if route.endswith("/events"):
            continue  # an open-ended stream: its first event is the unit document, checked above
        got, kind, real = site.ask(path, method=method.upper(), body=body)
        assert got == want, "%s %s answered %d, not %d: %s" % (method, path, got, want, real[:200])
        content = responses[str(want)].get("content", {})
        media = kind.split(";")[0]
        assert media in content, "%s %s %d: %s is not documented" % (method, route, want, media)
        example = content[media].get("example")
        assert example is not None, "%s %s %d has no example" % (method, route, want)
        if route == "/api/openapi.json":
            assert set(example) == set(json.loads(real)), "the document's own example names other keys"
        elif media == "application/json":
            same_shape(shape(example), shape(json.loads(real)), "%s %s %d" % (method, route, want))
        elif route == "/metrics":
            names = lambda t: {l.split("{")[0].split()[0] for l in t.splitlines() if l and not l.startswith("#")}
            assert names(example) <= names(real.decode()), "/metrics: the example names %s" % (names(example) - names(real.decode()))
        elif route == "/healthz":
            assert example == real.decode()
    # A path of no route is refused, as the document's default answer says.
    assert site.ask("/api/nothing")[0] == 404 and site.ask("/nothing")[0] == 404
    validator = os.path.join(source_dir, ".deps", "npm", "node_modules", ".bin", "redocly")
    if not os.path.exists(validator):
        print("@redocly/cli not installed (tools/install-deps.sh): the validation is skipped")
        return
    check = subprocess.run([validator, "lint", "--format=stylish", os.path.join(source_dir, "docs", "openapi.json")],
                           capture_output=True, text=True, env=dict(os.environ, REDOCLY_TELEMETRY="off"))
    assert check.returncode == 0, "redocly lint: %s%s" % (check.stdout, check.stderr)


def case_bad_listen(site, source_dir):
    # (listen address, options, what standard error must say): the web port's reason, and the
    # warning for --metrics-open on an address other than loopback (192.0.2.1 is documentation's
    # own, held by no machine: the hub cannot bind it, so nothing listens beyond loopback).
    rows = [
        ("127.0.0.1:%d" % site.port, [], r"cannot listen on 127\.0\.0\.1:%d: .*in use" % site.port),
        ("192.0.2.1:0", ["--metrics-open"], r"warning http: --metrics-open with --listen 192\.0\.2\.1:0: the metrics are open"),
        ("192.0.2.1:0", [], r"cannot listen on 192\.0\.2\.1:0: \S"),
    ]
    for listen, options, pattern in rows:
        hub = subprocess.run([os.path.join(site.program_dir, "tavrion-hub"), "--units", os.path.join(site.work, "closed.json"),
                              "--listen", listen, "--token-file", site.token_file] + options,
                             capture_output=True, text=True, timeout=30)
        assert hub.returncode == 3, "a hub on %s ended with %d" % (listen, hub.returncode)
        assert re.search(pattern, hub.stderr), "%s %s: %s" % (listen, options, hub.stderr)
    loopback = subprocess.run([os.path.join(site.program_dir, "tavrion-hub"), "--units", os.path.join(site.work, "closed.json"),
                               "--listen", "127.0.0.1:%d" % site.port, "--token-file", site.token_file, "--metrics-open"],
                              capture_output=True, text=True, timeout=30)
    assert "warning" not in loopback.stderr, "a warning for --metrics-open on loopback: " + loopback.stderr


CASES = {"notify": case_notify, "access": case_health_and_access, "metrics": case_metrics,
         "openapi": case_openapi, "listen": case_bad_listen, "prometheus": case_prometheus}


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    program_dir, source_dir = sys.argv[1], sys.argv[2]
    chosen = sys.argv[3:] or list(CASES)
    work = tempfile.mkdtemp(prefix="tavrion-hub-site-")
    failures = []
    site = Site(program_dir, work)
    try:
        for name in chosen:
            try:
                CASES[name](site, source_dir)
                print("PASS %s" % name)
            except AssertionError as e:
                failures.append(name)
                import traceback
                print("FAIL %s: %s\n%s" % (name, e, traceback.format_exc(limit=-1)))
    finally:
        site.close()
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
