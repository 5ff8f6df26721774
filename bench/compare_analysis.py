#!/usr/bin/env python3
"""Times zelvar-analyze and bench/analyze_reference.py on the same generated
run file and prints the ratio (target: zelvar-analyze at least 5 times faster).

  bench/compare_analysis.py --tool build/default/tools/zelvar-analyze/zelvar-analyze [--records N]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def write_run_file(path, records):
    # The same spin-ups as bench/run_file.h.
    with open(path, "w", newline="") as f:
        lines = []
        for i in range(records):
            tick = 2 * (i % 500000 + 1)
            phase = (i % 250) / 250.0
            rpm = int(30000.0 * (1.0 - (1.0 - phase) * (1.0 - phase))) // 100 * 100
            cv = 1200 - int(60.0 * (1.0 - phase))
            da = int(250.0 * (1.0 - phase)) + 5
            lines.append("%d.%02d,%d.%02d,%d.%d,%d\r\n" % (tick // 100, tick % 100, cv // 100, cv % 100,
                                                          da // 10, da % 10, rpm))
            if len(lines) >= 100000:
                f.write("".join(lines))
                lines.clear()
        f.write("".join(lines))


def best_of(runs, command):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--tool", required=True, help="path of the zelvar-analyze executable")
    p.add_argument("--records", type=int, default=1000000)
    p.add_argument("--runs", type=int, default=3, help="best of this many runs each")
    args = p.parse_args()

    with tempfile.TemporaryDirectory() as d:
        print("generating %d records..." % args.records, file=sys.stderr, flush=True)
        write_run_file(os.path.join(d, "Temp.dat"), args.records)
        common = ["--dir", d, "--radius", "30", "--weight", "240", "--esc-neutral", "1500", "--esc-full", "2000"]
        ours = best_of(args.runs, [args.tool] + common)
        python = best_of(args.runs, [sys.executable, os.path.join(HERE, "analyze_reference.py")] + common)
    print("records:           %d" % args.records)
    print("zelvar-analyze:    %.3f s  (%.0f records/s)" % (ours, args.records / ours))
    print("python decimal:    %.3f s  (%.0f records/s)" % (python, args.records / python))
    print("ratio:             %.1f times faster" % (python / ours))
    return 0


if __name__ == "__main__":
    sys.exit(main())
