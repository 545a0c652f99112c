#!/usr/bin/env python3
"""Checks the layering of the tree: each folder includes only its own headers and those of
the folders below it (docs/architecture.md), a header named *_internal.h only from its own
folder (or its tests), and no source file of host/ is over 400 lines. Prints each breach
and exits 1 when there is one."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# folder -> the folders its files may include from (its own is always allowed)
ALLOWED = {
    "include/rovandel": [],
    "base": [],
    "random": ["base"],
    "terrain": ["base", "random"],
    "components": ["include/rovandel"],
    "dialog": ["components", "terrain", "random", "base", "include/rovandel"],
    "plugin": ["dialog", "components", "terrain", "random", "base", "include/rovandel"],
    "host/common": [],
    "host/model": ["host/common", "base", "include/rovandel"],
    "host/io": ["host/model", "host/common", "base", "include/rovandel"],
    "host/plugins": ["host/io", "host/model", "host/common", "base", "include/rovandel"],
    "host/render": ["host/io", "host/model", "host/common", "base"],
    "host/cli": ["host/plugins", "host/render", "host/io", "host/model", "host/common",
                 "include/rovandel"],
    "host/ui": ["host/plugins", "host/render", "host/io", "host/model", "host/common",
                "include/rovandel"],
    "host": ["host/cli", "host/ui", "host/common"],  # main.cpp
    # The QGIS provider's tool that writes the settings schema for it.
    "qgis": ["include/rovandel"],
    # The Python package's extension: the kernels, and plug-ins run as the host runs them.
    "python": ["host/plugins", "host/io", "host/model", "host/common", "terrain", "random", "base",
               "include/rovandel"],
}
# The public headers live in include/, and are named from there.
HOME = {"rovandel": "include/rovandel"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
MAX_HOST_LINES = 400


def folder_of(path):
    return path.relative_to(ROOT).parent.as_posix()


def header_folder(name):
    """The folder a header named from the root lives in ("rovandel/x.h": include/rovandel)."""
    parts = name.split("/")
    return HOME.get(parts[0]) or "/".join(parts[:-1])


def main():
    problems = []
    sources = [p for p in ROOT.rglob("*") if p.suffix in (".h", ".cpp") and
               not any(part.startswith("build") or part == ".git" for part in p.relative_to(ROOT).parts)]
    for path in sources:
        folder = folder_of(path)
        text = path.read_text(encoding="utf-8", errors="replace")
        is_test = folder.startswith(("tests", "bench", "docs"))
        for name in INCLUDE.findall(text):
            target = header_folder(name)
            if name.endswith("_internal.h"):
                own = folder == target or folder == "tests/" + target
                if not own:
                    problems.append(f"{path.relative_to(ROOT)}: includes {name}, private to {target}/")
                continue
            if is_test or target.startswith("tests"):
                continue
            if target != folder and target not in ALLOWED.get(folder, []):
                problems.append(f"{path.relative_to(ROOT)}: {folder}/ may not include {name}")
        if folder.startswith("host") and text.count("\n") > MAX_HOST_LINES:
            problems.append(f"{path.relative_to(ROOT)}: {text.count(chr(10))} lines (at most {MAX_HOST_LINES})")
    for problem in sorted(problems):
        print(problem)
    print(f"{len(sources)} files checked, {len(problems)} layering problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
