#!/usr/bin/env python3
"""Runs the sample sessions of README.md and of the manual page's EXAMPLES as shown and checks
what they print, byte for byte.

    python3 tests/doc_examples.py build/nonl

A sample session is a code block (in the manual, an .EX block) whose first line starts with
"$ ". The blocks of each document run in order in one fresh folder, as a reader would follow them, each "$ " line as a bash command with `nonl`
and `./build/nonl` standing for the tool given; the lines up to the next "$ " are what it must
print (standard output and error together, as a terminal shows them). What is typed after a
prompt is the command's input: a terminal shows it, with the Enter that ends it, and the tool
does not print it. Exits 0 when every command printed what the README shows.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# The prompt as every test knows it, from the texts the C++ tests read too.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "texts.json")) as _texts:
    PROMPT = json.load(_texts)["prompt"]


def readme_blocks(text):
    return re.findall(r"^```\n(.*?)^```", text, re.S | re.M)


def manual_blocks(text):
    """The .EX blocks of the manual page as a reader sees them: roff's escapes undone."""
    for block in re.findall(r"^\.EX\n(.*?)^\.EE", text, re.S | re.M):
        for roff, shown in (("\\&", ""), ("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'), ("\\e", "\\")):
            block = block.replace(roff, shown)
        yield block


def sessions(blocks):
    """Each sample session's commands: (command line, expected output, typed input)."""
    for block in blocks:
        if not block.startswith("$ "):
            continue
        commands = []
        for chunk in re.split(r"^\$ ", block, flags=re.M)[1:]:
            command, _, shown = chunk.partition("\n")
            typed = re.findall("^" + re.escape(PROMPT) + "(.*)\n", shown, re.M)
            printed = re.sub("^(" + re.escape(PROMPT) + ").*\n", r"\1", shown, flags=re.M)
            commands.append((command, printed, "".join(line + "\n" for line in typed)))
        yield commands


def run(tool, document, blocks):
    """Runs a document's sessions in a fresh folder; the number of commands run and failed."""
    folder = tempfile.mkdtemp(prefix="nonl-examples-")
    try:
        os.makedirs(os.path.join(folder, "build", "bin"))
        os.symlink(tool, os.path.join(folder, "build", "nonl"))
        os.symlink(tool, os.path.join(folder, "build", "bin", "nonl"))
        env = dict(os.environ, PATH=os.path.join(folder, "build", "bin") + os.pathsep + os.environ["PATH"])
        status, failed, ran = 0, 0, 0
        for commands in sessions(blocks):
            for command, printed, typed in commands:
                # $? is the status of the command before, as in the reader's shell.
                result = subprocess.run(["bash", "-c", f"(exit {status}); {command}"], cwd=folder, env=env,
                                        input=typed.encode(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                status, ran = result.returncode, ran + 1
                if result.stdout != printed.encode():
                    failed += 1
                    print(f"{document}: $ {command}\n  shows:      {printed!r}\n  it printed: {result.stdout.decode()!r}")
        print(f"{document} examples: {ran - failed} passed, {failed} failed")
        return ran, failed
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    tool = os.path.abspath(sys.argv[1])
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    with open(os.path.join(top, "README.md")) as f:
        readme = f.read()
    with open(os.path.join(top, "doc", "nonl.1.in")) as f:
        manual = f.read()
    results = [run(tool, "README.md", readme_blocks(readme)), run(tool, "nonl.1", list(manual_blocks(manual)))]
    return 1 if any(failed or not ran for ran, failed in results) else 0


if __name__ == "__main__":
    sys.exit(main())
