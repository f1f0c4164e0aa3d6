#!/usr/bin/env python3
# Branch coverage by source line, from every translation unit of a build.
#   coverage_branches.py <build dir> <source root>
# Prints "file<TAB>line<TAB>branches<TAB>taken" for each line with branches.
#
# Each unit keeps its own copy of every inline or template function it uses,
# with its own counters, and the linker keeps one copy: the others read as
# never run. gcov also runs the branch lists of all instantiations of a line
# together, and merging those lists across units by position pairs branches of
# unrelated instantiations. Here a line's branches are read per function (one
# instantiation's list at a time), and branch i of a line is taken when any
# copy of any instantiation took it; branches on exception paths and on
# lines of braces alone are left out, as gcovr's options do for lines.
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

SOURCE = re.compile(r"^\s*([^:\s]+):\s*(\d+):(.*)$")
BRANCH = re.compile(r"^branch\s+\d+\s+(?:taken (\d+)|never executed)(?:\s+\((\w+)\))?")
FUNCTION = re.compile(r"^function (\S+) called")
SECTION = re.compile(r"^(\S+):$")


def can_branch(code):
    code = re.sub(r"/\*.*?\*/", "", re.sub(r"//.*", "", code)).replace(" ", "").strip()
    return code not in ("", "{", "}", "{}")


def read_unit(root, gcda):
    """(file, line) -> {"sections" | "merged": {function: [(count, throw)]}, "code": text}"""
    out = subprocess.run(["gcov", "-b", "-c", "-t", "-o", os.path.dirname(gcda), gcda],
                         capture_output=True, text=True, errors="replace", cwd=root).stdout
    unit, path, function, section, branches, after_rule = {}, None, None, None, None, False
    for text in out.splitlines():
        if text.startswith("------------------"):
            after_rule = True
            continue
        m = SOURCE.match(text)
        if m:
            if after_rule:
                section = None  # a rule followed by source ends the instantiations
            after_rule = False
            lineno = int(m.group(2))
            if lineno == 0:
                if m.group(3).startswith("Source:"):
                    p = os.path.realpath(os.path.join(root, m.group(3)[len("Source:"):]))
                    path = os.path.relpath(p, root) if p.startswith(root + os.sep) else None
                    function = section = None
                continue
            if path is None:
                branches = None
                continue
            entry = unit.setdefault((path, lineno), {"sections": {}, "merged": {}, "code": m.group(3)})
            view = entry["sections"] if section else entry["merged"]
            branches = view.setdefault(section or function, [])
            branches.clear()
            continue
        if after_rule:
            s = SECTION.match(text)
            if s:  # one instantiation's own listing follows
                section = function = s.group(1)
                after_rule = False
                branches = None
                continue
        f = FUNCTION.match(text)
        if f:
            function = f.group(1)
            continue
        b = BRANCH.match(text)
        if b and branches is not None:
            branches.append((int(b.group(1) or 0), b.group(2) == "throw"))
    return unit


def main():
    build, root = sys.argv[1], os.path.realpath(sys.argv[2])
    gcdas = [os.path.join(d, f) for d, _, files in os.walk(build) for f in files if f.endswith(".gcda")]
    taken = {}  # (file, line) -> {branch index: taken}
    with ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
        for unit in pool.map(lambda g: read_unit(root, g), gcdas):
            for key, entry in unit.items():
                if not can_branch(entry["code"]):
                    continue
                line = taken.setdefault(key, {})
                # Where a unit lists instantiations one by one, its merged list
                # repeats them all together.
                for branches in (entry["sections"] or entry["merged"]).values():
                    for i, (count, throw) in enumerate(branches):
                        if not throw:
                            line[i] = line.get(i, False) or count > 0
    for (path, lineno), line in sorted(taken.items()):
        if line:
            print(f"{path}\t{lineno}\t{len(line)}\t{sum(line.values())}")


main()
