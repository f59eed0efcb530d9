"""The programs the builder runs beside itself (7-Zip, dcmmkdir, xorriso), started and finished
in one place, so that a build that stops half way stops them too before its output is removed."""

import subprocess

from . import DiscError

_running = []


def start(command, cwd=None, what=None):
    """Starts command with its output captured; what names it in errors (default: the program)."""
    try:
        process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except FileNotFoundError:
        raise DiscError("%s is not installed" % command[0])
    process.what = what or command[0]
    _running.append(process)
    return process


def finish(process, on_line=None):
    """Waits for process; raises DiscError with its output when it failed. on_line(line), where
    given, sees each line of output as it comes (for progress)."""
    if on_line is None:
        output, _ = process.communicate()
    else:
        lines = []
        with process.stdout:
            for line in iter(process.stdout.readline, b""):
                lines.append(line)
                on_line(line)
        process.wait()
        output = b"".join(lines)
    if process in _running:
        _running.remove(process)
    if process.returncode != 0:
        raise DiscError("%s failed (exit %d):\n%s" % (
            process.what, process.returncode, output.decode("utf-8", "replace").strip()))
    return output


def run(command, cwd=None, what=None, on_line=None):
    return finish(start(command, cwd, what), on_line)


def stop_all():
    """Kills and reaps every program still running."""
    while _running:
        process = _running.pop()
        if process.poll() is None:
            process.kill()
        process.communicate()
