"""The include graph between the launcher's folders, built from the #include lines.

A folder may include from the folders below it, never from one above: the start sequence and
the front ends (shell) sit on top, the launch's values, status line and front-end seam (common)
and the log at the bottom. A cycle between folders means that a layer reaches back up, so the
check fails on the first one it finds and names the lines that make it.
"""

import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE_SUFFIXES = {".h", ".cpp"}


def folder_edges(root):
    """{(from folder, to folder): [file:line: include text, ...]} for includes across folders."""
    root = pathlib.Path(root)
    folders = {p.name for p in root.iterdir() if p.is_dir()}
    edges = {}
    for folder in sorted(folders):
        for source in sorted((root / folder).rglob("*")):
            if source.suffix not in SOURCE_SUFFIXES:
                continue
            text = source.read_text(encoding="utf-8", errors="replace")
            for number, line in enumerate(text.splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1).split("/")[0]
                if "/" not in match.group(1) or target not in folders or target == folder:
                    continue
                where = f"{source.relative_to(root)}:{number}: {line.strip()}"
                edges.setdefault((folder, target), []).append(where)
    return folders, edges


def find_cycle(folders, edges):
    """One cycle as a list of folders [a, b, ..., a], or None when the graph has none."""
    following = {folder: sorted(t for (f, t) in edges if f == folder) for folder in folders}
    state = {}  # absent: not seen; 1: on the current path; 2: done
    path = []

    def visit(folder):
        state[folder] = 1
        path.append(folder)
        for target in following[folder]:
            if state.get(target) == 1:
                return path[path.index(target):] + [target]
            if target not in state:
                cycle = visit(target)
                if cycle:
                    return cycle
        path.pop()
        state[folder] = 2
        return None

    for folder in sorted(folders):
        if folder not in state:
            cycle = visit(folder)
            if cycle:
                return cycle
    return None


def layers(folders, edges):
    """The folders from the bottom up, each after every folder it includes from."""
    order, placed = [], set()
    while len(placed) < len(folders):
        ready = sorted(f for f in folders - placed if all(t in placed for (s, t) in edges if s == f))
        order.append(ready)
        placed.update(ready)
    return order


def main(argv):
    root = argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[3] / "launcher"
    folders, edges = folder_edges(root)
    cycle = find_cycle(folders, edges)
    if cycle:
        print("include cycle between launcher folders: " + " -> ".join(cycle))
        for source, target in zip(cycle, cycle[1:]):
            for where in edges[(source, target)]:
                print(f"  {source} -> {target}  {where}")
        return 1
    print("launcher folders, bottom up: " + " | ".join(", ".join(layer) for layer in layers(folders, edges)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
