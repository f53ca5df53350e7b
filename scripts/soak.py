#!/usr/bin/env python3
"""Chaos soak: N updates of one dux-sim module, each with a wire fault drawn at random (dux-sim --chaos),
each followed by a clean update that must bring the module back to its firmware.

usage: soak.py BUILD_DIR N [SEED]

After each faulted update it checks that
- dux-host ended within its --timeout (and a grace for the cancel), and did not crash;
- "updated" is said only with the checksums matching and a firmware's (not a bootloader's) version read back,
  the file's own, which --list then shows too;
- the closing state agrees with a --list taken right after.
It prints a table of counts per fault kind and exits 1 on any violation. Disagreements of the closing state
with --list are an open defect of the closing line (it is guessed from the phase): they are counted and
listed as a known failure, never as a pass, and do not fail the run unless DUX_SOAK_STRICT is set.
"""

import copy
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
from collections import Counter, defaultdict

FIRMWARE = "firmware/dux1234-v200.hex"
IDENTIFIER = "1234V200"
# The dialogue's own pauses run ten times faster; the reply time-outs of the link stay as they are.
TIME_SCALE = "0.1"
# Long enough for the longest time-outs a fault sets off (a stalled checksum: twice 50 s), so that a module
# still waiting out a late reply is not yet asked for the clean update.
UPDATE_TIMEOUT_S = 120
# dux-host ends within a second of its time-out; the rest is the machine's slack.
END_GRACE_S = 5
PORT_BACK_S = 20
LIST_TIMEOUT_S = 10

# What the closing line says about the module, and the mode --list must then show.
CLOSING_STATES = [
    ("Updated ", "firmware"),
    ("the module was not touched", "firmware"),
    ("it still runs its firmware", "firmware"),
    ("in its bootloader, its firmware not yet erased", "bootloader"),
    ("stays in its bootloader with no firmware", "bootloader"),
]


class Sim:
    def __init__(self, build, work, seed):
        self.ports = os.path.join(work, "ports")
        self.log_path = os.path.join(work, "sim.log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [os.path.join(build, "bin/dux-sim"), "--port-file", self.ports, "--chaos", str(seed), "--exit-with-parent"],
            stdout=self.log, stderr=subprocess.STDOUT)

    def said_since(self, offset):
        with open(self.log_path) as log:
            log.seek(offset)
            return log.read()

    def offset(self):
        self.log.flush()
        return os.path.getsize(self.log_path)

    def signal(self, number):
        self.process.send_signal(number)

    def port_listed(self):
        try:
            with open(self.ports) as ports:
                return any(line.strip() for line in ports)
        except OSError:
            return False

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)


