"""Finds a Python that has pydicom: the one running, else the distribution's, else one on PATH.

The tools are started by ./run, CMake, node and C++ tests with whatever `python3` they see; a
virtual environment or pyenv shim first on PATH often lacks the distribution's python3-pydicom.
"""

import importlib.util
import os
import shutil
import subprocess
import sys

CANDIDATES = ("/usr/bin/python3", "/usr/local/bin/python3")
_SWITCHED = "LUMIDRA_PYDICOM_REEXEC"


def has_pydicom(python):
    try:
        return subprocess.run([python, "-c", "import pydicom"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


def python_with_pydicom():
    """The path of an interpreter that imports pydicom, or None."""
    if importlib.util.find_spec("pydicom") is not None:
        return sys.executable
    # The running interpreter stays a candidate: started with -S or -I it may merely not see
    # site packages that it has.
    seen = set()
    named = os.environ.get("LUMIDRA_PYTHON")
    for candidate in ([named] if named else []) + list(CANDIDATES) + [shutil.which("python3")]:
        if not candidate or not os.path.isfile(candidate):
            continue
        real = os.path.realpath(candidate)
        if real in seen:
            continue
        seen.add(real)
        if has_pydicom(candidate):
            return candidate
    return None


def ensure_pydicom():
    """Runs the current script again under an interpreter with pydicom when this one lacks it."""
    if importlib.util.find_spec("pydicom") is not None:
        return
    python = None if os.environ.get(_SWITCHED) else python_with_pydicom()
    if python is None:
        sys.stderr.write("%s: needs pydicom (Debian: apt-get install python3-pydicom); "
                         "set LUMIDRA_PYTHON to a Python that has it\n" % os.path.basename(sys.argv[0]))
        sys.exit(2)
    os.environ[_SWITCHED] = "1"
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(python, [python] + sys.argv)
