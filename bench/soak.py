#!/usr/bin/env python3
"""Soak run: zelvar-data (offscreen) records dyno-sim at the full line rate.

dyno-sim streams frames back to back at the line rate (886 frames/s at
115200 baud) on a pseudo-terminal and writes every byte it sent to a file;
zelvar-data presses Start, records for the given time, presses Stop and ends
(--run-for). Afterwards the stream is decoded by the receiver's rule and every
run sample that passes the interval rule between the first and the last
record must be in Temp.dat, in order, none missing, none extra; save.csv must
be a whole report of them.

Reported: the program's CPU time per second of logging (user + system, from
/proc, between a sample taken after the warm-up and one taken just before
Stop) and its memory (VmHWM peak and VmRSS) after the warm-up, at half time
and at the end. Targets: below 2 % of one core; memory flat over the second
half (the live trace of the chart window fills its fixed capacity first). Exit code 0 when the records are complete
and the targets are met, 1 otherwise, 2 on bad arguments or a failed start.
Linux only (/proc).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SYNC0, SYNC1, TRAILER, RUN_SAMPLE = 0xD9, 0xAB, 0xFA, 0x40
FRAME = 13
CPU_TARGET = 0.02
# "Flat": the peak may grow by this much between the two samples (allocator
# noise, a report row buffer), not with the run's length.
MEMORY_SLACK_KB = 2048


def ticks_to_record(stream: bytes, divisor: int):
    """Tick counts of the run samples the receiver records from `stream`."""
    ticks, last, i, n = [], -1, 0, len(stream)
    while i + FRAME <= n:
        if stream[i] != SYNC0:
            i += 1
            continue
        if stream[i + 1] == SYNC0:
            i += 1
            continue
        if stream[i + 1] != SYNC1:
            i += 2
            continue
        f = stream[i:i + FRAME]
        i += FRAME
        tick = f[2] * 4096 + f[3] * 256 + f[4]
        if f[11] == RUN_SAMPLE and f[12] == TRAILER and tick != 0 and tick % divisor == 0 and tick != last:
            ticks.append(tick)
            last = tick
    return ticks


def recorded_ticks(run_file: Path):
    ticks = []
    with run_file.open("rb") as f:
        for line in f:
            line = line.strip()
            if line:
                ticks.append(round(float(line.split(b",")[0]) * 100))
    return ticks


def proc_sample(pid: int):
    """(cpu seconds, VmHWM kB, VmRSS kB) of a running process."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks_per_s = os.sysconf("SC_CLK_TCK")
    cpu = (int(fields[11]) + int(fields[12])) / ticks_per_s  # utime, stime
    mem = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                mem[key] = int(value.split()[0])
    return cpu, mem["VmHWM"], mem["VmRSS"]


