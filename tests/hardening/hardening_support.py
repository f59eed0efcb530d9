"""What the hardening drivers share: sample discs, one run of the real launcher started from a
disc's root with its terminal front end on pipes, and a raw HTTP client that sends exactly the
bytes it is given and tells a reply from a closed connection. Every wait is bounded."""

import hashlib
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SOURCE_DIR = os.environ.get("LUMIDRA_SOURCE_DIR") or os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BINARY_DIR = os.environ.get("LUMIDRA_BINARY_DIR") or os.path.join(SOURCE_DIR, "build", "native")
LAUNCHER = os.environ.get("LUMIDRA_LAUNCHER") or os.path.join(BINARY_DIR, "lumidra")
DISC_BUILDER = os.path.join(SOURCE_DIR, "tools", "make_sample_disc.py")

LOG_BEGIN = "--- Lumidra log ---"
LOG_END = "--- end of Lumidra log ---"
LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (INFO|WARN|ERROR): (.*)$")

FORBIDDEN_PAGE = (b"HTTP/1.1 403 Forbidden\r\nServer: Lumiserv\r\nContent-length: 85\r\n"
                  b"Content-Type: text/html\r\n\r\n"
                  b"<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>")
NOT_FOUND_BODY = (b"<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
                  b"<p>The requested URL has no content.</p></body></html>")

NOBODY = 65534


def make_disc(folder, *options):
    subprocess.run([sys.executable, DISC_BUILDER, folder] + list(options), check=True,
                   stdout=subprocess.DEVNULL)
    return folder


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(0.1)


def replace_extractor(disc, script):
    """Puts a shell script in place of the disc's extractor; the real one stays as BIN/7za.real."""
    real = os.path.join(disc, "BIN", "7za.real")
    fake = os.path.join(disc, "BIN", "7za")
    if not os.path.exists(real):
        os.rename(fake, real)
    with open(fake, "w") as out:
        out.write("#!/bin/sh\n" + script)
    os.chmod(fake, 0o755)


def can_switch_to_nobody():
    """Root can run the launcher as an ordinary user, for whom file modes matter."""
    return os.geteuid() == 0 and shutil.which("setpriv") is not None


