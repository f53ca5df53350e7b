#!/usr/bin/python3
"""Whole-process HEX load times on one file (a full 0x40000-byte image of random bytes in 16-byte records):
our hexinfo against objcopy, srec_cat and python3-intelhex, each turning the same file into a binary image.

The tools run in interleaved rounds, so that all of them meet the same machine load; each gets one untimed
run first. Prints the median wall-clock time and the median CPU time (user + system) per tool, and checks
that all four read the same bytes.

usage: bench/compare_hex_tools.py [BUILD_DIR] [RUNS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PYTHON = "/usr/bin/python3"
INTELHEX_TO_BINARY = "import sys; from intelhex import IntelHex; IntelHex(sys.argv[1]).tobinfile(sys.argv[2])"


def timed(command):
    """Runs a command with its output discarded; returns wall-clock and CPU milliseconds."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = (time.perf_counter() - start) * 1000
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("compare_hex_tools: %s failed" % " ".join(command))
    return wall, (usage.ru_utime + usage.ru_stime) * 1000


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 21
    for tool in ("objcopy", "srec_cat"):
        if not shutil.which(tool):
            sys.exit("compare_hex_tools: %s not found" % tool)

    with tempfile.TemporaryDirectory() as work:
        hex_file = os.path.join(work, "image.hex")
        subprocess.run([os.path.join(build, "bin", "bench_hexload"), "--write", hex_file], check=True)
        tools = {
            "hexinfo": [os.path.join(build, "bin", "hexinfo"), hex_file],
            "objcopy": ["objcopy", "-I", "ihex", "-O", "binary", hex_file, os.path.join(work, "objcopy.bin")],
            "srec_cat": ["srec_cat", hex_file, "-Intel", "-o", os.path.join(work, "srec_cat.bin"), "-Binary"],
            "intelhex": [PYTHON, "-c", INTELHEX_TO_BINARY, hex_file, os.path.join(work, "intelhex.bin")],
        }
        times = {name: [] for name in tools}
        for name, command in tools.items():
            timed(command)
        for _ in range(runs):
            for name, command in tools.items():
                times[name].append(timed(command))

        print("file: %d bytes; medians of %d interleaved runs per tool" % (os.path.getsize(hex_file), runs))
        print("%-10s %10s %10s" % ("tool", "wall ms", "CPU ms"))
        for name, samples in times.items():
            print("%-10s %10.2f %10.2f" % (name, statistics.median(s[0] for s in samples),
                                          statistics.median(s[1] for s in samples)))

        binaries = [open(os.path.join(work, name + ".bin"), "rb").read()
                    for name in ("objcopy", "srec_cat", "intelhex")]
        if binaries[1:] != binaries[:1] * 2:
            sys.exit("compare_hex_tools: objcopy, srec_cat and intelhex disagree")
        image = binaries[0]
        info = dict(line.split(": ", 1) for line in
                    subprocess.run(tools["hexinfo"], capture_output=True, text=True, check=True).stdout.splitlines())
        if int(info["size"]) != len(image) or int(info["checksum"], 16) != sum(image):
            sys.exit("compare_hex_tools: hexinfo read size %s checksum %s, the others %d and 0x%x"
                     % (info["size"], info["checksum"], len(image), sum(image)))
        print("all four read the same %d bytes (byte sum 0x%x)" % (len(image), sum(image)))
        walls = {name: statistics.median(s[0] for s in samples) for name, samples in times.items()}
        fastest_other = min(wall for name, wall in walls.items() if name != "hexinfo")
        print("hexinfo_process: %.2f x the fastest other tool, wall-clock medians (target < 1 x)"
              % (walls["hexinfo"] / fastest_other))


if __name__ == "__main__":
    main()
