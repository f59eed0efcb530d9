"""Load against the running launcher: many clients downloading large files while others ask for
small ones, and a long run of mixed requests watched for growth of the launcher's resident size
and open descriptors. Usable from the tests and on its own:

    python3 tests/hardening/load_clients.py soak [--requests N] [--launcher PATH]
    python3 tests/hardening/load_clients.py download [--clients N] [--file-mb N]
"""

import argparse
import hashlib
import os
import shutil
import socket
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hardening_support import (FORBIDDEN_PAGE, Launcher, descriptor_count, exchange, make_disc,  # noqa: E402
                                resident_kib, settled_descriptor_count, sha256_of)
import launcher_driver  # noqa: E402  (on the path once hardening_support is imported)


def download(port, path, timeout=120):
    """('ok', length, sha256) for a whole 200 reply, ('forbidden', ...) for the 403 page,
    ('error', description) otherwise. The body is hashed as it arrives, never kept."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        sock.sendall(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: localhost\r\n\r\n")
        head = b""
        while b"\r\n\r\n" not in head:
            piece = sock.recv(65536)
            if not piece:
                return ("error", "closed in the header: %r" % head[:200])
            head += piece
        head, _, body = head.partition(b"\r\n\r\n")
        if head.startswith(b"HTTP/1.1 403 "):
            rest = body
            while True:
                piece = sock.recv(65536)
                if not piece:
                    break
                rest += piece
            return ("forbidden", head + b"\r\n\r\n" + rest == FORBIDDEN_PAGE)
        if not head.startswith(b"HTTP/1.1 200 "):
            return ("error", "status line %r" % head.split(b"\r\n")[0])
        announced = None
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                announced = int(value)
        digest = hashlib.sha256(body)
        length = len(body)
        buffer = bytearray(1 << 20)
        while True:
            count = sock.recv_into(buffer)
            if count == 0:
                break
            digest.update(memoryview(buffer)[:count])
            length += count
        if announced is not None and announced != length:
            return ("error", "announced %d bytes, sent %d" % (announced, length))
        return ("ok", length, digest.hexdigest())
    except OSError as error:
        return ("error", repr(error))
    finally:
        sock.close()


def downloads_with_small_requests(port, path, expected_sha, clients, small_paths, small_clients=4):
    """`clients` threads each download `path` once (trying again after a 403, as a browser would
    after a refusal) while `small_clients` threads keep asking for small files. Returns figures
    and every problem seen."""
    problems = []
    figures = {"downloads": 0, "download_bytes": 0, "download_403": 0, "small_ok": 0, "small_403": 0}
    lock = threading.Lock()
    done = threading.Event()

    def downloader():
        for _ in range(200):
            result = download(port, path)
            with lock:
                if result[0] == "ok":
                    figures["downloads"] += 1
                    figures["download_bytes"] += result[1]
                    if result[2] != expected_sha:
                        problems.append("download of %d bytes with the wrong checksum" % result[1])
                    return
                if result[0] == "forbidden":
                    figures["download_403"] += 1
                    if not result[1]:
                        problems.append("a 403 that is not the fixed page")
                else:
                    problems.append("download: " + result[1])
                    return
            time.sleep(0.05)
        with lock:
            problems.append("a download was refused 200 times")

    def asker(index):
        turn = index
        while not done.is_set():
            small, expected = small_paths[turn % len(small_paths)]
            turn += 1
            reply = exchange(port, b"GET " + small.encode() + b" HTTP/1.1\r\n\r\n", timeout=30)
            with lock:
                if reply.data == FORBIDDEN_PAGE:
                    figures["small_403"] += 1
                elif reply.status == 200 and reply.body == expected:
                    figures["small_ok"] += 1
                else:
                    problems.append("small request %s: %r" % (small, reply))
            time.sleep(0.01)

    started = time.monotonic()
    downloaders = [threading.Thread(target=downloader) for _ in range(clients)]
    askers = [threading.Thread(target=asker, args=(i,)) for i in range(small_clients)]
    for thread in downloaders + askers:
        thread.start()
    for thread in downloaders:
        thread.join(600)
    done.set()
    for thread in askers:
        thread.join(60)
    figures["seconds"] = round(time.monotonic() - started, 1)
    return figures, problems


SOAK_REQUESTS = [
    b"GET /copy_status.txt HTTP/1.1\r\nHost: localhost\r\n\r\n",
    b"GET /cmd/uniqueId HTTP/1.1\r\n\r\n",
    b"GET /stats HTTP/1.1\r\n\r\n",
    b"GET /no/such/file.dcm HTTP/1.1\r\n\r\n",
    b"POST /cmd/exit?uniqueId=LUMIDRA_wrong HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
    b"GET /DICOMDIR HTTP/1.1\r\nRange: bytes=100-\r\n\r\n",
    b"GET /7z/index.html?uniqueId=x&y=%41+b HTTP/1.0\r\n\r\n",
    b"POST /cmd/uniqueId HTTP/1.1\r\nContent-Length: 11\r\n\r\na=1&b=2&c=3",
    b"POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=zz\r\nContent-Length: 70\r\n\r\n"
    b"--zz\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nvalue\r\n--zz--\r\n",
    b"GET /../../etc/passwd HTTP/1.1\r\n\r\n",
    b"GET /copy_status.txt\r\n\r\n",  # no protocol word: closed without an answer
    b"DELETE /copy_status.txt HTTP/1.1\r\n\r\n",  # no answer either
]


def soak(port, pid, requests, threads=8, progress=None):
    """Sends `requests` requests from `threads` clients; measures the launcher's resident size
    and descriptors after the first 1,000 and at the end. Returns figures and problems."""
    problems = []
    lock = threading.Lock()
    counter = {"sent": 0, "answered": 0}
    checkpoint = {}
    checkpoint_taken = threading.Event()

    def client(index):
        turn = index
        while True:
            with lock:
                if counter["sent"] >= requests:
                    return
                counter["sent"] += 1
                number = counter["sent"]
            request = SOAK_REQUESTS[turn % len(SOAK_REQUESTS)]
            turn += 1
            try:
                reply = exchange(port, request, timeout=30)
            except OSError as error:
                with lock:
                    problems.append("request %d: %r" % (number, error))
                continue
            with lock:
                if reply.data:
                    counter["answered"] += 1
                    if reply.status not in (200, 206, 404) or not reply.closed:
                        problems.append("request %d (%r): %r" % (number, request[:40], reply))
                elif not reply.closed:
                    problems.append("request %d (%r) neither answered nor closed" % (number, request[:40]))
                if number == 1000 and not checkpoint_taken.is_set():
                    checkpoint_taken.set()
            if progress and number % 10000 == 0:
                progress(number)

    before_fds = settled_descriptor_count(pid)
    started = time.monotonic()
    workers = [threading.Thread(target=client, args=(i,)) for i in range(threads)]
    for worker in workers:
        worker.start()
    checkpoint_taken.wait(600)
    time.sleep(0.5)  # the connections of the first thousand have been closed by now
    checkpoint["rss_kib"] = resident_kib(pid)
    checkpoint["fds"] = descriptor_count(pid)
    for worker in workers:
        worker.join()
    end_fds = settled_descriptor_count(pid)
    figures = {
        "requests": requests, "answered": counter["answered"], "seconds": round(time.monotonic() - started, 1),
        "fds_before": before_fds, "fds_after_1000": checkpoint["fds"], "fds_end": end_fds,
        "rss_kib_after_1000": checkpoint["rss_kib"], "rss_kib_end": resident_kib(pid),
    }
    return figures, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["soak", "download"])
    parser.add_argument("--requests", type=int, default=100000)
    parser.add_argument("--clients", type=int, default=32)
    parser.add_argument("--file-mb", type=int, default=64)
    parser.add_argument("--launcher", help="the launcher binary (default: build/native/lumidra)")
    options = parser.parse_args()
    if options.launcher:
        launcher_driver.LAUNCHER = os.path.abspath(options.launcher)
    root = tempfile.mkdtemp(prefix="lumidra-load-")
    try:
        extra = ["--large-file-mb", str(options.file_mb)] if options.what == "download" else []
        disc = make_disc(os.path.join(root, "disc"), *extra)
        # A sanitized launcher would keep freed memory aside for a while; without that, growth
        # of the resident size means memory really kept.
        launcher = Launcher(disc, extra_env={"ASAN_OPTIONS": "quarantine_size_mb=0"})
        try:
            launcher.wait_for_status("DICOM Lumidra started")
            port, _ = launcher.port_and_id()
            launcher.wait_for_copy_end(port)
            if options.what == "soak":
                figures, problems = soak(port, launcher.process.pid, options.requests,
                                         progress=lambda n: print("  %d requests" % n, flush=True))
            else:
                large = os.path.join(disc, "DATA", "DICOM", "LARGE.BIN")
                with open(os.path.join(disc, "DATA", "DICOMDIR"), "rb") as dicomdir:
                    small = [("/copy_status.txt", b"1"), ("/DICOMDIR", dicomdir.read())]
                figures, problems = downloads_with_small_requests(port, "/DICOM/LARGE.BIN", sha256_of(large),
                                                                  options.clients, small)
            print(figures)
            for problem in problems[:20]:
                print("PROBLEM:", problem)
            reports = launcher.sanitizer_reports()
            print("terminate:", launcher.terminate(), "sanitizer reports:", len(reports))
            for report in reports:
                print(report)
            return 1 if problems or reports else 0
        finally:
            launcher.close()
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
