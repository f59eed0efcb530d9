#!/usr/bin/env python3
"""The disc builder beside its floor, in one run: 2,000 CT images (about 1 GB) made into a disc
folder by tools/make_disc.py, against `cp -r` of the same files followed by dcmtk's `dcmmkdir`
alone over the copy, as this study needs it. Also the builder's peak resident memory for two
input sizes, which should stay flat as the number of files grows. Writes its section of
bench/REPORT.md.

    python3 bench/disc_bench.py [--run-dir build/h-disc/bench-disc] [--repeats 3] [--images 2000]
"""

import argparse
import datetime
import os
import shutil
import statistics
import subprocess
import sys
import time

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(BENCH_DIR)
TOOLS_DIR = os.path.join(SOURCE_DIR, "tools")
sys.path.insert(0, BENCH_DIR)
sys.path.insert(0, TOOLS_DIR)

from disc.interpreter import ensure_pydicom  # noqa: E402

ensure_pydicom()

from benchlib import disc_section  # noqa: E402
from benchlib.data import slice_bytes  # noqa: E402
import sample_study  # noqa: E402
from study_files import dataset_of  # noqa: E402

SIDE = 512
PER_SERIES = 100
GOAL = 1.5
# dcmmkdir as this study needs it: the checks the builder relaxes (which cost nothing here), no
# made-up attributes (the study has every one). The builder's first run is the same.
DCMMKDIR = ["dcmmkdir", "-q", "-Pgp", "-Nxc", "-Nec", "-Nrc", "+Nrs", "-W", "+r", "+D", "DICOMDIR"]
# For reference: the same with attributes made up (+I), whose time grows with the square of the
# number of images; the builder runs it only for a study that lacks some.
DCMMKDIR_INVENTING = DCMMKDIR[:2] + ["+I"] + DCMMKDIR[2:]


def log(text):
    print("[disc bench] " + text, flush=True)


def make_study(folder, count):
    """count CT images of 512 x 512 x 16 bits in series of 100, names as dcmmkdir accepts them."""
    marker = folder + ".complete"  # beside the study, so that the builder does not see it
    if os.path.exists(marker):
        return
    shutil.rmtree(folder, ignore_errors=True)
    template = sample_study.build_study(ct_slices=1, ct_size=16, mr_slices=1, mr_size=16)[0].images[0]
    dataset = dataset_of(template, None)
    dataset.Rows = dataset.Columns = SIDE
    pixels = [slice_bytes(seed, SIDE * SIDE * 2) for seed in range(8)]
    for index in range(count):
        series = index // PER_SERIES
        dataset.SeriesInstanceUID = sample_study.make_uid("bench series", series)
        dataset.SeriesNumber = series + 1
        dataset.SOPInstanceUID = sample_study.make_uid("bench image", index)
        dataset.file_meta.MediaStorageSOPInstanceUID = dataset.SOPInstanceUID
        dataset.InstanceNumber = index % PER_SERIES + 1
        dataset.PixelData = pixels[index % len(pixels)]
        path = os.path.join(folder, "S%03d" % series, "I%04d" % (index % PER_SERIES))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        dataset.save_as(path, write_like_original=False)
    open(marker, "w").close()


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(top, name)) for top, _f, names in os.walk(folder)
               for name in names)


def _high_water_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def timed(command, cwd=None):
    """(seconds, CPU seconds of the process and the programs it ran, peak resident KiB of the
    process itself) for one command that must succeed. The peak is sampled from /proc."""
    start = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak = 0
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        peak = max(peak, _high_water_kib(process.pid))
        time.sleep(0.02)
    seconds = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode("utf-8", "replace")
    process.stderr.close()
    if process.returncode != 0:
        raise SystemExit("%s failed (exit %d):\n%s" % (" ".join(command), process.returncode, error))
    return seconds, usage.ru_utime + usage.ru_stime, peak


def floor_once(study, target):
    shutil.rmtree(target, ignore_errors=True)
    copy_seconds, copy_cpu, _ = timed(["cp", "-r", study, target])
    folders = sorted(os.listdir(target))
    index_seconds, index_cpu, _ = timed(DCMMKDIR + folders, cwd=target)
    inventing_seconds, _cpu, _ = timed(DCMMKDIR_INVENTING + folders, cwd=target)
    return copy_seconds + index_seconds, copy_seconds, index_seconds, copy_cpu + index_cpu, inventing_seconds


def programs(run_dir):
    """The programs the disc carries; a stand-in for one not built here (its copy costs the same
    order of time: a few megabytes)."""
    chosen = []
    for option, path in (("--windows-launcher", os.path.join(SOURCE_DIR, "build", "windows", "lumidra.exe")),
                         ("--linux-launcher", os.path.join(SOURCE_DIR, "build", "native", "lumidra"))):
        if not os.path.isfile(path):
            path = os.path.join(run_dir, "stand-in-" + os.path.basename(path))
            with open(path, "wb") as out:
                out.write(os.urandom(8 << 20))
        chosen += [option, path]
    return chosen


def builder_once(study, target, program_options):
    shutil.rmtree(target, ignore_errors=True)
    return timed([sys.executable, os.path.join(TOOLS_DIR, "make_disc.py"), study, target, "--quiet",
                  "--label", "BENCH"] + program_options)


