"""What the hardening drivers share: the end-to-end set-up (discs, runs of the real launcher) with
the options hardening adds; and a raw HTTP client that sends exactly the bytes it is given and
tells a reply from a closed connection. Every wait is bounded."""

import hashlib
import os
import re
import shutil
import signal
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
import launcher_case  # noqa: E402
import launcher_driver  # noqa: E402
from launcher_case import FAILED, REMOVING, STARTED  # noqa: E402,F401
from launcher_driver import make_disc, replace_extractor, wait_until  # noqa: E402,F401

SECURITY_HEADERS = (b"X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"
                    b"X-Content-Type-Options: nosniff\r\nCross-Origin-Resource-Policy: same-origin\r\n"
                    b"Referrer-Policy: no-referrer\r\n")
FORBIDDEN_PAGE = (b"HTTP/1.1 403 Forbidden\r\nServer: Lumiserv\r\nContent-length: 85\r\n"
                  b"Content-Type: text/html\r\n" + SECURITY_HEADERS + b"\r\n"
                  b"<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>")
NOT_FOUND_BODY = (b"<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
                  b"<p>The requested URL has no content.</p></body></html>")

NOBODY = 65534


def sha256_of(path):
    with open(path, "rb") as data:
        return hashlib.file_digest(data, "sha256").hexdigest()


def can_switch_to_nobody():
    """Root can run the launcher as an ordinary user, for whom file modes matter."""
    return os.geteuid() == 0 and shutil.which("setpriv") is not None


class Launcher(launcher_driver.Launcher):
    """The end-to-end run, optionally as an ordinary user or with a limit on the size of the files
    it writes; sanitizer reports go to files beside the run, where a test can look for them."""

    def __init__(self, disc, as_nobody=False, file_size_limit=None, tmpdir=None, extra_env=None):
        prefix = []
        if as_nobody:
            prefix = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--"]

        def limits():
            import resource
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
            # A real full disk reports an error to the writer; so does an ignored SIGXFSZ.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        super().__init__(disc, extra_env=extra_env, tmpdir=tmpdir, command_prefix=prefix,
                         preexec_fn=limits if file_size_limit is not None else None,
                         folders_open_to_all=as_nobody, sanitizer_logs=True,
                         scratch_prefix="lumidra-hardening-")

    def wait_for_status(self, text, timeout=120):
        return super().wait_for_status(text, timeout)

    def port_and_id(self, timeout=120):
        return super().port_and_id(timeout)


class HardeningCase(launcher_case.LauncherCase):
    """The shared set-up with the hardening run: a run that ends cleanly has also left no sanitizer
    report."""

    launcher_class = Launcher
    folder_prefix = "lumidra-hardening-disc-"

    def assert_left_nothing(self, launcher):
        super().assert_left_nothing(launcher)
        self.assertEqual(launcher.sanitizer_reports(), [])


class Reply:
    """What came back on one connection: the bytes, and whether the server closed it."""

    def __init__(self, data, closed, reset):
        self.data = data
        self.closed = closed
        self.reset = reset
        self.status = None
        self.headers = {}
        self.body = b""
        head, separator, body = data.partition(b"\r\n\r\n")
        match = re.match(rb"HTTP/1\.1 (\d{3})", head)
        if match and separator:
            self.status = int(match.group(1))
            for line in head.split(b"\r\n")[1:]:
                name, _, value = line.partition(b":")
                self.headers[name.decode("latin-1").strip().lower()] = value.decode("latin-1").strip()
            self.body = body

    def __repr__(self):
        return "Reply(status=%r, closed=%r, reset=%r, %d bytes: %r)" % (
            self.status, self.closed, self.reset, len(self.data), self.data[:120])


def exchange(port, request, timeout=10, chunks=None, pause=0.0):
    """Sends the request bytes (in pieces of `chunks` bytes, `pause` seconds apart, when given),
    then reads until the server closes the connection or `timeout` passes."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    data = b""
    closed = reset = False
    try:
        try:
            if chunks:
                for start in range(0, len(request), chunks):
                    sock.sendall(request[start:start + chunks])
                    if pause:
                        time.sleep(pause)
            else:
                sock.sendall(request)
        except (BrokenPipeError, ConnectionResetError):
            reset = True  # the server stopped listening to us; what it sent is still readable
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            sock.settimeout(max(0.05, deadline - time.monotonic()))
            try:
                piece = sock.recv(1 << 16)
            except socket.timeout:
                break
            except ConnectionResetError:
                reset = closed = True
                break
            if not piece:
                closed = True
                break
            data += piece
    finally:
        sock.close()
    return Reply(data, closed, reset)


def http_get(port, path, timeout=10):
    """(status, body) of a GET; status None when no proper reply came."""
    try:
        reply = exchange(port, b"GET " + path.encode("latin-1") + b" HTTP/1.1\r\nHost: localhost\r\n\r\n", timeout)
    except OSError:
        return None, b""
    return reply.status, reply.body


def descriptor_count(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def settled_descriptor_count(pid, interval=0.3, tries=20):
    """The launcher's open descriptors once the count holds still: a client has read the end of
    its reply a moment before the server thread closes its side."""
    count = descriptor_count(pid)
    for _ in range(tries):
        time.sleep(interval)
        again = descriptor_count(pid)
        if again == count:
            break
        count = again
    return count


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def server_pid(launcher):
    """The launcher process itself (setpriv execs it, so the pid is the same)."""
    return launcher.process.pid
