#!/usr/bin/env python3
"""Runs the sample sessions of README.md as shown and checks what they print, byte for byte.

    python3 tests/readme_examples.py build/nonl

A sample session is a code block whose first line starts with "$ ". Its blocks run in order in
one fresh folder, as a reader would follow them, each "$ " line as a bash command with `nonl`
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


def sessions(readme):
    """Each sample session's commands: (command line, expected output, typed input)."""
    blocks = re.findall(r"^```\n(.*?)^```", readme, re.S | re.M)
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


def main():
    tool = os.path.abspath(sys.argv[1])
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")) as f:
        readme = f.read()
    folder = tempfile.mkdtemp(prefix="nonl-readme-")
    try:
        os.makedirs(os.path.join(folder, "build", "bin"))
        os.symlink(tool, os.path.join(folder, "build", "nonl"))
        os.symlink(tool, os.path.join(folder, "build", "bin", "nonl"))
        env = dict(os.environ, PATH=os.path.join(folder, "build", "bin") + os.pathsep + os.environ["PATH"])
        status, failed, ran = 0, 0, 0
        for commands in sessions(readme):
            for command, printed, typed in commands:
                # $? is the status of the command before, as in the reader's shell.
                run = subprocess.run(["bash", "-c", f"(exit {status}); {command}"], cwd=folder, env=env,
                                     input=typed.encode(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                status, ran = run.returncode, ran + 1
                if run.stdout != printed.encode():
                    failed += 1
                    print(f"$ {command}\n  README shows: {printed!r}\n  it printed:   {run.stdout.decode()!r}")
        print(f"README examples: {ran - failed} passed, {failed} failed")
        return 1 if failed or not ran else 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
