#!/usr/bin/env python3
"""The Windows program under Wine against the Linux build, on one recorded
stream.

Usage: end_to_end_test.py --linux-build DIR --windows-build DIR [--keep DIR]

dyno-sim (of the Linux build) records a stream once. It is then played on a
pseudo-terminal to zelvar-data --run-for of the Linux build (ZELVAR_COM3) and
to zelvar-data.exe under Wine (COM3 linked to the terminal), and:
  - the whole run: Temp.dat and save.csv are byte for byte the same;
  - a device that goes away mid-run: both end in "Error!", and Temp.dat holds
    every record the program received, the same in both;
  - the archive: zelvar-analyze.exe --list shows the run, and
    --summary-json on its run folder gives the Linux build's figures.
Prints one line per check, and exits 0 when all passed, 1 when one failed.
"""

import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import replayed_port as rp  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WINE_RUN = os.path.join(REPO, "scripts", "wine-run.sh")
# One spin-up with its coast-down, a set-up frame every second: 6.5 s.
SIM_ARGUMENTS = ["--idle", "0.5", "--spin", "3", "--coast", "3", "--repeat", "1", "--seed", "11"]
RUN_FOR = "14"


def data_directory(root, name):
    directory = os.path.join(root, name)
    os.makedirs(directory)
    for control in ("RCS.dat", "RTA.dat"):
        shutil.copy(os.path.join(REPO, "shell", control), directory)
    return directory


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


class Checks:
    def __init__(self):
        self.failed = []

    def check(self, name, ok, detail=""):
        print("%s: %s%s" % ("PASS" if ok else "FAIL", name, "" if ok or not detail else " (%s)" % detail))
        sys.stdout.flush()
        if not ok:
            self.failed.append(name)

    def same_files(self, name, left, right):
        a, b = read(left), read(right)
        if a is None or b is None:
            self.check(name, False, "missing: %s" % (left if a is None else right))
        elif a != b:
            at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
            self.check(name, False, "%d and %d bytes, first difference at byte %d" % (len(a), len(b), at))
        else:
            self.check(name, True)


