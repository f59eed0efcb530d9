"""The processes a benchmark runs: Lumiserv in its host, nginx, python's http.server, the real
launcher, wrk and our fetch client. Every process started here is stopped and reaped here."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

from .measure import parse_log_times, parse_wrk

LOOPBACK = "127.0.0.1"


def free_port():
    """A loopback port outside the launcher's range 8000-8099 that nothing listens on now."""
    while True:
        with socket.socket() as probe:
            probe.bind((LOOPBACK, 0))
            port = probe.getsockname()[1]
        if not 8000 <= port <= 8099:
            return port


def wait_for_port(port, process, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError("exited with %s before listening on %d" % (process.returncode, port))
        try:
            with socket.create_connection((LOOPBACK, port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on %d after %ss" % (port, timeout))


def vm_status(pid):
    """(VmHWM, VmRSS) of a process in KiB."""
    values = {}
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                values[key] = int(rest.split()[0])
    return values.get("VmHWM"), values.get("VmRSS")


def cpu_seconds(pid):
    """User and system time a process (all its threads) has used so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def stop_process(process, signal_number=signal.SIGTERM, timeout=10):
    if process.poll() is None:
        process.send_signal(signal_number)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Server:
    """A started server process; `pid` is the process that serves (nginx's worker)."""

    def __init__(self, name, command, port, env=None, cwd=None):
        self.name = name
        self.command = command
        self.port = port
        self.process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for_port(port, self.process)
        except Exception:
            self.stop()
            raise
        self.pid = self.process.pid

    def stop(self):
        stop_process(self.process)


def start_lumiserv_host(host_binary, first_root, second_root):
    port = free_port()
    # Its diagnostic lines go where the launcher on a terminal sends them: nowhere.
    return Server("lumiserv", [host_binary, first_root, second_root, str(port)], port)


NGINX_CONF = """daemon off;
master_process on;
worker_processes 1;
{user}pid {prefix}/nginx.pid;
error_log {prefix}/error.log warn;
events {{ worker_connections 1024; }}
http {{
  access_log off;
  sendfile on;
  keepalive_timeout 0;
  default_type application/octet-stream;
  client_body_temp_path {prefix}/body;
  proxy_temp_path {prefix}/proxy;
  fastcgi_temp_path {prefix}/fastcgi;
  uwsgi_temp_path {prefix}/uwsgi;
  scgi_temp_path {prefix}/scgi;
  server {{
    listen {address}:{port};
    root {root};
  }}
}}
"""


def nginx_config(prefix, root, port):
    # As root nginx would hand its worker to "nobody"; the benchmark's files are the user's own.
    user = "user root;\n" if os.geteuid() == 0 else ""
    return NGINX_CONF.format(user=user, prefix=prefix, root=root, port=port, address=LOOPBACK)


def start_nginx(prefix, root):
    os.makedirs(prefix, exist_ok=True)
    port = free_port()
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as out:
        out.write(nginx_config(prefix, root, port))
    server = Server("nginx", ["nginx", "-p", prefix, "-c", conf], port)
    server.pid = nginx_worker(server.process.pid)
    return server


def nginx_worker(master):
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        try:
            with open("/proc/%d/task/%d/children" % (master, master)) as children:
                pids = [int(p) for p in children.read().split()]
            if pids:
                return pids[0]
        except OSError:
            pass
        time.sleep(0.05)
    return master


def start_python(root):
    port = free_port()
    return Server("python", [sys.executable, "-m", "http.server", "--bind", LOOPBACK, "--directory", root,
                             str(port)], port)


def wrk_command(port, path, clients, seconds):
    return ["wrk", "-t1", "-c%d" % clients, "-d%ds" % seconds, "--timeout", "20s",
            "-H", "Connection: close", "http://%s:%s%s" % (LOOPBACK, port, path)]


def run_wrk(port, path, clients, seconds):
    result = subprocess.run(wrk_command(port, path, clients, seconds), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=seconds + 60)
    return parse_wrk(result.stdout.decode("utf-8", "replace"))


def fetch_command(fetch_binary, port, paths_file, requests, clients, expect_bytes):
    return [fetch_binary, "--port", str(port), "--requests", str(requests), "--clients", str(clients),
            "--expect-bytes", str(expect_bytes), "--paths-file", paths_file]


def run_fetch(fetch_binary, port, paths_file, requests, clients, expect_bytes):
    result = subprocess.run(fetch_command(fetch_binary, port, paths_file, requests, clients, expect_bytes),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    figures = json.loads(result.stdout.decode())
    figures["good"] = result.returncode == 0 and figures["failed"] == 0 and figures["ok"] == requests
    return figures


LOG_END = "--- end of Lumidra log ---"


class Launcher:
    """One run of the real launcher from a disc's root, with the terminal front end on a pipe
    and a browser script that records when and with what address it was called."""

    def __init__(self, binary, disc, scratch):
        os.makedirs(scratch, exist_ok=True)
        self.scratch = scratch
        self.tmpdir = os.path.join(scratch, "tmp")
        os.makedirs(self.tmpdir, exist_ok=True)
        self.record = os.path.join(scratch, "browser.txt")
        if os.path.exists(self.record):
            os.remove(self.record)
        browser = os.path.join(scratch, "browser.sh")
        with open(browser, "w") as out:
            out.write("#!/bin/sh\necho \"$(date +%s.%N) $1\" >> \"$BROWSER_RECORD\"\n")
        os.chmod(browser, 0o755)
        env = dict(os.environ, LANG="C", TMPDIR=self.tmpdir, BROWSER=browser, BROWSER_RECORD=self.record)
        env.pop("LC_ALL", None)
        self.output_path = os.path.join(scratch, "stdout.txt")
        self.output = open(self.output_path, "wb")
        self.started = time.time()
        self.process = subprocess.Popen([binary], cwd=disc, env=env, stdin=subprocess.PIPE,
                                        stdout=self.output, stderr=subprocess.DEVNULL)
        self.pid = self.process.pid

    def browser_call(self, timeout=120):
        """(seconds from spawn to the browser call, address) once the browser has been called."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.record):
                with open(self.record) as record:
                    line = record.readline()
                if line.endswith("\n"):
                    stamp, address = line.split()
                    return float(stamp) - self.started, address
            if self.process.poll() is not None:
                raise RuntimeError("the launcher ended before opening the browser")
            time.sleep(0.005)
        raise RuntimeError("the launcher never opened the browser")

    def port(self, address):
        return int(re.match(r"http://localhost:(\d+)/", address).group(1))

    def send(self, word):
        self.process.stdin.write((word + "\n").encode())
        self.process.stdin.flush()

    def log_times(self, timeout=30):
        """{message: seconds since the log's first line}, from the "show log" command."""
        before = os.path.getsize(self.output_path)
        self.send("show log")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with open(self.output_path, "rb") as out:
                out.seek(before)
                text = out.read().decode("utf-8", "replace")
            if LOG_END in text:
                return parse_log_times(text.splitlines())
            time.sleep(0.02)
        raise RuntimeError("the log was never shown")

    def workspace_data(self):
        found = [name for name in os.listdir(self.tmpdir) if name.startswith("LUMIDRA_")]
        return os.path.join(self.tmpdir, found[0], "DATA") if found else None

    def wait_for_copy(self, timeout=300):
        """Waits until the deferred copy has written its final status."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            data = self.workspace_data()
            if data:
                try:
                    with open(os.path.join(data, "copy_status.txt")) as status:
                        if status.read() == "1":
                            return
                except OSError:
                    pass
            time.sleep(0.1)
        raise RuntimeError("the deferred copy did not finish")

    def exit(self, timeout=30):
        try:
            self.send("exit")
            self.process.stdin.close()
            self.process.wait(timeout)
        except (OSError, subprocess.TimeoutExpired):
            stop_process(self.process, signal.SIGINT)
        finally:
            self.output.close()
        left = [name for name in os.listdir(self.tmpdir) if name.startswith("LUMIDRA_")]
        for name in left:  # only after a failed terminate
            shutil.rmtree(os.path.join(self.tmpdir, name), ignore_errors=True)
        return not left
