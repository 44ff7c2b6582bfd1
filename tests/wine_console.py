#!/usr/bin/env python3
"""Types names at a real Windows console: runs a Windows build of nonl under wine with its
standard streams on a pseudo-terminal, so wine gives it a console, then checks what the screen
showed, the exit status and every file left behind.

    python3 tests/wine_console.py build-win-x64/nonl.exe [--wine /usr/lib/wine/wine64]

WINEPREFIX is taken from the environment. Exits 0 when every case passes.
"""

import argparse
import os
import pty
import re
import select
import shutil
import signal
import sys
import tempfile
import time
import tty

from harness import PROMPT, cannot_open, ok, snapshot


def shown(message):
    """A message as the screen shows it: its line, without the blank lines around it."""
    return message.strip("\n")


# name: (files before, lines typed, message lines expected on the screen or None, files expected after)
CASES = [
    ("names in three scripts, one with a blank, typed at the console",
     {"café.txt": b"caf\ne\n", "Ωμέγα.txt": b"o\nm\r\ne\n", "日本 語.txt": b"ni\nhon\n"},
     ["café.txt", "Ωμέγα.txt", '"日本 語.txt"', "q"],
     [shown(ok("café.txt")), shown(ok("Ωμέγα.txt")), shown(ok("日本 語.txt"))],
     {"café.txt": b"caf\ne\n", "Ωμέγα.txt": b"o\nm\r\ne\n", "日本 語.txt": b"ni\nhon\n",
      "café.txt_noNl.txt": b"cafe", "Ωμέγα.txt_noNl.txt": b"ome", "日本 語.txt_noNl.txt": b"nihon"}),
    # Opened as files, these would read the keyboard and swallow all that is typed after them.
    ("the console's own names are refused, even with a real con.txt, and q still ends the tool",
     {"con.txt": b"c\n"},
     ["CON", "CONIN$", "con.txt", "q"],
     [shown(cannot_open(name)) for name in ("CON", "CONIN$", "con.txt")],
     {"con.txt": b"c\n"}),
    # The console is read 1023 units at a time: the emoji's two halves come in two reads. (Wine's
    # console draws a character beyond U+FFFF as two replacement characters: the copy tells.)
    ("a character beyond U+FFFF split between two console reads",
     {"😀.txt": b"e\n"},
     [" " * 1022 + "😀.txt", "q"],
     None,
     {"😀.txt": b"e\n", "😀.txt_noNl.txt": b"e"}),
    ("Ctrl-Z then Enter ends the tool as q does",
     {"café.txt": b"caf\ne\n"},
     ["\x1a"],
     [],
     {"café.txt": b"caf\ne\n"}),
]

ESCAPES = [
    # wine's console draws a blank by moving the cursor on, so that becomes blanks again
    (re.compile(r"\x1b\[(\d*)C"), lambda m: " " * int(m.group(1) or 1)),
    (re.compile(r"\x1b\[[0-?]*[ -/]*[@-~]"), ""),  # other CSI: colours, cursor, erase
    (re.compile(r"\x1b\][^\x07]*\x07"), ""),       # OSC: window title
    (re.compile(r"\x1b."), ""),
    (re.compile(r"\r"), ""),
]


def screen_text(raw):
    text = raw.decode("utf-8", "replace")
    for pattern, replacement in ESCAPES:
        text = pattern.sub(replacement, text)
    return text


class Session:
    """The tool on a pseudo-terminal: what it drew so far, and a way to type."""

    def __init__(self, command, folder, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                # Raw from the start: an Enter typed before wine sets up its console
                # would otherwise reach it as LF, which the console takes as Ctrl-J.
                tty.setraw(0)
                os.chdir(folder)
                os.execvpe(command[0], command, env)
            finally:
                os._exit(127)
        self.raw = b""
        self.closed = False

    def read_until(self, done, seconds):
        """Reads the screen until done(screen) holds, the terminal closes or time runs out."""
        end = time.monotonic() + seconds
        while not done(screen_text(self.raw)) and not self.closed:
            left = end - time.monotonic()
            if left <= 0:
                return False
            if select.select([self.fd], [], [], min(left, 1.0))[0]:
                try:
                    chunk = os.read(self.fd, 65536)
                except OSError:  # EIO: every program on the terminal has closed it
                    chunk = b""
                self.raw += chunk
                self.closed = not chunk
        return done(screen_text(self.raw))

    def type(self, line):
        os.write(self.fd, line.encode("utf-8") + b"\r")

    def finish(self, seconds):
        """The exit status, or None when the tool had to be killed."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.read_until(lambda _: False, 0.5)
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                os.close(self.fd)
                return os.waitstatus_to_exitcode(status)
        os.killpg(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        os.close(self.fd)
        return None


def run_case(command, env, case, start_seconds):
    name, before, typed, messages, after = case
    folder = tempfile.mkdtemp(prefix="nonl-console-")
    try:
        for file, data in before.items():
            with open(os.path.join(folder, file), "wb") as f:
                f.write(data)
        session = Session(command, folder, env)
        problems = []
        for count, line in enumerate(typed, start=1):
            wait = start_seconds if count == 1 else 60
            if not session.read_until(lambda s, n=count: s.count(PROMPT) >= n, wait):
                problems.append(f"prompt {count} did not appear within {wait} s, "
                                f"before typing {line!r}")
                break
            session.type(line)
        status = session.finish(60)
        screen = screen_text(session.raw)
        shown = [line for line in screen.split("\n")
                 if line.startswith(("Successfully", "Unable"))]
        if status is None:
            problems.append("did not end within 60 s of the last wait: killed")
        elif status != 0:
            problems.append(f"exit status {status}, expected 0")
        if messages is not None and shown != messages:
            problems.append(f"messages on the screen:\n    {shown!r}\n  expected:\n    {messages!r}")
        if not problems and screen.count(PROMPT) != len(typed):
            problems.append(f"{screen.count(PROMPT)} prompts on the screen, expected {len(typed)}")
        left = snapshot(folder)
        if left != after:
            for file in sorted(set(left) | set(after)):
                if left.get(file) != after.get(file):
                    problems.append(f"file {file!r}: {left.get(file)!r}, expected {after.get(file)!r}")
        if problems:
            print(f"FAIL: {name}")
            for problem in problems:
                print("  " + problem)
            print("  screen:\n    " + screen.replace("\n", "\n    "))
            return False
        print(f"ok: {name}")
        return True
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", help="the Windows build of nonl")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64", help="the wine loader")
    parser.add_argument("--start-seconds", type=float, default=300,
                        help="how long wine may take to show the first prompt")
    args = parser.parse_args()

    env = dict(os.environ)
    # The terminal speaks UTF-8 and wine reads its locale from these; LC_ALL beats any LC_*.
    # A fixed TERM keeps the screen the same wherever this runs.
    env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8", WINEDEBUG="-all", TERM="xterm")
    command = [args.wine, os.path.abspath(args.exe)]
    failed = sum(not run_case(command, env, case, args.start_seconds) for case in CASES)
    print(f"wine console: {len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
