#!/usr/bin/env python3
"""Mutation run: how many small faults in the library and game sources does
the test suite catch?

A fixed, seeded list of single-token mutations (a comparison flipped, an
arithmetic or logical operator swapped, an integer constant changed by one, a
statement removed) is drawn from the sources. For each mutant the script
applies it, rebuilds a release build of its own (build-mutation/ by default)
and runs every test program of that build that the mutant reaches once, fastest
first, stopping at the first failure (a program whose executable the mutant's
build did not link again holds no mutated code and is not run). A mutant is killed when a test fails or runs out of time,
survives when the whole suite passes, and is stillborn when it does not
compile (stillborn mutants are left out of the score).

    tools/mutate.py                 # 240 mutants, seed 1
    tools/mutate.py --list          # print the mutants without running them
    tools/mutate.py --only 17 42    # run some of them again
    tools/mutate.py --paths importer --count 60   # a quick look at one component

The same seed and sources give the same list, so two versions of the suite can
be compared on the same mutants. Run it from the project root; it starts a
virtual display itself when there is none (the game and GL tests need one).
"""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import time

SOURCE_DIRS = ("app", "scene", "importer", "imagelib")
SKIPPED = re.compile(r"elevationtable\.cpp$")

RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITHMETIC = {"+": "-", "-": "+", "*": "/", "/": "*"}
LOGICAL = {"&&": "||", "||": "&&"}
# Binary operators are written with a space on each side in this code base,
# which tells them apart from template brackets, pointers and unary signs.
OPERATOR = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||<|>|\+|-|\*|/)(?= )")
INTEGER = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
# A whole-line statement worth removing: a call, an assignment or an update.
STATEMENT = re.compile(r"^\s*(?!return\b|break\b|continue\b|case\b|default\b)"
                       r"[\w.\->\[\]()*:]+\s*(\(|=|\+=|-=|\*=|/=|\+\+|--|\|=|&=)[^;{}]*;\s*$")
DECLARATION = re.compile(r"^\s*(const\s+|static\s+|constexpr\s+)*"
                         r"(auto|bool|char|short|int|long|float|double|unsigned|size_t|u?int\d+_t|"
                         r"std::\w+|[A-Z]\w*(<[^>]*>)?[*&]?)\s+[*&]?\w+\s*(=|\(|\{|;|\[)")

# Special members and overrides: removing them changes no behaviour worth testing.
KEEP = re.compile(r"=\s*(delete|default)\b|\boperator\b|\boverride\b")


def masked(line, state):
    """The line with comments, strings and character literals blanked out.
    state carries an open block comment from line to line."""
    out = []
    i = 0
    while i < len(line):
        if state["block"]:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (len(line) - i))
                return "".join(out)
            out.append(" " * (end + 2 - i))
            i = end + 2
            state["block"] = False
            continue
        if line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        if line.startswith("/*", i):
            state["block"] = True
            continue
        ch = line[i]
        if ch in "\"'":
            j = i + 1
            while j < len(line) and line[j] != ch:
                j += 2 if line[j] == "\\" else 1
            out.append(" " * (min(j + 1, len(line)) - i))
            i = j + 1
            continue
        out.append(ch)
        i += 1
    return "".join(out)


def sources(root, paths=SOURCE_DIRS):
    files = subprocess.run(["git", "ls-files", *paths], cwd=root, check=True,
                           capture_output=True, text=True).stdout.split()
    return sorted(f for f in files
                  if (f.endswith((".cpp", ".h")) or f == "imagelib/include/imagebase") and not SKIPPED.search(f))


