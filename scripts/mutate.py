#!/usr/bin/env python3
"""Mutation sample: how many deliberate one-token faults in the library the suite catches.

Exports a commit (default HEAD) to build/mutation/src, builds it once (Debug), then applies
N seeded random faults to uvwgens_private/*.cpp one at a time: a comparison loosened or
tightened (< <=, > >=), a sign flipped (+ -, unary minus dropped), a constant changed, two
arguments of a call swapped, or a clamp dropped (std::min/max/clamp replaced by its first
argument). Each mutant rebuilds incrementally only the test programs that link the mutated
subsystem, unit tests first, then the reliability suite, then the reference host's tests
(which load the built module); the first failing program ends the mutant (caught). A mutant
that does not compile is skipped and the next site drawn. Same commit, seed and N give the
same mutants.

    nice -n 10 scripts/mutate.py --ref HEAD --seed 19 -n 60
"""

import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Formatted code spaces binary operators; template brackets have no space before them.
RELATIONAL = re.compile(r" (<=|>=|<|>) ")
BINARY_SIGN = re.compile(r"(?<=\w|\)|\]) ([+-]) (?=[\w(.])")
UNARY_MINUS = re.compile(r"(?<=[(,=?:] )-(?=[\w(.])|(?<=[(,])-(?=[\w(.])")
NUMBER = re.compile(r"(?<![\w.])(\d+\.\d*|\.\d+|\d+)(e[+-]?\d+)?(f?)(?![\w.])")
SIMPLE = r"[\w.:\[\]]+(?:->[\w.]+)*"
SWAP = re.compile(r"\b(\w+)\(\s*(" + SIMPLE + r")\s*,\s*(" + SIMPLE + r")\s*([,)])")
CLAMP = re.compile(r"std::(min|max|clamp)\(")


def code_part(line):
    """The line without its trailing // comment and with string literals blanked."""
    line = re.sub(r'"(?:\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group()) - 2) + '"', line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def call_args(line, open_paren):
    """Spans of the top-level arguments of the call opened at open_paren, or None."""
    depth, start, spans = 0, open_paren + 1, []
    for i in range(open_paren, len(line)):
        c = line[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                spans.append((start, i))
                return spans, i
        elif c == "," and depth == 1:
            spans.append((start, i))
            start = i + 1
    return None


def sites_of(path, text):
    """Every candidate fault in a file: (kind, line index, start, end, replacement)."""
    out = []
    in_block = False
    for n, raw in enumerate(text.split("\n")):
        stripped = raw.strip()
        if in_block or stripped.startswith("/*"):
            in_block = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("//", "#", "template", "*")):
            continue
        line = code_part(raw)
        for m in RELATIONAL.finditer(line):
            swap = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}[m.group(1)]
            out.append(("relational", n, m.start(1), m.end(1), swap))
        for m in BINARY_SIGN.finditer(line):
            out.append(("sign", n, m.start(1), m.end(1), "-" if m.group(1) == "+" else "+"))
        for m in UNARY_MINUS.finditer(line):
            out.append(("sign", n, m.start(), m.end(), ""))
        for m in NUMBER.finditer(line):
            digits, exponent, suffix = m.groups()
            if "." in digits or exponent:
                value = float(digits)
                new = "1.0" if value == 0.0 else repr(value * 2.0)
                out.append(("constant", n, m.start(1), m.end(1), new))
            elif not suffix:
                out.append(("constant", n, m.start(1), m.end(1), str(int(digits) + 1)))
        for m in SWAP.finditer(line):
            if m.group(1) in ("if", "while", "for", "switch", "return", "sizeof") or m.group(2) == m.group(3):
                continue
            a, b = m.span(2), m.span(3)
            out.append(("swap", n, a[0], b[1], line[b[0]:b[1]] + line[a[1]:b[0]] + line[a[0]:a[1]]))
        for m in CLAMP.finditer(line):
            parsed = call_args(line, m.end() - 1)
            if parsed:
                spans, close = parsed
                first = line[spans[0][0]:spans[0][1]].strip()
                out.append(("clamp", n, m.start(), close + 1, "(" + first + ")"))
    return [(path,) + s for s in out]


def run(cmd, cwd, timeout=None, quiet=True):
    try:
        r = subprocess.run(cmd, cwd=cwd, timeout=timeout,
                           stdout=subprocess.PIPE if quiet else None, stderr=subprocess.STDOUT)
        return r.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def test_stages(src):
    """Test programs per subsystem, unit programs (fewest subsystems) first."""
    cml = (src / "tests/CMakeLists.txt").read_text()
    # uvwgens_test(NAME SUBSYSTEMS a b ... [LIBS ...]), possibly over several lines.
    call = r"uvwgens_test\((\w+)\s+SUBSYSTEMS\s+([\w\s]+?)\s*(?:LIBS\b[^)]*)?\)"
    programs = [(m.group(1), m.group(2).split()) for m in re.finditer(call, cml)]
    programs.sort(key=lambda p: len(p[1]))
    return programs