class Launcher:
    """One run of the launcher binary from a disc's root, in a scratch folder of its own."""

    def __init__(self, disc, as_nobody=False, file_size_limit=None, tmpdir=None, extra_env=None):
        self.scratch = tempfile.mkdtemp(prefix="lumidra-hardening-")
        self.tmpdir = tmpdir or os.path.join(self.scratch, "tmp")
        os.makedirs(self.tmpdir, exist_ok=True)
        self.browser_record = os.path.join(self.scratch, "browser.txt")
        browser = os.path.join(self.scratch, "browser.sh")
        with open(browser, "w") as out:
            out.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$BROWSER_RECORD\"\n")
        os.chmod(browser, 0o755)
        env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE")}
        env.update(LANG="C", TMPDIR=self.tmpdir, HOME=self.scratch, BROWSER=browser,
                   BROWSER_RECORD=self.browser_record)
        # Sanitizer reports go to files beside the run, where a test can look for them.
        env.update(extra_env or {})
        self.sanitizer_prefix = os.path.join(self.scratch, "sanitizer")
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            env[name] = (env.get(name, "") + ":log_path=" + self.sanitizer_prefix).lstrip(":")
        command = [LAUNCHER]
        if as_nobody:
            for folder in (self.scratch, self.tmpdir):
                os.chmod(folder, 0o777)
            command = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--"] + command

        def limits():
            if file_size_limit is not None:
                import resource
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
                # A real full disk reports an error to the writer; so does an ignored SIGXFSZ.
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        self.stderr = open(os.path.join(self.scratch, "stderr.txt"), "wb")
        self.process = subprocess.Popen(command, cwd=disc, env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=self.stderr, preexec_fn=limits)
        self.lines = []
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            with self.changed:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.changed.notify_all()
        with self.changed:
            self.lines.append(None)
            self.changed.notify_all()

    def transcript(self):
        with self.changed:
            return "\n".join(line for line in self.lines if line is not None)

    def wait_for_line(self, pattern, timeout=60, after=0):
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for index in range(after, len(self.lines)):
                    line = self.lines[index]
                    if line is None:
                        raise AssertionError("output ended before %r:\n%s" % (pattern, self.transcript()))
                    if regex.search(line):
                        return index
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError("no line %r within %ss:\n%s" % (pattern, timeout, self.transcript()))
                self.changed.wait(remaining)

    def wait_for_status(self, text, timeout=120):
        try:
            return self.wait_for_line("^Status: " + re.escape(text) + "$", timeout)
        except AssertionError as failure:
            raise AssertionError("%s\nThe launcher's log:\n%s" % (failure, self.log_text_if_alive())) from None

    def log_text_if_alive(self):
        if self.process.poll() is not None:
            return "(the launcher has ended)"
        try:
            return "\n".join("%s: %s" % entry for entry in self.log(timeout=10))
        except (AssertionError, OSError) as failure:
            return "(no log: %s)" % failure

    def statuses(self):
        with self.changed:
            return [l[len("Status: "):] for l in self.lines if l is not None and l.startswith("Status: ")]

    def send(self, line):
        self.process.stdin.write((line + "\n").encode("utf-8"))
        self.process.stdin.flush()

    def log(self, timeout=30):
        """The log as "show log" prints it, as (level, message) pairs."""
        with self.changed:
            start = len(self.lines)
        self.send("show log")
        end = self.wait_for_line("^" + re.escape(LOG_END) + "$", timeout, after=start)
        with self.changed:
            lines = self.lines[start:end]
        begin = max(i for i, line in enumerate(lines) if line == LOG_BEGIN)
        entries = []
        for line in lines[begin + 1:]:
            match = LOG_LINE.match(line)
            if match:
                entries.append((match.group(1), match.group(2)))
            elif entries:
                entries[-1] = (entries[-1][0], entries[-1][1] + "\n" + line)
        return entries

    def address(self, timeout=120):
        def recorded():
            if not os.path.exists(self.browser_record):
                return None
            with open(self.browser_record) as record:
                return record.readline().strip() or None
        return wait_until(recorded, timeout, "the browser to be called")

    def port_and_id(self, timeout=120):
        match = re.search(r"localhost:(\d+)/7z/index\.html\?uniqueId=(\S+)$", self.address(timeout))
        return int(match.group(1)), match.group(2)

    def workspace(self, launch_id):
        return os.path.join(self.tmpdir, launch_id)

    def wait_for_copy_end(self, port, timeout=300):
        """The launch id is answered only once the deferred copy is over."""
        wait_until(lambda: http_get(port, "/cmd/uniqueId")[0] == 200, timeout, "the deferred copy to end")

    def terminate(self, timeout=20):
        # The button works once it is enabled, which comes just after the start's final status.
        self.wait_for_line(r"^Button: Terminate DICOM Lumidra \(enabled\)$", 30)
        self.send("terminate")
        return self.wait_exit(timeout)

    def wait_exit(self, timeout=20):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the launcher did not exit within %ss:\n%s" % (timeout, self.transcript()))

    def sanitizer_reports(self):
        folder = os.path.dirname(self.sanitizer_prefix)
        reports = []
        for name in sorted(os.listdir(folder)):
            if name.startswith("sanitizer"):
                with open(os.path.join(folder, name), errors="replace") as report:
                    reports.append(report.read())
        return reports

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            try:
                stream.close()
            except OSError:
                pass
        self.reader.join(5)
        self.stderr.close()
        subprocess.run(["chmod", "-R", "u+rwx", self.scratch], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.scratch, ignore_errors=True)


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


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def server_pid(launcher):
    """The launcher process itself (setpriv execs it, so the pid is the same)."""
    return launcher.process.pid
