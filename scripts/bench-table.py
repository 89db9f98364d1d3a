#!/usr/bin/env python3
"""Markdown table of the comparison rows (cmp/<row>/<side>/<threads>) of a
Google Benchmark JSON file: wall milliseconds per call for each side at one
thread and at its default threading, and the ratio of ours at the default
threading to the peer's best of its two columns (below 1: we are faster)."""
import json
import sys


def main(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    rows = {}
    order = []
    for b in runs:
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            continue
        parts = b["name"].split("/")
        if len(parts) < 4 or parts[0] != "cmp":
            continue
        row, side, threads = parts[1], parts[2], parts[3]
        ms = b["real_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        if row not in rows:
            rows[row] = {}
            order.append(row)
        key = (side, threads)
        rows[row][key] = min(ms, rows[row].get(key, ms))
    print("| operation (4096², ms) | ours 1 thread | ours all | peer | peer 1 thread | peer default | ratio ours all / peer best |")
    print("|---|---:|---:|---|---:|---:|---:|")
    fmt = lambda v: "–" if v is None else ("%.1f" % v if v >= 10 else "%.2f" % v)
    for row in order:
        r = rows[row]
        peers = sorted({s for (s, _) in r if s != "ours"}) or [""]
        for peer in peers:
            o1, oa = r.get(("ours", "1")), r.get(("ours", "all"))
            p1, pa = r.get((peer, "1")), r.get((peer, "all"))
            ours = oa if oa is not None else (o1 if o1 is not None else float("inf"))
            best = min(v for v in (p1, pa, float("inf")) if v is not None)
            ratio = "–" if ours == float("inf") or best == float("inf") else "%.2f" % (ours / best)
            print("| %s | %s | %s | %s | %s | %s | %s |" % (row, fmt(o1), fmt(oa), peer or "–", fmt(p1), fmt(pa), ratio))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build-bench/bench.json")
