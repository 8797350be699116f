"""GStreamer restricted to the plug-in files a router image carries.

The README's "What a router image needs" section is the list: every plug-in
file it names (`libgstNAME`, not the `libgstNAME-1.0` support libraries) is
linked into one directory, which becomes GStreamer's only plug-in path, with
a registry file of its own. The end-to-end test of that list and the
start-up benchmark build their sets here, so both measure the same image.
"""

import re
import subprocess
from pathlib import Path

from harness import SOURCE_DIR, Sandbox, build_path, emulator_prefix

SECTION = "### What a router image needs"
# A plug-in file's name; the support libraries it needs end in "-1.0".
PLUGIN_NAME = re.compile(r"\blibgst[a-z0-9_]+\b(?!-)")
# A router image that leaves the codec library out, as the README advises.
WITHOUT_CODEC_LIBRARY = ("libgstlibav",)


def readme_section():
    text = (SOURCE_DIR / "README.md").read_text()
    start = text.index(SECTION) + len(SECTION)
    end = text.find("\n## ", start)
    return text[start:end if end >= 0 else len(text)]


def readme_plugins():
    """(every plug-in file the section names, {table row's first cell: the
    plug-in files that row names})."""
    section = readme_section()
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


def make_plugin_set(directory, leave_out=()):
    """Links the README's plug-in files, but those in leave_out, into
    directory (made anew). Returns (the environment that restricts GStreamer
    to them, the files named but not installed here)."""
    source = system_plugin_dir()
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


def build_registries(envs, scratch):
    """Builds each set's registry once, all at once, so that no later run
    pays for the scan: the player on a file that is not there gets no
    further than gst_init and its first error."""
    builds = []
    for n, env in enumerate(envs):
        sb = Sandbox(Path(scratch) / f"registry-{n}")
        builds.append((sb, sb.spawn([build_path("player/sorvel"), "/.sandbox/none.ogg"], env=env)))
    for sb, proc in builds:
        proc.wait(300)
        sb.close()
