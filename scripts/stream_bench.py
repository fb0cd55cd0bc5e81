#!/usr/bin/env python3
"""Stream benchmarks: tick-to-packet latency beside the bare baseline,
capacity (late and missing packets) and CPU per second of audio. Every run is
a tavro-sink process measuring a host process (the driver in tavro-bench-host,
or tavro-bare), each stream on a loopback address of its own."""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = "build/native"
SINK = f"{BUILD}/tools/tavro-sink"
HOST = f"{BUILD}/bench/tavro-bench-host"
BARE = f"{BUILD}/bench/tavro-bare"

PCM_RATES = [44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000, 705600, 768000]
DSD_RATES = [2822400, 5644800, 11289600, 22579200]
LATENCY_ROWS = [  # name, rate, word length
    ("44k1-16", 44100, 16),
    ("192k-24", 192000, 24),
    ("768k-32", 768000, 32),
    ("dsd512", 22579200, 24),
]
WIRES = ["tcp", "udp", "rio"]
_address = [0]


def next_address():
    # A block of loopback addresses of this run's own, apart from the tests'.
    _address[0] += 1
    block = 160 + os.getpid() % 80
    return f"127.{block}.{_address[0] // 250 % 250}.{_address[0] % 250 + 1}"


def summary(text):
    line = next((l for l in text.splitlines() if l.startswith("summary:")), None)
    if line is None:
        return None
    fields = dict(f.split("=", 1) for f in line.split()[1:] if "=" in f)
    return fields


