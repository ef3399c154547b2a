#!/usr/bin/env python3
"""What each test function alone covers.

Runs every QtTest function of a --coverage build on its own (other suites whole), each run
writing its counters into its own folder (GCOV_PREFIX), reads each folder with gcov's JSON
output and prints, per function, the lines and branches of src/ and server/ that no other
function covers. Suites registered twice with the same executable (the router suite against
SQLite and PostgreSQL) count as one: a function's runs are joined.

    scripts/coverage-unique.py --build build-coverage [--jobs 2] [--output FILE] [--suites REGEX]
"""
import argparse
import concurrent.futures as futures
import glob
import json
import os
import pickle
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIPPED = {"packages", "check_floors"}  # no code of src/ or server/ runs in them
FIXTURES = {"initTestCase", "initTestCase_data", "cleanupTestCase", "init", "cleanup"}


def product_file(path):
    rel = os.path.relpath(path, ROOT)
    if rel.startswith("src/") or (rel.startswith("server/") and not re.search(r"/tests?/", rel)):
        return rel
    return None


def ctest_tests(build, pattern):
    out = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, capture_output=True, text=True, check=True)
    tests = []
    for t in json.loads(out.stdout)["tests"]:
        if t["name"] in SKIPPED or (pattern and not re.search(pattern, t["name"])):
            continue
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        env = dict(e.split("=", 1) for e in props.get("ENVIRONMENT", []))
        tests.append({"name": t["name"], "command": t["command"], "env": env,
                      "cwd": props.get("WORKING_DIRECTORY", build)})
    return tests


def test_env(test, prefix, strip):
    env = dict(os.environ)
    env.update(test["env"])
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    env["GCOV_PREFIX"] = prefix
    env["GCOV_PREFIX_STRIP"] = str(strip)
    return env


def functions(test):
    """The QtTest functions of a suite, or None for a program that is not a QtTest suite."""
    if not os.path.basename(test["command"][0]).startswith("tst_"):
        return None
    with tempfile.TemporaryDirectory() as scratch:  # listing writes counters too; throw them away
        out = subprocess.run(test["command"][:1] + ["-functions"], cwd=test["cwd"], capture_output=True, text=True,
                             env=test_env(test, scratch, 0), timeout=120)
    names = [l.strip()[:-2] for l in out.stdout.splitlines() if l.strip().endswith("()")]
    return [n for n in names if n not in FIXTURES] or None


def covered(folder, build):
    """(lines, branches, instrumented lines, instrumented branches) of product files in one run's folder."""
    gcdas = glob.glob(os.path.join(folder, "**", "*.gcda"), recursive=True)
    for gcda in gcdas:
        gcno = os.path.join(build, os.path.relpath(gcda, folder))[:-len(".gcda")] + ".gcno"
        if os.path.exists(gcno):
            os.symlink(gcno, gcda[:-len(".gcda")] + ".gcno")
    lines, branches, all_lines, all_branches = set(), set(), set(), set()
    for start in range(0, len(gcdas), 64):
        out = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities"] + gcdas[start:start + 64],
                             cwd=folder, capture_output=True, text=True)
        for doc in out.stdout.splitlines():
            if not doc.startswith("{"):
                continue
            data = json.loads(doc)
            base = data.get("current_working_directory", build)
            for f in data.get("files", []):
                name = product_file(os.path.normpath(os.path.join(base, f["file"])))
                if not name:
                    continue
                for line in f["lines"]:
                    key = (name, line["line_number"])
                    all_lines.add(key)
                    if line["count"] > 0:
                        lines.add(key)
                    for i, b in enumerate(line.get("branches", [])):
                        bkey = key + (i,)
                        all_branches.add(bkey)
                        if b["count"] > 0:
                            branches.add(bkey)
    return lines, branches, all_lines, all_branches


def run_unit(unit, build, work, strip):
    """Runs one function (or a whole suite) once per registration and returns what it covered."""
    suite, function, tests = unit["suite"], unit["function"], unit["tests"]
    result = {"suite": suite, "function": function, "exe": unit["exe"], "failed": [], "seconds": 0.0}
    sets = [set(), set(), set(), set()]
    for n, test in enumerate(tests):
        folder = os.path.join(work, "%s.%s.%d" % (suite, function or "all", n))
        os.makedirs(folder)
        command = list(test["command"]) + ([function] if function else [])
        started = time.monotonic()
        try:
            rc = subprocess.run(command, cwd=test["cwd"], env=test_env(test, folder, strip), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=900).returncode
        except subprocess.TimeoutExpired:
            rc = "timeout"
        result["seconds"] += time.monotonic() - started
        if rc != 0:
            result["failed"].append("%s:%s" % (test["name"], rc))
        for s, part in zip(sets, covered(folder, build)):
            s |= part
        shutil.rmtree(folder, ignore_errors=True)
    result["lines"], result["branches"], result["all_lines"], result["all_branches"] = sets
    return result


def counted(text):
    return sum(1 for l in text.splitlines() if not re.match(r"^\s*(//.*)?$", l))


def suite_sources():
    """Executable name -> its test sources, from the CMakeLists of tests/ and server/tests/."""
    sources = {}
    for cmake in glob.glob(os.path.join(ROOT, "tests", "**", "CMakeLists.txt"), recursive=True) + \
            [os.path.join(ROOT, "server", "tests", "CMakeLists.txt")]:
        text = open(cmake, encoding="utf-8").read()
        for m in re.finditer(r"\b(?:folioway_add_test|folioway_server_test|add_executable)\(\s*(\S+)\s+([^)]*)\)", text):
            files = [os.path.join(os.path.dirname(cmake), f) for f in m.group(2).split()
                     if f.endswith((".cpp", ".h")) and "$" not in f]
            sources[m.group(1)] = [f for f in files if os.path.exists(f)]
    return sources