class Programs:
    def __init__(self, linux_build, windows_build, work):
        self.linux = os.path.join(linux_build, "shell", "zelvar-data")
        self.linux_analyze = os.path.join(linux_build, "tools", "zelvar-analyze", "zelvar-analyze")
        if windows_build:
            self.windows = os.path.join(windows_build, "shell", "zelvar-data.exe")
            self.windows_analyze = os.path.join(windows_build, "tools", "zelvar-analyze", "zelvar-analyze.exe")
        self.work = work
        cache = os.environ.get("ZELVAR_WINDOWS_CACHE") or os.path.expanduser("~/.cache/zelvar/windows")
        self.prefix = os.path.join(cache, "wine")
        # The Linux programs get settings of their own, not the user's: a
        # port saved there would send COM3 elsewhere. Under Wine the prefix
        # is the tests' own already.
        home = os.path.join(work, "home")
        os.makedirs(home, exist_ok=True)
        self.environment = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                                XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                                XDG_RUNTIME_DIR=os.path.join(home, "run"))
        os.makedirs(self.environment["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)

    def log(self, directory):
        return os.path.join(self.work, os.path.basename(directory) + ".log")

    def run_linux(self, directory, stream, unplug_after=None):
        with rp.LinuxPort() as port:
            environment = dict(port.environment(self.environment), QT_QPA_PLATFORM="offscreen")
            return rp.run_program([self.linux, "--app-dir", directory, "--run-for", RUN_FOR], environment,
                                  port.terminal, stream, self.log(directory), unplug_after)

    def run_windows(self, directory, stream, unplug_after=None, packaged=None):
        """zelvar-data.exe of the build, with `directory` as its data
        directory; or, `packaged`, the program of a package, started as a
        user starts it (its own DLLs, its own folder for the runs)."""
        with rp.WinePort(self.prefix) as port:
            if packaged:
                command = [WINE_RUN, "--packaged", packaged]
            else:
                command = [WINE_RUN, self.windows, "--app-dir", rp.windows_path(directory)]
            command += ["--run-for", RUN_FOR, "-platform", "windows"]
            return rp.run_program(command, port.environment(os.environ), port.terminal, stream,
                                  self.log(directory), unplug_after)

    def analyze(self, windows, arguments):
        if windows:
            command, environment = [WINE_RUN, self.windows_analyze] + arguments, None
        else:
            command, environment = [self.linux_analyze] + arguments, self.environment
        result = subprocess.run(command, env=environment, capture_output=True, timeout=300)
        return result.returncode, result.stdout.decode(errors="replace"), result.stderr.decode(errors="replace")


def only_run_folder(directory):
    folders = sorted(glob.glob(os.path.join(directory, "runs", "*", "run.json")))
    return os.path.dirname(folders[0]) if len(folders) == 1 else None


def figures_of(path):
    try:
        with open(path) as f:
            summary = json.load(f)
    except (OSError, ValueError):
        return None
    # Where the run lies differs; what it gives may not.
    for key in ("folder", "source", "directory"):
        summary.pop(key, None)
    return summary


def run_checks(description, arguments, work_prefix, body):
    """The frame of a Wine test: its command line (ARGUMENTS, pairs of an
    option and its help, and --keep), a work folder, the checks `body`
    (options, work, checks) makes, and the closing line. Returns the exit
    code."""
    parser = argparse.ArgumentParser(description=description.split("\n\n")[0])
    for option, help_text in arguments:
        parser.add_argument(option, required=True, help=help_text)
    parser.add_argument("--keep", help="work in DIR and leave it (default: a temporary folder, removed)")
    options = parser.parse_args()

    work = options.keep or tempfile.mkdtemp(prefix=work_prefix)
    if options.keep:
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    checks = Checks()
    try:
        body(options, work, checks)
    except (rp.Failure, OSError, RuntimeError, subprocess.TimeoutExpired) as error:
        checks.check("the test ran to its end", False, str(error))
    finally:
        if not options.keep and not checks.failed:
            shutil.rmtree(work, ignore_errors=True)
        elif checks.failed:
            print("work folder kept: %s" % work)
    print("%d checks failed" % len(checks.failed) if checks.failed else "all checks passed")
    return 1 if checks.failed else 0


def check_against_linux(options, work, checks):
    programs = Programs(options.linux_build, options.windows_build, work)
    stream = rp.record_stream(os.path.join(options.linux_build, "tools", "dyno-sim", "dyno-sim"),
                              os.path.join(work, "stream.bin"), SIM_ARGUMENTS, work)
    print("recorded %d bytes, %d frames" % (len(stream), len(stream) // rp.FRAME_BYTES))

    linux = data_directory(work, "linux")
    windows = data_directory(work, "windows")
    code, output = programs.run_linux(linux, stream)
    checks.check("the Linux build records the stream", code == 0, output.strip()[-300:])
    code, output = programs.run_windows(windows, stream)
    checks.check("zelvar-data.exe under Wine records the stream", code == 0, output.strip()[-300:])
    for name in ("Temp.dat", "save.csv"):
        checks.same_files("%s is byte for byte the Linux build's" % name, os.path.join(windows, name),
                          os.path.join(linux, name))

    # The device goes away halfway through the spin-up.
    half = (len(stream) // 2) // rp.FRAME_BYTES * rp.FRAME_BYTES
    linux_lost = data_directory(work, "linux-lost")
    windows_lost = data_directory(work, "windows-lost")
    code, linux_output = programs.run_linux(linux_lost, stream, unplug_after=half)
    checks.check("the Linux build ends a run whose device went away in Error!",
                 code == 1 and "Error!" in linux_output, linux_output.strip()[-300:])
    code, output = programs.run_windows(windows_lost, stream, unplug_after=half)
    checks.check("zelvar-data.exe ends a run whose device went away in Error!",
                 code == 1 and "Error!" in output, output.strip()[-300:])
    whole = read(os.path.join(linux, "Temp.dat")) or b""
    for name, directory in (("Linux build", linux_lost), ("zelvar-data.exe", windows_lost)):
        kept = read(os.path.join(directory, "Temp.dat")) or b""
        checks.check("the %s keeps every record up to the loss" % name,
                     kept and whole.startswith(kept) and len(kept) > len(whole) // 3,
                     "%d of the whole run's %d records" % (kept.count(b"\n"), whole.count(b"\n")))
    checks.same_files("the records kept are the same in both", os.path.join(windows_lost, "Temp.dat"),
                      os.path.join(linux_lost, "Temp.dat"))

    # The archive and zelvar-analyze.exe on the whole run.
    code, listing, errors = programs.analyze(True, ["--list", rp.windows_path(windows)])
    checks.check("zelvar-analyze.exe --list shows the archived run as stopped",
                 code == 0 and "stopped" in listing and len(listing.strip().splitlines()) == 2,
                 (listing + errors).strip()[-300:])
    windows_run, linux_run = only_run_folder(windows), only_run_folder(linux)
    checks.check("each program archived its run in a folder of its own", bool(windows_run and linux_run))
    if windows_run and linux_run:
        checks.same_files("the archived Temp.dat is the run's", os.path.join(windows_run, "Temp.dat"),
                          os.path.join(windows, "Temp.dat"))
        windows_json = os.path.join(work, "windows-summary.json")
        linux_json = os.path.join(work, "linux-summary.json")
        code, _, errors = programs.analyze(
            True, ["--dir", rp.windows_path(windows_run), "--summary-json", rp.windows_path(windows_json)])
        checks.check("zelvar-analyze.exe --summary-json analyses the run folder", code == 0, errors.strip())
        programs.analyze(False, ["--dir", linux_run, "--summary-json", linux_json])
        a, b = figures_of(windows_json), figures_of(linux_json)
        checks.check("its figures are the Linux build's", a is not None and a == b,
                     "Windows %s, Linux %s" % (json.dumps(a)[:200], json.dumps(b)[:200]))


def main():
    return run_checks(__doc__, [("--linux-build", "the Linux build folder (build/default)"),
                                ("--windows-build", "the Windows build folder (build/windows)")],
                      "zelvar-wine-e2e.", check_against_linux)


if __name__ == "__main__":
    sys.exit(main())
