#include "bounded_log.h"

#include <algorithm>

void appendBoundedLine(BoundedLog& log, std::string line, size_t stampLength) {
    // Once a line has gone to the tail, later ones follow it there: the order stays.
    if (log.tail.empty() && line.size() <= log.headLimit - std::min(log.headLimit, log.head.size())) {
        log.head += line;
        return;
    }
    log.tailBytes += line.size();
    log.tail.push_back(BoundedLogLine{std::move(line), stampLength});
    while (log.tailBytes > log.tailLimit && log.tail.size() > 1) {
        const BoundedLogLine& oldest = log.tail.front();
        log.droppedLines += 1;
        log.droppedBytes += oldest.text.size();
        log.droppedStamp = oldest.text.substr(0, oldest.stampLength);
        log.tailBytes -= oldest.text.size();
        log.tail.pop_front();
    }
}

std::string boundedLogText(const BoundedLog& log) {
    std::string marker;
    if (log.droppedLines > 0)
        marker = log.droppedStamp + " WARN: Log too long: " + std::to_string(log.droppedLines) + " lines (" +
                 std::to_string(log.droppedBytes) + " bytes) left out here\n";
    std::string text;
    text.reserve(log.head.size() + marker.size() + log.tailBytes);
    text += log.head;
    text += marker;
    for (const BoundedLogLine& line : log.tail) text += line.text;
    return text;
}