def candidates(root, paths=SOURCE_DIRS):
    """Every mutation site: (file, line number, column, old text, new text, kind)."""
    sites = []
    for path in sources(root, paths):
        state = {"block": False}
        starts_statement = True  # the previous code line ended a statement or opened a block
        with open(os.path.join(root, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        for number, line in enumerate(lines, 1):
            code = masked(line, state)
            stripped = code.strip()
            if not stripped:
                continue
            fresh = starts_statement
            starts_statement = stripped[-1] in ";{}:" or stripped.startswith("#")
            if stripped.startswith("#") or "static_assert" in code or "template" in code:
                continue
            for m in OPERATOR.finditer(code):
                op = m.group(1)
                for table, kind in ((RELATIONAL, "comparison"), (ARITHMETIC, "operator"), (LOGICAL, "logic")):
                    if op in table:
                        sites.append((path, number, m.start(), op, table[op], kind))
            for m in INTEGER.finditer(code):
                value = m.group(1)
                if len(value) > 1 and value.startswith("0"):
                    continue  # octal-looking or padded: leave alone
                sites.append((path, number, m.start(), value, str(int(value) + 1), "constant"))
            if fresh and STATEMENT.match(code) and not DECLARATION.match(code) and not KEEP.search(code):
                sites.append((path, number, 0, line, "", "removal"))
    return sites


def pick(root, count, seed, paths=SOURCE_DIRS):
    sites = candidates(root, paths)
    rng = random.Random(seed)
    chosen = rng.sample(sites, min(count, len(sites)))
    chosen.sort(key=lambda s: (s[0], s[1], s[2]))
    return chosen, len(sites)


def describe(site):
    path, number, column, old, new, kind = site
    if kind == "removal":
        return f"{path}:{number}: remove `{old.strip()}`"
    return f"{path}:{number}:{column + 1}: {kind} `{old}` -> `{new}`"


def apply(root, site):
    """Writes the mutant; returns the original text of the file."""
    path, number, column, old, new, kind = site
    full = os.path.join(root, path)
    with open(full, encoding="utf-8") as f:
        original = f.read()
    lines = original.split("\n")
    line = lines[number - 1]
    if kind == "removal":
        lines[number - 1] = ""
    else:
        assert line[column:column + len(old)] == old, describe(site)
        lines[number - 1] = line[:column] + new + line[column + len(old):]
    with open(full, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return original


def restore(root, site, original):
    with open(os.path.join(root, site[0]), "w", encoding="utf-8") as f:
        f.write(original)


def test_programs(build):
    """One command per test program: gtest programs once with all their cases
    (failing fast), the other tests as ctest would run them."""
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                             capture_output=True, text=True).stdout
    programs = {}
    for test in json.loads(listing)["tests"]:
        command = test.get("command")
        if not command:
            continue
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        env = dict(e.split("=", 1) for e in props.get("ENVIRONMENT", []))
        if any(a.startswith("--gtest_filter=") for a in command[1:]):
            key = command[0]
            command = [command[0], "--gtest_fail_fast", "--gtest_brief=1"]
        else:
            key = test["name"]
        # Fixture set-ups run before the tests that need them and clean-ups
        # after them, whatever their speed.
        stage = 0 if props.get("FIXTURES_SETUP") else 2 if props.get("FIXTURES_CLEANUP") else 1
        programs.setdefault(key, {"name": os.path.basename(key), "command": command,
                                  "cwd": props.get("WORKING_DIRECTORY", build), "env": env, "stage": stage,
                                  "build": os.path.abspath(build)})
    return list(programs.values())


def run_program(program, timeout):
    env = dict(os.environ, **program["env"])
    start = time.monotonic()
    try:
        result = subprocess.run(program["command"], cwd=program["cwd"], env=env, timeout=timeout,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ok = result.returncode == 0
    except subprocess.TimeoutExpired:
        ok = False
    return ok, time.monotonic() - start


def stamp(program):
    """The modification time of the program's executable when the build made it,
    None for commands from outside the build (cmake scripts, shell tools)."""
    executable = program["command"][0]
    if not executable.startswith(program["build"] + os.sep):
        return None
    try:
        return os.stat(executable).st_mtime_ns
    except OSError:
        return None


def relinked(program, before):
    """Whether the mutant can reach this program. An executable that the mutant's
    build did not link again holds none of the mutated code: it is the binary
    that passed unmutated, so running it cannot change the verdict."""
    return before is None or stamp(program) != before


def build_tree(root, build, timeout=None):
    try:
        result = subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2)], cwd=root,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
        return result.returncode == 0
    except subprocess.TimeoutExpired:
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=240)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", default="build-mutation")
    parser.add_argument("--paths", nargs="*", default=list(SOURCE_DIRS),
                        help="draw mutants only from these folders or files (default: %(default)s)")
    parser.add_argument("--list", action="store_true", help="print the mutants and stop")
    parser.add_argument("--only", type=int, nargs="*", help="run only these mutant numbers")
    parser.add_argument("--report", help="write the results here (default: BUILD/mutation-report.txt)")
    args = parser.parse_args()

    root = subprocess.run(["git", "rev-parse", "--show-toplevel"], check=True, capture_output=True,
                          text=True).stdout.strip()
    mutants, total = pick(root, args.count, args.seed, args.paths)
    if args.list:
        for i, site in enumerate(mutants):
            print(f"{i:4d} {describe(site)}")
        print(f"{len(mutants)} mutants drawn from {total} sites (seed {args.seed})")
        return 0

    if not os.environ.get("DISPLAY"):
        return subprocess.call(["xvfb-run", "-a", "-s", "-screen 0 1920x1080x24",
                                os.path.join(root, "tools", "with-wm.sh"), sys.executable, *sys.argv])

    build = os.path.join(root, args.build)
    subprocess.run(["cmake", "-S", root, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"], check=True,
                   stdout=subprocess.DEVNULL)
    if not build_tree(root, build):
        sys.exit("the unmutated sources do not build")
    programs = sorted(test_programs(build), key=lambda p: p["stage"])
    for program in programs:
        ok, seconds = run_program(program, timeout=1800)
        if not ok:
            sys.exit(f"the suite fails without mutation: {program['name']}")
        program["timeout"] = 4 * seconds + 10
        program["seconds"] = seconds
    programs.sort(key=lambda p: (p["stage"], p["seconds"]))
    build_limit = 600

    selected = range(len(mutants)) if args.only is None else args.only
    report_path = args.report or os.path.join(build, "mutation-report.txt")
    counts = {"killed": 0, "survived": 0, "stillborn": 0}
    rows = []
    for i in selected:
        site = mutants[i]
        original = apply(root, site)
        stamps = [stamp(p) for p in programs]
        try:
            if not build_tree(root, build, timeout=build_limit):
                verdict, by = "stillborn", ""
            else:
                verdict, by = "survived", ""
                for program, before in zip(programs, stamps):
                    if not relinked(program, before):
                        continue
                    ok, _ = run_program(program, program["timeout"])
                    if not ok:
                        verdict, by = "killed", program["name"]
                        break
        finally:
            restore(root, site, original)
        counts[verdict] += 1
        rows.append(f"{i:4d} {verdict:9s} {by:24s} {describe(site)}")
        print(rows[-1], flush=True)
    build_tree(root, build)  # leave the build matching the sources

    scored = counts["killed"] + counts["survived"]
    summary = (f"killed {counts['killed']} of {scored} mutants "
               f"({100.0 * counts['killed'] / max(scored, 1):.1f} %), {counts['stillborn']} stillborn; "
               f"seed {args.seed}, {len(mutants)} drawn from {total} sites")
    with open(report_path, "w", encoding="utf-8") as f:
        f.write("\n".join(rows + [summary, ""]))
    print(summary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
