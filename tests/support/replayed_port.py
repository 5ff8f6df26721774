"""A recorded dyno stream played to a program on a serial port.

The port is a pseudo-terminal held here. The Linux program is told its name
through ZELVAR_COM3; a Windows program under Wine opens COM3, which
wine_com_port.Mapping links to the terminal, checked before every run and
unlinked before the terminal goes.

A program opens its port at Start and sets its line (115200 baud, raw). The
terminal starts at another speed, so the stream begins only once the program
has set its own: every frame then belongs to the run, and two programs given
the same stream record the same run.
"""

import fcntl
import os
import select
import subprocess
import sys
import termios
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_com_port import Mapping, Terminal  # noqa: E402

FRAME_BYTES = 13
TICK_SECONDS = 0.01


class Failure(Exception):
    pass


def record_stream(dyno_sim, out, arguments, work):
    """Runs dyno-sim once at line pace, reading its terminal here, and
    returns the bytes it sent (its --out file)."""
    link = os.path.join(work, "dyno-sim.link")
    sim = subprocess.Popen(
        [dyno_sim, "--pace", "line", "--wait-for-reader", "--link-file", link, "--out", out] + arguments,
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 20
    while not os.path.exists(link):
        if sim.poll() is not None or time.monotonic() > deadline:
            raise Failure("dyno-sim did not start: %s" % sim.stderr.read().decode(errors="replace"))
        time.sleep(0.01)
    device = open(link).read().strip().split("=", 1)[1]
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    try:
        while True:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                try:
                    if not os.read(fd, 65536):
                        break
                except OSError:  # the simulator closed its side
                    break
            elif sim.poll() is not None:
                break
    finally:
        os.close(fd)
    _, errors = sim.communicate(timeout=30)
    if sim.returncode != 0:
        raise Failure("dyno-sim failed: %s" % errors.decode(errors="replace"))
    with open(out, "rb") as f:
        return f.read()


def _mark_unset(terminal):
    attributes = termios.tcgetattr(terminal.slave)
    attributes[4] = attributes[5] = termios.B1200
    termios.tcsetattr(terminal.slave, termios.TCSANOW, attributes)


def _is_set(terminal):
    return termios.tcgetattr(terminal.slave)[5] == termios.B115200


def _output_queued(terminal):
    """Bytes written here that the program has not read yet."""
    buffer = fcntl.ioctl(terminal.slave, termios.FIONREAD, b"\0\0\0\0")
    return int.from_bytes(buffer, sys.byteorder)


def play(terminal, program, stream, unplug_after=None, settle=1.0, open_timeout=90.0):
    """Waits until `program` has set its line, then sends `stream` a frame a
    tick. With `unplug_after` (bytes), the device goes away once the program
    has read that much of it."""
    deadline = time.monotonic() + open_timeout
    while not _is_set(terminal):
        if program.poll() is not None:
            raise Failure("the program ended (exit code %d) before it opened its port" % program.returncode)
        if time.monotonic() > deadline:
            raise Failure("the program did not open its port in %.0f s" % open_timeout)
        time.sleep(0.02)
    # Start opens the port, closes it, opens it again and empties its input:
    # nothing sent before that is over may count.
    time.sleep(settle)
    end = len(stream) if unplug_after is None else unplug_after
    start = time.monotonic()
    for index, offset in enumerate(range(0, end, FRAME_BYTES)):
        delay = start + index * TICK_SECONDS - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        terminal.send(stream[offset:min(offset + FRAME_BYTES, end)])
    deadline = time.monotonic() + 20
    while _output_queued(terminal) and time.monotonic() < deadline:
        time.sleep(0.05)
    if unplug_after is not None:
        time.sleep(1.0)  # what was read is on its way into the run file
        terminal.hang_up()


def run_program(command, environment, terminal, stream, log, unplug_after=None, timeout=180):
    """Runs `command` (which presses Start, and Stops by itself)
    while the stream plays; returns its exit code and standard error."""
    with open(log, "wb") as output:
        program = subprocess.Popen(command, env=environment, stdout=output, stderr=subprocess.STDOUT)
        try:
            play(terminal, program, stream, unplug_after)
            program.wait(timeout=timeout)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
    with open(log, "rb") as f:
        return program.returncode, f.read().decode(errors="replace")


class LinuxPort:
    """COM3 of the Linux program: a terminal named in ZELVAR_COM3."""

    def __enter__(self):
        self.terminal = Terminal()
        _mark_unset(self.terminal)
        return self

    def environment(self, base):
        return dict(base, ZELVAR_COM3=self.terminal.path)

    def __exit__(self, *_):
        self.terminal.release_all()


class WinePort:
    """COM3 of a program under Wine: the prefix's dosdevices link to a
    terminal held here, taken in turn with the other Wine tests."""

    def __init__(self, prefix, com=3):
        self.prefix = prefix
        self.com = com

    def __enter__(self):
        self.lock = open(os.path.join(self.prefix, "dosdevices", ".com%d.lock" % self.com), "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        self.mapping = Mapping(self.prefix, self.com)
        self.mapping.clear_stale()
        self.mapping.plug()
        self.terminal = self.mapping.terminal
        _mark_unset(self.terminal)
        return self

    def environment(self, base):
        # Wine hands the Linux environment on: a ZELVAR_COM3 there would
        # send the program elsewhere.
        environment = dict(base)
        environment.pop("ZELVAR_COM%d" % self.com, None)
        return environment

    def __exit__(self, *_):
        self.mapping.check()
        self.mapping.unplug_and_unmap()
        self.lock.close()


def windows_path(path):
    """The Linux path as a program under Wine names it (Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")
