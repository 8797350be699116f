"""Fails when a source folder's files include each other in a circle.

A file (its header and its source together) may include files below it,
never one that, directly or through others, includes it again: such a loop
means neither can be understood, tested or moved without the other.

    check_include_cycles.py DIR
"""

import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)\.h"', re.M)


def module_graph(root):
    graph = {}
    for path in root.rglob("*"):
        if path.suffix not in (".h", ".cpp"):
            continue
        module = path.relative_to(root).with_suffix("").as_posix()
        edges = graph.setdefault(module, set())
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            if target != module:
                edges.add(target)
    # Only includes of the folder's own files count.
    return {m: {t for t in e if t in graph} for m, e in graph.items()}


def find_cycle(graph):
    state = {}
    stack = []

    def visit(module):
        state[module] = "open"
        stack.append(module)
        for target in sorted(graph[module]):
            if state.get(target) == "open":
                return stack[stack.index(target):] + [target]
            if target not in state:
                found = visit(target)
                if found:
                    return found
        stack.pop()
        state[module] = "done"
        return None

    for module in sorted(graph):
        if module not in state:
            found = visit(module)
            if found:
                return found
    return None


def main():
    root = Path(sys.argv[1])
    cycle = find_cycle(module_graph(root))
    if cycle:
        print("include loop: " + " -> ".join(cycle))
        return 1
    print(f"no include loops among {len(module_graph(root))} files under {root}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
