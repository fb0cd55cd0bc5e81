#!/usr/bin/env python3
"""Turns scripts/bench-packing's raw results into the Markdown tables README shows."""
import json
import re
import sys


def medians(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    return {r["run_name"]: r for r in runs if r.get("aggregate_name") == "median"}


def split(name):
    # kind/rate-layout/idxN/frames:F[/path]
    parts = name.split("/")
    return parts[0], parts[1], parts[2], int(parts[3].split(":")[1]), (parts[4] if len(parts) > 4 else "")


def throughput(path):
    runs = medians(path)
    memcpy = {}
    for name, r in runs.items():
        kind, case, index, frames, _ = split(name)
        if kind == "memcpy":
            memcpy[(case, index)] = r["bytes_per_second"]
    print("| stream | size | frames per half | packet bytes | path | packing GB/s | memcpy GB/s | packing/memcpy |")
    print("|---|---|---|---|---|---|---|---|")
    for name, r in runs.items():
        kind, case, index, frames, route = split(name)
        if kind != "pack":
            continue
        base = memcpy[(case, index)]
        print(f"| {case} | {index} | {frames} | {int(r['packet_bytes'])} | {route} | "
              f"{r['bytes_per_second'] / 1e9:.2f} | {base / 1e9:.2f} | "
              f"{r['bytes_per_second'] / base:.2f} |")


def stores(cached_path, streaming_path):
    cached, streaming = medians(cached_path), medians(streaming_path)
    print("| stream | size | packet bytes | path | tick, cached stores (us) | tick, streaming stores (us) | streaming/cached |")
    print("|---|---|---|---|---|---|---|")
    for name, r in cached.items():
        _, case, index, _, route = split(name)
        s = streaming[name]
        a = r["real_time"] / 1e3 if r["time_unit"] == "ns" else r["real_time"]
        b = s["real_time"] / 1e3 if s["time_unit"] == "ns" else s["real_time"]
        print(f"| {case} | {index} | {int(r['packet_bytes'])} | {route} | {a:.2f} | {b:.2f} | {b / a:.2f} |")


def callgrind(path):
    print("| stream | path | instructions per frame |")
    print("|---|---|---|")
    for line in open(path):
        name, total = line.split()
        _, case, _, frames, route = split(name)
        print(f"| {case} | {route} | {int(total) / frames:.2f} |")


if __name__ == "__main__":
    {"throughput": throughput, "stores": stores, "callgrind": callgrind}[sys.argv[1]](*sys.argv[2:])