def function_lines(files, function):
    """Lines of the function and of its _data table (counted like the project's hook)."""
    total = 0
    for name in (function, function + "_data"):
        for path in files:
            text = open(path, encoding="utf-8").read()
            m = re.search(r"\bvoid\s+(?:\w+::)?%s\s*\(\s*\)\s*(?:const\s*)?\{" % re.escape(name), text)
            if not m:
                continue
            depth, i = 0, m.end() - 1
            while i < len(text):
                if text[i] == "{":
                    depth += 1
                elif text[i] == "}":
                    depth -= 1
                    if depth == 0:
                        break
                i += 1
            total += counted(text[m.start():i + 1])
            break
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-coverage")
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--output", default="-")
    parser.add_argument("--suites", help="only the suites whose name matches this regular expression")
    parser.add_argument("--raw", help="also keep every unit's covered lines and branches here (pickle)")
    parser.add_argument("--whole", default="", help="suites (regular expression) run whole instead of per function")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    strip = len([p for p in build.split(os.sep) if p])

    # One unit per (executable, function); a suite registered twice runs each function twice.
    units, order = {}, []
    for test in ctest_tests(build, args.suites):
        exe = os.path.basename(test["command"][0])
        names = None if args.whole and re.search(args.whole, test["name"]) else functions(test)
        for function in (names or [None]):
            key = (exe, function)
            if key not in units:
                units[key] = {"suite": test["name"], "function": function, "exe": exe, "tests": []}
                order.append(key)
            units[key]["tests"].append(test)
    print("%d runs in %d units" % (sum(len(u["tests"]) for u in units.values()), len(units)), file=sys.stderr)

    # The functions of one suite run one after the other (they may share files and ports); suites
    # run side by side, the longest first.
    suites = {}
    for k in order:
        suites.setdefault(k[0], []).append(units[k])
    work = tempfile.mkdtemp(prefix="coverage-unique-")
    results = []
    started = time.monotonic()

    def run_suite(suite_units):
        for unit in suite_units:
            r = run_unit(unit, build, work, strip)
            if r["failed"]:  # once more, so that a run cut short by a loaded machine still counts whole
                again = run_unit(unit, build, work, strip)
                if not again["failed"]:
                    again["failed"] = ["passed-on-retry"]
                    r = again
            results.append(r)
            print("[%d/%d %.0fs] %s %s %.1fs%s" % (len(results), len(order), time.monotonic() - started, r["suite"],
                                                  r["function"] or "(whole)", r["seconds"],
                                                  " FAILED " + ",".join(r["failed"]) if r["failed"] else ""),
                  file=sys.stderr, flush=True)

    try:
        with futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
            for done in [pool.submit(run_suite, u) for u in sorted(suites.values(), key=len, reverse=True)]:
                done.result()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if args.raw:
        with open(args.raw, "wb") as raw:
            pickle.dump(results, raw)

    # Who covers each line: every unit, and the QtTest functions only (the fuzz harness checks
    # invariants, not answers, so a function it overlaps may still be the only one that checks them).
    def users(units, field):
        count = {}
        for r in units:
            for key in r[field]:
                count[key] = count.get(key, 0) + 1
        return count

    functions_only = [r for r in results if r["function"]]
    line_users, branch_users = users(results, "lines"), users(results, "branches")
    fn_line_users, fn_branch_users = users(functions_only, "lines"), users(functions_only, "branches")
    all_lines = set().union(*(r["all_lines"] for r in results))
    all_branches = set().union(*(r["all_branches"] for r in results))

    sources = suite_sources()
    rows = []
    for r in results:
        files = sources.get(r["exe"], [])
        size = function_lines(files, r["function"]) if r["function"] else sum(counted(open(f).read()) for f in files)
        lu, bu = (fn_line_users, fn_branch_users) if r["function"] else (line_users, branch_users)
        rows.append((r["suite"], r["function"] or "(whole-suite)", size,
                     sum(1 for k in r["lines"] if lu[k] == 1), sum(1 for k in r["branches"] if bu[k] == 1),
                     sum(1 for k in r["lines"] if line_users[k] == 1),
                     sum(1 for k in r["branches"] if branch_users[k] == 1),
                     len(r["lines"]), len(r["branches"]), r["seconds"], ",".join(r["failed"]) or "-"))
    rows.sort(key=lambda row: (row[3] + row[4] > 0, row[3], row[4], -row[2], row[0], row[1]))

    out = sys.stdout if args.output == "-" else open(args.output, "w", encoding="utf-8")
    print("# suite function test_lines unique_lines unique_branches | with_fuzz_lines with_fuzz_branches "
          "lines branches seconds failed", file=out)
    print("# unique_*: covered by no other test function; with_fuzz_*: not by the fuzz harness either;", file=out)
    print("# lines, branches: all it covers; test_lines: the function and its _data, counted like the hook", file=out)
    for row in rows:
        print("%s %s %d %d %d | %d %d %d %d %.1f %s" % row, file=out)
    print("# union: lines %d of %d (%.1f %%), branches %d of %d (%.1f %%); %d units, %.0f s" % (
        len(line_users), len(all_lines), 100.0 * len(line_users) / max(1, len(all_lines)),
        len(branch_users), len(all_branches), 100.0 * len(branch_users) / max(1, len(all_branches)),
        len(results), time.monotonic() - started), file=out)
    if out is not sys.stdout:
        out.close()


if __name__ == "__main__":
    main()
