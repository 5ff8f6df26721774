#!/usr/bin/env python3
"""Runs a Windows test program under Wine with a COM port that is a
pseudo-terminal this helper holds, and plays the device at its far end.

Usage: wine_com_port.py [--com N] -- COMMAND [ARGUMENTS...]

COMMAND (scripts/wine-run.sh PROGRAM.exe ...) runs with ZELVAR_FAR_END set to
a TCP address on 127.0.0.1 where the program's far end (tests/support/
WineFarEnd.h) connects and sends one command a line:

  plug                 a new pseudo-terminal becomes COMN: answers "ok \\\\.\\COMN"
  feed HEX             the device sends these bytes
  stream COUNT HEX     ... COUNT times, a millisecond apart, as the dyno does,
                       answered at once while the bytes go out
  unplug               the device goes away: the terminal's master side closes

and each gets "ok" or "error TEXT". When the connection closes, the
terminal goes and so does the mapping.

Wine maps COMN through the link $WINEPREFIX/dosdevices/comN. A terminal's
number is handed to the next process that asks as soon as the terminal is
closed, so the link only ever points at a terminal this helper holds open:
it is checked before every command, removed before the terminal is released,
and removed when the helper ends. A held slave descriptor keeps the number
taken after an unplug, while the dangling link is still there. Helpers take
turns through a lock file beside the link. A link to another kind of device
is left alone, and the helper refuses to run.
"""

import argparse
import binascii
import errno
import faulthandler
import fcntl
import os
import selectors
import signal
import socket
import subprocess
import sys
import threading
import time


def fail(message):
    print("wine_com_port.py: " + message, file=sys.stderr)
    sys.exit(2)


