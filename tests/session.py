#!/usr/bin/env python3
"""Runs nonl once on a scripted session of many names and checks the exact console bytes, the
exit status and every file left in the folder.

    python3 tests/session.py build/nonl
    python3 tests/session.py /usr/lib/wine/wine build-win-x86/nonl.exe

One start is the point: under wine and qemu a start takes tens of seconds, so every case shares
it. A command naming a .exe is held to Windows' rules: each LF the tool writes arrives as CRLF,
the typed lines end in CRLF and are read as LF, and in a file a CR right before an LF is dropped
with it. Standard output and error go to files, not pipes: wine's helper processes can hold a
pipe open long after the tool has ended. Exits 0 when everything matches.
"""

import argparse
import difflib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from texts import LONGEST_NAME as LONG_LIMIT, PROMPT, cannot_open, ok

def marked(text, encoding):
    """The text after its byte-order mark."""
    return ("\ufeff" + text).encode(encoding)


def cases(windows, long_word, encoding):
    """Rows of (what, line typed, files before, messages, files the tool adds)."""
    sep = "\\" if windows else "/"
    crlf_out = b"abc" if windows else b"a\rb\rc"
    over = "x" * long_word
    at_limit = "y" * LONG_LIMIT
    devices = "NUL nul.txt AUX aux.txt COM1 CONIN$ CON".split()
    windows_only = [
        ("device names, even with a real file of that name, then a real file",
         " ".join(devices) + " real.txt", {"nul.txt": b"n\n", "aux.txt": b"a\n", "real.txt": b"r\n"},
         [cannot_open(name) for name in devices] + [ok("real.txt")], {"real.txt_noNl.txt": b"r"}),
    ] if windows else []
    if windows and encoding == "utf-8":  # a mark says the whole list is UTF-8 or UTF-16
        # \udce9: the byte 0xE9, é in the ANSI code page (wine's: 1252)
        windows_only.append(("a word in the ANSI code page", "caf\udce9.txt", {"café.txt": b"c\n"},
                             [ok("caf\udce9.txt")], {"café.txt_noNl.txt": b"c"}))
    return windows_only + [
        ("names beyond ASCII in the list's encoding", "café.txt Ωμέγα.txt",
         {"café.txt": b"c\n", "Ωμέγα.txt": b"o\n"}, [ok("café.txt"), ok("Ωμέγα.txt")],
         {"café.txt_noNl.txt": b"c", "Ωμέγα.txt_noNl.txt": b"o"}),
        ("a plain name", "notes.txt", {"notes.txt": b"one\ntwo\n\nthree\n"},
         [ok("notes.txt")], {"notes.txt_noNl.txt": b"onetwothree"}),
        ("a file with CRLF lines", "dos.txt", {"dos.txt": b"a\r\nb\r\nc"},
         [ok("dos.txt")], {"dos.txt_noNl.txt": crlf_out}),
        ("Ctrl-Z and what follows it, a lone CR and CR CR LF are kept", "sub.txt",
         {"sub.txt": b"abc\r\ndef\x1aghi\r\r\n\r"}, [ok("sub.txt")],
         {"sub.txt_noNl.txt": b"abcdef\x1aghi\r\r" if windows else b"abc\rdef\x1aghi\r\r\r"}),
        ("UTF-16 and UTF-32 text after a byte-order mark loses whole units", "le.txt be.txt 32.txt",
         {"le.txt": marked("a\r\n上😀\r\n", "utf-16-le"), "be.txt": marked("a\r\n上😀\r\n", "utf-16-be"),
          "32.txt": marked("x\r\ny\n", "utf-32-le")}, [ok("le.txt"), ok("be.txt"), ok("32.txt")],
         {"le.txt_noNl.txt": marked("a上😀" if windows else "a\r上😀\r", "utf-16-le"),
          "be.txt_noNl.txt": marked("a上😀" if windows else "a\r上😀\r", "utf-16-be"),
          "32.txt_noNl.txt": marked("xy" if windows else "x\ry", "utf-32-le")}),
        ("a missing name", "missing.txt", {}, [cannot_open("missing.txt")], {}),
        ("a quoted name with blanks", '"New Text Document.txt"',
         {"New Text Document.txt": b"new\ntext\n"},
         [ok("New Text Document.txt")], {"New Text Document.txt_noNl.txt": b"newtext"}),
        ("a pasted quoted path with folders", f'"sub dir{sep}notes.txt"',
         {"sub dir/notes.txt": b"in\nsub\n"},
         [ok(f"sub dir{sep}notes.txt")], {"sub dir/notes.txt_noNl.txt": b"insub"}),
        ("text after the closing quote belongs to the name", f'"My Documents"{sep}a.txt',
         {"My Documents/a.txt": b"my\ndocs\n"},
         [ok(f"My Documents{sep}a.txt")], {"My Documents/a.txt_noNl.txt": b"mydocs"}),
        ("single quotes", "'my notes.txt'", {"my notes.txt": b"single\nquotes\n"},
         [ok("my notes.txt")], {"my notes.txt_noNl.txt": b"singlequotes"}),
        ("a quote inside a word belongs to the name", "it's.txt", {"it's.txt": b"it\ns\n"},
         [ok("it's.txt")], {"it's.txt_noNl.txt": b"its"}),
        ('a quoted "q" names a file', '"q"', {"q": b"q\nq\n"}, [ok("q")], {"q_noNl.txt": b"qq"}),
        # odd.txt exists, so dropping the lone quote would open it
        ("an unclosed quote stays in the name", '"odd.txt', {"odd.txt": b"odd\n"},
         [cannot_open('"odd.txt')], {}),
        (f"a word of {long_word} characters, then a name on the same line",
         over + " after-long.txt", {"after-long.txt": b"still\nhere\n"},
         [cannot_open(over[:64] + "..."), ok("after-long.txt")],
         {"after-long.txt_noNl.txt": b"stillhere"}),
        (f"a word of {LONG_LIMIT} characters is still a name", at_limit, {},
         [cannot_open(at_limit)], {}),
        ("two names on one line", "a.txt b.txt", {"a.txt": b"a\n", "b.txt": b"b\n"},
         [ok("a.txt"), ok("b.txt")], {"a.txt_noNl.txt": b"a", "b.txt_noNl.txt": b"b"}),
        ("empty and blank lines between two names bring no prompt", "c.txt\n\n \t\nd.txt",
         {"c.txt": b"c\n", "d.txt": b"d\n"},
         [ok("c.txt"), ok("d.txt")], {"c.txt_noNl.txt": b"c", "d.txt_noNl.txt": b"d"}),
        # None: the file must not exist
        ("q quits: the name after it is never read", "q\nafter-q.txt", {"after-q.txt": b"x\n"},
         [], {"after-q.txt_noNl.txt": None}),
    ]


