"""The tool's texts and limits that the tests compare against, from texts.json beside this file,
which the C++ tests read too."""

import json
import os

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "texts.json")) as _file:
    _TEXTS = json.load(_file)

PROMPT = _TEXTS["prompt"]
LONGEST_NAME = _TEXTS["longestName"]  # the longest word still taken as a name


def ok(name):
    return _TEXTS["copied"].replace("%s", name)


def cannot_open(name):
    return _TEXTS["openFailed"].replace("%s", name)
