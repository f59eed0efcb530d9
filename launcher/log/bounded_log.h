#pragma once
// The log's store, with a bound: the first lines up to a head size, the newest lines up to a tail
// size, and a count of what was dropped between the two. A source that writes without end (an
// extractor printing in a loop) cannot exhaust memory, and the start of the run stays readable.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

struct BoundedLogLine {
    std::string text;    // the whole line, "\n" included
    size_t stampLength;  // its timestamp is text's first stampLength characters
};

struct BoundedLog {
    size_t headLimit = 0;
    size_t tailLimit = 0;
    std::string head;
    std::deque<BoundedLogLine> tail;
    size_t tailBytes = 0;
    uint64_t droppedLines = 0;
    uint64_t droppedBytes = 0;
    std::string droppedStamp;  // the timestamp of the newest dropped line
};

// An empty log that keeps at most headLimit bytes of first lines and tailLimit of the newest.
inline BoundedLog boundedLog(size_t headLimit, size_t tailLimit) {
    BoundedLog log;
    log.headLimit = headLimit;
    log.tailLimit = tailLimit;
    return log;
}

// Appends one whole line. The head takes lines while they fit; after that the tail takes every
// line and drops its oldest ones beyond its size, though never the newest line.
void appendBoundedLine(BoundedLog& log, std::string line, size_t stampLength);

// The head, then, when lines were dropped, one WARN line in the log's own form that says how
// many ("Log too long: N lines (B bytes) left out here"), then the tail.
std::string boundedLogText(const BoundedLog& log);
