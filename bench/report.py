"""Turns bench/run's hyperfine results into docs/performance.md and the plot's data."""
import json
import os
import platform
import subprocess
import sys

work, page, plot, size, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]


def medians(name):
    with open(os.path.join(work, name)) as f:
        return {r["command"]: r["median"] for r in json.load(f)["results"]}


def read(name):
    with open(os.path.join(work, name)) as f:
        return f.read().strip()


sizes = [100, 1000, 10000]
detect = {n: medians(f"detect-{n}.json") for n in sizes}
remove = medians("remove.json")
cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                     capture_output=True, text=True).stdout.strip()
wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()

lines = [
    "# Performance",
    "",
    "Measured by `bench/run` under Wine, in a scratch prefix, with hyperfine (median of "
    f"{runs} runs after warm-up; every time includes starting the program under Wine).",
    "",
    f"Machine: {cpu}, {os.cpu_count()} cores, {wine}, Linux {platform.release()}.",
    "",
    "## Detection",
    "",
    "N subkeys in the Uninstall key of each view, one in a hundred a Ghostscript entry.",
    "`tool`: `gs-uninstall.exe detect`. `floor`: a program of ours, built the same way, that only",
    "opens both views and enumerates every subkey name. `script`: `reg query` of each view piped",
    "to `find \"GPL Ghostscript\"`, under Wine's `cmd`.",
    "",
    "| N per view | tool | floor | script | tool / floor | tool / script |",
    "|---:|---:|---:|---:|---:|---:|",
]
with open(plot, "w") as out:
    for n in sizes:
        t, f, s = detect[n]["tool"], detect[n]["floor"], detect[n]["script"]
        lines.append(f"| {n:,} | {t:.3f} s | {f:.3f} s | {s:.3f} s | {t / f:.3f} | {t / s:.3f} |")
        out.write(f"{n} {t} {f} {s}\n")
growth = detect[10000]["tool"] / detect[1000]["tool"]
lines += [
    "",
    f"Cost per entry: the tool's time at N = 10,000 over its time at N = 1,000 is {growth:.2f}"
    " (10 would be linear in N with nothing fixed; the fixed cost of starting under Wine"
    " keeps it lower).",
    "",
    "## Removal",
    "",
    "50 entries whose uninstaller (a test program that deletes its own entry) exits at once,"
    " restored before every run. `launcher`: a program of ours that runs the same 50 commands one"
    " after the other and waits for each.",
    "",
    "| tool | launcher | tool / launcher |",
    "|---:|---:|---:|",
    f"| {remove['tool']:.3f} s | {remove['launcher']:.3f} s | {remove['tool'] / remove['launcher']:.3f} |",
    "",
    "## The executable",
    "",
    f"- `gs-uninstall.exe`: {size:,} bytes.",
    f"- Peak resident memory of the whole Wine process for `detect` at N = 10,000 per view:"
    f" {int(read('peak-tool')):,} KiB (the floor's: {int(read('peak-floor')):,} KiB).",
    "",
    "![time against N](performance.png)",
    "",
]
with open(page, "w") as f:
    f.write("\n".join(lines))
