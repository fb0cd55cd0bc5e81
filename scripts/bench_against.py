#!/usr/bin/env python3
"""Tick-to-packet latency of this tree's driver and an earlier commit's, side
by side in one run, each beside the bare baseline: the three alternate run by
run, at the smallest buffer, through this tree's sink; medians of the runs.
   scripts/bench_against.py OTHER_BENCH_HOST [TICKS] [RUNS]
scripts/bench-against COMMIT builds the other one and calls this."""
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stream_bench as sb  # noqa: E402

other = sys.argv[1]
hosts = {"head": sb.HOST, "other": other}
ticks = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
reps = int(sys.argv[3]) if len(sys.argv) > 3 else 3
label = os.environ.get("TAVRO_AGAINST", "other")
print(f"ticks {ticks} per stream, {reps} alternating runs each, medians")
print(f"| stream | wire | this median | p99 | {label} median | p99 | bare median | p99 | this/bare median | {label}/bare median | this/bare p99 | {label}/bare p99 |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|")
for name, rate, word in sb.LATENCY_ROWS:
    for wire in sb.WIRES:
        sb.HOST = hosts["head"]
        sb.announcement(wire, rate, word, 0)
        got = {"head": [], "other": [], "bare": []}
        for _ in range(reps):
            for who in ("head", "other", "bare"):
                if who != "bare":
                    sb.HOST = hosts[who]
                fields, _ = sb.run(wire, rate, word, 0, ticks=ticks, bare=(who == "bare"))
                if fields:
                    got[who].append(fields)
        if not all(got.values()):
            print(f"| {name} | {wire} | no result |"); continue
        med = lambda who, k: statistics.median(int(f[k]) for f in got[who])
        m = {w: (med(w, "latency-median-us"), med(w, "latency-p99-us")) for w in got}
        b = m["bare"]
        print(f"| {name} | {wire} | {m['head'][0]:g} | {m['head'][1]:g} | {m['other'][0]:g} | {m['other'][1]:g} | {b[0]:g} | {b[1]:g} | "
              f"{m['head'][0]/max(b[0],1):.2f} | {m['other'][0]/max(b[0],1):.2f} | {m['head'][1]/max(b[1],1):.2f} | {m['other'][1]/max(b[1],1):.2f} |", flush=True)
