#!/usr/bin/env python3
"""The Windows packages under Wine: the portable zip and the per-user
installer, each run on a recorded stream against the Linux build.

Usage: packages_test.py --linux-build DIR --packages DIR [--keep DIR]

  - the zip holds the programs, their Qt and MinGW-w64 DLLs, the platform
    and style plugins, RCS.dat and RTA.dat, the README, the licence and the
    third-party licences; unpacked, zelvar-data.exe runs from it with no DLL
    path of the build's and records the stream as the Linux build does;
  - the installer, run silently (/S), installs the same files into
    %LOCALAPPDATA%\\Programs\\Zelvar QT4 Data with a Start-menu shortcut and
    its version under the installed programs, without asking for rights;
  - the installed program, started without --app-dir, keeps its run beside
    itself, and it is the Linux build's;
  - the uninstaller removes every file it installed, its shortcut and its
    entry, and leaves the user's runs.
Prints one line per check; exits 0 when all passed, 1 when one failed.
"""

import glob
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end_test as e2e  # noqa: E402

rp = e2e.rp

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelvarQT4Data"
EXPECTED = ["zelvar-data.exe", "zelvar-analyze.exe", "Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll",
            "Qt6PrintSupport.dll", "libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll",
            "platforms/qwindows.dll", "platforms/qoffscreen.dll", "styles/qwindowsvistastyle.dll",
            "RCS.dat", "RTA.dat", "README.txt", "LICENSE.txt", "licences/Qt-LGPL-3.0.txt",
            "licences/QCustomPlot-GPL-3.0.txt", "licences/GCC-runtime.txt"]


def wine(programs, arguments, timeout=300):
    """A Windows program of the prefix's own (reg) or of a package, as a
    user starts it."""
    result = subprocess.run([e2e.WINE_RUN, "--packaged"] + arguments, capture_output=True, timeout=timeout)
    # The uninstaller goes on in a copy of itself: wait for every program.
    server = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
    subprocess.run([server, "-w"], env=dict(os.environ, WINEPREFIX=programs.prefix), timeout=timeout)
    return result.returncode, (result.stdout + result.stderr).decode(errors="replace")


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return found


def check_packages(options, work, checks):
    programs = e2e.Programs(options.linux_build, None, work)
    zips = glob.glob(os.path.join(options.packages, "zelvar-data-*-windows-x64.zip"))
    setups = glob.glob(os.path.join(options.packages, "zelvar-data-*-setup.exe"))
    if len(zips) != 1 or len(setups) != 1:
        raise rp.Failure("expected one zip and one installer in %s" % options.packages)
    version = os.path.basename(setups[0])[len("zelvar-data-"):-len("-setup.exe")]

    stream = rp.record_stream(os.path.join(options.linux_build, "tools", "dyno-sim", "dyno-sim"),
                              os.path.join(work, "stream.bin"), e2e.SIM_ARGUMENTS, work)
    linux = e2e.data_directory(work, "linux")
    code, output = programs.run_linux(linux, stream)
    checks.check("the Linux build records the stream", code == 0, output.strip()[-300:])

    # The portable zip.
    with zipfile.ZipFile(zips[0]) as archive:
        archive.extractall(os.path.join(work, "zip"))
    unpacked = os.path.join(work, "zip", "zelvar-data-%s" % version)
    packaged = files_under(unpacked)  # before a run adds the user's files
    missing = [name for name in EXPECTED if name not in packaged]
    checks.check("the zip holds the programs, their DLLs and plugins, the control files and the licences",
                 not missing, "missing: %s" % ", ".join(missing))
    code, output = programs.run_windows(unpacked, stream, packaged=os.path.join(unpacked, "zelvar-data.exe"))
    checks.check("zelvar-data.exe runs from the unpacked zip with its own DLLs", code == 0,
                 output.strip()[-300:])
    for name in ("Temp.dat", "save.csv"):
        checks.same_files("its %s is the Linux build's" % name, os.path.join(unpacked, name),
                          os.path.join(linux, name))

    # The installer, as a user without administrator rights runs it.
    local = glob.glob(os.path.join(programs.prefix, "drive_c", "users", "*", "AppData", "Local"))
    local = [p for p in local if "Public" not in p]
    if len(local) != 1:
        raise rp.Failure("no user's AppData\\Local in the Wine prefix")
    installed = os.path.join(local[0], "Programs", "Zelvar QT4 Data")
    shutil.rmtree(installed, ignore_errors=True)
    code, output = wine(programs, [setups[0], "/S"])
    checks.check("the installer runs silently", code == 0, output.strip()[-300:])
    present = files_under(installed) if os.path.isdir(installed) else set()
    checks.check("it installs the zip's files into %LOCALAPPDATA%\\Programs\\Zelvar QT4 Data",
                 packaged <= present and "Uninstall.exe" in present,
                 "installed: %d files" % len(present))
    start_menu = os.path.join(local[0], "..", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs")
    shortcut = os.path.join(start_menu, "Zelvar QT4 Data.lnk")
    checks.check("it adds a Start-menu shortcut", os.path.exists(shortcut))
    code, output = wine(programs, ["reg", "query", UNINSTALL_KEY, "/v", "DisplayVersion"])
    checks.check("it lists its version under the installed programs", code == 0 and version in output,
                 output.strip()[-200:])

    code, output = programs.run_windows(installed, stream, packaged=os.path.join(installed, "zelvar-data.exe"))
    checks.check("the installed program records a run", code == 0, output.strip()[-300:])
    for name in ("Temp.dat", "save.csv"):
        checks.same_files("beside it, %s is the Linux build's" % name, os.path.join(installed, name),
                          os.path.join(linux, name))
    runs = glob.glob(os.path.join(installed, "runs", "*", "run.json"))
    checks.check("the run is archived beside the program", len(runs) == 1)

    code, output = wine(programs, [os.path.join(installed, "Uninstall.exe"), "/S"])
    left = files_under(installed) if os.path.isdir(installed) else set()
    installed_files = packaged | {"Uninstall.exe"}
    checks.check("the uninstaller removes every file it installed", code == 0 and not left & installed_files,
                 "left: %s" % ", ".join(sorted(left & installed_files)))
    checks.check("and leaves the user's runs",
                 {"Temp.dat", "save.csv"} <= left and any(n.startswith("runs/") for n in left),
                 "left: %s" % ", ".join(sorted(left)))
    code, _ = wine(programs, ["reg", "query", UNINSTALL_KEY])
    checks.check("its shortcut and its entry are gone", not os.path.exists(shortcut) and code != 0)
    shutil.rmtree(installed, ignore_errors=True)


def main():
    return e2e.run_checks(__doc__, [("--linux-build", "the Linux build folder (build/default)"),
                                    ("--packages", "the folder of the zip and the installer")],
                          "zelvar-wine-packages.", check_packages)


if __name__ == "__main__":
    sys.exit(main())
