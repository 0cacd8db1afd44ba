#!/usr/bin/python3
"""The hub's HTTP front under a hostile client and under load, on loopback: prints each figure.
Usage: bench_hub_front.py TAVRION_HUB [--tls] [--only NAME,...]
Figures: F1 (a client that pipelines and never reads: the hub's memory and CPU over 10 s),
F4 (512 silent connections from 8 addresses: how many of 10 tries of a well-behaved client are
answered), F5 (a flood of 2,000 connections under prlimit --nofile=1024: descriptors, CPU, another
client), F7 (a 16,384-byte head in one piece and split 2 short; a head and a 16 KiB body), request
times (median, p95; kept alive and a new connection each time), handshakes per second, event
fan-out to 100 streams, memory per connection."""
import json
import os
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

HUB = sys.argv[1]
TLS = "--tls" in sys.argv
ONLY = sys.argv[sys.argv.index("--only") + 1].split(",") if "--only" in sys.argv else None
WORK = tempfile.mkdtemp(prefix="bench-hub-front-")
CTX = ssl.create_default_context()
CTX.check_hostname = False
CTX.verify_mode = ssl.CERT_NONE


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().split(")")[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def fds(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def start(wrapper=()):
    units = os.path.join(WORK, "units.json")
    with open(units, "w") as f:
        json.dump({"units": [{"id": "x", "tcp": "127.0.0.1:1"}], "poll_seconds": 0}, f)
    args = list(wrapper) + [HUB, "--units", units, "--listen", "127.0.0.1:0", "--token-file", os.path.join(WORK, "tok")]
    if TLS:
        cert, key = os.path.join(WORK, "c.pem"), os.path.join(WORK, "k.pem")
        if not os.path.exists(cert):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                            "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1"], check=True,
                           capture_output=True)
            os.chmod(key, 0o600)
        args += ["--tls-cert", cert, "--tls-key", key]
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    while True:
        line = p.stdout.readline()
        if "listening on" in line:
            break
        if not line:
            raise RuntimeError("the hub did not start")
    port = int(line.split("127.0.0.1:")[1].split("/")[0])
    token = open(os.path.join(WORK, "tok")).read().strip()
    return p, port, token


def connect(port, source="127.0.0.1", timeout=5):
    s = socket.socket()
    s.settimeout(timeout)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)  # as browsers and curl do
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return CTX.wrap_socket(s) if TLS else s


def request(s, port, token, path="/api/units"):
    s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n\r\n" % (path, port, token)).encode())
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        if not chunk:
            return 0
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(body) < length:
        body += s.recv(65536)
    return int(head[9:12])


def served(port, token, source="127.0.0.2", timeout=3):
    try:
        s = connect(port, source, timeout)
        ok = request(s, port, token) == 200
        s.close()
        return ok
    except OSError:
        return False


def stop(p):
    p.terminate()
    try:
        p.wait(20)
    except subprocess.TimeoutExpired:
        p.kill()


