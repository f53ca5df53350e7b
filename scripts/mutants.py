#!/usr/bin/env python3
"""Applies each fault of tests/mutants.txt in turn, rebuilds the test binaries it names, runs them and
restores the file. Prints killed / survived / not applicable per fault and ends with "N killed, M survived".

usage: scripts/mutants.py BUILD_DIR [name...]   (names pick single faults; default all)
A run line's words are split as a shell splits them: a data tag with spaces goes in quotes.
"""
import os
import shlex
import signal
import subprocess
import sys
import time

SUITE_TIMEOUT_S = int(os.environ.get("DUX_MUTANT_TIMEOUT", "240"))
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def read_mutants(path):
    mutants, current = [], None
    with open(path, encoding="utf-8") as listing:
        for raw in listing:
            line = raw.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            if word == "mutant":
                current = {"name": rest, "runs": [], "to": ""}
                mutants.append(current)
            elif word in ("file", "from", "to"):
                current[word] = unescape(rest) if word != "file" else rest
            elif word == "run":
                current["runs"].append(shlex.split(rest))
            else:
                sys.exit(f"mutants: cannot read line: {line}")
    return mutants


def build(build_dir, targets):
    result = subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", *targets],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return result.returncode == 0, result.stdout


def unknown_targets(build_dir, runs, known):
    """The test functions and data tags of `runs` that their binaries do not have: a run of an unknown one
    fails whatever the fault, and would count it killed."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    missing = []
    for run in runs:
        if run[0] not in known:
            listing = subprocess.run([os.path.join(build_dir, "bin", run[0]), "-datatags"], env=env, cwd=build_dir,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
            names = set()
            for line in listing.splitlines():
                parts = line.split(" ", 2)
                if len(parts) >= 2:
                    names.add(parts[1])
                if len(parts) == 3:
                    names.add(f"{parts[1]}:{parts[2]}")
            known[run[0]] = names
        missing += [f"{run[0]} {target}" for target in run[1:] if target not in known[run[0]]]
    return missing


def fails(build_dir, run):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    try:
        result = subprocess.run([os.path.join(build_dir, "bin", run[0]), *run[1:]], env=env, cwd=build_dir,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=SUITE_TIMEOUT_S,
                                start_new_session=True)
    except subprocess.TimeoutExpired:
        return "timed out"
    return f"exit {result.returncode}" if result.returncode != 0 else None


def stop(*_):
    raise KeyboardInterrupt


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build_dir = os.path.abspath(sys.argv[1])
    wanted = set(sys.argv[2:])
    os.chdir(ROOT)
    mutants = [m for m in read_mutants("tests/mutants.txt") if not wanted or m["name"] in wanted]
    subprocess.run(["cmake", "-S", ".", "-B", build_dir, "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"],
                   stdout=subprocess.DEVNULL, check=True)
    # Ctrl-C or a kill while a fault is applied must still restore the file.
    signal.signal(signal.SIGTERM, stop)
    # Built unchanged first: the tests each fault names are looked up in these binaries.
    built, log = build(build_dir, sorted({run[0] for m in mutants for run in m["runs"]}))
    if not built:
        sys.exit(f"mutants: the unchanged sources do not build\n{log[-2000:]}")
    killed = survived = skipped = 0
    known = {}
    start = time.time()
    for mutant in mutants:
        path = mutant["file"]
        with open(path, encoding="utf-8") as source:
            original = source.read()
        count = original.count(mutant["from"])
        if count != 1:
            print(f"not applicable {mutant['name']} ({'text not found' if count == 0 else 'text not unique'})",
                  flush=True)
            skipped += 1
            continue
        targets = sorted({run[0] for run in mutant["runs"]})
        missing = unknown_targets(build_dir, mutant["runs"], known)
        if missing:
            print(f"not applicable {mutant['name']} (no such test: {', '.join(missing)})", flush=True)
            skipped += 1
            continue
        try:
            with open(path, "w", encoding="utf-8") as source:
                source.write(original.replace(mutant["from"], mutant["to"]))
            built, log = build(build_dir, targets)
            if not built:
                print(f"not applicable {mutant['name']} (does not build)\n{log[-2000:]}", flush=True)
                skipped += 1
                continue
            reason = None
            for run in mutant["runs"]:
                reason = fails(build_dir, run)
                if reason:
                    reason = f"{' '.join(run)}: {reason}"
                    break
        finally:
            with open(path, "w", encoding="utf-8") as source:
                source.write(original)
        if reason:
            killed += 1
            print(f"killed {mutant['name']} by {reason}", flush=True)
        else:
            survived += 1
            print(f"survived {mutant['name']} ({'; '.join(' '.join(r) for r in mutant['runs'])})", flush=True)
    # Leave the binaries built from the restored sources.
    build(build_dir, sorted({run[0] for m in mutants for run in m["runs"]}))
    print(f"mutants: {len(mutants)} faults, {skipped} not applicable, {int(time.time() - start)} s")
    print(f"{killed} killed, {survived} survived")


if __name__ == "__main__":
    main()