def find_program(build: Path, relative: str) -> Path:
    path = build / relative
    if not os.access(path, os.X_OK):
        sys.exit(f"soak: {path} is not built (cmake --build {build} --target zelvar-data dyno-sim)")
    return path


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/default", type=Path,
                        help="CMake build directory holding shell/zelvar-data and tools/dyno-sim "
                             "(default: %(default)s)")
    parser.add_argument("--minutes", type=float, default=10.0, help="logging time (default: %(default)s)")
    parser.add_argument("--warm-up", type=float, default=10.0,
                        help="seconds of logging before the first CPU and memory sample (default: %(default)s)")
    parser.add_argument("--burst", type=int, default=1,
                        help="frames of this many ticks arrive in one write, as a USB adapter's latency "
                             "timer delivers them (default: %(default)s, one frame per write: the worst case)")
    parser.add_argument("--keep", action="store_true", help="keep the run directory and print where it is")
    args = parser.parse_args()
    seconds = args.minutes * 60
    if seconds <= args.warm_up + 5:
        parser.error("--minutes must leave more than 5 s after the warm-up")

    zelvar = find_program(args.build_dir, "shell/zelvar-data")
    dyno_sim = find_program(args.build_dir, "tools/dyno-sim/dyno-sim")
    work = Path(tempfile.mkdtemp(prefix="zelvar-soak-"))
    for name in ("RCS.dat", "RTA.dat"):
        (work / name).touch()
    link, stream = work / "link.txt", work / "stream.bin"

    sim = subprocess.Popen([str(dyno_sim), "--pace", "line", "--wait-for-reader", "--link-file", str(link),
                            "--out", str(stream), "--seed", "1", "--burst", str(args.burst)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    program = None
    try:
        for _ in range(200):
            if link.exists() and link.read_text().startswith("ZELVAR_COM3="):
                break
            if sim.poll() is not None:
                sys.exit(f"soak: dyno-sim ended: {sim.stderr.read().decode()}")
            time.sleep(0.05)
        else:
            sys.exit("soak: dyno-sim gave no device")
        device = link.read_text().splitlines()[0].split("=", 1)[1]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZELVAR_COM3=device)
        program = subprocess.Popen([str(zelvar), "--app-dir", str(work), "--run-for", str(seconds)], env=env,
                                   stderr=subprocess.PIPE)
        started = time.monotonic()
        time.sleep(args.warm_up)
        first = proc_sample(program.pid)
        first_at = time.monotonic()
        time.sleep(max(0.0, started + seconds / 2 - time.monotonic()))
        middle = proc_sample(program.pid)
        middle_at = time.monotonic()
        time.sleep(max(0.0, started + seconds - 2.0 - time.monotonic()))
        last = proc_sample(program.pid)
        last_at = time.monotonic()
        try:
            _, errors = program.communicate(timeout=600)
        except subprocess.TimeoutExpired:
            program.kill()
            sys.exit("soak: zelvar-data did not end after Stop")
    finally:
        if program is not None and program.poll() is None:
            program.kill()
        sim.terminate()
        sim.wait()

    ok = True
    print(f"soak: {seconds:.0f} s of logging at the line rate, {args.burst} tick(s) per write, "
          f"run directory {work}")
    if program.returncode != 0:
        print(f"FAIL: zelvar-data ended with {program.returncode}: {errors.decode().strip()}")
        ok = False

    expected = ticks_to_record(stream.read_bytes(), 2)
    recorded = recorded_ticks(work / "Temp.dat")
    if not recorded:
        print("FAIL: nothing recorded")
        ok = False
    else:
        start = expected.index(recorded[0]) if recorded[0] in expected else -1
        stretch = expected[start:start + len(recorded)] if start >= 0 else []
        if stretch != recorded:
            bad = next((k for k, (a, b) in enumerate(zip(recorded, stretch)) if a != b), min(len(recorded), len(stretch)))
            print(f"FAIL: record {bad + 1} is tick {recorded[bad] if bad < len(recorded) else None}, "
                  f"the stream has {stretch[bad] if bad < len(stretch) else None}")
            ok = False
        sent = len(stream.read_bytes()) // FRAME
        print(f"records: {len(recorded)} in Temp.dat, all {len(recorded)} samples passing the interval rule "
              f"from tick {recorded[0]} to {recorded[-1]} ({sent} frames sent in all)" if stretch == recorded else
              f"records: {len(recorded)}")
        report_lines = (work / "save.csv").read_bytes().count(b"\n") if (work / "save.csv").exists() else 0
        if report_lines != len(recorded) + 4:
            print(f"FAIL: save.csv has {report_lines} lines for {len(recorded)} records")
            ok = False

    cpu_share = (last[0] - first[0]) / (last_at - first_at)
    print(f"cpu: {cpu_share * 1000:.1f} ms per second of logging ({cpu_share * 100:.2f} % of one core; "
          f"target below {CPU_TARGET * 100:.0f} %), measured over {last_at - first_at:.0f} s")
    print(f"memory: peak {first[1]} kB, resident {first[2]} kB after {first_at - started:.0f} s; "
          f"peak {middle[1]} kB, resident {middle[2]} kB after {middle_at - started:.0f} s; "
          f"peak {last[1]} kB, resident {last[2]} kB after {last_at - started:.0f} s")
    if cpu_share >= CPU_TARGET:
        print("FAIL: CPU above target")
        ok = False
    # The chart window's live trace takes up to its fixed capacity (about
    # 3 MB, reached after some 2.5 minutes at the line rate) and no more:
    # flat means no growth over the second half of the run.
    if last[1] - middle[1] > MEMORY_SLACK_KB:
        print(f"FAIL: peak memory grew by {last[1] - middle[1]} kB over the second half")
        ok = False

    if args.keep:
        print(f"kept: {work}")
    else:
        shutil.rmtree(work)
    print("soak: ok" if ok else "soak: FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