def f1():
    p, port, token = start()
    before, c0 = rss_kib(p.pid), cpu_s(p.pid)
    s = connect(port)
    s.setblocking(False)
    batch = ("GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port).encode() * 200
    end, peak = time.monotonic() + 10, before
    while time.monotonic() < end and p.poll() is None:
        try:
            s.send(batch)
        except (BlockingIOError, ssl.SSLWantWriteError):
            time.sleep(0.01)
        except OSError:
            break
        peak = max(peak, rss_kib(p.pid))
    ok = p.poll() is None and served(port, token)
    print("F1 never-reading client, 10 s: hub %d -> %d KiB (peak), CPU %.1f s, other client served: %s"
          % (before, peak, cpu_s(p.pid) - c0 if p.poll() is None else -1, ok))
    s.close()
    stop(p)


def f4():
    p, port, token = start()
    held = []
    for a in range(1, 9):
        for _ in range(64):
            try:
                held.append(connect(port, "127.0.0.%d" % (10 + a)))
            except OSError:
                pass
    time.sleep(0.5)
    answered = sum(served(port, token, "127.0.0.50") for _ in range(10))
    print("F4 512 silent connections from 8 addresses: a well-behaved client answered %d of 10" % answered)
    for s in held:
        s.close()
    stop(p)


def f5():
    p, port, token = start(("prlimit", "--nofile=1024"))
    c0 = cpu_s(p.pid)
    held = []
    t0 = time.monotonic()
    for i in range(2000):
        try:
            s = socket.socket()
            s.setblocking(False)
            s.bind(("127.0.%d.%d" % (3 + i // 64 // 250, 1 + (i // 64) % 250), 0))
            s.connect_ex(("127.0.0.1", port))
            held.append(s)
        except OSError:
            break
    time.sleep(3)
    spent = cpu_s(p.pid) - c0
    held_fds = fds(p.pid)
    t = time.monotonic()
    ok = served(port, token, "127.0.9.1", 30)
    print("F5 flood of %d connections under --nofile=1024: hub holds %d descriptors, CPU %.2f s in %.1f s, "
          "another client served: %s after %.1f s" % (len(held), held_fds, spent, t - t0, ok, time.monotonic() - t))
    for s in held:
        s.close()
    stop(p)


def f7():
    p, port, token = start()
    results = []
    for split, body in ((0, 0), (2, 0), (0, 16384)):
        head = "%s /api/units HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\nContent-Length: %d\r\nX-Pad: " % (
            "POST" if body else "GET", port, token, body)
        head = head.encode() + b"p" * (16384 - len(head) - 4) + b"\r\n\r\n"
        data = head + b"x" * body
        cut = len(head) - split if split else len(data)
        s = connect(port, timeout=15)
        t = time.monotonic()
        s.sendall(data[:cut])
        time.sleep(0.05)
        s.sendall(data[cut:])
        try:
            status = s.recv(4096)[9:12].decode() or "closed"
        except OSError:
            status = "timeout"
        results.append("%s in %.0f ms" % (status, (time.monotonic() - t) * 1000))
        s.close()
    print("F7 head of 16,384 bytes whole: %s; split 2 short: %s; with a 16 KiB body: %s" % tuple(results))
    stop(p)


def times():
    p, port, token = start()
    kept, fresh = [], []
    s = connect(port)
    for _ in range(500):
        t = time.perf_counter()
        request(s, port, token)
        kept.append((time.perf_counter() - t) * 1000)
    s.close()
    for _ in range(300):
        t = time.perf_counter()
        c = connect(port)
        request(c, port, token)
        c.close()
        fresh.append((time.perf_counter() - t) * 1000)
    q = lambda v: (statistics.median(v), sorted(v)[int(len(v) * 0.95)])
    print("request time (%s): kept alive median %.2f ms, p95 %.2f ms; new connection median %.2f ms, p95 %.2f ms"
          % (("HTTPS" if TLS else "HTTP",) + q(kept) + q(fresh)))
    # Handshakes per second: new connections one after another for 5 s (the hub runs on one thread).
    n, end = 0, time.monotonic() + 5
    c0 = cpu_s(p.pid)
    while time.monotonic() < end:
        c = connect(port)
        c.close()
        n += 1
    print("%s per second: %.0f (hub CPU %.2f s in 5 s)" % ("TLS handshakes" if TLS else "TCP connections", n / 5,
                                                          cpu_s(p.pid) - c0))
    # Fan-out: 100 event streams; a change reaches all of them (the unit's link state changes as it retries).
    streams = []
    for i in range(100):
        c = connect(port, "127.0.1.%d" % (1 + i // 30))
        c.sendall(("GET /api/units/x/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n\r\n"
                   % (port, token)).encode())
        streams.append(c)
    for c in streams:  # the head and the first event
        got = b""
        while b"data:" not in got:
            got += c.recv(65536)
    import select
    before = rss_kib(p.pid)
    arrived = {}
    end = time.monotonic() + 30
    while len(arrived) < len(streams) and time.monotonic() < end:
        ready, _, _ = select.select([c for c in streams if c not in arrived], [], [], 1)
        for c in ready:
            if b"data:" in c.recv(65536):
                arrived[c] = time.monotonic()
    spread = (max(arrived.values()) - min(arrived.values())) * 1000 if arrived else -1
    print("fan-out: one event reached %d of 100 streams, first to last within %.1f ms; the hub holds %d KiB with them open"
          % (len(arrived), spread, before))
    for c in streams:
        c.close()
    # Memory per connection: 200 idle connections with a request answered on each.
    time.sleep(0.5)
    base = rss_kib(p.pid)
    held = []
    for i in range(200):
        c = connect(port, "127.0.2.%d" % (1 + i // 50))
        request(c, port, token)
        held.append(c)
    print("memory per %s connection: %.1f KiB" % ("TLS" if TLS else "plain", (rss_kib(p.pid) - base) / 200))
    for c in held:
        c.close()
    stop(p)


for name, fn in (("f1", f1), ("f4", f4), ("f5", f5), ("f7", f7), ("times", times)):
    if ONLY is None or name in ONLY:
        fn()