def render(results):
    floor = statistics.median(r["floor"] for r in results["runs"])
    builder = statistics.median(r["builder"] for r in results["runs"])
    ratio = builder / floor
    floor_cpu = statistics.median(r["floor_cpu"] for r in results["runs"])
    builder_cpu = statistics.median(r["builder_cpu"] for r in results["runs"])
    lines = [
        disc_section.BEGIN,
        "## Disc builder",
        "",
        "Written by `python3 bench/disc_bench.py` on %s (%d repeats, interleaved, page cache warm for "
        "both sides; load average %s at the start, on a machine shared with other work). %d CT "
        "images of 512 x 512 x 16 bits, %.2f GB, in series of %d." % (
            results["date"], len(results["runs"]), results["load"], results["images"],
            results["bytes"] / 1e9, PER_SERIES),
        "",
        "| | median s | runs (s) | median CPU s (user + system, with the programs run) |",
        "|---|---|---|---|",
        "| floor: `cp -r` + `dcmmkdir` alone | %.2f | %s | %.2f |" % (
            floor, ", ".join("%.2f (%.2f + %.2f)" % (r["floor"], r["copy"], r["index"]) for r in results["runs"]),
            floor_cpu),
        "| `tools/make_disc.py` (disc folder, no ISO) | %.2f | %s | %.2f |" % (
            builder, ", ".join("%.2f" % r["builder"] for r in results["runs"]), builder_cpu),
        "| for reference: `dcmmkdir +I` (attributes made up) alone | %.2f | %s | |" % (
            statistics.median(r["inventing"] for r in results["runs"]),
            ", ".join("%.2f" % r["inventing"] for r in results["runs"])),
        "",
        "**Goal** builder at most %.1fx the floor: measured **%.2fx** in time, %.2fx in CPU, %s, "
        "on %d cores." % (GOAL, ratio, builder_cpu / floor_cpu, "met" if ratio <= GOAL else "not met",
                          results["cores"]),
        "",
        "The floor's `dcmmkdir` runs as this study needs it, without made-up attributes; the builder "
        "runs it so first and again with `+I` only for a study that lacks some. The builder does "
        "more than the floor: it reads every header with pydicom (in one process per core, while "
        "two threads copy), writes two DICOMDIRs (at the root and in DATA, side by side), packs "
        "the viewer, writes data.zip with the first series and copies the launchers.",
        "",
        "| peak resident memory of the builder's own process (VmHWM) | images | KiB |",
        "|---|---|---|",
    ]
    for images, kib in results["memory"]:
        lines.append("| | %d | %d |" % (images, kib))
    small, large = results["memory"][0][1], results["memory"][-1][1]
    lines += ["", "Growth from %d to %d images: %+.0f%% (flat means the data sets are not held)." % (
        results["memory"][0][0], results["memory"][-1][0], 100.0 * (large - small) / small), "",
        disc_section.END]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--run-dir", default=os.path.join(SOURCE_DIR, "build", "h-disc", "bench-disc"))
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--images", type=int, default=2000)
    parser.add_argument("--out", default=os.path.join(BENCH_DIR, "REPORT.md"))
    args = parser.parse_args()
    os.makedirs(args.run_dir, exist_ok=True)
    large = os.path.join(args.run_dir, "study-%d" % args.images)
    small_count = max(1, args.images // 4)
    small = os.path.join(args.run_dir, "study-%d" % small_count)
    log("making the input studies")
    make_study(large, args.images)
    make_study(small, small_count)
    program_options = programs(args.run_dir)
    with open("/proc/loadavg") as loadavg:
        load_at_start = " ".join(loadavg.read().split()[:3])
    target = os.path.join(args.run_dir, "out")
    runs = []
    for repeat in range(args.repeats):
        total, copy, index, floor_cpu, inventing = floor_once(large, target)
        builder, builder_cpu, _rss = builder_once(large, target, program_options)
        runs.append({"floor": total, "copy": copy, "index": index, "builder": builder,
                     "floor_cpu": floor_cpu, "builder_cpu": builder_cpu, "inventing": inventing})
        log("run %d: floor %.2f s (cp %.2f + dcmmkdir %.2f; CPU %.2f s), builder %.2f s (CPU %.2f s)" % (
            repeat + 1, total, copy, index, floor_cpu, builder, builder_cpu))
    memory = []
    for count, study in ((small_count, small), (args.images, large)):
        _seconds, _cpu, kib = builder_once(study, target, program_options)
        memory.append((count, kib))
        log("peak RSS with %d images: %d KiB" % (count, kib))
    shutil.rmtree(target, ignore_errors=True)
    results = {"date": datetime.date.today().isoformat(), "runs": runs, "memory": memory,
               "load": load_at_start, "cores": os.cpu_count() or 1,
               "images": args.images, "bytes": folder_bytes(large)}
    section = render(results)
    text = ""
    if os.path.exists(args.out):
        with open(args.out) as old:
            text = old.read()
    with open(args.out, "w") as out:
        out.write(disc_section.with_section(text, section))
    log("wrote %s" % args.out)
    print(section)


if __name__ == "__main__":
    main()