def snapshot(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = f.read()
    return files


def short(data, limit=160):
    text = repr(data)
    return text if len(text) <= limit else f"{text[:limit]}... ({len(data)} long)"


def run_once(command, folder, stdin_path, out_path, err_path, timeout):
    """Runs the command to its end; returns (exit status, or None when killed, seconds)."""
    started = time.monotonic()
    with open(stdin_path, "rb") as stdin, open(out_path, "wb") as out, open(err_path, "wb") as err:
        tool = subprocess.Popen(command, cwd=folder, stdin=stdin, stdout=out, stderr=err,
                                start_new_session=True)
    try:
        status = tool.wait(timeout)
    except subprocess.TimeoutExpired:
        os.killpg(tool.pid, signal.SIGKILL)
        tool.wait()
        status = None
    return status, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", nargs="+", help="how to start the tool")
    parser.add_argument("--long-word", type=int, default=40000,
                        help="length of the word past the limit (the Linux build takes 64 MiB)")
    parser.add_argument("--max-rss-mib", type=float,
                        help="fail when the started process's peak memory exceeds this")
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--names-encoding", default="utf-8",
                        help="how the list of names is saved: utf-8, utf-8-sig (with a mark), utf-16 (LE, "
                             "with a mark; Windows builds only)")
    args = parser.parse_args()

    windows = any(word.lower().endswith(".exe") for word in args.command)
    newline = "\r\n" if windows else "\n"
    command = [os.path.abspath(word) if os.path.exists(word) else word for word in args.command]
    rows = cases(windows, args.long_word, args.names_encoding)

    root = tempfile.mkdtemp(prefix="nonl-session-")
    try:
        folder = os.path.join(root, "work")
        before, expected_files = {}, {}
        for _, _, files, _, _ in rows:
            before.update(files)
        for name, data in before.items():
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        expected_files.update(before)
        for _, _, _, _, added in rows:
            expected_files.update({name: data for name, data in added.items() if data is not None})
        stdin_path = os.path.join(root, "stdin")
        with open(stdin_path, "wb") as f:
            f.write("".join(line.replace("\n", newline) + newline
                            for _, line, _, _, _ in rows).encode(args.names_encoding, "surrogateescape"))
        out_path, err_path = os.path.join(root, "stdout"), os.path.join(root, "stderr")

        rss_path = os.path.join(root, "rss")
        if args.max_rss_mib is not None:
            # A child of Python starts out as large as Python; time's child starts small.
            command = ["/usr/bin/time", "-f", "%M", "-o", rss_path] + command
        status, seconds = run_once(command, folder, stdin_path, out_path, err_path, args.timeout)
        with open(out_path, "rb") as f:
            console = f.read()
        with open(err_path, "rb") as f:
            errors = f.read()
        left = snapshot(folder)

        messages = [m for _, _, _, row_messages, _ in rows for m in row_messages]
        wanted = PROMPT + "".join(m + PROMPT for m in messages)

        failures = []
        # Messages show each name in the bytes it came in; UTF-8 for a UTF-16 list.
        if console != wanted.replace("\n", newline).encode("utf-8", "surrogateescape"):
            failures.append("console bytes; expected (-) and seen (+), cut at each prompt:")
            seen = console.decode("utf-8", "replace").replace(newline, "\n").split(PROMPT)
            failures += ["  " + line for line in difflib.unified_diff(
                [short(p) for p in wanted.split(PROMPT)], [short(p) for p in seen], lineterm="", n=1)]
        for name in sorted(set(left) | set(expected_files)):
            if left.get(name) != expected_files.get(name):
                failures.append(f"file {name!r}: {short(left.get(name))}, "
                                f"expected {short(expected_files.get(name))}")
        if status != 0:
            failures.append("still running: killed" if status is None else f"exit status {status}")
        if errors:
            failures.append(f"standard error: {short(errors)}")
        peak = ""
        if args.max_rss_mib is not None and os.path.exists(rss_path):
            with open(rss_path) as f:
                peak_mib = int(f.read().split()[-1]) / 1024
            peak = f", peak {peak_mib:.1f} MiB"
            if peak_mib > args.max_rss_mib:
                failures.append(f"peak memory {peak_mib:.1f} MiB, over {args.max_rss_mib} MiB")

        for failure in failures:
            print(failure)
        print(f"{' '.join(args.command)}: {len(messages)} names in {len(rows)} cases, "
              f"a list in {args.names_encoding}, one start, "
              f"{seconds:.1f} s{peak}")
        print(f"session: {0 if failures else 1} passed, {1 if failures else 0} failed")
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
