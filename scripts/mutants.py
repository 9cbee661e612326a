"""The mutation guard's engine; scripts/mutants.sh is how it is run."""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

KEYS = ("file", "from", "to", "why", "tests")


def parse(path):
    """Blocks of "key: value" lines separated by blank lines; '#' lines are comments."""
    mutants, block, errors = [], {}, []

    def close(lineno):
        if not block:
            return
        missing = [k for k in ("file", "from", "to", "why") if k not in block]
        if missing:
            errors.append(f"{path}: block ending at line {lineno}: no {', '.join(missing)}")
        else:
            block["number"] = len(mutants) + 1
            mutants.append(dict(block))
        block.clear()

    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for lineno, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            close(lineno)
            continue
        m = re.match(r"(\w+):(?:\s+(.*?))?\s*$", line)
        if not m or m.group(1) not in KEYS:
            errors.append(f"{path}:{lineno}: expected one of {', '.join(KEYS)}: {line}")
            continue
        if m.group(1) in block:
            errors.append(f"{path}:{lineno}: {m.group(1)} given twice")
        block[m.group(1)] = m.group(2) or ""
    close(len(lines))
    return mutants, errors


def select(mutants, args):
    picked, files = set(), []
    for a in args:
        if re.fullmatch(r"\d+(-\d+)?", a):
            lo, _, hi = a.partition("-")
            picked.update(range(int(lo), int(hi or lo) + 1))
        else:
            files.append(a)
    if not picked and not files:
        return mutants
    return [m for m in mutants
            if m["number"] in picked or any(f in m["file"] for f in files)]


def sync(top, tree):
    """Mirrors the working tree (tracked and untracked, not ignored) into the copy,
    writing only files that differ so the copy's build stays incremental."""
    names = subprocess.run(["git", "-C", top, "ls-files", "-z", "-co", "--exclude-standard"],
                           check=True, capture_output=True).stdout.decode().split("\0")
    # Links are copied as links: the fixture trees hold /proc's and /sys's.
    wanted = {n for n in names if n and (os.path.islink(os.path.join(top, n)) or os.path.isfile(os.path.join(top, n)))}
    for n in wanted:
        src, dst = os.path.join(top, n), os.path.join(tree, n)
        if os.path.islink(src):
            target = os.readlink(src)
            if not os.path.islink(dst) or os.readlink(dst) != target:
                if os.path.lexists(dst):
                    os.remove(dst)
                os.makedirs(os.path.dirname(dst), exist_ok=True)
                os.symlink(target, dst)
            continue
        if os.path.islink(dst):
            os.remove(dst)
        if os.path.exists(dst):
            with open(src, "rb") as a, open(dst, "rb") as b:
                if a.read() == b.read():
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst)
    for dirpath, dirnames, filenames in os.walk(tree):
        if dirpath == tree:
            dirnames[:] = [d for d in dirnames if d != "build"]
        for fn in filenames:
            rel = os.path.relpath(os.path.join(dirpath, fn), tree)
            if rel not in wanted:
                os.remove(os.path.join(dirpath, fn))


CLI_USERS = set()  # test programs that run kestrane-cli


def test_programs(top):
    """Test names ("Suite.Name") of each test program, read from the sources:
    one program per directory of tests/ (see tests/CMakeLists.txt)."""
    programs = {}
    for d in sorted(os.listdir(os.path.join(top, "tests"))):
        folder = os.path.join(top, "tests", d)
        if not os.path.isdir(folder):
            continue
        names, cli = [], False
        for fn in os.listdir(folder):
            if fn.endswith((".cpp", ".h")):
                text = open(os.path.join(folder, fn), encoding="utf-8", errors="replace").read()
                names += [a + "." + b for a, b in
                          re.findall(r"^\s*TEST(?:_F|_P)?\(\s*(\w+)\s*,\s*(\w+)\s*\)", text, re.M)]
                cli = cli or "KESTRANE_CLI" in text
        if names:
            programs["kestrane_%s_tests" % d] = names
            if cli:
                CLI_USERS.add("kestrane_%s_tests" % d)
    # Each fuzz target replays its corpus as a test of its own name.
    for fn in os.listdir(os.path.join(top, "fuzz")):
        if fn.endswith("_fuzz.cpp"):
            name = "fuzz_replay_" + fn[:-len("_fuzz.cpp")]
            programs[name] = [name]
    return programs


def targets_of(programs, pattern):
    """The programs whose tests match pattern, plus kestrane-cli when one of
    them runs it; None (build everything) when no pattern or no program
    matches it."""
    if not pattern:
        return None
    found = {p for p, names in programs.items() if any(re.search(pattern, n) for n in names)}
    if not found:
        return None
    return sorted(found | ({"kestrane-cli"} if found & CLI_USERS else set()))


def run(cmd, log, **kw):
    with open(log, "a") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        return subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, **kw).returncode


