"""Drives the real launcher as a person would: from a disc's root folder, with its terminal front
end on pipes (words in, one line per change out), a browser that only records the address it
was given, HTTP on the loopback address, and signals. Every run gets its own temporary folder,
so what the launcher leaves behind can be seen."""

import http.client
import os
import re
import shutil
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
LAUNCH_ID = re.compile(r"^LUMIDRA_[0-9a-f]{1,16}$")


def make_disc(folder, *options):
    """A sample disc from the project's own builder (options as its command line takes them)."""
    subprocess.run([sys.executable, DISC_BUILDER, folder] + list(options), check=True,
                   stdout=subprocess.DEVNULL)
    return folder


def replace_extractor(disc, script):
    """Puts a shell script in place of the disc's extractor; the real one stays as BIN/7za.real."""
    real = os.path.join(disc, "BIN", "7za.real")
    fake = os.path.join(disc, "BIN", "7za")
    if not os.path.exists(real):
        os.rename(fake, real)
    with open(fake, "w") as out:
        out.write("#!/bin/sh\n" + script)
    os.chmod(fake, 0o755)


def slow_extractor(disc, seconds):
    """Puts an extractor on the disc that shows a first percentage, then takes its time before
    the real 7-Zip does the work."""
    replace_extractor(disc, "printf 'Extracting  5%%%%'\nsleep %s\nexec \"$(dirname \"$0\")/7za.real\" \"$@\"\n" % seconds)


class PortBlocker:
    """Holds ports of the launcher's range bound, as other programs would."""

    def __init__(self, ports):
        self.sockets = []
        for port in ports:
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            try:
                sock.bind(("0.0.0.0", port))
            except OSError:
                sock.close()  # someone else holds it already: taken all the same
                continue
            self.sockets.append(sock)

    def close(self):
        for sock in self.sockets:
            sock.close()
        self.sockets = []


def http_request(port, method, path, timeout=10, headers=None, host="127.0.0.1"):
    """(status, body bytes, headers) of one request to the launcher's server at host."""
    connection = http.client.HTTPConnection(host, port, timeout=timeout)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read(), dict(response.getheaders())
    finally:
        connection.close()


def listening_addresses(port):
    """The local IPv4 addresses on which something listens at port, from /proc/net/tcp."""
    found = []
    with open("/proc/net/tcp") as table:
        next(table)
        for row in table:
            fields = row.split()
            address, port_hex = fields[1].split(":")
            if int(port_hex, 16) == port and fields[3] == "0A":
                octets = [str(int(address[i:i + 2], 16)) for i in (6, 4, 2, 0)]
                found.append(".".join(octets))
    return found


def listening_addresses6(port):
    """The local IPv6 addresses on which something listens at port, from /proc/net/tcp6 (none
    when the system has no IPv6)."""
    found = []
    if not os.path.exists("/proc/net/tcp6"):
        return found
    with open("/proc/net/tcp6") as table:
        next(table)
        for row in table:
            fields = row.split()
            address, port_hex = fields[1].split(":")
            if int(port_hex, 16) == port and fields[3] == "0A":
                words = [address[i:i + 8] for i in range(0, 32, 8)]
                packed = b"".join(bytes.fromhex(word)[::-1] for word in words)
                found.append(socket.inet_ntop(socket.AF_INET6, packed))
    return found


