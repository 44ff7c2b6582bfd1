#!/usr/bin/env python3
"""Times nonl against `tr -d '\\n'` and a plain `dd bs=1M` copy on a large text file.

Usage: python3 bench/run.py [--mib 256] [--rounds 7] [--tool build/nonl]
Prints medians, throughput, the ratios tr/tool and tool/dd, the tool's peak
memory, and the in-memory speed of every line-end kernel (nonl_kernel_bench,
built beside the tool); exits non-zero if the tool's output differs from tr's.
"""
import argparse
import filecmp
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024


def make_text(path, size, seed=1):
    """Lines of 0 to 15 random lowercase words of 1 to 9 letters."""
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz"
    words = ["".join(rng.choices(letters, k=rng.randint(1, 9))) for _ in range(20000)]
    written = 0
    with open(path, "w", newline="\n") as out:
        while written < size:
            lines = [" ".join(rng.choices(words, k=rng.randint(0, 15))) + "\n" for _ in range(50000)]
            chunk = "".join(lines)[: size - written]
            out.write(chunk)
            written += len(chunk)


def timed(args, stdin=None, stdout=subprocess.DEVNULL, cwd=None, input_bytes=None):
    start = time.perf_counter()
    subprocess.run(args, stdin=stdin, stdout=stdout, cwd=cwd, input=input_bytes, check=True)
    return time.perf_counter() - start


def run_tool(tool, folder, name):
    return timed([tool], cwd=folder, input_bytes=f"{name}\nq\n".encode())


def run_tr(src, dst):
    with open(src, "rb") as i, open(dst, "wb") as o:
        return timed(["tr", "-d", "\n"], stdin=i, stdout=o)


def run_dd(src, dst):
    return timed(["dd", f"if={src}", f"of={dst}", "bs=1M", "status=none"])


