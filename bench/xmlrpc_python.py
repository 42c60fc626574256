#!/usr/bin/env python3
"""Times Python's xmlrpc.client on a document: loads of its bytes, and dumps
of the values read. Prints {"loads": seconds, "dumps": seconds}, medians."""
import json
import statistics
import sys
import time
import xmlrpc.client as xc


def median_seconds(action, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main(path, repeat):
    with open(path, "rb") as f:
        doc = f.read()
    params, method = xc.loads(doc)
    print(json.dumps({
        "loads": median_seconds(lambda: xc.loads(doc), repeat),
        "dumps": median_seconds(lambda: xc.dumps(params, method), repeat),
    }))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 15)
