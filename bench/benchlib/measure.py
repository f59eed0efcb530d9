"""Turning tool output into numbers, and numbers into medians, spreads, ratios and verdicts.
Nothing here runs a process; everything is plain functions over text and lists."""

import math
import re
import statistics

_UNITS = {"B": 1, "KB": 1024, "MB": 1024 ** 2, "GB": 1024 ** 3, "TB": 1024 ** 4}


class ParseError(ValueError):
    pass


def parse_size(text):
    """Bytes in a size as wrk prints it ("97.86MB", "812.00KB", "10B"); wrk counts in powers of 1024."""
    match = re.fullmatch(r"\s*([0-9]+(?:\.[0-9]+)?)\s*([KMGT]?B)\s*", text)
    if not match:
        raise ParseError("not a size: %r" % text)
    return float(match.group(1)) * _UNITS[match.group(2)]


def parse_wrk(output):
    """The figures of one wrk run. A run with any socket error or any answer other than 2xx/3xx
    is marked failed: such a run does not measure serving."""
    completed = re.search(r"^\s*(\d+) requests in ([0-9.]+)(us|ms|s|m), ([0-9.]+[KMGT]?B) read", output, re.M)
    rate = re.search(r"^Requests/sec:\s*([0-9.]+)", output, re.M)
    if not completed or not rate:
        raise ParseError("no wrk summary in:\n" + output)
    scale = {"us": 1e-6, "ms": 1e-3, "s": 1.0, "m": 60.0}[completed.group(3)]
    seconds = float(completed.group(2)) * scale
    read_bytes = parse_size(completed.group(4))
    errors = {}
    socket_errors = re.search(
        r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", output)
    if socket_errors:
        for name, value in zip(("connect", "read", "write", "timeout"), socket_errors.groups()):
            if int(value):
                errors[name] = int(value)
    bad_status = re.search(r"Non-2xx or 3xx responses: (\d+)", output)
    if bad_status and int(bad_status.group(1)):
        errors["status"] = int(bad_status.group(1))
    requests = int(completed.group(1))
    # A 64 MiB answer shared by 32 clients may not finish within a short run; the bytes that
    # did arrive still measure the throughput.
    if read_bytes == 0:
        errors["nothing read"] = 1
    return {
        "requests": requests,
        "seconds": seconds,
        "rps": float(rate.group(1)),
        "mbps": read_bytes / seconds / 1e6 if seconds > 0 else 0.0,
        "errors": errors,
        "ok": not errors,
    }


def summarize(values):
    """Median, lowest and highest of repeated measurements, and the spread (highest minus
    lowest) as a fraction of the median. None for an empty list."""
    if not values:
        return None
    median = statistics.median(values)
    low, high = min(values), max(values)
    return {
        "median": median,
        "low": low,
        "high": high,
        "spread": (high - low) / median if median else 0.0,
        "count": len(values),
    }


def ratio(ours, theirs):
    """ours / theirs, or None when there is nothing to compare with."""
    if ours is None or theirs is None or theirs == 0:
        return None
    return ours / theirs


def verdict(value, goal, higher_is_better=True):
    """"met", "missed", or "not measured" of a figure against its goal."""
    if value is None:
        return "not measured"
    met = value >= goal if higher_is_better else value <= goal
    return "met" if met else "missed"


def parse_log_times(log_lines):
    """{message: seconds since the first line} of the launcher's log lines
    ("%Y-%m-%d %H:%M:%S.mmm LEVEL: message"); the first line of each message counts."""
    pattern = re.compile(r"^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}) (?:INFO|WARN|ERROR): (.*)$")
    times = {}
    first = None
    for line in log_lines:
        match = pattern.match(line)
        if not match:
            continue
        year, month, day, hour, minute, second, millis = (int(g) for g in match.groups()[:7])
        # Days from a fixed origin keep runs across midnight or a month end ordered.
        days = _days_from_civil(year, month, day)
        # Whole milliseconds, so that differences come out exact.
        moment = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millis
        if first is None:
            first = moment
        times.setdefault(match.group(8), (moment - first) / 1000.0)
    return times


def _days_from_civil(year, month, day):
    year -= month <= 2
    era = year // 400
    year_of_era = year - era * 400
    day_of_year = (153 * (month + (-3 if month > 2 else 9)) + 2) // 5 + day - 1
    day_of_era = year_of_era * 365 + year_of_era // 4 - year_of_era // 100 + day_of_year
    return era * 146097 + day_of_era


def growth_kib(before_kib, after_kib):
    """Resident growth between two samples; negative numbers (pages given back) count as none."""
    return max(0, after_kib - before_kib)


def poll_floor(seconds, interval=0.1):
    """Time the launcher's command runner takes for a child that runs `seconds`: it queries the
    child every interval and sleeps one interval after every query, the last one included."""
    # The rounding guards against 0.30000000000000004 / 0.1 becoming four intervals.
    return (math.ceil(round(seconds / interval, 9)) + 1) * interval
