"""Test audio made by GStreamer itself, cached in the build tree.

Files are made once per build (several test processes may ask at once:
each writes to a private name and renames it into place).
"""

import hashlib
import os
import shlex
import shutil
import subprocess
import tempfile
import time
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
    # ADTS AAC, as stations serve it over HTTP.
    "aac": _AUDIO + " ! audioconvert ! avenc_aac ! aacparse ! audio/mpeg,stream-format=adts"
    " ! filesink location={out}",
    # Windows Media Audio (version 2) in ASF, as an MMS server streams it.
    "asf": _AUDIO + " ! audioconvert ! avenc_wmav2 bitrate=64000 ! avmux_asf ! filesink location={out}",
    "opus": _AUDIO + " ! audioconvert ! audioresample ! opusenc ! oggmux ! filesink location={out}",
    # Matroska with the video track first, then the audio track.
    "mkv": "matroskamux name=mux ! filesink location={out} "
    "videotestsrc num-buffers={frames} ! video/x-raw,width=64,height=48,framerate=10/1 ! vp8enc ! mux. "
    + _AUDIO
    + " ! audioconvert ! vorbisenc ! mux.",
}


def _launch(pipeline, timeout=120, finished=None):
    """Runs a gst-launch pipeline to its end; `finished()`, when given, says
    the output is whole even if gst-launch has not come back yet."""
    with tempfile.TemporaryFile() as errors, \
            subprocess.Popen(["gst-launch-1.0", "-q"] + shlex.split(pipeline),
                             stdout=subprocess.DEVNULL, stderr=errors) as proc:
        deadline = time.monotonic() + timeout
        while proc.poll() is None and not (finished and finished()):
            if time.monotonic() > deadline:
                proc.kill()
                raise subprocess.TimeoutExpired(proc.args, timeout)
            time.sleep(0.05)
        if proc.poll() is None:
            proc.kill()
            return
        if proc.returncode:
            errors.seek(0)
            raise subprocess.CalledProcessError(proc.returncode, proc.args, stderr=errors.read())


def make(kind, seconds=2, tags=None):
    """Path of a `seconds`-long test file of `kind` (ogg, mp3, mp3-bare, wav,
    mkv, aac, opus, asf). `tags` ({"title": ..., "artist": ...}) go into an Ogg
    file's Vorbis comments."""
    CACHE.mkdir(parents=True, exist_ok=True)
    recipe = _RECIPES[kind]
    name = f"tone-{seconds}s"
    suffix = {"mp3-bare": "bare.mp3"}.get(kind, kind)
    if tags:
        assert kind == "ogg"
        # Octal escapes keep any byte (a line end too) through the parser.
        text = ",".join(
            f'{key}="' + "".join(f"\\{b:03o}" for b in value.encode()) + '"'
            for key, value in tags.items()
        )
        recipe = recipe.replace(" ! vorbisenc", f" ! taginject tags='{text}' ! vorbisenc")
        name += "-" + hashlib.sha1(text.encode()).hexdigest()[:12]
    out = CACHE / f"{name}.{suffix}"
    if out.exists():
        return out
    partial = CACHE / f".{out.name}.{os.getpid()}"
    _launch(recipe.format(buffers=seconds * 10, frames=seconds * 10, out=partial))
    os.replace(partial, out)
    return out


def make_hls(seconds):
    """Folder of a finished HLS presentation made by hlssink2: AAC in
    MPEG-TS, one-second segments, playlist "index.m3u8"."""
    CACHE.mkdir(parents=True, exist_ok=True)
    out = CACHE / f"hls-{seconds}s"
    if out.exists():
        return out
    partial = CACHE / f".{out.name}.{os.getpid()}"
    pipeline = (
        _AUDIO.format(buffers=seconds * 10)
        + " ! audioconvert ! avenc_aac ! aacparse ! hlssink2 target-duration=1"
        f" playlist-length=0 max-files=0 location={partial}/seg%05d.ts"
        f" playlist-location={partial}/index.m3u8"
    )
    playlist = partial / "index.m3u8"

    def listed_to_its_end():
        # gst-launch now and then hangs in hlssink2's shutdown after the end
        # of stream (its EOS never reaches the bus); the presentation is whole
        # once its end is listed, which hlssink2 writes without a line end.
        return playlist.exists() and playlist.read_text().rstrip().endswith("#EXT-X-ENDLIST")

    for _ in range(3):
        shutil.rmtree(partial, ignore_errors=True)
        partial.mkdir()
        try:
            _launch(pipeline, timeout=60, finished=listed_to_its_end)
        except subprocess.TimeoutExpired:
            continue
        if listed_to_its_end():
            break
    else:
        raise AssertionError(f"hlssink2 did not finish a presentation in three tries:"
                             f" {sorted(p.name for p in partial.iterdir())}")
    os.replace(partial, out)
    return out
