"""GStreamer restricted to the plug-in files a router image carries.

The README's "What a router image needs" section is the list: every plug-in
file it names (`libgstNAME`, not the `libgstNAME-1.0` support libraries) is
linked into one directory, which becomes GStreamer's only plug-in path, with
a registry file of its own. The end-to-end test of that list and the
start-up benchmark build their sets here, so both measure the same image.
"""

import os
import re
import shlex
import subprocess
from pathlib import Path

from harness import SOURCE_DIR, emulator_prefix

SECTION = "### What a router image needs"
# A plug-in file's name; the support libraries it needs end in "-1.0".
PLUGIN_NAME = re.compile(r"\blibgst[a-z0-9_]+\b(?!-)")


def readme_section(readme=None):
    text = Path(readme or SOURCE_DIR / "README.md").read_text()
    start = text.index(SECTION) + len(SECTION)
    end = text.find("\n## ", start)
    return text[start:end if end >= 0 else len(text)]


def readme_plugins(readme=None):
    """(every plug-in file the section names, {table row's first cell: the
    plug-in files that row names})."""
    section = readme_section(readme)
    rows = {}
    lines = section.splitlines()
    for line, following in zip(lines, lines[1:] + [""]):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        # a table's head is the row above its |---| line, which is no row either
        if line.startswith("|") and not following.startswith("|--") \
                and not line.startswith("|--"):
            rows[cells[0]] = set(PLUGIN_NAME.findall(" ".join(cells[1:])))
    return set(PLUGIN_NAME.findall(section)), rows


def system_plugin_dir():
    """The plug-in directory of the GStreamer the player under test runs
    with: the sysroot's, named to the emulator, for a cross build."""
    prefix = emulator_prefix()
    for i, word in enumerate(prefix[:-1]):
        if word == "-E" and prefix[i + 1].startswith("GST_PLUGIN_SYSTEM_PATH="):
            return Path(prefix[i + 1].split("=", 1)[1])
    out = subprocess.run(["pkg-config", "--variable=pluginsdir", "gstreamer-1.0"],
                         check=True, capture_output=True, text=True).stdout
    return Path(out.strip())


def make_plugin_set(directory, leave_out=(), source=None):
    """Links the README's plug-in files, but those in leave_out, into
    directory (made anew). Returns (the environment that restricts GStreamer
    to them, the files named but not installed in the source directory)."""
    source = Path(source or system_plugin_dir())
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.iterdir():
        old.unlink()
    named, _ = readme_plugins()
    missing = set()
    for name in sorted(named - set(leave_out)):
        target = source / f"{name}.so"
        if target.exists():
            (directory / target.name).symlink_to(target)
        else:
            missing.add(name)
    registry = directory.parent / f"{directory.name}.registry"
    registry.unlink(missing_ok=True)
    env = {
        "GST_PLUGIN_SYSTEM_PATH_1_0": str(directory),
        "GST_PLUGIN_PATH_1_0": "",
        "GST_REGISTRY_1_0": str(registry),
    }
    return env, missing


def describe(env):
    """The restriction as shell words, for a log."""
    return " ".join(f"{k}={shlex.quote(v)}" for k, v in env.items())


def linked(env):
    return sorted(os.listdir(env["GST_PLUGIN_SYSTEM_PATH_1_0"]))
