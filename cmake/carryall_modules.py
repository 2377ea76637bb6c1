#!/usr/bin/env python3
"""Prints the files that a program of tools/ needs beside it: the program itself and
every module of its own folder that it imports, directly or through another one, one
absolute path a line, sorted. The build depends on them and the bundle carries them, so
that an unpacked bundle runs with nothing else of the source tree.

    carryall_modules.py PROGRAM

Modules from elsewhere (the standard library, pefile) are not printed. Exit status 1 when
PROGRAM is missing or does not compile.
"""

import ast
import modulefinder
import sys
from pathlib import Path


def _named_imports(script: Path) -> set[str]:
    """The modules that script may import by name at run time, which the finder cannot
    see: every literal text in the name of an __import__(...) or importlib.import_module(...)
    (so both of __import__("a" if x else "b"))."""
    names = set()
    for node in ast.walk(ast.parse(script.read_text(encoding="utf-8"), str(script))):
        if (isinstance(node, ast.Call) and node.args
                and ((isinstance(node.func, ast.Name) and node.func.id == "__import__")
                     or (isinstance(node.func, ast.Attribute) and node.func.attr == "import_module"))):
            names.update(n.value for n in ast.walk(node.args[0])
                         if isinstance(n, ast.Constant) and isinstance(n.value, str))
    return names


def own_modules(program: Path) -> list[Path]:
    folder = program.resolve().parent
    found: set[Path] = set()
    scripts = [program.resolve()]
    while scripts:
        script = scripts.pop()
        if script in found:
            continue
        found.add(script)
        finder = modulefinder.ModuleFinder(path=[str(folder)] + sys.path[1:])
        finder.run_script(str(script))
        files = [Path(m.__file__).resolve() for m in finder.modules.values() if m.__file__]
        files += [folder / (name + ".py") for name in _named_imports(script)]
        # Modules of the folder, and packages below it; others come from the system.
        scripts += [f for f in files if f.is_file() and folder in f.parents]
    return sorted(found)


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print("usage: carryall_modules.py PROGRAM", file=sys.stderr)
        return 2
    program = Path(argv[0])
    if not program.is_file():
        print(f"carryall_modules.py: {program}: no such file", file=sys.stderr)
        return 1
    try:
        files = own_modules(program)
    except SyntaxError as error:
        print(f"carryall_modules.py: {error.filename}:{error.lineno}: {error.msg}", file=sys.stderr)
        return 1
    for file in files:
        print(file)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
