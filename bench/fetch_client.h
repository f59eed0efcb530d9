#pragma once
// A small HTTP/1.1 load client for loopback benchmarks: a fixed number of GET requests spread
// over parallel clients, one connection per request ("Connection: close"), each answer checked
// for status 200 and a complete body. A failed answer is counted, never timed as a success.

#include <cstdint>
#include <string>
#include <vector>

struct FetchPlan {
    std::uint16_t port = 0;
    std::vector<std::string> paths;  // request i asks for paths[i % paths.size()], each beginning with "/"
    long long requests = 0;
    int clients = 1;
    long long expectBytes = -1;  // body size every answer must have; -1 = whatever Content-Length says
    int timeoutMs = 10000;       // per receive or send stall
};

struct FetchResult {
    long long ok = 0;
    long long failed = 0;
    long long bodyBytes = 0;  // of the good answers
    double seconds = 0;       // wall time from the first connect to the last answer
    std::string firstError;   // what went wrong first, empty when nothing did
};

// What the head of an answer says. Complete only once the blank line has arrived.
struct ResponseHead {
    bool complete = false;
    bool valid = false;
    int status = 0;
    long long contentLength = -1;  // -1 when the head has no Content-Length field
    std::size_t headLength = 0;    // bytes up to and including the blank line
};

// Parses the status line and the Content-Length field of an answer's first bytes.
ResponseHead parseResponseHead(const char* data, std::size_t length);

// Runs the plan against 127.0.0.1 and waits for every request to end.
FetchResult runFetchPlan(const FetchPlan& plan);