def host(build, ports, *arguments, timeout):
    started = time.monotonic()
    env = dict(os.environ, DUX_TIME_SCALE=TIME_SCALE, QT_QPA_PLATFORM="offscreen")
    try:
        done = subprocess.run([os.path.join(build, "bin/dux-host"), "--port-file", ports, *arguments],
                              capture_output=True, text=True, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return None, "", "", time.monotonic() - started
    return done.returncode, done.stdout, done.stderr, time.monotonic() - started


def update(build, ports):
    code, out, err, seconds = host(build, ports, "-v", "--headless", "--json", "--timeout", str(UPDATE_TIMEOUT_S),
                                   "--file", os.path.join(build, FIRMWARE), timeout=UPDATE_TIMEOUT_S + 60)
    result = {}
    for line in reversed(out.splitlines()):
        if line.startswith("{"):
            result = json.loads(line)
            break
    closing = err.strip().splitlines()[-1] if err.strip() else ""
    # With -v the history comes too (on stdout, before the JSON object).
    return code, result, out + err, closing, seconds


def listed(build, ports):
    code, out, _, _ = host(build, ports, "--list", "--json", timeout=LIST_TIMEOUT_S)
    try:
        modules = json.loads(out).get("modules") or []
    except ValueError:
        return None, None
    for module in modules:
        if module.get("running"):
            return module["running"], module.get("version")
    return None, None


def is_bootloader_version(text):
    mark = text.find("B")
    return 0 <= mark <= 4


def interrupt(*_):
    raise KeyboardInterrupt


def main():
    # Ctrl-C, or SIGTERM for a soak run in the background (where SIGINT starts out ignored), ends it
    # with the table so far.
    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    build, count = sys.argv[1], int(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    strict = bool(os.environ.get("DUX_SOAK_STRICT"))
    table = defaultdict(Counter)
    violations = []
    known = []
    bad_runs = known_runs = 0
    with tempfile.TemporaryDirectory(prefix="dux-soak-") as work:
        sim = Sim(build, work, seed)
        deadline = time.monotonic() + PORT_BACK_S
        while not sim.port_listed() and time.monotonic() < deadline:
            time.sleep(0.1)
        done = run = 0
        before = (copy.deepcopy(table), 0, 0, 0, 0)
        try:
            for run in range(1, count + 1):
                before = (copy.deepcopy(table), len(violations), len(known), bad_runs, known_runs)
                mark = sim.offset()
                sim.signal(signal.SIGUSR2)
                armed = None
                deadline = time.monotonic() + 5
                while armed is None and time.monotonic() < deadline:
                    found = re.search(r"chaos: armed (\S+)", sim.said_since(mark))
                    armed = found.group(1) if found else None
                    time.sleep(0.02)
                kind = armed.split("@")[0] if armed else "?"
                code, result, log, closing, seconds = update(build, sim.ports)
                went_off = f"fault {armed} set off" in sim.said_since(mark) if armed else False
                outcome = result.get("result", "crashed" if code is None or code < 0 else "no result")
                row = table[kind]
                row["drawn"] += 1
                row["set off"] += went_off
                row[outcome] += 1
                where = f"run {run}, {armed}: {outcome}"
                violations_before = len(violations)
                known_before = len(known)
                if code is None or seconds > UPDATE_TIMEOUT_S + END_GRACE_S:
                    violations.append(f"{where}: ended after {seconds:.1f} s, bound {UPDATE_TIMEOUT_S} s")
                    row["past bound"] += 1
                elif code < 0 or code > 3:
                    violations.append(f"{where}: exit {code}")
                    row["crashes"] += 1
                mode, version = listed(build, sim.ports)
                if outcome == "updated":
                    read_back = result.get("firmwareVersion", "")
                    if ("suit each other." not in log or read_back != IDENTIFIER or is_bootloader_version(read_back)
                            or mode != "firmware" or version != IDENTIFIER):
                        violations.append(f"{where}: said updated, read back \"{read_back}\", --list {mode} {version}")
                        row["false updated"] += 1
                expected = next((state for text, state in CLOSING_STATES if text in closing), None)
                if expected and mode and expected != mode:
                    known.append(f"{where}: closing line says {expected}, --list shows {mode}: {closing}")
                    row["state disagrees"] += 1
                # Off and on (a stall ends, a vanished port returns, a fault not set off is dropped), then clean.
                sim.signal(signal.SIGUSR1)
                deadline = time.monotonic() + PORT_BACK_S
                while not sim.port_listed() and time.monotonic() < deadline:
                    time.sleep(0.1)
                _, clean, _, _, _ = update(build, sim.ports)
                mode, version = listed(build, sim.ports)
                if clean.get("result") != "updated" or mode != "firmware" or version != IDENTIFIER:
                    violations.append(f"{where}: the clean update after it ended {clean.get('result')}, "
                                      f"--list {mode} {version}")
                    row["not recovered"] += 1
                bad_runs += len(violations) > violations_before
                known_runs += len(violations) == violations_before and len(known) > known_before
                done = run
                print(f"soak {run}/{count}: {armed} {'set off' if went_off else 'not reached'}, {outcome} "
                      f"in {seconds:.1f} s", flush=True)
        except KeyboardInterrupt:
            # The table covers the updates that ran to their end.
            print(f"soak: stopped after {done} of {count} updates", flush=True)
            count = done
            if done < run:
                table, violations, known = before[0], violations[:before[1]], known[:before[2]]
                bad_runs, known_runs = before[3], before[4]
        finally:
            sim.stop()
    columns = ["drawn", "set off", "updated", "failed", "timed out", "interrupted", "not started", "no result",
               "crashed", "past bound", "false updated", "not recovered", "state disagrees"]
    print(f"\n{'kind':20}" + "".join(f"{c:>10}" for c in [c.replace(" ", "-")[:9] for c in columns]))
    total = Counter()
    for kind in sorted(table):
        total.update(table[kind])
        print(f"{kind:20}" + "".join(f"{table[kind][c]:>10}" for c in columns))
    print(f"{'all':20}" + "".join(f"{total[c]:>10}" for c in columns))
    for line in violations:
        print("violation: " + line)
    for line in known:
        print("known failure (closing state guessed from the phase): " + line)
    print(f"soak: {count} updates, seed {seed}: {len(violations)} violations, {len(known)} known failures")
    # An update with a known failure is no pass; it fails the soak only when strict.
    failed = bad_runs + (known_runs if strict else 0)
    if known_runs and not strict:
        print(f"soak: {known_runs} updates with a known failure, counted neither as passed nor as failed")
    print(f"soak: {count - bad_runs - known_runs} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
