#!/usr/bin/env python3
"""The Wireshark dissector against traffic the rack recorded.

A scripted session of the varnode tool runs against the virtual rack with
--pcap; tshark then decodes the capture with tools/wireshark/dcp.lua, and the
decoded fields are compared with what the session did and with the bytes
read straight from the pcap file. A second capture of truncated and random
datagrams must decode with expert warnings and no Lua error.

Exit 77 (skipped) when tshark is missing.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
PORT = 30000

# The default rack: kind, last octet (198.18.0.x) and serial number.
RACK = {"KL01": (11, 1048833), "KL02": (12, 1049090), "KS01": (13, 1049347), "KS02": (14, 1049604),
        "QU01": (15, 1049861), "RA01": (16, 1050118), "RE01": (17, 1050375), "WE01": (18, 1050632),
        "HX01": (19, 1050889), "HX02": (20, 1051146)}


def address(kind):
    return "198.18.0.%d" % RACK[kind][0]


def read_pcap(path):
    """Frames as (number, source, source port, destination, destination port, DCP bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    magic, = struct.unpack_from("<I", data, 0)
    assert magic == 0xA1B2C3D4, "pcap magic %08x" % magic
    linktype, = struct.unpack_from("<I", data, 20)
    assert linktype == 101, "link type %d" % linktype
    at, number, frames = 24, 0, []
    while at < len(data):
        _, _, captured, _ = struct.unpack_from("<IIII", data, at)
        packet = data[at + 16:at + 16 + captured]
        at += 16 + captured
        number += 1
        source = ".".join(str(b) for b in packet[12:16])
        destination = ".".join(str(b) for b in packet[16:20])
        sport, dport, length = struct.unpack_from(">HHH", packet, 20)
        assert length == len(packet) - 20, "UDP length of frame %d" % number
        frames.append((number, source, sport, destination, dport, packet[28:]))
    return frames


def write_pcap(path, datagrams):
    """Raw IPv4 packets around (source, sport, destination, dport, payload)."""
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))
        for i, (source, sport, destination, dport, payload) in enumerate(datagrams):
            udp = struct.pack(">HHHH", sport, dport, 8 + len(payload), 0) + payload
            ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), i, 0, 64, 17, 0,
                             bytes(int(x) for x in source.split(".")),
                             bytes(int(x) for x in destination.split(".")))
            packet = ip + udp
            f.write(struct.pack("<IIII", 1700000000 + i, 0, len(packet), len(packet)))
            f.write(packet)


FIELDS = ["frame.number", "dcp.direction", "dcp.command", "dcp.tid", "dcp.request_in", "dcp.reply_in",
          "dcp.serial", "dcp.chunk.offset", "dcp.hx01.sensor", "dcp.refusal", "dcp.hx02.sensor",
          "dcp.counter.count", "dcp.malformed", "dcp.fault", "dcp.identity.layout", "dcp.ip"]


def decode(tshark, lua, capture):
    command = [tshark, "-2", "-n", "-X", "lua_script:" + lua, "-r", capture, "-Y", "dcp", "-T", "fields",
               "-E", "separator=\t", "-E", "occurrence=a", "-E", "aggregator=|"]
    for field in FIELDS:
        command += ["-e", field]
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise AssertionError("tshark failed: " + result.stderr)
    rows = {}
    for line in result.stdout.splitlines():
        values = line.split("\t")
        row = dict(zip(FIELDS, values + [""] * (len(FIELDS) - len(values))))
        rows[int(row["frame.number"])] = row
    return rows, result.stderr


def verbose(tshark, lua, capture):
    result = subprocess.run([tshark, "-2", "-n", "-X", "lua_script:" + lua, "-r", capture, "-V"],
                            capture_output=True, text=True, check=False)
    return result.returncode, result.stdout + result.stderr


class Checks:
    def __init__(self):
        self.failures = []

    def equal(self, what, got, expected):
        if got != expected:
            self.failures.append("%s: got %r, expected %r" % (what, got, expected))

    def true(self, what, condition):
        if not condition:
            self.failures.append(what)


def session(args, workdir):
    """Runs the scripted session; returns the capture's path."""
    capture = os.path.join(workdir, "session.pcap")
    tool = args.tool
    steps = [
        "find",
        "info " + address("KL02"),
        "status " + address("HX01"),
        "kl01 direction %s 1=1 2=1" % address("KL01"),
        "kl01 write %s 1=1 2=0" % address("KL01"),
        "kl01 write %s 8=1" % address("KL01"),  # an input: refused (configuration)
        "kl01 read %s 1 2 6 8" % address("KL01"),
        "ks01 write %s 1=on 3=on" % address("KS01"),
        "ks01 measure %s 1 3" % address("KS01"),
        "qu01 enable %s 1 2" % address("QU01"),
        "qu01 read %s 1 2" % address("QU01"),
        "re01 measure %s 1 2 -n 1000 -f 1000" % address("RE01"),
        "we01 set %s 1=2.5 2=-1" % address("WE01"),
        "hx01 sensor %s 1=K 2=J" % address("HX01"),
        "hx01 measure %s 1 2" % address("HX01"),
        "hx02 measure %s 1" % address("HX02"),
        "reset " + address("KS02"),
    ]
    script = "; ".join("%s %s >/dev/null 2>&1" % (tool, step) for step in steps)
    result = subprocess.run([args.sim, "--netns", "--name", "wire-%d" % os.getpid(), "--stream-speed", "50",
                             "--pcap", capture, "--trace", "--exec", script + "; true"],
                            capture_output=True, text=True, timeout=300, check=False)
    if result.returncode != 0:
        raise AssertionError("rack session failed (%d): %s" % (result.returncode, result.stderr))
    trace = [line for line in result.stderr.splitlines() if " in  " in line or " out " in line]
    return capture, trace


