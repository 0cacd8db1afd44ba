#!/usr/bin/python3
"""The hub's audit trail under load, on loopback, against tavrion-sim: prints each figure.
Usage: bench_hub_audit.py TAVRION_HUB TAVRION_SIM [--without OTHER_HUB] [--runs N]
A: 600 changes from four sources at once (190 API runs, 190 lines of a protocol client, 190 MQTT
runs on a Mosquitto broker of its own, 30 front-panel changes made on the simulator that the
hub's one-second poll finds), then whether the audit file holds every one, each source's in the
order it sent them, and the file's growth per change.
B: a route through the API (POST /api/units/room/run, "route A N", one connection kept alive),
N runs (default 400): median and p95, with the audit; and with OTHER_HUB (a tavrion-hub built
without the audit trail) when given; two rounds, alternated."""
import http.client
import json
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

HUB, SIM = sys.argv[1], sys.argv[2]
WITHOUT = sys.argv[sys.argv.index("--without") + 1] if "--without" in sys.argv else None
RUNS = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 400
BROKER = "/usr/sbin/mosquitto"
WORK = tempfile.mkdtemp(prefix="bench-hub-audit-")
PER_SOURCE = 190
FRONT_PANEL = 30


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on %d" % port)


def start_sim():
    tcp, control = free_port(), free_port()
    p = subprocess.Popen([SIM, "--tcp", "127.0.0.1:%d" % tcp, "--control-port", str(control), "--no-stdin"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(tcp)
    wait_port(control)
    return p, tcp, control


def start_broker():
    port = free_port()
    conf = os.path.join(WORK, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n" % port)
    p = subprocess.Popen([BROKER, "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_port(port)
    return p, port


def start_hub(program, sim_port, poll, broker=None, name="hub"):
    folder = os.path.join(WORK, name)
    os.makedirs(folder, exist_ok=True)
    units = {"units": [{"id": "room", "tcp": "127.0.0.1:%d" % sim_port, "protocol_listen": "127.0.0.1:0"}],
             "poll_seconds": poll}
    if broker:
        units["mqtt"] = {"url": "mqtt://127.0.0.1:%d" % broker, "discovery_prefix": "none"}
    path = os.path.join(folder, "units.json")
    with open(path, "w") as f:
        json.dump(units, f)
    p = subprocess.Popen([program, "--units", path, "--listen", "127.0.0.1:0", "--token-file", os.path.join(folder, "tok")],
                         stdout=subprocess.PIPE, stderr=open(os.path.join(folder, "log"), "w"), text=True)
    protocol = 0
    while True:
        line = p.stdout.readline()
        if "the device protocol on" in line:
            protocol = int(line.rsplit(":", 1)[1])
        if "listening on" in line:
            break
        if not line:
            raise RuntimeError("the hub did not start")
    port = int(line.split("127.0.0.1:")[1].split("/")[0])
    token = open(os.path.join(folder, "tok")).read().strip()
    api = Api(port, token)
    end = time.time() + 20
    while api.get("/api/units/room").get("power") != "on":
        if time.time() > end:
            raise RuntimeError("the unit never came up")
        time.sleep(0.1)
    return p, api, protocol, folder


def stop(p):
    p.terminate()
    try:
        p.wait(30)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()


class Api:
    def __init__(self, port, token):
        self.port, self.token = port, token
        self.conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)

    def ask(self, method, path, body=None):
        headers = {"Authorization": "Bearer " + self.token, "Host": "127.0.0.1:%d" % self.port}
        if body is not None:
            headers["Content-Type"] = "application/json"
        self.conn.request(method, path, body=body, headers=headers)
        r = self.conn.getresponse()
        return r.status, json.loads(r.read() or b"{}")

    def get(self, path):
        return self.ask("GET", path)[1]

    def run(self, *commands):
        return self.ask("POST", "/api/units/room/run", json.dumps({"commands": list(commands)}))[0]


class Mqtt:
    """MQTT 3.1.1 over a plain socket: enough to publish runs and read their results."""

    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port), 10)
        cid = b"bench-audit"
        self.send(0x10, b"\x00\x04MQTT\x04\x02\x00\x3c" + struct.pack("!H", len(cid)) + cid)
        self.packet()  # CONNACK
        topic = b"tavrion/room/result"
        self.send(0x82, b"\x00\x01" + struct.pack("!H", len(topic)) + topic + b"\x00")
        self.packet()  # SUBACK

    def send(self, kind, body):
        n, length = len(body), b""
        while True:
            byte, n = n % 128, n // 128
            length += bytes([byte | (0x80 if n else 0)])
            if not n:
                break
        self.s.sendall(bytes([kind]) + length + body)

    def read(self, n):
        data = b""
        while len(data) < n:
            chunk = self.s.recv(n - len(data))
            if not chunk:
                raise RuntimeError("the broker closed the connection")
            data += chunk
        return data

    def packet(self):
        kind = self.read(1)[0]
        length, shift = 0, 0
        while True:
            b = self.read(1)[0]
            length += (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                break
        return kind, self.read(length)

    def publish(self, topic, payload):
        t = topic.encode()
        self.send(0x30, struct.pack("!H", len(t)) + t + payload)

    def result(self, request_id):
        while True:
            kind, body = self.packet()
            if kind & 0xF0 != 0x30:
                continue
            n = struct.unpack("!H", body[:2])[0]
            answer = json.loads(body[2 + n:])
            if answer.get("id") == request_id:
                return answer.get("status")


def control(port, line):
    with socket.create_connection(("127.0.0.1", port), 5) as s:
        s.sendall(line.encode() + b"\n")
        s.settimeout(2)
        try:
            s.recv(4096)
        except OSError:
            pass


def part_a():
    sim, sim_port, control_port = start_sim()
    broker, broker_port = start_broker()
    hub, api, protocol, folder = start_hub(HUB, sim_port, 1, broker_port, "a")
    audit = os.path.join(folder, "tavrion-hub-audit.jsonl")
    before = os.path.getsize(audit) if os.path.exists(audit) else 0
    lines_before = open(audit).read().count("\n") if before else 0
    sent = {"api": [], "port": [], "mqtt": [], "device": []}
    failures = []

    def from_api():
        a = Api(api.port, api.token)
        for i in range(PER_SOURCE):
            verb = "picture contrast all %d" % (i % 101)
            sent["api"].append(verb)
            if a.run(verb) != 200:
                failures.append("api " + verb)

    def from_port():
        s = socket.create_connection(("127.0.0.1", protocol), 10)
        for i in range(PER_SOURCE):
            line = "BRI%03d" % (i % 101)
            sent["port"].append(line)
            s.sendall(line.encode() + b"\r")
            reply = b""
            while not reply.endswith(b"\r"):
                reply += s.recv(64)
            if not reply.startswith(b"BRI"):
                failures.append("port %s: %r" % (line, reply))
        s.close()

    def from_mqtt():
        m = Mqtt(broker_port)
        for i in range(PER_SOURCE):
            verb = "picture hue all %d" % (i % 101)
            sent["mqtt"].append(verb)
            m.publish("tavrion/room/run", json.dumps({"id": i, "commands": [verb]}).encode())
            if m.result(i) != 200:
                failures.append("mqtt " + verb)

    def from_front_panel():
        a = Api(api.port, api.token)
        for i in range(FRONT_PANEL):
            on = i % 2 == 0
            sent["device"].append("lock: %s -> %s" % ("off" if on else "on", "on" if on else "off"))
            control(control_port, "set lock %d" % (1 if on else 0))
            end = time.time() + 10
            while a.get("/api/units/room").get("lock") != ("on" if on else "off"):
                if time.time() > end:
                    failures.append("front panel %d: never seen" % i)
                    break
                time.sleep(0.05)

    threads = [threading.Thread(target=f) for f in (from_api, from_port, from_mqtt, from_front_panel)]
    start = time.time()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    took = time.time() - start
    time.sleep(0.5)  # the last entry of the poll follows its document
    with open(audit) as f:
        entries = [json.loads(line) for line in f.read().splitlines()[lines_before:]]
    size = os.path.getsize(audit) - before
    stop(hub)
    stop(broker)
    stop(sim)
    found = {k: [] for k in sent}
    for e in entries:
        found.setdefault(e["via"], []).append("; ".join(c["what"] for c in e["commands"]))
    in_order = all(entries[i]["time"] <= entries[i + 1]["time"] for i in range(len(entries) - 1))
    print("A. 600 changes from four sources at once: %.1f s; failures: %d%s" % (took, len(failures),
          (" (" + ", ".join(failures[:5]) + ")") if failures else ""))
    for via in ("api", "port", "mqtt", "device"):
        print("   %-6s sent %3d, entries %3d, the same and in order: %s" % (via, len(sent[via]), len(found[via]),
              "yes" if found[via] == sent[via] else "NO"))
        if found[via] != sent[via]:
            extra = [w for w in found[via] if w not in sent[via]][:5]
            print("          first entries not sent: %s" % extra)
    print("   entries in the file's order are in time order: %s" % ("yes" if in_order else "NO"))
    print("   the file grew %d bytes for %d entries: %.0f bytes a change" % (size, len(entries), size / max(1, len(entries))))


def route_times(program, name):
    sim, sim_port, _ = start_sim()
    hub, api, _, folder = start_hub(program, sim_port, 0, None, name)
    for i in range(20):  # warm up
        api.run("route A %d" % (i % 4 + 1))
    times = []
    for i in range(RUNS):
        t = time.perf_counter()
        status = api.run("route A %d" % (i % 4 + 1))
        times.append((time.perf_counter() - t) * 1000)
        assert status == 200, status
    stop(hub)
    stop(sim)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.95)]


def part_b():
    print("B. POST run \"route A N\", %d runs, one connection kept alive:" % RUNS)
    rows = [("with the audit", HUB)] + ([("without the audit (--without)", WITHOUT)] if WITHOUT else [])
    # Alternated, so that a change in the machine's load falls on both.
    for round in (1, 2):
        for label, program in rows:
            median, p95 = route_times(program, label.split()[0])
            print("   %-32s round %d: median %.2f ms, p95 %.2f ms" % (label, round, median, p95))


if __name__ == "__main__":
    try:
        part_a()
        part_b()
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
