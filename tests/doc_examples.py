#!/usr/bin/env python3
"""Runs the sample sessions of README.md and of the manual's EXAMPLES as shown, byte for byte:
python3 tests/doc_examples.py build/nonl

A session is a code block (an .EX block in the manual) that starts with "$ ". A document's
blocks run in order in one fresh folder, each "$ " line a bash command (`nonl` and
`./build/nonl` are the tool given) that must print the lines up to the next "$ " (stdout and
stderr together). What follows a prompt is typed: the terminal shows it, the tool does not.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

# The prompt as every test knows it, from the texts the C++ tests read too.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "texts.json")) as _texts:
    PROMPT = json.load(_texts)["prompt"]


def manual_blocks(text):
    """The .EX blocks of the manual page as a reader sees them: roff's escapes undone."""
    for block in re.findall(r"^\.EX\n(.*?)^\.EE", text, re.S | re.M):
        for roff, shown in (("\\&", ""), ("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'), ("\\e", "\\")):
            block = block.replace(roff, shown)
        yield block


def commands(blocks):
    """Each session's commands in order: (command line, expected output, typed input)."""
    for block in (block for block in blocks if block.startswith("$ ")):
        for chunk in re.split(r"^\$ ", block, flags=re.M)[1:]:
            command, _, shown = chunk.partition("\n")
            typed = re.findall("^" + re.escape(PROMPT) + "(.*)\n", shown, re.M)
            printed = re.sub("^(" + re.escape(PROMPT) + ").*\n", r"\1", shown, flags=re.M)
            yield command, printed, "".join(line + "\n" for line in typed)


def run(tool, document, blocks):
    """Runs a document's sessions in a fresh folder; how many commands ran and failed."""
    with tempfile.TemporaryDirectory(prefix="nonl-examples-") as folder:
        os.makedirs(os.path.join(folder, "build", "bin"))
        os.symlink(tool, os.path.join(folder, "build", "nonl"))
        os.symlink(tool, os.path.join(folder, "build", "bin", "nonl"))
        env = dict(os.environ, PATH=os.path.join(folder, "build", "bin") + os.pathsep + os.environ["PATH"])
        status, failed, ran = 0, 0, 0
        for command, printed, typed in commands(blocks):
            # $? is the status of the command before, as in the reader's shell.
            result = subprocess.run(["bash", "-c", f"(exit {status}); {command}"], cwd=folder, env=env,
                                    input=typed.encode(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            status, ran = result.returncode, ran + 1
            if result.stdout != printed.encode():
                failed += 1
                print(f"{document}: $ {command}\n  shows:      {printed!r}\n  it printed: {result.stdout.decode()!r}")
        print(f"{document} examples: {ran - failed} passed, {failed} failed")
        return ran, failed


def main():
    tool = os.path.abspath(sys.argv[1])
    read = lambda *path: open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", *path)).read()
    results = [run(tool, "README.md", re.findall(r"^```\n(.*?)^```", read("README.md"), re.S | re.M)),
               run(tool, "nonl.1", list(manual_blocks(read("doc", "nonl.1.in"))))]
    return 1 if any(failed or not ran for ran, failed in results) else 0


if __name__ == "__main__":
    sys.exit(main())
