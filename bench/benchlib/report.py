"""bench/REPORT.md from the results of one run: every figure beside its peer, as medians with
their spread, ratios and verdicts against the goals."""

from .measure import ratio, verdict

SIZE_NAMES = {1024: "1 KiB", 512 * 1024: "512 KiB", 64 * 1024 * 1024: "64 MiB"}


def size_name(size):
    return SIZE_NAMES.get(size, "%d B" % size)


def clients_text(count):
    return "%d client%s" % (count, "" if count == 1 else "s")


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    for row in rows:
        lines.append("| " + " | ".join(str(cell) for cell in row) + " |")
    return "\n".join(lines)


def number(value, digits=0):
    if value is None:
        return "–"
    return "{:,.{}f}".format(value, digits)


def with_spread(summary, digits=0):
    """"median (low–high)" of a summary, or "failed" when no run succeeded."""
    if summary is None:
        return "failed"
    return "%s (%s–%s)" % (number(summary["median"], digits), number(summary["low"], digits),
                           number(summary["high"], digits))


def times(value):
    return "–" if value is None else "%.2f×" % value


def median(summary):
    return None if summary is None else summary["median"]


def serving_goals(serving):
    """(goal text, measured text, verdict) rows of the serving goals."""
    rows = []
    for row in serving:
        lumiserv, nginx, python = (row["servers"].get(name) for name in ("lumiserv", "nginx", "python"))
        label = "%s, %s" % (size_name(row["size"]), clients_text(row["clients"]))
        if row["size"] == 64 * 1024 * 1024:
            share = ratio(median(lumiserv and lumiserv["mbps"]), median(nginx and nginx["mbps"]))
            rows.append(("MB/s ≥ 0.9 × nginx (%s)" % label, times(share), verdict(share, 0.9)))
        else:
            share = ratio(median(lumiserv and lumiserv["rps"]), median(nginx and nginx["rps"]))
            rows.append(("requests/s ≥ nginx (%s)" % label, times(share), verdict(share, 1.0)))
        versus_python = ratio(median(lumiserv and lumiserv["rps"]), median(python and python["rps"]))
        rows.append(("requests/s ≥ 10 × python http.server (%s)" % label, times(versus_python),
                     verdict(versus_python, 10.0)))
    return rows


def goal_rows(results):
    rows = serving_goals(results.get("serving", []))
    for disc in results.get("staging", []):
        overhead = disc.get("overhead")
        rows.append(("staging overhead < 3 %% over bare 7za (%s)" % disc["name"],
                     "–" if overhead is None else "%+.1f %%" % (overhead * 100),
                     verdict(overhead, 0.03, higher_is_better=False)))
    copy = results.get("copy")
    if copy:
        share = ratio(median(copy.get("lumidra")), median(copy.get("cp")))
        rows.append(("deferred copy MB/s ≥ 0.95 × cp -r", times(share), verdict(share, 0.95)))
    for subject in results.get("memory", []):
        if subject.get("peer"):
            continue
        peak = subject.get("peak_kib")
        rows.append(("peak resident size < 16 MiB (%s)" % subject["name"],
                     "–" if peak is None else "%.1f MiB" % (peak / 1024),
                     verdict(peak, 16 * 1024, higher_is_better=False)))
        growth = subject.get("growth_kib")
        rows.append(("no growth over %s requests (%s)" % (number(subject.get("requests")), subject["name"]),
                     "–" if growth is None else "%d KiB" % growth,
                     verdict(growth, 0, higher_is_better=False)))
    return rows


def serving_section(serving, names):
    header = ["file", "clients"]
    for name in names:
        header.append("%s req/s" % names[name])
    for name in names:
        header.append("%s MB/s" % names[name])
    header += ["Lumiserv ÷ nginx", "Lumiserv ÷ python", "nginx ÷ python", "server CPU: Lumiserv",
               "server CPU: nginx"]
    rows = []
    for row in serving:
        servers = row["servers"]
        cells = [size_name(row["size"]), row["clients"]]
        for name in names:
            cells.append(with_spread(servers.get(name) and servers[name]["rps"]))
        for name in names:
            cells.append(with_spread(servers.get(name) and servers[name]["mbps"]))
        key = "mbps" if row["size"] == 64 * 1024 * 1024 else "rps"

        def pick(name):
            return median(servers.get(name) and servers[name][key])

        cells.append(times(ratio(pick("lumiserv"), pick("nginx"))))
        cells.append(times(ratio(pick("lumiserv"), pick("python"))))
        cells.append(times(ratio(pick("nginx"), pick("python"))))
        unit = " ms/MB" if row["size"] == 64 * 1024 * 1024 else " µs/req"
        for name in ("lumiserv", "nginx"):
            cpu = servers.get(name) and servers[name].get("cpu")
            cells.append("–" if not cpu else number(cpu["median"], 2 if unit == " ms/MB" else 1) + unit)
        rows.append(cells)
    return table(header, rows)


