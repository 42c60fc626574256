#!/usr/bin/env python3
"""Prints, for each benchmark goal, every variant's time as a ratio to the
"trivane" variant: a ratio above 1 means the toolkit is that many times faster."""
import json
import sys

def main(paths):
    for path in paths:
        with open(path) as f:
            runs = json.load(f)["benchmarks"]
        goals = {}
        for run in runs:
            if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
                continue
            name = run["run_name"] if "run_name" in run else run["name"]
            # Google Benchmark appends its own settings ("iterations:5",
            # "manual_time"): they are not part of the goal.
            name = "/".join(p for p in name.split("/") if ":" not in p and p != "manual_time")
            goal, _, variant = name.partition("/")
            variant, _, arg = variant.partition("/")
            key = goal + ("/" + arg if arg else "")
            goals.setdefault(key, {})[variant] = run["real_time"]
        for goal, variants in goals.items():
            ours = variants.get("trivane")
            line = f"{goal:32}"
            for variant, time in variants.items():
                ratio = f" ({time / ours:.2f}x)" if ours and variant != "trivane" else ""
                line += f"  {variant}: {time:.1f} ns{ratio}"
            print(line)

if __name__ == "__main__":
    main(sys.argv[1:])
