#!/usr/bin/env python3
"""Writes the hand-made seeds of every fuzz target into fuzz/corpus/<target>/, each named by its
SHA-1 as libFuzzer names its own finds. The folders also keep inputs that fuzzing found and that
added coverage (merged in with -merge=1); writing the seeds again leaves those alone."""

import base64
import hashlib
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def request(method, path, headers=(), body=b"", version=b"HTTP/1.1"):
    lines = [b"%s %s %s" % (method, path, version)] + list(headers)
    return b"\r\n".join(lines) + b"\r\n\r\n" + body


def multipart(boundary, parts, path=b"/upload"):
    body = b""
    for name, value, filename in parts:
        body += b"--" + boundary + b"\r\n"
        disposition = b'Content-Disposition: form-data; name="' + name + b'"'
        if filename is not None:
            disposition += b'; filename="' + filename + b'"'
        body += disposition + b"\r\n"
        if filename is not None:
            body += b"Content-Type: application/octet-stream\r\n"
        body += b"\r\n" + value + b"\r\n"
    body += b"--" + boundary + b"--\r\n"
    return request(b"POST", path, [b"Host: localhost",
                                   b"Content-Type: multipart/form-data; boundary=" + boundary,
                                   b"Content-Length: %d" % len(body)], body)


def request_seeds():
    id_ = b"LUMIDRA_0123456789abcdef"
    credentials = base64.b64encode(b"user:secret")
    seeds = [
        request(b"GET", b"/7z/index.html?uniqueId=" + id_, [b"Host: localhost:8000"]),
        request(b"GET", b"/copy_status.txt", [b"Connection: close"]),
        request(b"GET", b"/style.css", [b"Range: bytes=100-199"]),
        request(b"GET", b"/style.css", [b"Range: bytes=5000-"]),
        request(b"GET", b"/DICOM/IM0001", [b"Referer: http://localhost/7z/index.html"]),
        request(b"GET", b"/DICOMDIR", version=b"HTTP/1.0"),
        request(b"GET", b"/empty.txt"),
        request(b"GET", b"/app.js"),
        request(b"GET", b"/7z/"),
        request(b"GET", b"/DW/"),
        request(b"GET", b"/DW"),
        request(b"GET", b"/cmd/uniqueId"),
        request(b"GET", b"/cmd/uniqueId?x=1&y=%41+b"),
        request(b"POST", b"/cmd/exit?uniqueId=" + id_, [b"Content-Length: 0"]),
        request(b"GET", b"/cmd/empty"),
        request(b"GET", b"/cmdx/uniqueId"),
        request(b"GET", b"/stats", [b"X-Forwarded-For: 10.1.2.3"]),
        request(b"GET", b"/statsx"),
        request(b"GET", b"/admin/x", [b"Authorization: Basic " + credentials]),
        request(b"GET", b"/admin/x", [b"Authorization: Basic d3Jvbmc6d3Jvbmc="]),
        request(b"GET", b"/alias/style.css"),
        request(b"GET", b"/../CANARY.txt"),
        request(b"GET", b"/~/../CANARY.txt"),
        request(b"GET", b"/~BIN/7za"),
        request(b"GET", b"/%2e%2e/%2e%2e/CANARY.txt"),
        request(b"GET", b"/..%5c..%5cwork%5cSECRET.txt"),
        request(b"GET", b"/7z/..%2f..%2f..%2fwork/SECRET.txt"),
        request(b"GET", b"/a path with spaces HTTP/1.1x"),
        request(b"POST", b"/cmd/uniqueId", [b"Content-Length: 11"], b"a=1&b=2&c=3"),
        request(b"POST", b"/form", [b"Content-Length: 5000"], b"x" * 100),
        request(b"POST", b"/upload", [b"Content-Type: application/octet-stream; filename=scan.bin",
                                      b"Content-Length: 64"], bytes(range(64))),
        multipart(b"----lumidra-boundary", [(b"a", b"1", None), (b"b", b"two", None),
                                            (b"c", b"three", None)]),
        multipart(b"xyz", [(b"file", b"\x00\x01binary\r\n--xy", b"../../evil.txt"),
                           (b"note", b"hello", None)]),
        multipart(b"b", [(b"f", b"data", b"")], path=b"/"),
        request(b"DELETE", b"/copy_status.txt"),
        request(b"OPTIONS", b"*"),
        b"GET /index.html\r\n\r\n",
        b"GET /copy_status.txt RTSP/1.0\r\nCSeq: 7\r\nTransport: RTP/AVP\r\n\r\n",
        b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(200)),
    ]
    # Feature byte and read-size seed in front of each request.
    out = []
    for index, seed in enumerate(seeds):
        features = (index * 37) & 0xff
        out.append(bytes([features, index & 0xff]) + seed)
    return out


def local_path_seeds():
    paths = [b"7z/index.html?uniqueId=1", b"../x", b"a/../b", b"~BIN/7za", b"~/../../etc/passwd",
             b"%2e%2e/%2e%2e/x", b"..%5c..%5cx", b"....//....//x", b"a/.../b", b"a/. ./b",
             b"a/%2e%2e%2fb", b"%c0%ae%c0%ae/x", b"a//b///c/", b"x.tar.gz", b"~C:/Windows/win.ini",
             b"~\\\\server\\share\\x", b"a+b%20c", b"%", b"a%4", b"a" * 300, b"%00../x"]
    return [bytes([i]) + p for i, p in enumerate(paths)]


def variables_seeds():
    texts = [b"/exit?uniqueId=LUMIDRA_1", b"/x?a=1&b=2&c", b"/x?=&&=", b"/x?a=%41%4g%", b"/x?a+b=c+d",
             b"/x?\x7f=1", b"/x?\xc3\xa9=1", b"a=1&b=%2", b"<xml/>", b"/x?", b"/x?&", b"/x?a==b"]
    return [bytes([i & 1]) + t for i, t in enumerate(texts)]


def progress_seeds():
    return [b"  0%", b"\r  5% 1 - DATA/x", b"\b\b\b\b 45% 12 - viewer/index.html", b"100%",
            b" 4 5%", b"  7%  8%  9%", b"Everything is Ok\n", b"%%%%%%%%", b"abc%",
            b"\x00\x00\x00\x00%", b"7-Zip (a) 23.01 : Copyright (c) 1999-2023 Igor Pavlov\n\n 12%"]


def config_seeds():
    json = b'{\n  "server": "http://localhost:8000/",\n  "other": "localhost:8000"\n}\n'
    return [bytes([42]) + json, bytes([5]) + json, bytes([60]) + b'{"server":"localhost:9000"}',
            bytes([99]), bytes([17]) + b"localhost:8000", bytes([50]) + b"\r\nlocalhost:800\r\n"]


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()
        with open(os.path.join(folder, name), "wb") as out:
            out.write(seed)


def main():
    write("request_fuzzer", request_seeds())
    write("local_path_fuzzer", local_path_seeds())
    write("variables_fuzzer", variables_seeds())
    write("progress_fuzzer", progress_seeds())
    write("config_port_fuzzer", config_seeds())


if __name__ == "__main__":
    main()