class Launcher:
    """One run of the launcher binary."""

    def __init__(self, disc, locale="C", extra_env=None, tmpdir=None, command_prefix=(), preexec_fn=None,
                 folders_open_to_all=False, sanitizer_logs=False, scratch_prefix="lumidra-e2e-"):
        """command_prefix runs the launcher (setpriv, say); folders_open_to_all lets a launcher
        run as another user write its temporary and home folders; with sanitizer_logs the
        sanitizers' reports go to files in the scratch folder (see sanitizer_reports)."""
        self.scratch = tempfile.mkdtemp(prefix=scratch_prefix)
        self.tmpdir = tmpdir or os.path.join(self.scratch, "tmp")
        self.home = os.path.join(self.scratch, "home")
        self.browser_record = os.path.join(self.scratch, "browser.txt")
        os.makedirs(self.tmpdir, exist_ok=True)
        os.makedirs(self.home)
        if folders_open_to_all:
            for folder in (self.scratch, self.tmpdir, self.home):
                os.chmod(folder, 0o777)
        browser = os.path.join(self.scratch, "browser.sh")
        with open(browser, "w") as out:
            out.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$BROWSER_RECORD\"\n")
        os.chmod(browser, 0o755)

        env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE")}
        env.update(LANG=locale, TMPDIR=self.tmpdir, HOME=self.home, BROWSER=browser,
                   BROWSER_RECORD=self.browser_record)
        env.update(extra_env or {})
        self.sanitizer_prefix = os.path.join(self.scratch, "sanitizer")
        if sanitizer_logs:
            for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
                env[name] = (env.get(name, "") + ":log_path=" + self.sanitizer_prefix).lstrip(":")
        self.stderr = open(os.path.join(self.scratch, "stderr.txt"), "wb")
        self.process = subprocess.Popen(list(command_prefix) + [LAUNCHER], cwd=disc, env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                        preexec_fn=preexec_fn)
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
            self.lines.append(None)  # end of output
            self.changed.notify_all()

    def output(self):
        with self.changed:
            return [line for line in self.lines if line is not None]

    def wait_for_line(self, pattern, timeout=30, after=0, give_up=None):
        """Index of the first line from `after` on that matches the regular expression. A line
        that matches `give_up` ends the wait at once: what was waited for will not come."""
        regex = re.compile(pattern)
        hopeless = re.compile(give_up) if give_up else None
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for index in range(after, len(self.lines)):
                    line = self.lines[index]
                    if line is None:
                        raise AssertionError("output ended before %r; it was:\n%s" % (pattern, self.transcript()))
                    if regex.search(line):
                        return index
                    if hopeless and hopeless.search(line):
                        break
                else:
                    remaining = deadline - time.monotonic()
                    if remaining > 0:
                        self.changed.wait(remaining)
                        continue
                break
        raise AssertionError("no line %r within %ss; output:\n%s\n%s" % (pattern, timeout, self.transcript(),
                                                                         self.log_for_diagnosis()))

    def log_for_diagnosis(self):
        """The launcher's log, if it still answers, for the message of a failed test."""
        if self.process.poll() is not None:
            return "(the launcher has ended)"
        start = len(self.output())
        try:
            self.send("show log")
        except OSError:
            return "(the launcher takes no input)"
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            lines = self.output()[start:]
            if LOG_END in lines:
                return "\n".join(lines)
            time.sleep(0.05)
        return "(no log within 5 s)"

    def transcript(self):
        with self.changed:
            return "\n".join(line for line in self.lines if line is not None)

    def send(self, line):
        self.process.stdin.write((line + "\n").encode("utf-8"))
        self.process.stdin.flush()

    def show_log(self, timeout=30):
        """The log as the "show log" word shows it, as (level, message) pairs."""
        start = len(self.output())
        self.send("show log")
        end = self.wait_for_line("^" + re.escape(LOG_END) + "$", timeout, after=start)
        lines = self.output()
        begin = max(i for i in range(start, end) if lines[i] == LOG_BEGIN)
        entries = []
        for line in lines[begin + 1:end]:
            match = LOG_LINE.match(line)
            if match:
                entries.append((match.group(1), match.group(2)))
            elif entries:  # a message with line breaks of its own
                entries[-1] = (entries[-1][0], entries[-1][1] + "\n" + line)
        return entries

    def wait_for_log(self, message_prefix, timeout=60):
        deadline = time.monotonic() + timeout
        while True:
            log = self.show_log()
            if any(message.startswith(message_prefix) for _, message in log):
                return log
            if time.monotonic() > deadline:
                raise AssertionError("the log never showed %r:\n%s" % (message_prefix, log))
            time.sleep(0.2)

    def statuses(self):
        return [line[len("Status: "):] for line in self.output() if line.startswith("Status: ")]

    def wait_for_status(self, text, timeout=60):
        ends = r"^Status: (DICOM Lumidra failed to start|Nepodařilo se spustit DICOM Lumidra)$"
        return self.wait_for_line("^Status: " + re.escape(text) + "$", timeout,
                                  give_up=None if re.match(ends, "Status: " + text) else ends)

    def browser_calls(self):
        if not os.path.exists(self.browser_record):
            return []
        with open(self.browser_record) as record:
            return [line.rstrip("\n") for line in record]

    def wait_for_browser(self, timeout=30):
        """The address the browser was first called with."""
        return wait_until(lambda: (self.browser_calls() or [None])[0], timeout, "the browser to be called")

    def port_and_id(self, timeout=30):
        """The port and launch id of the address the browser was given."""
        address = self.wait_for_browser(timeout)
        match = re.search(r"localhost:(\d+)/7z/index\.html\?uniqueId=(\S+)$", address)
        return int(match.group(1)), match.group(2)

    def workspace(self, launch_id):
        return os.path.join(self.tmpdir, launch_id)

    def workspace_entries(self):
        return sorted(os.listdir(self.tmpdir))

    def wait_for_copy_end(self, port, timeout=300):
        """The launch id is answered only once the deferred copy is over."""
        wait_until(lambda: answers(port, "/cmd/uniqueId") == 200, timeout, "the deferred copy to end")

    def terminate(self, timeout=20):
        """The button's word, once the button is enabled, which comes just after the start's final
        status; the exit code."""
        self.wait_for_line(r"^Button: Terminate DICOM Lumidra \(enabled\)$", 30)
        self.send("terminate")
        return self.wait_exit(timeout)

    def signal(self, number):
        self.process.send_signal(number)

    def wait_exit(self, timeout=15):
        """The exit code, once the launcher has ended and everything it printed has been read."""
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the launcher did not exit within %ss; output:\n%s" % (timeout, self.transcript()))
        self.reader.join(5)
        return code

    def sanitizer_reports(self):
        """With sanitizer_logs: the text of every report the sanitizers wrote."""
        folder = os.path.dirname(self.sanitizer_prefix)
        reports = []
        for name in sorted(os.listdir(folder)):
            if name.startswith("sanitizer"):
                with open(os.path.join(folder, name), errors="replace") as report:
                    reports.append(report.read())
        return reports

    def stderr_text(self):
        self.stderr.flush()
        with open(self.stderr.name, "rb") as text:
            return text.read().decode("utf-8", "replace")

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
        # A test may have taken the owner's rights away somewhere inside.
        subprocess.run(["chmod", "-R", "u+rwx", self.scratch], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.scratch, ignore_errors=True)


def answers(port, path):
    """The status of a GET, None when the server does not answer."""
    try:
        return http_request(port, "GET", path)[0]
    except OSError:
        return None


def port_of(log):
    for _, message in log:
        if message.startswith("Found free port number: "):
            return int(message.rsplit(" ", 1)[1])
    raise AssertionError("no port in the log")


def wait_until(condition, timeout, what):
    """The condition's first true value; fails after timeout seconds without one."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(0.05)