class Terminal:
    """A pseudo-terminal pair, its slave kept open here and, as a controlling
    terminal, by a child process of its own: otherwise the first process
    without one that opens the port (wineserver) would take it as its
    controlling terminal, and get a SIGHUP when the device goes away."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)
        self.rdev = os.fstat(self.slave).st_rdev
        os.set_blocking(self.master, False)
        self.streamer = None
        self.stopping = False
        release_read, self.release = os.pipe()
        self.keeper = os.fork()
        if self.keeper == 0:
            try:
                os.close(self.master)
                os.close(self.release)
                os.setsid()
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
                os.open(self.path, os.O_RDWR)
                os.read(release_read, 1)
            finally:
                os._exit(0)
        os.close(release_read)

    def send(self, data, limit=10.0):
        """Waits while the terminal's queue is full (nobody reads the port),
        up to `limit` seconds, or until a hang-up stops the stream."""
        view = memoryview(data)
        deadline = time.monotonic() + limit
        while view and not self.stopping:
            try:
                view = view[os.write(self.master, view):]
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise RuntimeError("the port has not been read for %.0f s" % limit)
                time.sleep(0.001)

    def stream(self, data, count):
        self.finish_stream()
        self.stopping = False

        def send_all():
            try:
                for _ in range(count):
                    self.send(data)
                    time.sleep(0.001)
            except RuntimeError as error:
                print("wine_com_port.py: stream stopped: %s" % error, file=sys.stderr)

        self.streamer = threading.Thread(target=send_all, daemon=True)
        self.streamer.start()

    def finish_stream(self):
        if self.streamer is not None:
            self.streamer.join()
            self.streamer = None

    def hang_up(self):
        # Not under a stream's feet: the descriptor's number would be reused.
        self.stopping = True
        self.finish_stream()
        if self.master >= 0:
            os.close(self.master)
            self.master = -1

    def release_all(self):
        self.hang_up()
        os.close(self.release)
        os.waitpid(self.keeper, 0)
        os.close(self.slave)


class Mapping:
    def __init__(self, prefix, com):
        self.link = os.path.join(prefix, "dosdevices", "com%d" % com)
        self.device = "\\\\.\\COM%d" % com
        self.terminal = None

    def clear_stale(self):
        if not os.path.lexists(self.link):
            return
        target = os.readlink(self.link)
        # Only a helper makes links to pseudo-terminals, and none holds the
        # lock now: this one was left by a helper that was killed.
        if not target.startswith("/dev/pts/"):
            fail("%s leads to %s, which is not a terminal of these tests; "
                 "remove it or use --com with another number" % (self.link, target))
        os.remove(self.link)

    def plug(self):
        self.unplug_and_unmap()
        self.terminal = Terminal()
        staged = self.link + ".new"
        if os.path.lexists(staged):
            os.remove(staged)
        os.symlink(self.terminal.path, staged)
        os.replace(staged, self.link)
        self.check()
        return self.device

    def check(self):
        """The link leads to the terminal held here (or, unplugged, to its
        vanished node, whose number the held slave keeps taken)."""
        if self.terminal is None:
            if os.path.lexists(self.link):
                raise RuntimeError("%s exists without a terminal" % self.link)
            return
        if os.readlink(self.link) != self.terminal.path:
            raise RuntimeError("%s no longer leads to %s" % (self.link, self.terminal.path))
        if self.terminal.master >= 0 and os.stat(self.link).st_rdev != self.terminal.rdev:
            raise RuntimeError("%s leads to another device than %s" % (self.link, self.terminal.path))

    def unplug_and_unmap(self):
        # The link goes first: the terminal's number is free once released.
        if os.path.lexists(self.link):
            os.remove(self.link)
        if self.terminal is not None:
            self.terminal.release_all()
            self.terminal = None


def answer(mapping, line):
    words = line.split()
    if not words:
        return "error empty command"
    command = words[0]
    if command == "plug":
        return "ok " + mapping.plug()
    mapping.check()
    if mapping.terminal is None:
        return "error no device: plug first"
    if command == "feed" and len(words) == 2:
        mapping.terminal.send(binascii.unhexlify(words[1]))
        return "ok"
    if command == "stream" and len(words) == 3:
        mapping.terminal.stream(binascii.unhexlify(words[2]), int(words[1]))
        return "ok"
    if command == "unplug":
        mapping.terminal.hang_up()
        return "ok"
    return "error unknown command: " + line


def serve(mapping, server, program):
    selector = selectors.DefaultSelector()
    selector.register(server, selectors.EVENT_READ)
    buffers = {}
    while program.poll() is None:
        for key, _ in selector.select(timeout=0.2):
            if key.fileobj is server:
                connection, _ = server.accept()
                selector.register(connection, selectors.EVENT_READ)
                buffers[connection] = b""
                continue
            connection = key.fileobj
            data = connection.recv(65536)
            if not data:
                selector.unregister(connection)
                connection.close()
                del buffers[connection]
                # That far end is done: its device goes with it.
                mapping.unplug_and_unmap()
                continue
            buffers[connection] += data
            while b"\n" in buffers[connection]:
                line, buffers[connection] = buffers[connection].split(b"\n", 1)
                try:
                    reply = answer(mapping, line.decode("ascii", "replace").strip())
                except (OSError, RuntimeError, ValueError) as error:
                    reply = "error %s" % error
                connection.sendall(reply.encode("ascii", "replace") + b"\n")
    return program.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--com", type=int, default=3, help="the COM port's number (default 3)")
    parser.add_argument("command", nargs=argparse.REMAINDER, help="-- COMMAND [ARGUMENTS...]")
    options = parser.parse_args()
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    if not command:
        parser.error("no command to run")

    cache = os.environ.get("ZELVAR_WINDOWS_CACHE") or os.path.expanduser("~/.cache/zelvar/windows")
    prefix = os.path.join(cache, "wine")
    if not os.path.isdir(os.path.join(prefix, "dosdevices")):
        fail("no Wine prefix in %s: run scripts/build-windows.sh first" % prefix)

    # SIGTERM (CTest's timeout) unwinds through the finally below, after
    # saying where this helper was, for a test that hangs.
    def stop(*_):
        faulthandler.dump_traceback(all_threads=True)
        sys.exit(1)
    signal.signal(signal.SIGTERM, stop)
    lock = open(os.path.join(prefix, "dosdevices", ".com%d.lock" % options.com), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    mapping = Mapping(prefix, options.com)
    mapping.clear_stale()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    environment = dict(os.environ, ZELVAR_FAR_END="127.0.0.1:%d" % server.getsockname()[1])
    program = None
    try:
        program = subprocess.Popen(command, env=environment)
        status = serve(mapping, server, program)
        if status != 0:
            print("wine_com_port.py: the program ended with exit status %d" % status, file=sys.stderr)
        return status
    finally:
        if program is not None and program.poll() is None:
            print("wine_com_port.py: stopping the program, which was still running", file=sys.stderr)
            program.terminate()
            try:
                program.wait(timeout=10)
            except subprocess.TimeoutExpired:
                program.kill()
        mapping.unplug_and_unmap()
        server.close()


if __name__ == "__main__":
    try:
        sys.exit(main())
    except OSError as error:
        if error.errno == errno.EPIPE:
            sys.exit(1)
        raise
