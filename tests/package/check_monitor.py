#!/usr/bin/env python3
"""Runs cport_monitor as a person would: its command line, then against a
pseudo-terminal whose far end this script plays: bytes sent from the far end
must be printed as hex and text, lines typed on standard input must reach the
far end, and the end of standard input ends the program with status 0.

    check_monitor.py PROGRAM
"""
import os
import pty
import select
import subprocess
import sys
import time

DEADLINE = 20  # seconds for anything to happen; nothing here is timed


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(program, *args):
    return subprocess.run([program, *args], capture_output=True, text=True, timeout=DEADLINE)


def check_command_line(program):
    r = run(program, "--help")
    if r.returncode != 0 or "Usage: cport_monitor" not in r.stdout or "--baud" not in r.stdout:
        fail("--help: status %d, output %r" % (r.returncode, r.stdout))
    r = run(program, "--version")
    if r.returncode != 0 or not r.stdout.startswith("cport_monitor (Tarnby serial port library) "):
        fail("--version: status %d, output %r" % (r.returncode, r.stdout))
    for args in (["--bogus", "/dev/null"], ["-x", "/dev/null"], [], ["--baud=fast", "/dev/null"],
                 ["--parity", "sideways", "/dev/null"], ["a", "b"], ["--baud"], ["--list", "/dev/null"]):
        r = run(program, *args)
        if r.returncode != 2 or r.stderr.count("\n") != 1 or r.stdout:
            fail("%s: wanted one line and status 2, got %d and %r" % (args, r.returncode, r.stderr))
    # The machine's ports, one line each, each starting with its device file.
    r = run(program, "--list")
    if r.returncode != 0 or any(not line.startswith("/dev/") for line in r.stdout.splitlines()):
        fail("--list: status %d, output %r %r" % (r.returncode, r.stdout, r.stderr))
    r = run(program, "/dev/tarnby-no-such-port")
    if r.returncode != 1 or "cannot open /dev/tarnby-no-such-port: No such file or directory" not in r.stderr:
        fail("missing device: status %d, %r" % (r.returncode, r.stderr))


def read_until(fd, wanted, what):
    got = b""
    end = time.monotonic() + DEADLINE
    while wanted not in got:
        left = end - time.monotonic()
        if left <= 0:
            fail("%s: wanted %r, got %r" % (what, wanted, got))
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 4096)
            if not chunk:
                fail("%s: end of output before %r; got %r" % (what, wanted, got))
            got += chunk
    return got


def check_traffic(program):
    master, slave = pty.openpty()
    device = os.ttyname(slave)
    os.close(slave)  # the monitor opens it by its path
    monitor = subprocess.Popen([program, "--baud=19200", device], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        read_until(monitor.stderr.fileno(), b"open at 19200", "the monitor's start line")
        os.write(master, b"hello\x00\xff")
        line = read_until(monitor.stdout.fileno(), b"|\n", "the received bytes").decode()
        if "68 65 6c 6c 6f 00 ff" not in line or "|hello..|" not in line:
            fail("received bytes shown as %r" % line)
        monitor.stdin.write(b"ping\n")
        monitor.stdin.flush()
        read_until(master, b"ping\n", "standard input at the far end")
        monitor.stdin.close()
        status = monitor.wait(timeout=DEADLINE)
        if status != 0:
            fail("the end of standard input: status %d, %r" % (status, monitor.stderr.read()))
    finally:
        if monitor.poll() is None:
            monitor.kill()
            monitor.wait()
        os.close(master)


def main():
    if len(sys.argv) != 2:
        print("usage: check_monitor.py PROGRAM", file=sys.stderr)
        return 2
    program = sys.argv[1]
    check_command_line(program)
    check_traffic(program)
    print("cport_monitor: its command line and its traffic on a pseudo-terminal are as they should be")
    return 0


if __name__ == "__main__":
    sys.exit(main())