def run(wire, rate, word, index, ticks=0, bare=False, seconds=0.0):
    """One stream; returns (sink summary fields, host line, announcement)."""
    address = next_address()
    sink_cmd = [SINK, "--address", address, "--once", "--buffer-index", str(index),
                "--word-length", str(word), "--transport", "1" if wire == "tcp" else "2"]
    if ticks and bare:
        sink_cmd += ["--ticks", str(ticks)]
    sink = subprocess.Popen(sink_cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(0.2)
    limit = (seconds or 0) + 60 + ticks * 0.002
    host_out = ""
    if bare:
        announce = announcement(wire, rate, word, index)
        host = subprocess.run([BARE, "--address", address, "--wire", wire, "--announce", announce],
                              capture_output=True, text=True, timeout=limit)
    else:
        cmd = [HOST, "--address", address, "--wire", wire, "--rate", str(rate),
               "--seconds", str(seconds or 3600)]
        if ticks:
            cmd += ["--halves", str(ticks + 1)]
        host = subprocess.run(cmd, capture_output=True, text=True, timeout=limit)
    host_out = host.stdout + host.stderr
    try:
        out, _ = sink.communicate(timeout=15)
    except subprocess.TimeoutExpired:
        sink.kill()
        out, _ = sink.communicate()
    fields = summary(out)
    match = re.search(r"received announcement: (\+ SampleRate[^\n]*)", out)
    if match and not bare:
        _announcements[(wire, rate, word, index)] = match.group(1).strip()
    if fields is None:
        sys.stderr.write(f"no summary for {wire} {rate} {word} idx{index} bare={bare}:\n{out}\n{host_out}\n")
    return fields, host_out


_announcements = {}


def announcement(wire, rate, word, index):
    # The bare baseline announces exactly what the driver announced.
    key = (wire, rate, word, index)
    if key not in _announcements:
        run(wire, rate, word, index, ticks=20)
    return _announcements[key]


def latency(ticks, repetitions, streams=None):
    print(f"Tick-to-packet latency (us), {ticks} ticks per stream, smallest buffer (index 0); "
          f"medians of {repetitions} alternating runs of the driver and the bare baseline")
    print()
    print("| stream | wire | packet bytes | driver median | p99 | p99.9 | max | baseline median "
          "| p99 | p99.9 | max | median ratio | p99 ratio | driver late/missing | baseline late/missing |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for name, rate, word in LATENCY_ROWS:
        if streams and name not in streams:
            continue
        for wire in WIRES:
            announcement(wire, rate, word, 0)
            got = {"driver": [], "bare": []}
            for _ in range(repetitions):
                for who in ("driver", "bare"):
                    fields, _ = run(wire, rate, word, 0, ticks=ticks, bare=(who == "bare"))
                    if fields:
                        got[who].append(fields)
            if not got["driver"] or not got["bare"]:
                print(f"| {name} | {wire} | - | no result |")
                continue

            def med(who, key):
                return statistics.median(int(f[key]) for f in got[who])

            keys = ["latency-median-us", "latency-p99-us", "latency-p999-us", "latency-max-us"]
            d = [med("driver", k) for k in keys]
            b = [med("bare", k) for k in keys]
            packet = int(got["driver"][0]["bytes"]) // max(1, int(got["driver"][0]["packets"]))
            def lost(who):
                # Summed over the runs: how often each side missed its deadline.
                return (f'{sum(int(f["late"]) for f in got[who])}/'
                        f'{sum(int(f["missing"]) for f in got[who])}')

            transport = got["driver"][0]["transport"]
            print(f"| {name} | {transport} | {packet} | " + " | ".join(f"{v:g}" for v in d) + " | " +
                  " | ".join(f"{v:g}" for v in b) +
                  f" | {d[0] / max(b[0], 1):.2f} | {d[1] / max(b[1], 1):.2f} | {lost('driver')} | {lost('bare')} |",
                  flush=True)
    print()


def capacity(seconds):
    print(f"Capacity: {seconds:g} s per stream, the sink pacing in real time; late packets "
          "(last byte after the next tick was due) / missing packets")
    print()
    print("| rate | word | " + " | ".join(f"{w} idx{i}" for w in ("tcp", "udp") for i in (0, 9)) + " |")
    print("|---|---|" + "---|" * 4)
    for rate in PCM_RATES + DSD_RATES:
        word = 24
        cells = []
        for wire in ("tcp", "udp"):
            for index in (0, 9):
                fields, _ = run(wire, rate, word, index, seconds=seconds)
                cells.append("-" if not fields else
                             f"{fields['late']}/{fields['missing']} of {fields['ticks']}")
        label = f"DSD{rate // 44100}" if rate >= 2822400 else str(rate)
        print(f"| {label} | {word} | " + " | ".join(cells) + " |", flush=True)
    print()


def cpu(seconds, repetitions):
    print(f"CPU of the host process (user+system seconds per second of audio), smallest buffer, "
          f"{seconds:g} s streams, median of {repetitions}")
    print()
    print("| stream | tcp | udp | rio |")
    print("|---|---|---|---|")
    for name, rate, word in (("192k-24", 192000, 24), ("dsd512", 22579200, 24)):
        cells = []
        for wire in WIRES:
            values = []
            for _ in range(repetitions):
                _, host = run(wire, rate, word, 0, seconds=seconds)
                m = re.search(r"cpu-per-audio-s=([0-9.]+)", host)
                if m:
                    values.append(float(m.group(1)))
            cells.append(f"{statistics.median(values):.4f}" if values else "-")
        print(f"| {name} | " + " | ".join(cells) + " |", flush=True)
    print()


def syscalls(seconds):
    """System calls per tick on the streaming thread, from strace."""
    print("System calls per tick on the streaming thread (strace -f), 192 kHz/24-bit, index 0")
    print()
    print("| wire | ticks | calls per tick | calls |")
    print("|---|---|---|---|")
    for wire in WIRES:
        address = next_address()
        sink = subprocess.Popen([SINK, "--address", address, "--once", "--buffer-index", "0",
                                 "--word-length", "24", "--transport",
                                 "1" if wire == "tcp" else "2"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        time.sleep(0.2)
        with tempfile.TemporaryDirectory() as tmp:
            trace = os.path.join(tmp, "trace")
            subprocess.run(["strace", "-f", "-qq", "-o", trace, HOST, "--address", address,
                            "--wire", wire, "--rate", "192000", "--seconds", str(seconds)],
                           capture_output=True, text=True, timeout=seconds + 60)
            out, _ = sink.communicate(timeout=15)
            fields = summary(out) or {}
            per_thread = {}
            for line in open(trace):
                m = re.match(r"(\d+)\s+([a-z_0-9]+)\(", line)
                if m:
                    per_thread.setdefault(m.group(1), []).append(m.group(2))
        # The streaming thread is the one that receives the ticks.
        receives = ("recvfrom", "recv", "recvmsg", "read", "io_uring_enter")
        thread = max(per_thread.values(),
                     key=lambda calls: sum(1 for c in calls if c in receives))
        ticks = int(fields.get("ticks", "0")) or 1
        counts = {}
        for c in thread:
            counts[c] = counts.get(c, 0) + 1
        busiest = ", ".join(f"{n} {c}" for c, n in sorted(counts.items(), key=lambda x: -x[1])[:6])
        print(f"| {fields.get('transport', wire)} | {ticks} | {len(thread) / ticks:.2f} | {busiest} |",
              flush=True)
    print()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--long", action="store_true",
                        help="the README figures: 20000 ticks, 60 s capacity streams")
    parser.add_argument("--only", choices=["latency", "capacity", "cpu", "syscalls"])
    parser.add_argument("--ticks", type=int, help="ticks per latency stream")
    parser.add_argument("--stream", choices=[row[0] for row in LATENCY_ROWS], action="append",
                        help="latency rows to run (all when not given)")
    parser.add_argument("--repetitions", type=int, help="runs of each row")
    parser.add_argument("--capacity-seconds", type=float)
    parser.add_argument("--cpu-seconds", type=float)
    args = parser.parse_args()
    ticks, reps, cap, cpu_s = (20000, 3, 60.0, 20.0) if args.long else (2000, 3, 2.0, 3.0)
    ticks = args.ticks or ticks
    reps = args.repetitions or reps
    cap = args.capacity_seconds or cap
    cpu_s = args.cpu_seconds or cpu_s
    os.environ.setdefault("TAVRO_REGISTRY_DIR", tempfile.mkdtemp(prefix="tavro-bench-reg-"))
    os.environ.setdefault("TAVRO_DESKTOP_LOG", os.path.join(os.environ["TAVRO_REGISTRY_DIR"], "desktop.log"))
    with open("/proc/cpuinfo") as f:
        model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "?")
    print(f"Measured {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())} on \"{model}\", "
          f"{os.cpu_count()} processors, native build")
    print()
    if args.only in (None, "latency"):
        latency(ticks, reps, args.stream)
    if args.only in (None, "capacity"):
        capacity(cap)
    if args.only in (None, "cpu"):
        cpu(cpu_s, reps)
    if args.only in (None, "syscalls"):
        syscalls(3.0)


if __name__ == "__main__":
    main()