def check_session(args, workdir, checks):
    capture, trace = session(args, workdir)
    frames = read_pcap(capture)
    # The trace has the same datagrams, one line each, in the same order.
    checks.equal("trace lines", len(trace), len(frames))
    for line, frame in zip(trace, frames):
        tid = "id %08X" % struct.unpack_from(">I", frame[5], 4)[0]
        checks.true("trace line %r does not name %s" % (line, tid), tid in line)
    checks.true("trace shows the sensor codes", any("HX01 set sensor" in t and "codes 8,7" in t for t in trace))
    rows, stderr = decode(args.tshark, args.lua, capture)
    checks.true("tshark complained: " + stderr, "Lua" not in stderr)
    checks.equal("every frame decoded", sorted(rows), [f[0] for f in frames])

    by_number = {f[0]: f for f in frames}
    requests = {}
    for number, source, sport, destination, dport, dcp in frames:
        row = rows[number]
        code, length, tid = struct.unpack_from(">HHI", dcp, 0)
        checks.equal("frame %d id" % number, int(row["dcp.tid"], 16), tid)
        checks.equal("frame %d direction" % number, row["dcp.direction"],
                     "request" if dport == PORT else "reply")
        checks.equal("frame %d is well formed" % number, (row["dcp.malformed"], row["dcp.fault"]), ("", ""))
        if dport == PORT:
            requests[number] = (source, sport, tid)
            if row["dcp.reply_in"]:
                reply = by_number.get(int(row["dcp.reply_in"]), (0, "", 0, "none", 0, bytes(8)))
                checks.equal("frame %d: its reply answers it" % number,
                             (reply[3], reply[4], struct.unpack_from(">I", reply[5], 4)[0]), (source, sport, tid))
        else:
            checks.true("reply %d is matched" % number, row["dcp.request_in"] != "")
            if row["dcp.request_in"]:
                asked = requests.get(int(row["dcp.request_in"]))
                checks.equal("reply %d answers the request it names" % number, asked, (destination, dport, tid))

    def rows_named(name):
        return [rows[n] for n in sorted(rows) if rows[n]["dcp.command"] == name]

    # Command names of the session, each present.
    for name in ["identity", "status", "KL01 set direction", "KL01 write", "KL01 read", "KL01 levels",
                 "KS01 write", "KS01 measure", "KS01 values", "QU01 enable", "QU01 read", "QU01 counts",
                 "RE01 measure", "RE01 chunk", "WE01 control", "HX01 set sensor", "HX01 measure", "HX01 readings",
                 "HX02 measure", "HX02 readings", "reset", "acknowledged", "KL01 refused (configuration)"]:
        checks.true("no frame decoded as %r" % name, rows_named(name))

    # The broadcast and every identity reply's serial number.
    broadcast = [f for f in frames if f[3] == "255.255.255.255"]
    checks.equal("one broadcast", len(broadcast), 1)
    serials = {}
    for row in rows_named("identity"):
        frame = by_number[int(row["frame.number"])]
        if frame[2] == PORT:
            serials.setdefault(frame[1], set()).add(int(row["dcp.serial"]))
    checks.equal("identity serial numbers", serials,
                 {address(kind): {serial} for kind, (_, serial) in RACK.items()})
    find_replies = [r for r in rows.values() if broadcast and r["dcp.request_in"] == str(broadcast[0][0])]
    checks.equal("replies matched to the broadcast", len(find_replies), len(RACK))

    # Stream chunks: offsets as sent, covering the whole measurement.
    offsets = []
    for row in rows_named("RE01 chunk"):
        dcp = by_number[int(row["frame.number"])][5]
        checks.equal("chunk offset", int(row["dcp.chunk.offset"]), struct.unpack_from(">I", dcp, 8)[0])
        offsets.append((int(row["dcp.chunk.offset"]), len(dcp) - 12))
    covered = 0
    for offset, length in sorted(offsets):
        checks.equal("chunks follow on", offset, covered)
        covered = offset + length
    checks.equal("bytes streamed", covered, 2 * 1000 * 4)

    # Sensor codes: K (8) and J (7) set, then reported by the readings.
    checks.equal("HX01 set sensor codes", [r["dcp.hx01.sensor"] for r in rows_named("HX01 set sensor")], ["8|7"])
    checks.equal("HX01 reported codes", [r["dcp.hx01.sensor"] for r in rows_named("HX01 readings")], ["8|7"])
    checks.equal("HX02 reported code", [r["dcp.hx02.sensor"] for r in rows_named("HX02 readings")], ["2"])
    checks.equal("refusal named", [r["dcp.refusal"] for r in rows_named("KL01 refused (configuration)")],
                 ["configuration"])
    checks.equal("two counts", [len(r["dcp.counter.count"].split("|")) for r in rows_named("QU01 counts")], [2])


