#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Prints each benchmark's median beside its baseline's, and the ratio.

   bench/ratios.py FILE.json[=NOTE]...

FILE is Google Benchmark's JSON output, run with repetitions.  A benchmark
labelled "vs NAME" is compared with NAME from the same file; one counting
items (the batches) is taken per item, the others by CPU time.  NOTE
names the runs of a file in the table.
"""
import json
import re
import sys

scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}


def per_operation_ns(run):
    if "items_per_second" in run:
        return 1e9 / run["items_per_second"]
    return run["cpu_time"] * scale[run["time_unit"]]


def short(name):
    """The benchmark's name without the settings Google Benchmark appends."""
    return re.sub(r"/(iterations:\d+|repeats:\d+|real_time)", "", name)


print(f"{'benchmark':<40} {'ns':>11} {'baseline ns':>11} {'ratio':>7}")
for argument in sys.argv[1:]:
    path, _, note = argument.partition("=")
    runs = json.load(open(path))["benchmarks"]
    medians = {short(r["run_name"]): r for r in runs if r.get("aggregate_name") == "median"}
    for name, run in sorted(medians.items()):
        shown = f"{name} ({note})" if note else name
        if "error_message" in run:
            print(f"{shown:<40} error: {run['error_message']}")
            continue
        ns = per_operation_ns(run)
        base = medians.get(run.get("label", "").removeprefix("vs "))
        if base is None:
            print(f"{shown:<40} {ns:11.0f}")
        else:
            base_ns = per_operation_ns(base)
            print(f"{shown:<40} {ns:11.0f} {base_ns:11.0f} {ns / base_ns:7.2f}")