def render(results):
    out = []
    machine = results["machine"]
    out.append("# Lumidra benchmarks\n")
    out.append("Written by `./run bench` (bench/bench.py) on %s. Every figure stands beside a peer "
               "that did the same work on the same machine in the same run; no test asserts a time, "
               "this page is the product. Figures are medians of %d runs, with the lowest and highest "
               "run in brackets.\n" % (machine["date"], results["repeats"]))
    out.append("## Machine\n")
    out.append(table(["", ""], [(key, value) for key, value in machine["facts"]]))
    out.append("\n**Contention.** %s\n" % results["contention"])

    for failure in results.get("failures", []):
        out.append("**Not measured in this run:** %s\n" % failure)

    out.append("## Goals\n")
    out.append(table(["goal", "measured (ratio of medians)", "verdict"], goal_rows(results)))
    out.append("")

    names = {"lumiserv": "Lumiserv", "nginx": "nginx", "python": "python"}
    out.append("## 1. Static serving over loopback, every connection closed after its answer\n")
    out.append(results["serving_note"] + "\n")
    out.append(serving_section(results.get("serving", []), names))
    out.append("")
    launcher = results.get("launcher_serving")
    if launcher:
        out.append("The real launcher (build/bench/lumidra on the bench disc, files served from its "
                   "workspace after the deferred copy) beside the host in the same run:\n")
        rows = []
        for row in launcher:
            ours, host = row["launcher"], row["host"]
            rows.append([size_name(row["size"]), row["clients"], with_spread(ours and ours["rps"]),
                         with_spread(host and host["rps"]), with_spread(ours and ours["mbps"]),
                         times(ratio(median(ours and ours["rps"]), median(host and host["rps"])))])
        out.append(table(["file", "clients", "launcher req/s", "host req/s", "launcher MB/s",
                          "launcher ÷ host"], rows))
        out.append("")

    study = results.get("study")
    if study:
        out.append("## 2. Study load: %d files of 512 KiB, %d parallel clients\n" % (study["files"], study["clients"]))
        rows = []
        for name, label in (("lumiserv", "Lumiserv (host)"), ("launcher", "Lumiserv (launcher)"),
                            ("nginx", "nginx"), ("python", "python http.server")):
            if name in study["servers"]:
                seconds = study["servers"][name]
                rows.append([label, with_spread(seconds, 3),
                             times(ratio(median(study["servers"].get("nginx")), median(seconds)))])
        out.append(table(["server", "total seconds", "speed ÷ nginx"], rows))
        out.append("")

    staging = results.get("staging")
    if staging:
        out.append("## 3. Staging: launcher start to \"Opening browser\" beside bare `7za x`\n")
        out.append(results["staging_note"] + "\n")
        rows = []
        for disc in staging:
            overhead = disc.get("overhead")
            beyond = None
            if disc.get("launcher") and disc.get("poll_floor") is not None:
                beyond = (disc["launcher"]["median"] - disc["poll_floor"]) * 1000
            rows.append([disc["name"], disc["archives"], with_spread(disc.get("launcher"), 3),
                         with_spread(disc.get("launcher_viewer"), 3), with_spread(disc.get("launcher_data"), 3),
                         with_spread(disc.get("bare_viewer"), 3), with_spread(disc.get("bare_data"), 3),
                         with_spread(disc.get("bare"), 3),
                         "–" if overhead is None else "%+.1f %%" % (overhead * 100),
                         number(disc.get("poll_floor"), 1),
                         "–" if beyond is None else "%+.0f ms" % beyond,
                         with_spread(disc.get("browser_call"), 3)])
        out.append(table(["disc", "archives", "launcher: \"Starting Lumidra\" → \"Opening browser\" (s)",
                          "of which viewer.7z (s)", "of which data.zip (s)", "bare 7za viewer.7z (s)",
                          "bare 7za data.zip (s)", "bare, both (s)", "launcher overhead",
                          "runner's poll floor for the bare times (s)", "launcher beyond that floor",
                          "spawn → browser called (s)"], rows))
        out.append("")

    copy = results.get("copy")
    if copy:
        out.append("## 4. Deferred copy: %s in %d files of 512 KiB\n" % (copy["tree"], copy["files"]))
        share = ratio(median(copy.get("lumidra")), median(copy.get("cp")))
        cpu = copy.get("cpu", {})
        out.append(table(["copier", "MB/s", "÷ cp -r", "CPU seconds (user + system)"], [
            ["copyRemainingFiles", with_spread(copy.get("lumidra")), times(share), with_spread(cpu.get("lumidra"), 2)],
            ["cp -r", with_spread(copy.get("cp")), "1.00×", with_spread(cpu.get("cp"), 2)],
        ]))
        out.append("\n" + copy["note"] + "\n")

    memory = results.get("memory")
    if memory:
        out.append("## 5. Memory (from /proc/<pid>/status)\n")
        rows = []
        for subject in memory:
            rows.append([subject["name"], number(subject.get("peak_kib")), number(subject.get("rss_before_kib")),
                         number(subject.get("rss_after_kib")), number(subject.get("requests")),
                         number(subject.get("growth_kib"))])
        out.append(table(["process", "VmHWM after 32 clients (KiB)", "VmRSS before (KiB)",
                          "VmRSS after (KiB)", "requests between", "growth (KiB)"], rows))
        out.append("\n" + results["memory_note"] + "\n")

    changes = results.get("changes")
    if changes:
        out.append("## Performance changes and their effect\n")
        out.append(changes + "\n")

    out.append("## Command lines\n")
    out.append("```\n" + "\n".join(results["commands"]) + "\n```\n")
    return "\n".join(out) + "\n"
