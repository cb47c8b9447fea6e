#!/usr/bin/env python3
"""Records what full-screen programs send to a VT100 of 80 x 24.

Each capture runs one program on a pseudo-terminal of 80 x 24 with
TERM=vt100, in a demo folder with a neutral prompt and home, types its keys
with pauses, and keeps every byte the program wrote, as <name>.vt here. The
reference test feeds the same bytes to the terminal's screen and to libvterm
and compares the cells.

    tests/extras/captures/record.py [NAME...]     (default: every capture)
"""
import os
import pty
import select
import signal
import struct
import sys
import fcntl
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO = "/tmp/demo"

TEXT = "".join(f"Line {n:3d}: the quick brown fox jumps over the lazy dog.\n" for n in range(1, 121))

# name: (command, [(seconds to wait, keys to type), ...]); the program is
# stopped after the last step, so the capture ends on its screen.
CAPTURES = {
    "vim": (["vim", "-u", "NONE", "-i", "NONE", "-N", "-n", "notes.txt"],
            [(1.0, "\x04"), (0.5, "\x04"), (0.5, "\x15"), (0.5, "G"), (0.5, "gg"), (0.5, "\x05\x05\x05"),
             (0.5, "\x19\x19"), (0.5, "jjjOA new line above\x1b"), (0.5, "50G"), (0.5, "\x02")]),
    "less": (["less", "notes.txt"],
             [(1.0, " "), (0.5, "b"), (0.5, "kkkk"), (0.5, "jj")]),
    "top": (["top", "-d", "0.5", "-p", "{sleeper}"], [(1.5, "")]),
    "dialog": (["dialog", "--backtitle", "Serial terminal", "--title", "Port settings", "--checklist",
                "Choose the line settings:", "15", "50", "5",
                "19200", "Baud rate", "on", "8N1", "Eight bits, no parity, one stop", "on",
                "RTS/CTS", "Hardware flow control", "off", "XON/XOFF", "Software flow control", "off",
                "Echo", "Local echo", "off"],
               [(1.0, "\x1b[B"), (0.3, " "), (0.5, "")]),
    "vttest": (["vttest"], [(0.5, "\x1b[?1;2c"), (1.0, "1\r"), (1.5, "\r"), (1.5, "\r"), (1.5, "\r"), (1.5, "\r"), (1.5, "")]),
}


def record(name, command, steps):
    os.makedirs(DEMO, exist_ok=True)
    with open(os.path.join(DEMO, "notes.txt"), "w") as f:
        f.write(TEXT)
    sleeper = None
    if "{sleeper}" in command:
        sleeper = os.spawnvp(os.P_NOWAIT, "sleep", ["sleep", "60"])
        command = [c.replace("{sleeper}", str(sleeper)) for c in command]
    env = {"TERM": "vt100", "LANG": "C", "LC_ALL": "C", "HOME": DEMO, "PS1": "$ ", "PATH": "/usr/bin:/bin",
           "LINES": "24", "COLUMNS": "80", "USER": "demo", "LOGNAME": "demo"}
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(DEMO)
        os.execvpe(command[0], command, env)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    os.kill(pid, signal.SIGWINCH)
    out = bytearray()

    def drain(seconds):
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                try:
                    data = os.read(fd, 65536)
                except OSError:
                    return
                if not data:
                    return
                out.extend(data)

    for wait, keys in steps:
        drain(wait)
        if keys:
            os.write(fd, keys.encode())
    drain(0.5)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    os.close(fd)
    if sleeper:
        os.kill(sleeper, signal.SIGKILL)
        os.waitpid(sleeper, 0)
    path = os.path.join(HERE, name + ".vt")
    with open(path, "wb") as f:
        f.write(out)
    print(f"{name}: {len(out)} bytes")


def main():
    names = sys.argv[1:] or list(CAPTURES)
    for name in names:
        if name not in CAPTURES:
            print(f"record.py: no capture named {name}", file=sys.stderr)
            return 2
        command, steps = CAPTURES[name]
        record(name, command, steps)
    return 0


if __name__ == "__main__":
    sys.exit(main())