def main():
    # A stopped run still puts the mutated file back (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--ref", default="HEAD", help="commit whose library and tests are measured")
    ap.add_argument("--seed", type=int, default=19)
    ap.add_argument("-n", type=int, default=60, help="mutants that compile")
    ap.add_argument("--timeout", type=int, default=120, help="seconds of test time per mutant")
    ap.add_argument("--workdir", default=str(ROOT / "build/mutation"))
    args = ap.parse_args()

    commit = subprocess.check_output(["git", "rev-parse", args.ref], cwd=ROOT, text=True).strip()
    work = Path(args.workdir) / commit[:12]
    src, build = work / "src", work / "build"
    if not (work / "extracted").exists():
        src.mkdir(parents=True, exist_ok=True)
        archive = subprocess.Popen(["git", "archive", commit], cwd=ROOT, stdout=subprocess.PIPE)
        subprocess.check_call(["tar", "-x", "-C", str(src)], stdin=archive.stdout)
        archive.wait()
        (work / "extracted").touch()
    if run(["cmake", "-S", str(src), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
            "-DUVWGENS_WERROR=OFF"], work) != 0:
        sys.exit("configure failed")
    programs = test_stages(src)
    has_host = (src / "tests/uvwhost").is_dir()
    every = ["test_" + p for p, _ in programs] + (["uvwgens", "uvwhost", "test_uvwhost"] if has_host else [])
    if run(["ninja", "-C", str(build)] + every, work, quiet=False) != 0:
        sys.exit("build of the unmutated tree failed")

    def stages_for(subsystem):
        stages = [[f"test_{p}"] for p, subs in programs if subsystem in subs]
        if has_host:
            stages.append(["uvwgens", "uvwhost", "test_uvwhost"])
        return stages

    def run_stages(stages, budget):
        """'caught by X', 'timeout in X', 'survived' or 'build failed'."""
        deadline = time.monotonic() + budget
        for targets in stages:
            if run(["ninja", "-C", str(build)] + targets, work) != 0:
                return "build failed"
            exe = targets[-1]
            left = deadline - time.monotonic()
            if left <= 0:
                return f"timeout in {exe}"
            rc = run([str(build / "tests" / exe), "--gtest_fail_fast", "--gtest_brief=1"], build / "tests",
                     timeout=left)
            if rc == "timeout":
                return f"timeout in {exe}"
            if rc != 0:
                return f"caught by {exe}"
        return "survived"

    base = run_stages(stages_for("frame"), 10 * args.timeout)
    if base != "survived":
        sys.exit(f"the unmutated suite does not pass: {base}")

    by_kind = {}
    for path in sorted((src / "uvwgens_private").rglob("*.cpp")):
        rel = path.relative_to(src)
        for site in sites_of(rel, path.read_text()):
            by_kind.setdefault(site[1], []).append(site)
    rng = random.Random(args.seed)
    kinds = sorted(by_kind)
    for k in kinds:
        rng.shuffle(by_kind[k])

    results, drawn = [], 0
    log = open(work / f"results-seed{args.seed}-n{args.n}.txt", "w")
    while len(results) < args.n and any(by_kind.values()):
        kind = kinds[drawn % len(kinds)]
        drawn += 1
        if not by_kind[kind]:
            continue
        rel, kind, n, start, end, new = by_kind[kind].pop()
        path = src / rel
        original = path.read_text()
        lines = original.split("\n")
        old = lines[n][start:end]
        lines[n] = lines[n][:start] + new + lines[n][end:]
        path.write_text("\n".join(lines))
        parts = rel.parts
        subsystem = parts[1] if len(parts) > 2 else None
        stages = stages_for(subsystem) if subsystem else [["uvwgens", "uvwhost", "test_uvwhost"]]
        began = time.monotonic()
        try:
            outcome = run_stages(stages, args.timeout)
        finally:
            path.write_text(original)
        if outcome == "build failed":
            continue
        entry = f"{rel}:{n + 1}:{start + 1} {kind}: '{old.strip()}' -> '{new.strip()}': {outcome} ({time.monotonic() - began:.0f} s)"
        results.append(outcome)
        print(f"[{len(results)}/{args.n}] {entry}", flush=True)
        log.write(entry + "\n")
        log.flush()
    # Leave the build matching the unmutated sources.
    run(["ninja", "-C", str(build)] + every, work)
    caught = sum(1 for r in results if r != "survived")
    summary = f"caught {caught} of {len(results)} (seed {args.seed}, commit {commit[:12]})"
    log.write(summary + "\n")
    print(summary)


if __name__ == "__main__":
    main()