def check_hostile(args, workdir, checks):
    capture = os.path.join(workdir, "hostile.pcap")
    rng = random.Random(20261208)
    client, module = "198.18.0.1", "198.18.0.11"

    def request(payload):
        return (client, 40000, module, PORT, payload)

    def reply(payload):
        return (module, PORT, client, 40000, payload)

    def header(code, length, tid):
        return struct.pack(">HHI", code, length, tid)

    malformed = [
        request(b"\x00\x05\x00"),
        request(header(0x0005, 4, 1)),                               # length past the end
        request(header(0x0301, 1, 2)),                               # read without its mask
        reply(header(0x0006, 5, 3) + b"\x04\x09\x00\x00\x00"),       # element runs past the end
        reply(header(0x0006, 6, 4) + b"\x04\x04\x00\x00\x00\x00"),   # serial 0
        reply(header(0x0008, 4, 5) + b"\x07\x02\x00\x00"),           # status: no name, short value
        reply(header(0x0901, 2, 6) + b"\x00\x01"),                   # chunk shorter than its offset
        reply(header(0x0901, 7, 7) + b"\x00\x00\x00\x02\x01\x02\x03"),  # chunk not whole samples
        reply(header(0x0201, 5, 8) + b"\x02\x00\x00\x00\x00"),       # HX02 readings of a wrong size
        reply(header(0x0601, 3, 9) + b"\x00\x00\x00"),               # HX01 readings without cold junction
        reply(header(0x0703, 9, 10) + bytes(9)),                     # counts: not whole
        reply(header(0x0001, 1, 11) + b"\x00"),                      # acknowledgement with a payload
        request(header(0x0009, 30, 12) + bytes(4) + b"\x01\x09" + bytes(24)),  # configure element too long
    ]
    noise = []
    for i in range(300):
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 64)))
        if rng.random() < 0.6 and len(data) >= 8:
            # A plausible header over random bytes reaches the payload decoders.
            code = rng.choice([0x0001, 0x0006, 0x0008, 0x0009, 0x0300, 0x0301, 0x0304, 0x0102, 0x0703, 0x0705,
                               0x0400, 0x0401, 0x0901, 0x0800, 0x0601, 0x0609, 0x0201, 0x0209, 0x0405, 0x0BFF])
            data = header(code, len(data) - 8 if rng.random() < 0.8 else rng.randrange(65536),
                          rng.randrange(1 << 32)) + data[8:]
        noise.append(request(data) if rng.random() < 0.5 else reply(data))
    # A well-formed identity in the legacy numbering (highest tag 21): the
    # module's address is tag 17 there, not 18.
    def element(tag, value):
        return bytes([tag, len(value)]) + value
    legacy = (element(1, b"a") + element(2, b"b") + element(3, b"c") + element(4, struct.pack(">I", 777)) +
              element(16, bytes(6)) + element(17, bytes([10, 0, 0, 5])) + element(21, b"name"))
    write_pcap(capture, malformed + noise + [reply(header(0x0006, len(legacy), 13) + legacy)])

    status, text = verbose(args.tshark, args.lua, capture)
    checks.equal("tshark exit status on hostile input", status, 0)
    for marker in ["Lua Error", "Lua: Error", "Dissector fault", "attempt to", "stack traceback"]:
        checks.true("%r in the decoded hostile capture" % marker, marker not in text)
    rows, _ = decode(args.tshark, args.lua, capture)
    checks.equal("every hostile frame decoded", len(rows), len(malformed) + len(noise) + 1)
    last = rows[len(malformed) + len(noise) + 1]
    checks.equal("legacy identity", (last["dcp.identity.layout"], last["dcp.serial"], last["dcp.ip"],
                                     last["dcp.malformed"]), ("legacy", "777", "10.0.0.5", ""))
    for number in range(1, len(malformed) + 1):
        checks.true("malformed frame %d is not marked malformed: %r" % (number, rows[number]),
                    rows[number]["dcp.malformed"] != "")
    checks.equal("dissector faults", [r["dcp.fault"] for r in rows.values() if r["dcp.fault"]], [])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--lua", required=True)
    parser.add_argument("--tshark", default=shutil.which("tshark"))
    args = parser.parse_args()
    if not args.tshark:
        print("skipped: tshark is not installed (Debian package tshark)")
        return SKIP
    checks = Checks()
    with tempfile.TemporaryDirectory() as workdir:
        check_hostile(args, workdir, checks)
        check_session(args, workdir, checks)
    for failure in checks.failures:
        print("FAIL:", failure)
    if checks.failures:
        return 1
    print("dissector: session and hostile captures decoded as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