def peak_kib(tool, folder, name):
    """The tool's peak resident memory, from /usr/bin/time."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M", tool], cwd=folder,
                            input=f"{name}\nq\n".encode(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, check=True)
    return int(result.stderr.decode().strip().splitlines()[-1])


def processor():
    """The processor's model and the vector instructions the kernels may use."""
    model, flags = "", set()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                key, _, value = line.partition(":")
                if key.strip() == "model name" and not model:
                    model = value.strip()
                elif key.strip() == "flags" and not flags:
                    flags = set(value.split())
    except OSError:
        pass
    model = model or platform.processor() or platform.machine()
    vector = [name for name, flag in (("SSSE3", "ssse3"), ("AVX2", "avx2"), ("AVX-512 VBMI2", "avx512_vbmi2"))
              if flag in flags]
    return f"{model}, {', '.join(vector) if vector else 'no vector kernel'}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, default=256, help="size of the text file (MiB)")
    parser.add_argument("--rounds", type=int, default=7, help="rounds of timing")
    parser.add_argument("--tool", default="build/nonl", help="the nonl executable")
    opts = parser.parse_args()
    tool = os.path.abspath(opts.tool)

    base = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    folder = tempfile.mkdtemp(prefix="nonl-bench-", dir=base)
    try:
        size = opts.mib * MIB
        edge = max(size // 4, MIB)
        files = {"text": os.path.join(folder, "text.txt"),
                 "no-LF": os.path.join(folder, "nolf.txt"),
                 "all-LF": os.path.join(folder, "alllf.txt")}
        make_text(files["text"], size)
        with open(files["no-LF"], "wb") as out:
            out.write(b"x" * edge)
        with open(files["all-LF"], "wb") as out:
            out.write(b"\n" * edge)
        # The same lines in UTF-16 after its byte-order mark, as large as the text file.
        with open(files["text"], "rb") as source:
            lines = source.read(size // 2 - 1).decode("ascii")
        files["utf-16"] = os.path.join(folder, "utf16.txt")
        with open(files["utf-16"], "wb") as out:
            out.write(("\ufeff" + lines).encode("utf-16-le"))

        # Each program: its label, the ending of its output file, how to run it.
        programs = {
            "nonl": ("nonl", "_noNl.txt", lambda path, out: run_tool(tool, folder, os.path.basename(path))),
            "tr": ("tr -d '\\n'", ".tr", run_tr),
            "dd": ("dd bs=1M", ".dd", run_dd),
        }
        order = list(programs)
        # tr knows only bytes: it is left out for UTF-16.
        runs = {kind: [p for p in programs if kind != "utf-16" or p != "tr"] for kind in files}
        times = {(f, p): [] for f in files for p in runs[f]}
        for round_ in range(opts.rounds):
            for kind, path in files.items():
                # Each round starts with another program, so none always runs first.
                for program in [p for p in order[round_ % 3:] + order[:round_ % 3] if p in runs[kind]]:
                    _, ending, run = programs[program]
                    out = path + ending
                    if os.path.exists(out):  # every program writes a new file
                        os.remove(out)
                    times[kind, program].append(run(path, out))

        same = True
        for kind, path in files.items():
            if kind != "utf-16" and not filecmp.cmp(path + "_noNl.txt", path + ".tr", shallow=False):
                print(f"MISMATCH: nonl's output for the {kind} file differs from tr's")
                same = False
        with open(files["utf-16"] + "_noNl.txt", "rb") as copied:
            if copied.read() != ("\ufeff" + lines.replace("\n", "")).encode("utf-16-le"):
                print("MISMATCH: nonl's output for the utf-16 file lost more than its LF units")
                same = False

        where = base or tempfile.gettempdir()
        print(f"processor: {processor()}")
        print(f"nonl benchmark: {opts.mib} MiB text file and the same size in UTF-16, edge files of {edge // MIB} MiB, "
              f"in {where}, {opts.rounds} rounds, {os.cpu_count()} cores; medians")
        print(f"{'file':8} {'program':10} {'seconds':>8} {'MiB/s':>8}")
        median = {}
        for kind, path in files.items():
            mib = os.path.getsize(path) / MIB
            for program in runs[kind]:
                label = programs[program][0]
                m = statistics.median(times[kind, program])
                median[kind, program] = m
                print(f"{kind:8} {label:10} {m:8.3f} {mib / m:8.0f}")
        tr_ratio = median["text", "tr"] / median["text", "nonl"]
        dd_ratio = median["text", "nonl"] / median["text", "dd"]
        print(f"tr/tool {tr_ratio:.2f}  (nonl is {tr_ratio:.2f} times as fast as tr -d '\\n')")
        print(f"tool/dd {dd_ratio:.2f}  (nonl takes {dd_ratio:.2f} times as long as a plain copy)")
        utf16_ratio = median["utf-16", "nonl"] / median["text", "nonl"]
        print(f"utf-16/text {utf16_ratio:.2f}  (a UTF-16 file takes {utf16_ratio:.2f} times as long "
              f"as the byte file of the same size)")

        small = os.path.join(folder, "small.txt")
        make_text(small, 1024)
        if shutil.which("/usr/bin/time"):
            small_kib = peak_kib(tool, folder, "small.txt")
            large_kib = peak_kib(tool, folder, "text.txt")
            print(f"peak memory: {small_kib} KiB for 1 KiB, {large_kib} KiB for {opts.mib} MiB "
                  f"({large_kib - small_kib:+d} KiB)")
        else:
            print("peak memory: not measured (/usr/bin/time is missing)")
        print("outputs: identical to tr -d '\\n'" if same else "outputs: DIFFERENT from tr -d '\\n'")
        kernels = os.path.join(os.path.dirname(tool), "nonl_kernel_bench")
        if os.path.exists(kernels):
            print("line-end kernels in memory, 128 KiB blocks, each new text (medians):")
            print(subprocess.run([kernels], check=True, capture_output=True, text=True).stdout, end="")
        else:
            print(f"line-end kernels: not measured ({kernels} is missing: configure with -DNONL_BENCH=ON)")
        return 0 if same else 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
