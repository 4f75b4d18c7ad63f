"""Turns bench/run's hyperfine results into docs/performance.md and the plot's data."""
import json
import os
import platform
import subprocess
import sys

work, page, plot, size, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
build, loader = sys.argv[6], sys.argv[7]


def medians(name):
    with open(os.path.join(work, name)) as f:
        results = json.load(f)["results"]
    spreads.update({(name, r["command"]): r["stddev"] for r in results})
    return {r["command"]: r["median"] for r in results}


spreads = {}


def cell(name, command, value):
    return f"{value:.3f} s ± {spreads[(name, command)]:.3f}"


def read(name):
    with open(os.path.join(work, name)) as f:
        return f.read().strip()


sizes = [100, 1000, 10000]
detect = {n: medians(f"detect-{n}.json") for n in sizes}
remove = medians("remove.json")
cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                     capture_output=True, text=True).stdout.strip()
wine = subprocess.run([loader, "--version"], capture_output=True, text=True).stdout.strip()

lines = [
    "# Performance",
    "",
    "Measured by `bench/run` under Wine, in a scratch prefix, with hyperfine (median of "
    f"{runs} runs after warm-up, ± their standard deviation; every time includes starting the"
    " program under Wine). Run to run, times under Wine vary by 10 % or more: read ratios near 1"
    " as equal.",
    "",
    f"Machine: {cpu}, {os.cpu_count()} cores, {wine}, Linux {platform.release()}.",
    "",
    f"Build measured: {build}.",
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
        name = f"detect-{n}.json"
        lines.append(f"| {n:,} | {cell(name, 'tool', t)} | {cell(name, 'floor', f)} |"
                     f" {cell(name, 'script', s)} | {t / f:.2f} | {t / s:.2f} |")
        out.write(f"{n} {t} {f} {s}\n")
growth = detect[10000]["tool"] / detect[1000]["tool"]
floor_growth = detect[10000]["floor"] / detect[1000]["floor"]
lines += [
    "",
    f"Cost per entry: the tool's time at N = 10,000 over its time at N = 1,000 is {growth:.2f};"
    f" the floor's is {floor_growth:.2f}. Linear would be 10 (less, with the fixed cost of"
    " starting a program). Where the floor itself grows faster than N, that is the registry's"
    " own cost of enumerating a larger key, which the tool cannot go below.",
    "",
    "## Removal",
    "",
    "50 installations, each a folder with its uninstaller and a `bin` folder of two programs (an"
    " interpreter and a DLL, as Ghostscript installs them), whose uninstaller (a test program)"
    " deletes its own entry, then its two programs, and exits at once; entries and programs are"
    " restored before every run. `launcher`: a program of ours that runs the same 50 commands one"
    " after the other and waits for each.",
    "",
    "| tool | launcher | tool / launcher |",
    "|---:|---:|---:|",
    f"| {cell('remove.json', 'tool', remove['tool'])} | {cell('remove.json', 'launcher', remove['launcher'])}"
    f" | {remove['tool'] / remove['launcher']:.2f} |",
    "",
    "What the tool adds per uninstaller is the wait for the whole uninstall: it places each"
    " uninstaller in a job and waits until the job is empty. The uninstallers here are console"
    " programs, and Wine starts a console host (`conhost.exe`) for each, in its job, which has"
    " been seen to end 10 to 40 ms after the uninstaller (a build of the tool that waits for the"
    " process alone ran as fast as the launcher); an NSIS uninstaller, a windowed program, has"
    " none. Then the test of the installation's programs: one listing of its `bin` folder and an"
    " open of each program before the start, a look for each after the uninstall. Beside a real"
    " uninstaller, which takes seconds, that is nothing.",
    "",
    "## The executable",
    "",
    f"- `gs-uninstall.exe` as measured: {size:,} bytes.",
    f"- Peak resident memory of the whole Wine process for `detect` at N = 10,000 per view:"
    f" {int(read('peak-tool')):,} KiB (the floor's: {int(read('peak-floor')):,} KiB).",
    "",
    "![time against N](performance.png)",
    "",
]
with open(page, "w") as f:
    f.write("\n".join(lines))
