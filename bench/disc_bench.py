#!/usr/bin/env python3
"""The disc builder beside its floor, in one run, for two exports: 5,000 small images (128 x 128)
and 2,000 CT images (512 x 512, about 1 GB), each made into a disc folder by tools/make_disc.py,
against `cp -r` of the same files followed by dcmtk's `dcmmkdir` alone over the copy, as the
study needs it. For the small images also the same export with every image lacking its Study
ID, which the DICOMDIR needs (the builder supplies it), and the complete one with its ISO image
beside `xorriso` over the copy. Also the builder's peak resident memory
for two input sizes, which should stay flat as the number of files grows. Writes its section of
bench/REPORT.md.

    python3 bench/disc_bench.py [--run-dir build/h-disc/bench-disc] [--repeats 3]
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

PER_SERIES = 100
GOAL = 1.5
LACKING_GOAL = 1.2
# (images, side): the exports measured.
EXPORTS = ((5000, 128), (2000, 512))
# dcmmkdir as this study needs it: the checks the builder relaxes (which cost nothing here), no
# made-up attributes (the study has every one). The builder's first run is the same.
DCMMKDIR = ["dcmmkdir", "-q", "-Pgp", "-Nxc", "-Nec", "-Nrc", "+Nrs", "+r", "+D", "DICOMDIR"]
# The ISO image as the builder makes it (tools/disc/iso.py).
XORRISO = ["xorriso", "-as", "mkisofs", "-V", "BENCH", "-iso-level", "3", "-J", "-joliet-long", "-R"]


def log(text):
    print("[disc bench] " + text, flush=True)


def make_study(folder, count, side, lacking=False):
    """count CT images of side x side x 16 bits in series of 100, names as dcmmkdir accepts them;
    lacking: without a Study ID."""
    marker = folder + ".complete"  # beside the study, so that the builder does not see it
    if os.path.exists(marker):
        return
    shutil.rmtree(folder, ignore_errors=True)
    template = sample_study.build_study(ct_slices=1, ct_size=16, mr_slices=1, mr_size=16)[0].images[0]
    dataset = dataset_of(template, None)
    dataset.Rows = dataset.Columns = side
    if lacking:
        del dataset.StudyID
    pixels = [slice_bytes(seed, side * side * 2) for seed in range(8)]
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


def clear_target(target):
    """Removes the last run's output and waits for the kernel to write back what runs left
    unwritten, so that no run pays for the writing of the one before it."""
    shutil.rmtree(target, ignore_errors=True)
    os.sync()


def floor_once(study, target, iso=""):
    """(seconds, copy seconds, index seconds, CPU seconds) of the floor; with iso, the ISO image of
    the copy too, as the builder makes it (its seconds counted with the index's)."""
    clear_target(target)
    copy_seconds, copy_cpu, _ = timed(["cp", "-r", study, target])
    folders = sorted(os.listdir(target))
    index_seconds, index_cpu, _ = timed(DCMMKDIR + folders, cwd=target)
    if iso:
        iso_seconds, iso_cpu, _ = timed(XORRISO + ["-o", iso, target])
        index_seconds, index_cpu = index_seconds + iso_seconds, index_cpu + iso_cpu
    return copy_seconds + index_seconds, copy_seconds, index_seconds, copy_cpu + index_cpu


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


def builder_once(study, target, program_options, iso="", fresh_viewer=False):
    """One build; fresh_viewer: 7-Zip packs the viewer, as the first build after it changed does
    (the others take it from build/viewer-packs)."""
    clear_target(target)
    return timed([sys.executable, os.path.join(TOOLS_DIR, "make_disc.py"), study, target, "--quiet",
                  "--label", "BENCH"] + (["--iso", iso, "--force"] if iso else [])
                 + (["--viewer-cache", ""] if fresh_viewer else []) + program_options)


def _median(runs, key):
    return statistics.median(run[key] for run in runs)


def render_export(export):
    runs = export["runs"]
    floor, builder = _median(runs, "floor"), _median(runs, "builder")
    lines = [
        "### %d images of %d x %d x 16 bits, %.2f GB, in series of %d" % (
            export["images"], export["side"], export["side"], export["bytes"] / 1e9, PER_SERIES),
        "",
        "| | median s | runs (s) | median CPU s (user + system, with the programs run) |",
        "|---|---|---|---|",
        "| floor: `cp -r` + `dcmmkdir` alone | %.2f | %s | %.2f |" % (
            floor, ", ".join("%.2f (%.2f + %.2f)" % (r["floor"], r["copy"], r["index"]) for r in runs),
            _median(runs, "floor_cpu")),
        "| `tools/make_disc.py` (disc folder, no ISO) | %.2f | %s | %.2f |" % (
            builder, ", ".join("%.2f" % r["builder"] for r in runs), _median(runs, "builder_cpu")),
    ]
    lines.append("| the same, the viewer packed afresh by 7-Zip (the first disc after the viewer changed) | %.2f | %s | %.2f |" % (
        _median(runs, "fresh"), ", ".join("%.2f" % r["fresh"] for r in runs), _median(runs, "fresh_cpu")))
    if "lacking" in runs[0]:
        lines.append("| the same export, every image without a Study ID (supplied to the index) | %.2f | %s | %.2f |" % (
            _median(runs, "lacking"), ", ".join("%.2f" % r["lacking"] for r in runs), _median(runs, "lacking_cpu")))
    if "iso" in runs[0]:
        lines.append("| floor with the ISO image: `cp -r` + `dcmmkdir` + `xorriso` | %.2f | %s | %.2f |" % (
            _median(runs, "floor_iso"), ", ".join("%.2f" % r["floor_iso"] for r in runs),
            _median(runs, "floor_iso_cpu")))
        lines.append("| `tools/make_disc.py --iso` | %.2f | %s | %.2f |" % (
            _median(runs, "iso"), ", ".join("%.2f" % r["iso"] for r in runs), _median(runs, "iso_cpu")))
    ratio = builder / floor
    lines += ["", "Builder **%.2fx** the floor in time (goal at most %.1fx: %s), %.2fx in CPU; %.2fx in time where "
              "it packs the viewer afresh." % (
                  ratio, GOAL, "met" if ratio <= GOAL else "not met",
                  _median(runs, "builder_cpu") / _median(runs, "floor_cpu"), _median(runs, "fresh") / floor)]
    if "lacking" in runs[0]:
        lacking = _median(runs, "lacking") / builder
        lines.append("Without Study IDs **%.2fx** the complete export (goal at most %.1fx: %s)." % (
            lacking, LACKING_GOAL, "met" if lacking <= LACKING_GOAL else "not met"))
    if "iso" in runs[0]:
        iso = _median(runs, "iso") / _median(runs, "floor_iso")
        lines.append("With the ISO image **%.2fx** its floor (goal at most %.1fx: %s)." % (
            iso, GOAL, "met" if iso <= GOAL else "not met"))
    return lines + [""]


def render(results):
    lines = [
        disc_section.BEGIN,
        "## Disc builder",
        "",
        "Written by `python3 bench/disc_bench.py` on %s (%d repeats, interleaved, page cache and "
        "packed viewer warm after one build not counted, the last run's output written back before each run; load average %s at the start and %s at the end, on a machine shared with other "
        "work, %d cores)." % (
            results["date"], len(results["exports"][0]["runs"]), results["load"], results["load_at_end"],
            results["cores"]),
        "",
    ]
    for export in results["exports"]:
        lines += render_export(export)
    lines += [
        "The floor's `dcmmkdir` runs as the study needs it, without made-up attributes. The builder "
        "does more than the floor: it reads every header (walking an Explicit VR Little Endian one by its "
        "bytes, pydicom reading the others; in one process per core, while two threads copy), decides the "
        "patients, has `dcmmkdir` write the root's DICOMDIR and moves that index into DATA by its bytes "
        "(file IDs less `DATA\\`, record offsets laid out anew) for the viewer, copying the launchers and "
        "INDEX.HTM with VIEWER/ and the first series' images into data.zip beside the index (the headers with "
        "supplied values, then `dcmmkdir`); it takes the "
        "viewer packed by an earlier build from build/viewer-packs, where packed viewers are kept by the digest "
        "of their content (a changed viewer is packed by 7-Zip from the start, at a lower priority); then it "
        "adds the index to data.zip and writes README.TXT. Where images lack a value the DICOMDIR needs, it writes their headers "
        "with the value into a tree of links (in a private folder in memory) that dcmmkdir reads instead of "
        "making values up (`+I`, whose time grows with the square of the images).",
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
    parser.add_argument("--out", default=os.path.join(BENCH_DIR, "REPORT.md"))
    args = parser.parse_args()
    os.makedirs(args.run_dir, exist_ok=True)
    log("making the input studies")
    studies = {}
    for count, side in EXPORTS:
        studies[(count, side)] = os.path.join(args.run_dir, "study-%d-%d" % (count, side))
        make_study(studies[(count, side)], count, side)
    lacking_key = EXPORTS[0]
    lacking_study = os.path.join(args.run_dir, "study-%d-%d-lacking" % lacking_key)
    make_study(lacking_study, *lacking_key, lacking=True)
    small_count, side = EXPORTS[1][0] // 4, EXPORTS[1][1]
    small = os.path.join(args.run_dir, "study-%d-%d" % (small_count, side))
    make_study(small, small_count, side)
    program_options = programs(args.run_dir)
    with open("/proc/loadavg") as loadavg:
        load_at_start = " ".join(loadavg.read().split()[:3])
    target = os.path.join(args.run_dir, "out")
    exports = []
    for key, study in studies.items():
        runs = []
        floor_once(study, target)
        builder_once(study, target, program_options)
        for repeat in range(args.repeats):
            total, copy, index, floor_cpu = floor_once(study, target)
            builder, builder_cpu, _rss = builder_once(study, target, program_options)
            run = {"floor": total, "copy": copy, "index": index, "builder": builder,
                   "floor_cpu": floor_cpu, "builder_cpu": builder_cpu}
            run["fresh"], run["fresh_cpu"], _rss = builder_once(study, target, program_options, fresh_viewer=True)
            if key == lacking_key:
                run["lacking"], run["lacking_cpu"], _rss = builder_once(lacking_study, target, program_options)
                iso = os.path.join(args.run_dir, "bench.iso")
                run["floor_iso"], _copy, _index, run["floor_iso_cpu"] = floor_once(study, target, iso)
                run["iso"], run["iso_cpu"], _rss = builder_once(study, target, program_options, iso)
                os.unlink(iso)
            runs.append(run)
            log("%d x %d, run %d: %s" % (key[0], key[1], repeat + 1,
                                         ", ".join("%s %.2f" % item for item in sorted(run.items()))))
        exports.append({"images": key[0], "side": key[1], "bytes": folder_bytes(study), "runs": runs})
    memory = []
    for count, study in ((small_count, small), (EXPORTS[1][0], studies[EXPORTS[1]])):
        _seconds, _cpu, kib = builder_once(study, target, program_options)
        memory.append((count, kib))
        log("peak RSS with %d images: %d KiB" % (count, kib))
    shutil.rmtree(target, ignore_errors=True)
    with open("/proc/loadavg") as loadavg:
        load_at_end = " ".join(loadavg.read().split()[:3])
    results = {"load_at_end": load_at_end, "date": datetime.date.today().isoformat(), "exports": exports,
               "memory": memory,
               "load": load_at_start, "cores": os.cpu_count() or 1}
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
