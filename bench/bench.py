#!/usr/bin/env python3
"""Measures Lumidra beside its peers in one run and writes bench/REPORT.md.

    python3 bench/bench.py [--build-dir build/bench] [--repeats 5] [--seconds 1] [--quick]

Needs an optimised build of the launcher and the bench drivers in --build-dir (./run bench
makes it), nginx, wrk, cp and a 7-Zip. Serving runs over loopback only; every process started
here is stopped again, and the run folder (build-dir/run) keeps only the reusable input files.
"""

import argparse
import datetime
import json
import os
import platform
import resource
import shlex
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from benchlib import data, disc_section, report, servers  # noqa: E402
from benchlib.measure import growth_kib, poll_floor, summarize  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLIENT_COUNTS = (1, 8, 32)
STUDY_FILES = 500
STUDY_CLIENTS = 6
MEMORY_REQUESTS = 100000
COPY_BYTES = 1024 * data.MIB


def size_text(size):
    return "%.0f KiB" % (size / 1024) if size < data.MIB else "%.1f MiB" % (size / data.MIB)


def log(text):
    print("[bench] " + text, flush=True)


def cpu_busy(seconds=1.0):
    """Share of all cores that was busy over a short window (everyone's work, ours excluded
    only because we are idle while sampling)."""
    def sample():
        with open("/proc/stat") as stat:
            fields = [int(v) for v in stat.readline().split()[1:]]
        return sum(fields), fields[3] + fields[4]
    total1, idle1 = sample()
    time.sleep(seconds)
    total2, idle2 = sample()
    return 1 - (idle2 - idle1) / max(1, total2 - total1)


def load_average():
    with open("/proc/loadavg") as loadavg:
        return " ".join(loadavg.read().split()[:3])


def tool_version(command):
    try:
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=10)
        lines = result.stdout.decode("utf-8", "replace").strip().splitlines()
        return lines[0].strip() if lines else "?"
    except (OSError, subprocess.TimeoutExpired):
        return "not found"