def main():
    top, args = sys.argv[1], sys.argv[2:]
    jobs, only_list, only_check, files, in_place = "2", False, False, [], None
    rest = []
    it = iter(args)
    for a in it:
        if a == "-j":
            jobs = next(it)
        elif a == "-f":
            files.append(next(it))
        elif a == "--build":
            in_place = os.path.abspath(next(it))
        elif a == "--list":
            only_list = True
        elif a == "--check":
            only_check = True
        elif a in ("-h", "--help"):
            print(open(os.path.join(top, "scripts", "mutants.sh")).read().split("set -eu")[0])
            return 0
        else:
            rest.append(a)
    mutants, errors = parse(os.path.join(top, "tests", "mutants.txt"))
    if errors:
        print("\n".join(errors), file=sys.stderr)
        return 2
    chosen = select(mutants, rest + files)
    if only_list:
        for m in chosen:
            print(f"{m['number']:3} {m['file']}  {m['why']}")
        return 0

    # Every mutant must apply to the tree as it is, and name tests that exist,
    # before anything is built.
    programs = test_programs(top)
    bad = []
    for m in chosen:
        if m.get("tests") and targets_of(programs, m["tests"]) is None:
            # A test of another kind (a script, a check of generated files):
            # everything is built for it.
            print(f"{m['number']:3} note      {m['file']}: no GoogleTest test matches {m['tests']}; builds all")
        path = os.path.join(top, m["file"])
        text = open(path, encoding="utf-8").read() if os.path.isfile(path) else None
        n = 0 if text is None else text.count(m["from"])
        if n != 1:
            bad.append(m)
            why = "no such file" if text is None else f"'from' found {n} times"
            print(f"{m['number']:3} invalid   {m['file']}: {why}")
    if only_check:
        print(f"{len(chosen) - len(bad)} apply, {len(bad)} do not")
        return 1 if bad else 0

    work = os.path.join(top, "build-mutants")
    tree, logs = os.path.join(work, "tree"), os.path.join(work, "logs")
    build = os.path.join(tree, "build")
    os.makedirs(logs, exist_ok=True)
    if in_place:
        # The working tree itself, with a build of it: each mutant is undone
        # before the next one and when the run stops.
        tree, build = top, in_place
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    else:
        sync(top, tree)
    setup = os.path.join(logs, "build.log")
    open(setup, "w").close()
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        # Unoptimized and without debug information: quicker to build, and
        # ccache can share the objects between the copy and other trees.
        if run(["cmake", "-S", tree, "-B", build, "-DKESTRANE_BUILD_TESTS=ON",
                "-DKESTRANE_BUILD_BENCH=OFF", "-DCMAKE_BUILD_TYPE=Debug",
                "-DCMAKE_CXX_FLAGS_DEBUG=-O0"], setup):
            print(f"configuring the copy failed: see {setup}")
            return 2
    # The first build makes what the chosen mutants need, so one mutant
    # can be tried without building everything.
    needed = set()
    for m in chosen:
        t = targets_of(programs, m.get("tests"))
        if t is None:
            needed = None
            break
        needed |= set(t)
    print(f"building in {build} ...", flush=True)
    first = ["cmake", "--build", build, "-j", jobs] + (["--target"] + sorted(needed) if needed else [])
    if run(first, setup):
        print(f"the unmutated copy does not build: see {setup}")
        return 2

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    # A kill counts only if the tests pass without the mutant.
    patterns = [m.get("tests") for m in chosen if m not in bad]
    baseline = ["ctest", "--test-dir", build, "-j", jobs, "--timeout", "300", "--output-on-failure"]
    if patterns and all(patterns) and needed:
        baseline += ["-R", "|".join(f"({p})" for p in patterns)]
    print("running the tests without a mutant ...", flush=True)
    if run(baseline, setup, env=env):
        print(f"the unmutated copy fails its tests: see {setup}")
        return 2
    killed, survived, invalid = [], [], [m["number"] for m in bad]
    for m in chosen:
        if m in bad:
            continue
        path = os.path.join(tree, m["file"])
        original = open(path, encoding="utf-8").read()
        log = os.path.join(logs, f"{m['number']}.log")
        open(log, "w").close()
        start = time.time()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(m["from"], m["to"], 1))
            targets = targets_of(programs, m.get("tests"))
            cmd = ["cmake", "--build", build, "-j", jobs]
            if targets:
                cmd += ["--target"] + targets
            if run(cmd, log):
                verdict = "invalid"  # the mutant does not build: fix the block
            else:
                cmd = ["ctest", "--test-dir", build, "-j", jobs, "--timeout", "300",
                       "--no-tests=error", "--output-on-failure"]
                if m.get("tests"):
                    cmd += ["-R", m["tests"]]
                verdict = "killed" if run(cmd, log, env=env) else "survived"
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        {"killed": killed, "survived": survived, "invalid": invalid}[verdict].append(m["number"])
        print(f"{m['number']:3} {verdict:9} {time.time() - start:5.0f}s  {m['file']}  {m['why']}",
              flush=True)
    # Leaves the build matching the unmutated tree again.
    run(first, setup)

    summary = f"{len(killed)} killed, {len(survived)} survived"
    if invalid:
        summary += f", {len(invalid)} invalid ({' '.join(map(str, invalid))})"
    if survived:
        summary += f"; survivors: {' '.join(map(str, survived))} (logs in {logs})"
    print(summary)
    return 0 if not survived and not invalid else 1


if __name__ == "__main__":
    sys.exit(main())
