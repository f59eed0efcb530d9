#!/usr/bin/env python3
"""Before and after: several builds of the Lumiserv host (and nginx) on the same files in one
interleaved run, with wrk's rate, the study load's time and the server's CPU time per request;
optionally several builds of the deferred-copy driver beside cp -r.

    python3 bench/compare_hosts.py HOST_BINARY... [--copy COPY_BINARY...] [--repeats 4] [--seconds 2]

Each HOST_BINARY is a lumidra_bench_host and each COPY_BINARY a lumidra_bench_copy (for
instance copies kept from an earlier commit). Prints Markdown tables; it needs the run folder
that bench/bench.py has prepared.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from benchlib import data, report, servers  # noqa: E402
from benchlib.measure import ratio, summarize  # noqa: E402

CASES = ((data.KIB, 8), (data.SLICE, 8), (64 * data.MIB, 1), (64 * data.MIB, 8))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("hosts", nargs="+")
    parser.add_argument("--copy", nargs="*", default=[], help="lumidra_bench_copy builds to compare with cp -r")
    parser.add_argument("--build-dir", default=os.path.join(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))), "build", "bench"))
    parser.add_argument("--repeats", type=int, default=4)
    parser.add_argument("--seconds", type=int, default=2)
    args = parser.parse_args()
    run_dir = os.path.join(os.path.abspath(args.build_dir), "run")
    web, empty = os.path.join(run_dir, "www"), os.path.join(run_dir, "empty")
    if not os.path.isdir(web):
        sys.exit("run bench/bench.py first: %s is missing" % web)

    started = []
    try:
        for binary in args.hosts:
            server = servers.start_lumiserv_host(os.path.abspath(binary), web, empty)
            server.name = os.path.basename(binary)
            started.append(server)
        started.append(servers.start_nginx(os.path.join(run_dir, "nginx"), web))
        rows = []
        for size, clients in CASES:
            measured = {server.name: {"rate": [], "cpu": []} for server in started}
            for repeat in range(args.repeats):
                order = started[repeat % len(started):] + started[:repeat % len(started)]
                for server in order:
                    before = servers.cpu_seconds(server.pid)
                    run = servers.run_wrk(server.port, data.static_name(size), clients, args.seconds)
                    used = servers.cpu_seconds(server.pid) - before
                    if not run["ok"]:
                        print("%s: errors %s" % (server.name, run["errors"]), file=sys.stderr)
                        continue
                    big = size >= 64 * data.MIB
                    measured[server.name]["rate"].append(run["mbps"] if big else run["rps"])
                    megabytes = run["mbps"] * run["seconds"]
                    measured[server.name]["cpu"].append(
                        used / megabytes * 1e3 if big else used / max(1, run["requests"]) * 1e6)
            nginx_rate = summarize(measured["nginx"]["rate"])
            for server in started:
                rate, cpu = summarize(measured[server.name]["rate"]), summarize(measured[server.name]["cpu"])
                rows.append([report.size_name(size), clients, server.name,
                             report.with_spread(rate) + (" MB/s" if size >= 64 * data.MIB else " req/s"),
                             report.times(ratio(rate and rate["median"], nginx_rate and nginx_rate["median"])),
                             report.number(cpu and cpu["median"], 2 if size >= 64 * data.MIB else 1) +
                             (" ms/MB" if size >= 64 * data.MIB else " µs/req")])
        rows += study_rows(started, run_dir, args.repeats)
        print(report.table(["file", "clients", "server", "rate, median (low–high)", "÷ nginx", "server CPU"], rows))
    finally:
        for server in started:
            server.stop()
    if args.copy:
        print()
        print(compare_copies(run_dir, args.copy, args.repeats))


def study_rows(started, run_dir, repeats):
    """The viewer's study load (500 slices, 6 clients) with our load client: total seconds."""
    fetch = os.path.join(os.path.dirname(run_dir), "bench", "lumidra_bench_fetch")
    paths = os.path.join(run_dir, "www", "study-paths.txt")
    measured = {server.name: ([], []) for server in started}
    for repeat in range(repeats):
        for server in started[repeat % len(started):] + started[:repeat % len(started)]:
            before = servers.cpu_seconds(server.pid)
            figures = servers.run_fetch(fetch, server.port, paths, 500, 6, data.SLICE)
            if figures["good"]:
                measured[server.name][0].append(figures["seconds"])
                measured[server.name][1].append((servers.cpu_seconds(server.pid) - before) / 500 * 1e6)
    nginx = summarize(measured["nginx"][0])
    rows = []
    for server in started:
        seconds, cpu = (summarize(values) for values in measured[server.name])
        speed = ratio(nginx and nginx["median"], seconds and seconds["median"])
        rows.append(["study: 500 × 512 KiB", 6, server.name, report.with_spread(seconds, 3) + " s",
                     report.times(speed), report.number(cpu and cpu["median"], 1) + " µs/req"])
    return rows


def compare_copies(run_dir, binaries, repeats):
    """MB/s of each copy driver and of cp -r on a 1 GiB tree of 512 KiB files, alternating."""
    disc = os.path.join(run_dir, "compare-copy-disc")
    target = os.path.join(run_dir, "compare-copy-target")
    total = 1024 * data.MIB
    measured = {name: [] for name in ["cp -r"] + binaries}
    try:
        data.make_copy_tree(disc, total)
        for repeat in range(repeats):
            order = list(measured)
            for name in order[repeat % len(order):] + order[:repeat % len(order)]:
                shutil.rmtree(target, ignore_errors=True)
                subprocess.run(["sync"], check=True)
                if name == "cp -r":
                    os.makedirs(os.path.join(target, "DATA"))
                    command = ["cp", "-r", os.path.join(disc, "DATA", "DICOM"), os.path.join(target, "DATA")]
                else:
                    command = [os.path.abspath(name), disc, target]
                start = time.perf_counter()
                done = subprocess.run(command, stdout=subprocess.DEVNULL)
                if done.returncode == 0:
                    measured[name].append(total / (time.perf_counter() - start) / 1e6)
    finally:
        shutil.rmtree(disc, ignore_errors=True)
        shutil.rmtree(target, ignore_errors=True)
    cp = summarize(measured["cp -r"])
    rows = []
    for name, values in measured.items():
        summary = summarize(values)
        rows.append([os.path.basename(name), report.with_spread(summary) + " MB/s",
                     report.times(ratio(summary and summary["median"], cp and cp["median"]))])
    return report.table(["copier (1 GiB, 2048 files)", "rate, median (low–high)", "÷ cp -r"], rows)


if __name__ == "__main__":
    main()
