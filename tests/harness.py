"""What the Python test drivers share: the tool's texts, from texts.json beside this file (which
the C++ tests read too), and the files left in a folder."""

import json
import os

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "texts.json")) as _file:
    _TEXTS = json.load(_file)

PROMPT = _TEXTS["prompt"]


def ok(name):
    return _TEXTS["copied"].replace("%s", name)


def cannot_open(name):
    return _TEXTS["openFailed"].replace("%s", name)


def snapshot(root):
    """Every file below root, by its path from there, with its bytes."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = f.read()
    return files