def source_revision():
    """The commit measured, and whether the working tree differed from it (others may be
    editing the shared checkout while the benchmark builds it)."""
    def git(*arguments):
        result = subprocess.run(["git", "-C", SOURCE_DIR] + list(arguments), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        return result.stdout.decode().strip() if result.returncode == 0 else None
    commit = git("rev-parse", "--short", "HEAD")
    if not commit:
        return "not a git checkout"
    changed = [line for line in (git("status", "--porcelain", "--untracked-files=no") or "").splitlines()
               if line[3:].startswith(("launcher/", "http_server/"))]
    if changed:
        return "commit %s, with uncommitted changes to %d program files built in" % (commit, len(changed))
    return "commit %s" % commit


def machine_facts(build_dir):
    model = "?"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as meminfo:
        memory_kib = int(meminfo.readline().split()[1])
    build_type = "?"
    cache = os.path.join(build_dir, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache) as text:
            for line in text:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    build_type = line.split("=", 1)[1].strip()
    seven_zip = os.path.join(build_dir, "run", "disc-sample", "BIN", "7za")
    return [
        ("source", source_revision()),
        ("CPU", "%s, %d logical cores" % (model, os.cpu_count())),
        ("memory", "%.1f GiB" % (memory_kib / 1024 / 1024)),
        ("system", "%s %s" % (platform.system(), platform.release())),
        ("Lumidra build", "%s (%s, no sanitizers)" % (os.path.relpath(build_dir, SOURCE_DIR), build_type)),
        ("compiler", tool_version(["c++", "--version"])),
        ("nginx", tool_version(["nginx", "-v"])),
        ("wrk", tool_version(["wrk", "--version"])),
        ("python", sys.version.split()[0]),
        ("7-Zip", tool_version([seven_zip if os.path.exists(seven_zip) else "7za"])),
        ("cp", tool_version(["cp", "--version"])),
    ]


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build_dir)
        self.run_dir = os.path.join(self.build, "run")
        self.host = os.path.join(self.build, "bench", "lumidra_bench_host")
        self.fetch = os.path.join(self.build, "bench", "lumidra_bench_fetch")
        self.copier = os.path.join(self.build, "bench", "lumidra_bench_copy")
        self.launcher = os.path.join(self.build, "lumidra")
        self.results = {"repeats": args.repeats, "commands": []}
        self.web = os.path.join(self.run_dir, "www")
        self.empty = os.path.join(self.run_dir, "empty")

    def note_command(self, command):
        text = shlex.join(command).replace(self.build + "/", "")
        if text not in self.results["commands"]:
            self.results["commands"].append(text)

    def wrk(self, server_port, path, clients, seconds, pid=None):
        """One wrk run; with pid, also the serving process's CPU time per request and per MB."""
        self.note_command(servers.wrk_command("PORT", path, clients, seconds))
        before = servers.cpu_seconds(pid) if pid else None
        run = servers.run_wrk(server_port, path, clients, seconds)
        if pid:
            used = servers.cpu_seconds(pid) - before
            run["cpu_us"] = used / run["requests"] * 1e6 if run["requests"] else None
            megabytes = run["mbps"] * run["seconds"]
            run["cpu_ms_per_mb"] = used / megabytes * 1e3 if megabytes else None
        return run

    def serving(self, started):
        """The matrix: every file size at every client count on every server, the servers'
        order rotated from one repeat to the next."""
        rows = []
        for size in data.STATIC_SIZES:
            seconds = self.args.seconds * (3 if size >= 64 * data.MIB else 1)
            for clients in CLIENT_COUNTS:
                runs = {server.name: [] for server in started}
                for repeat in range(self.args.repeats):
                    order = started[repeat % len(started):] + started[:repeat % len(started)]
                    for server in order:
                        runs[server.name].append(self.wrk(server.port, data.static_name(size), clients, seconds,
                                                          server.pid))
                row = {"size": size, "clients": clients, "servers": {}}
                for name, measured in runs.items():
                    good = [run for run in measured if run["ok"]]
                    failed = [run["errors"] for run in measured if not run["ok"]]
                    if failed:
                        log("%s %d B x%d: runs with errors %s" % (name, size, clients, failed))
                    cpu_key = "cpu_ms_per_mb" if size >= 64 * data.MIB else "cpu_us"
                    row["servers"][name] = {
                        "rps": summarize([run["rps"] for run in good]),
                        "mbps": summarize([run["mbps"] for run in good]),
                        "cpu": summarize([run[cpu_key] for run in good if run.get(cpu_key) is not None]),
                        "failed_runs": len(failed),
                    } if good else None
                log("served %d B x%d: %s" % (size, clients, {
                    name: round(value["rps"]["median"]) if value else None
                    for name, value in row["servers"].items()}))
                rows.append(row)
        return rows

    def check_answers(self, started):
        """Every server must hand out every file whole before any of them is timed."""
        for server in started:
            for size in data.STATIC_SIZES:
                paths = os.path.join(self.run_dir, "one-path.txt")
                with open(paths, "w") as out:
                    out.write(data.static_name(size) + "\n")
                figures = servers.run_fetch(self.fetch, server.port, paths, 2, 1, size)
                if not figures["good"]:
                    raise RuntimeError("%s does not serve %d B files: %s" % (server.name, size, figures["error"]))

    def study(self, started, paths_file):
        measured = {}
        for repeat in range(self.args.repeats):
            order = started[repeat % len(started):] + started[:repeat % len(started)]
            for server in order:
                command = servers.fetch_command(self.fetch, server.port, paths_file, STUDY_FILES, STUDY_CLIENTS,
                                                data.SLICE)
                self.note_command([c if c != str(server.port) else "PORT" for c in command])
                figures = servers.run_fetch(self.fetch, server.port, paths_file, STUDY_FILES, STUDY_CLIENTS,
                                            data.SLICE)
                if not figures["good"]:
                    log("study load on %s failed: %s" % (server.name, figures["error"]))
                    continue
                measured.setdefault(server.name, []).append(figures["seconds"])
        result = {name: summarize(values) for name, values in measured.items()}
        log("study load seconds: %s" % {name: round(s["median"], 3) for name, s in result.items()})
        return {"files": STUDY_FILES, "clients": STUDY_CLIENTS, "servers": result}

    def memory(self, name, pid, port, big_path, small_paths_file, peer=False):
        """Peak resident size while 32 clients download the 64 MiB file, then the resident size
        before and after MEMORY_REQUESTS small requests."""
        self.wrk(port, big_path, 32, self.args.seconds * 2)
        peak, _ = servers.vm_status(pid)
        servers.run_fetch(self.fetch, port, small_paths_file, 10000, 32, data.KIB)
        _, before = servers.vm_status(pid)
        command = servers.fetch_command(self.fetch, port, small_paths_file, MEMORY_REQUESTS, 32, data.KIB)
        self.note_command([c if c != str(port) else "PORT" for c in command])
        figures = servers.run_fetch(self.fetch, port, small_paths_file, MEMORY_REQUESTS, 32, data.KIB)
        peak_after, after = servers.vm_status(pid)
        entry = {"name": name, "peak_kib": max(peak, peak_after), "rss_before_kib": before, "rss_after_kib": after,
                 "requests": figures["ok"], "growth_kib": growth_kib(before, after), "peer": peer}
        if not figures["good"]:
            log("memory run on %s had failures: %s" % (name, figures["error"]))
            entry["growth_kib"] = None
        log("memory %s: %s" % (name, entry))
        return entry

    def serve_section(self):
        os.makedirs(self.empty, exist_ok=True)
        paths_file = data.make_web_root(self.web, STUDY_FILES)
        small_paths = os.path.join(self.run_dir, "small-path.txt")
        with open(small_paths, "w") as out:
            out.write(data.static_name(data.KIB) + "\n")
        started = []
        try:
            started.append(servers.start_lumiserv_host(self.host, self.web, self.empty))
            self.note_command([self.host, "www", "empty", "PORT"])
            started.append(servers.start_nginx(os.path.join(self.run_dir, "nginx"), self.web))
            self.note_command(["nginx", "-p", "run/nginx", "-c", "run/nginx/nginx.conf"])
            started.append(servers.start_python(self.web))
            self.note_command(["python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", "www", "PORT"])
            self.check_answers(started)
            if "serving" in self.args.sections:
                self.results["serving"] = self.serving(started)
            if "launcher" in self.args.sections:
                self.launcher_section(started[0])
            if "study" in self.args.sections:
                self.results["study"] = self.study(started, paths_file)
            if "memory" in self.args.sections:
                memory = self.results.setdefault("memory", [])
                memory.append(self.memory("Lumiserv host", started[0].pid, started[0].port,
                                          data.static_name(64 * data.MIB), small_paths))
                memory.append(self.memory("nginx worker (peer)", started[1].pid, started[1].port,
                                          data.static_name(64 * data.MIB), small_paths, peer=True))
        finally:
            for server in started:
                server.stop()

    def launcher_section(self, host):
        """The real launcher serving the same files from its workspace, beside the host."""
        disc = data.make_disc(SOURCE_DIR, os.path.join(self.run_dir, "disc-sample"))
        run = servers.Launcher(self.launcher, disc, os.path.join(self.run_dir, "launcher-serve"))
        self.results["commands"].append("(cd run/disc-sample && BROWSER=run/launcher-serve/browser.sh ../../lumidra)")
        try:
            _, address = run.browser_call()
            run.wait_for_copy()
            port = run.port(address)
            rows = []
            for size in (data.KIB, data.SLICE):
                for clients in (8, 32):
                    ours, theirs = [], []
                    for _ in range(self.args.repeats):
                        ours.append(self.wrk(port, "/DICOM/BENCH/f%d.bin" % size, clients, self.args.seconds))
                        theirs.append(self.wrk(host.port, data.static_name(size), clients, self.args.seconds))
                    rows.append({"size": size, "clients": clients,
                                 "launcher": self.wrk_summary(ours), "host": self.wrk_summary(theirs)})
            self.results["launcher_serving"] = rows
            log("launcher rows: %s" % [(r["size"], r["clients"], r["launcher"] and round(r["launcher"]["rps"]["median"]))
                                       for r in rows])
            if "memory" in self.args.sections:
                self.results.setdefault("memory", []).append(self.memory(
                    "launcher (build/bench/lumidra)", run.pid, port, "/DICOM/BENCH/f%d.bin" % (64 * data.MIB),
                    self.launcher_small_paths()))
        finally:
            clean = run.exit()
            if not clean:
                log("the launcher left its workspace behind (removed by the benchmark)")

    def launcher_small_paths(self):
        path = os.path.join(self.run_dir, "launcher-small-path.txt")
        with open(path, "w") as out:
            out.write("/DICOM/BENCH/f%d.bin\n" % data.KIB)
        return path

    @staticmethod
    def wrk_summary(runs):
        good = [run for run in runs if run["ok"]]
        if not good:
            return None
        return {"rps": summarize([r["rps"] for r in good]), "mbps": summarize([r["mbps"] for r in good])}

    def bare_extraction(self, disc, target):
        """Both archives extracted with the launcher's own command lines; seconds of each."""
        seven_zip = os.path.join(disc, "BIN", "7za")
        commands = [
            [seven_zip, "x", "-bsp2", "-y", "-o" + os.path.join(target, "DATA", "7z"),
             os.path.join(disc, "DATA", "7z", "viewer.7z")],
            [seven_zip, "x", "-bsp2", "-y", "-o" + target + os.sep, os.path.join(disc, "data.zip")],
        ]
        for command in commands:
            self.note_command(command)
        os.makedirs(os.path.join(target, "DATA"))
        seconds = []
        for command in commands:
            start = time.perf_counter()
            subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
            seconds.append(time.perf_counter() - start)
        data.remove(target)
        return seconds

    def launcher_staging(self, disc, scratch):
        """Seconds from the launcher's first log line to "Opening browser", of its two
        extraction stages, and from its spawn to the browser's call."""
        run = servers.Launcher(self.launcher, disc, scratch)
        try:
            spawn_to_browser, _ = run.browser_call()
            times = run.log_times()
        finally:
            run.exit()
        # On port 8000 the configuration needs no fix, and that step logs nothing.
        data_end = times.get("Fixing config port number", times["Starting lumiserv..."])
        return {
            "total": times["Opening browser"] - times["Starting Lumidra"],
            "viewer": times["Unzipping data..."] - times["Browser unzip attempt 1"],
            "data": data_end - times["Data unzip attempt 1"],
            "spawn": spawn_to_browser,
        }

    def staging_section(self):
        discs = [("sample disc", data.make_disc(SOURCE_DIR, os.path.join(self.run_dir, "disc-sample"))),
                 ("sample disc, data.zip + 64 MiB",
                  data.make_disc(SOURCE_DIR, os.path.join(self.run_dir, "disc-large"), extra_data_mib=64))]
        rows = []
        for name, disc in discs:
            scratch = os.path.join(self.run_dir, "staging")
            bare_target = os.path.join(scratch, "bare")
            data.remove(bare_target)
            # One unmeasured round of each fills the page cache for both alike.
            self.launcher_staging(disc, scratch)
            self.bare_extraction(disc, bare_target)
            launcher, bare = [], []
            for _ in range(self.args.repeats):
                launcher.append(self.launcher_staging(disc, scratch))
                bare.append(self.bare_extraction(disc, bare_target))
            sizes = [os.path.getsize(os.path.join(disc, "DATA", "7z", "viewer.7z")),
                     os.path.getsize(os.path.join(disc, "data.zip"))]
            row = {"name": name, "archives": "viewer.7z %s, data.zip %s" % (size_text(sizes[0]), size_text(sizes[1])),
                "launcher": summarize([run["total"] for run in launcher]),
                "launcher_viewer": summarize([run["viewer"] for run in launcher]),
                "launcher_data": summarize([run["data"] for run in launcher]),
                "browser_call": summarize([run["spawn"] for run in launcher]),
                "bare": summarize([sum(run) for run in bare]),
                "bare_viewer": summarize([run[0] for run in bare]),
                "bare_data": summarize([run[1] for run in bare])}
            row["overhead"] = row["launcher"]["median"] / row["bare"]["median"] - 1
            row["poll_floor"] = (poll_floor(row["bare_viewer"]["median"]) +
                                 poll_floor(row["bare_data"]["median"]))
            log("staging %s: launcher %.3f s, bare %.3f s" % (name, row["launcher"]["median"], row["bare"]["median"]))
            rows.append(row)
        self.results["staging"] = rows

    def copy_section(self):
        free = shutil.disk_usage(self.run_dir).free
        if free < 4 * COPY_BYTES:
            log("copy skipped: %.1f GiB free, 4 GiB needed" % (free / 1024 ** 3))
            return
        disc = os.path.join(self.run_dir, "copy-disc")
        try:
            files = data.make_copy_tree(disc, COPY_BYTES)
            measured = {"lumidra": [], "cp": []}
            cpu = {"lumidra": [], "cp": []}
            # Round -1 warms both up and is not counted.
            for repeat in range(-1, self.args.repeats):
                for name in (("cp", "lumidra") if repeat % 2 == 0 else ("lumidra", "cp")):
                    target = os.path.join(self.run_dir, "copy-target")
                    data.remove(target)
                    subprocess.run(["sync"], check=True)
                    if name == "cp":
                        os.makedirs(os.path.join(target, "DATA"))
                        command = ["cp", "-r", os.path.join(disc, "DATA", "DICOM"), os.path.join(target, "DATA")]
                    else:
                        command = [self.copier, disc, target]
                    self.note_command(command)
                    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
                    start = time.perf_counter()
                    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    seconds = time.perf_counter() - start
                    after = resource.getrusage(resource.RUSAGE_CHILDREN)
                    if done.returncode != 0:
                        log("%s copy failed: %s" % (name, done.stderr.decode(errors="replace")))
                    elif repeat >= 0:
                        measured[name].append(COPY_BYTES / seconds / 1e6)
                        cpu[name].append(after.ru_utime + after.ru_stime - usage.ru_utime - usage.ru_stime)
                    data.remove(target)
            self.results["copy"] = {
                "tree": "1 GiB", "files": files,
                "lumidra": summarize(measured["lumidra"]), "cp": summarize(measured["cp"]),
                "cpu": {name: summarize(values) for name, values in cpu.items()},
                "note": "Source and target on the same disk (%s); the source tree sits in the page cache "
                        "(written just before), `sync` runs untimed before every copy, and the time ends "
                        "when the copier exits (its data may still be in the page cache). One round of "
                        "both is a warm-up and not counted; the copiers alternate in order from one "
                        "repeat to the next. Both copy inside the kernel (copy_file_range) here, source "
                        "and target sharing a file system; from a real disc (another file system) "
                        "copyRemainingFiles reads and writes instead." % self.run_dir,
            }
            log("copy MB/s: %s" % {k: v and round(v["median"]) for k, v in self.results["copy"].items()
                                    if k in ("lumidra", "cp")})
        finally:
            data.remove(disc)
            data.remove(os.path.join(self.run_dir, "copy-target"))

    def run(self):
        os.makedirs(self.run_dir, exist_ok=True)
        busy_before, load_before = cpu_busy(), load_average()
        started = datetime.datetime.now()
        self.results["failures"] = []
        sections = []
        if {"serving", "launcher", "study", "memory"} & set(self.args.sections):
            sections.append(("serving", self.serve_section))
        if "staging" in self.args.sections:
            sections.append(("staging", self.staging_section))
        if "copy" in self.args.sections:
            sections.append(("copy", self.copy_section))
        for name, section in sections:
            # One section that cannot run must not cost the figures of the others.
            try:
                section()
            except Exception as error:  # noqa: BLE001
                log("the %s section failed: %r" % (name, error))
                self.results["failures"].append("%s: %s" % (name, error))
        busy_after, load_after = cpu_busy(), load_average()
        self.results["machine"] = {"date": started.strftime("%Y-%m-%d %H:%M"), "facts": machine_facts(self.build)}
        self.results["contention"] = (
            "Other work on the machine shares its cores with the benchmark: "
            "before the run, %.0f %% of all cores were busy (load average %s); after it, %.0f %% (load "
            "average %s). The run took %.0f s. Peers ran interleaved with Lumidra so that both saw the "
            "same contention; the spread in brackets shows how much it moved the figures."
            % (busy_before * 100, load_before, busy_after * 100, load_after,
               (datetime.datetime.now() - started).total_seconds()))
        self.results["serving_note"] = (
            "wrk with one thread and `Connection: close` (so every request opens a new connection), "
            "%d s per run (three times that for 64 MiB). Lumiserv runs in lumidra_bench_host: the launcher's "
            "own startLocalServer settings (32 slots, no Accept-Ranges, workspace root then disc root, "
            "the stats and cmd handlers, 15 s expiry), its diagnostics sent to /dev/null as on a "
            "terminal. nginx has one worker, `sendfile on`, `keepalive_timeout 0`, no access log. "
            "Ratios are of medians: requests per second, except MB/s for 64 MiB. The CPU columns are the "
            "serving process's user + system time (from /proc) per request wrk completed (per MB for "
            "64 MiB): a figure that the other engineers' load disturbs less than requests per second, "
            "since wrk and the server share two busy cores." % self.args.seconds)
        self.results["staging_note"] = (
            "The launcher runs from the disc's root with TMPDIR on the same disk; its time is the "
            "distance between its first log line (\"Starting Lumidra\") and \"Opening browser\", read "
            "with the terminal's \"show log\" command; the spawn → browser column adds process start-up "
            "and the $BROWSER script's own start. The bare figure is the disc's 7-Zip run twice by "
            "the benchmark with the launcher's command lines (`x -bsp2 -y -o<target>`), output on "
            "pipes, spawn to exit. One unmeasured round of each fills the page cache first. The launcher's "
            "command runner, as designed, asks the extractor for its exit code every 100 ms and sleeps "
            "100 ms after every query, the last one included: an extraction of t seconds takes it "
            "(⌈t / 100 ms⌉ + 1) × 100 ms. The poll-floor column applies that to the bare times; what "
            "the launcher needs beyond it is its own work.")
        self.results["memory_note"] = (
            "Peak = VmHWM after wrk with 32 clients downloading the 64 MiB file; then 10,000 warm-up "
            "requests for the 1 KiB file, VmRSS, %s more requests from 32 clients, VmRSS again. Growth "
            "is the difference (0 when the process gave pages back)." % "{:,}".format(MEMORY_REQUESTS))
        with open(os.path.join(self.run_dir, "results.json"), "w") as saved:
            json.dump(self.results, saved, indent=1)
        self.write_report()

    def write_report(self):
        if self.args.changes and os.path.exists(self.args.changes):
            with open(self.args.changes) as text:
                self.results["changes"] = text.read().strip()
        previous = ""
        if os.path.exists(self.args.out):
            with open(self.args.out) as old:
                previous = old.read()
        text = disc_section.with_section(report.render(self.results), disc_section.section_of(previous))
        viewer = disc_section.section_of(previous, disc_section.VIEWER)
        with open(self.args.out, "w") as out:
            out.write(disc_section.with_section(text, viewer, disc_section.VIEWER))
        log("wrote %s" % self.args.out)

    def render_saved(self):
        """Writes the report again from the last run's figures (after editing changes.md)."""
        with open(os.path.join(self.run_dir, "results.json")) as saved:
            self.results = json.load(saved)
        self.write_report()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build", "bench"))
    parser.add_argument("--out", default=os.path.join(SOURCE_DIR, "bench", "REPORT.md"))
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--seconds", type=int, default=1, help="seconds per wrk run (64 MiB: three times)")
    parser.add_argument("--sections", default="serving,launcher,study,staging,copy,memory")
    parser.add_argument("--changes", default=os.path.join(SOURCE_DIR, "bench", "changes.md"),
                        help="text on performance changes to include in the report")
    parser.add_argument("--quick", action="store_true", help="one repeat of one second each")
    parser.add_argument("--render", action="store_true",
                        help="measure nothing; write the report again from the last run's figures")
    args = parser.parse_args()
    if args.quick:
        args.repeats, args.seconds = 1, 1
    args.sections = set(args.sections.split(","))
    if args.render:
        Bench(args).render_saved()
    else:
        Bench(args).run()


if __name__ == "__main__":
    main()
