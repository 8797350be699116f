"""Test audio made by GStreamer itself, cached in the build tree.

Files are made once per build (several test processes may ask at once:
each writes to a private name and renames it into place).
"""

import os
import subprocess
from pathlib import Path

from harness import BUILD_DIR

CACHE = Path(BUILD_DIR) / "e2e-media"

_AUDIO = "audiotestsrc num-buffers={buffers} samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=2"

_RECIPES = {
    "ogg": _AUDIO + " ! audioconvert ! vorbisenc ! oggmux ! filesink location={out}",
    # With the Xing/Info frame LAME writes, so players know the duration at once.
    "mp3": _AUDIO + " ! audioconvert ! lamemp3enc bitrate=128 ! xingmux ! id3v2mux ! filesink location={out}",
    # Plain CBR frames without a Xing/Info frame: the parser learns the
    # length only once playing.
    "mp3-bare": _AUDIO + " ! audioconvert ! lamemp3enc target=bitrate bitrate=128 cbr=true"
    " ! filesink location={out}",
    "wav": _AUDIO + " ! audioconvert ! wavenc ! filesink location={out}",
    # Matroska with the video track first, then the audio track.
    "mkv": "matroskamux name=mux ! filesink location={out} "
    "videotestsrc num-buffers={frames} ! video/x-raw,width=64,height=48,framerate=10/1 ! vp8enc ! mux. "
    + _AUDIO
    + " ! audioconvert ! vorbisenc ! mux.",
}


def make(kind, seconds=2):
    """Path of a `seconds`-long test file of `kind` (ogg, mp3, mp3-bare, wav, mkv)."""
    CACHE.mkdir(parents=True, exist_ok=True)
    suffix = {"mkv": "mkv", "mp3-bare": "bare.mp3"}.get(kind, kind)
    out = CACHE / f"tone-{seconds}s.{suffix}"
    if out.exists():
        return out
    partial = CACHE / f".{out.name}.{os.getpid()}"
    pipeline = _RECIPES[kind].format(buffers=seconds * 10, frames=seconds * 10, out=partial)
    subprocess.run(
        ["gst-launch-1.0", "-q"] + pipeline.split(),
        check=True,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        timeout=120,
    )
    os.replace(partial, out)
    return out
