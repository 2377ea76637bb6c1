"""The one outside module the tools need, pefile, checked before anything imports it, so
that a Python without it gets one line that says how to install it, not a traceback."""

import importlib

INSTALL = "install Debian's python3-pefile (apt install python3-pefile) or run: pip install pefile"


def missing(program):
    """The one-line message for program when pefile cannot be imported; None when it can."""
    try:
        importlib.import_module("pefile")  # Debian's python3-pefile
        return None
    except ImportError:
        pass
    return "%s: pefile: the Python module pefile is not installed: %s" % (program, INSTALL)
