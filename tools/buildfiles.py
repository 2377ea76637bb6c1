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
