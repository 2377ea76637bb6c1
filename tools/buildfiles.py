"""Output helpers shared by the build-time generators in this folder."""

import os


def write_if_changed(path, data):
    """Writes bytes to path unless it already holds exactly them, so that a build
    that regenerates an unchanged file does not rebuild what depends on it. The file is
    replaced whole: a reader never sees half of it."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    directory = os.path.dirname(path)
    if directory:
        os.makedirs(directory, exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def read_lines(path):
    """The lines of a UTF-8 text file as bytes, without a leading byte-order mark and
    without their line feeds (a carriage return before one stays, for the caller to
    judge). Raises OSError when the file cannot be read."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return lines
