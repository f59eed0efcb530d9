// Composing response headers and sending content: files in blocks from the slot's buffer,
// handler buffers and streams, with chunked coding where a handler asks for it.

#include <cstdarg>
#include <cstring>
#include <string>

#include "file_io.h"
#include "net.h"
#include "server_internal.h"

namespace {

// Appends formatted text while room remains; a piece that would overflow is cut at the end.
struct HeaderWriter {
    char* destination;
    int capacity;
    int length = 0;

    void add(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        if (length >= capacity - 1) return;
        va_list arguments;
        va_start(arguments, format);
        int written = std::vsnprintf(destination + length, static_cast<std::size_t>(capacity - length),
                                     format, arguments);
        va_end(arguments);
        if (written < 0) return;
        length = written >= capacity - length ? capacity - 1 : length + written;
    }
};

// Sends data, framing it as one chunk when chunked coding is on. The framing line goes out
// before the first byte of a piece and the closing "\r\n" after its last, however many sends
// the piece takes.
int sendData(ConnectionSlot* slot, const char* data, int length, bool chunked, bool upperHex) {
    if (chunked && slot->chunkOpen == 0) {
        char line[16];
        int lineLength = std::snprintf(line, sizeof line, upperHex ? "%X\r\n" : "%x\r\n", length);
        if (!netSendAll(slot->socket, line, lineLength)) return -1;
        slot->chunkOpen = length;
    }
    int sent = netSend(slot->socket, data, length);
    if (sent < 0) return -1;
    if (chunked && sent > 0) {
        slot->chunkOpen -= sent;
        if (slot->chunkOpen == 0 && !netSendAll(slot->socket, "\r\n", 2)) return -1;
    }
    return sent;
}

bool sendLastChunk(ConnectionSlot* slot) { return netSendAll(slot->socket, "0\r\n\r\n", 5); }

// Replaces the $$name$$ tags of a block through the host's callback and returns the block's new
// length. A tag cut by the end of the block is left for the next block.
int substituteTags(ServerConfig* server, ConnectionSlot* slot, char* block, int length) {
    int at = 0;
    while (at + 1 < length) {
        if (block[at] != '$' || block[at + 1] != '$') {
            ++at;
            continue;
        }
        int nameStart = at + 2;
        long close = findBytes(block + nameStart, static_cast<std::size_t>(length - nameStart), "$$", 2);
        if (close < 0) {
            // Held back for the next block, unless the tag starts the block: then no block would
            // ever hold it whole, and it is sent as it is.
            if (at > 0 && fileSeekBy(slot->file, -(length - at))) return at;
            return length;
        }
        int closeAt = nameStart + static_cast<int>(close);
        int tagLength = closeAt + 2 - at;
        block[closeAt] = '\0';
        SubstituteTag tag{block + nameStart, block + at, tagLength};
        int written = server->onSubstitute(&tag);
        if (written < 0) {
            block[closeAt] = '$';
            at = closeAt + 2;
            continue;
        }
        if (written > tagLength) written = tagLength;
        std::memmove(block + at + written, block + at + tagLength,
                     static_cast<std::size_t>(length - (at + tagLength)));
        length -= tagLength - written;
        at += written;
    }
    // A lone "$" at the end may open a tag that the next block completes.
    if (length > 1 && block[length - 1] == '$' && block[length - 2] != '$' && fileSeekBy(slot->file, -1))
        return length - 1;
    return length;
}

// Results of sendFileBlock.
constexpr int DIRECT_SENT = 0;          // sent some or the socket is full: the step is over
constexpr int DIRECT_END = 1;           // the file is at its end
constexpr int DIRECT_UNAVAILABLE = -1;  // not possible for this file or system: read and send

// Sends the rest of the current block (`pending` bytes) straight from the file. Until the file
// reports its end there is always a block to go, so that the event loop keeps serving the slot.
int sendFileBlock(ServerConfig* server, ConnectionSlot* slot) {
    int sent = netSendFile(slot->socket, slot->file, slot->pending);
    if (sent == NET_WOULD_BLOCK) return DIRECT_SENT;
    if (sent > 0) {
        slot->flags |= FLAG_DATA_SENT;
        server->bytesSent += static_cast<std::uint32_t>(sent);
        slot->bytesSent += sent;
        slot->pending -= sent;
        if (slot->pending == 0) slot->pending = SLOT_BUFFER_SIZE;
        return DIRECT_SENT;
    }
    slot->pending = 0;
    slot->sendFromFile = sent == 0 ? 0 : -1;
    return sent == 0 ? DIRECT_END : DIRECT_UNAVAILABLE;
}

// A read that fails with this error number leaves nothing pending, and the event loop ends the
// response; any other failure counts as the end of the file.
constexpr int READ_ERROR_LEFT_TO_THE_LOOP = 8;

const char* const DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 202:
            return "Accepted";
        case 203:
            return "Non-Authoritative Information";
        case 204:
            return "No Content";
        case 205:
            return "Reset Content";
        case 206:
            return "Partial Content";
        case 300:
            return "Multiple Choices";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 305:
            return "Use Proxy";
        case 307:
            return "Temporary Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 406:
            return "Not Acceptable";
        case 407:
            return "Proxy Authentication Required";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 410:
            return "Gone";
        case 411:
            return "Length Required";
        case 412:
            return "Precondition Failed";
        case 413:
            return "Request Entity Too Large";
        case 414:
            return "Request-URI Too Long";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return "";
    }
}

void formatHttpDate(std::int64_t time, char* destination, std::size_t capacity) {
    // Civil date from days since 1970 (proleptic Gregorian), free of the C library's time zone.
    std::int64_t days = time / 86400;
    std::int64_t seconds = time % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    std::int64_t shifted = days + 719468;
    std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    std::int64_t dayOfEra = shifted - era * 146097;
    std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    std::snprintf(destination, capacity, "%s, %02d %s %d %02d:%02d:%02d GMT", DAY_NAMES[weekday], day,
                  MONTH_NAMES[month - 1], static_cast<int>(year), static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

int buildResponseHeader(const ServerConfig* server, const ConnectionSlot* slot, std::int64_t modified,
                        char* destination, int capacity) {
    if (capacity > MAX_HEADER_BYTES) capacity = MAX_HEADER_BYTES;
    if (capacity <= 0) return 0;
    // The location may lie where the header is written.
    std::string location;
    if ((slot->status == 301 || slot->status == 307) && slot->outPtr)
        location.assign(slot->outPtr, strnlen(slot->outPtr, MAX_HEADER_BYTES));
    const char* connection = (slot->flags & FLAG_CLOSE) ? "close" : "keep-alive";
    if (server->maxClientsPerIp && connectionsFromAddress(server, slot) >= server->maxClientsPerIp)
        connection = "close";
    HeaderWriter header{destination, capacity};
    header.add("%s %d %s\r\nServer: %s\r\nCache-control: no-cache\r\nPragma: no-cache\r\nConnection: %s\r\n",
               "HTTP/1.1", slot->status, reasonPhrase(slot->status), SERVER_NAME, connection);
    if (!(server->flags & SERVER_NO_ACCEPT_RANGES)) header.add("Accept-Ranges: bytes\r\n");
    if (modified != 0) {
        char date[64];
        formatHttpDate(modified, date, sizeof date);
        header.add("Last-Modified: %s\r\n", date);
    }
    if (slot->cseq != 0) header.add("CSeq: %d\r\n", slot->cseq);
    header.add("Content-Type: %s\r\n",
               slot->contentTypeText ? slot->contentTypeText : mimeTypeText(slot->contentType));
    if (slot->contentLength != 0 && !(slot->flags & FLAG_CHUNKED))
        header.add("Content-Length: %lld\r\n", static_cast<long long>(slot->contentLength));
    if (slot->flags & FLAG_CHUNKED) header.add("Transfer-Encoding: chunked\r\n");
    if (slot->status == 301 || slot->status == 307) header.add("Location: %s\r\n", location.c_str());
    header.add("%s\r\n", securityHeaders(server));
    return header.length;
}

void prepareFileResponse(ServerConfig* server, ConnectionSlot* slot, std::int64_t size, std::int64_t modified,
                         const char* extension) {
    // A start beyond the end is answered like a start at the end: the whole file.
    if (slot->rangeStart < 0 || slot->rangeStart > size) slot->rangeStart = size;
    slot->contentLength = size - slot->rangeStart;
    if (slot->rangeStart == size) {
        slot->rangeStart = 0;
        slot->contentLength = size;
    } else if (slot->rangeStart != 0) {
        fileSeek(slot->file, slot->rangeStart);
        slot->status = 206;
    }
    if (slot->contentType == CONTENT_TYPE_OCTET_STREAM && extension && *extension)
        slot->contentType = mimeIndexForExtension(extension);
    bool tagged = slot->contentType == CONTENT_TYPE_HTML || slot->contentType == CONTENT_TYPE_SCRIPT;
    if (server->onSubstitute && tagged) slot->flags |= FLAG_SUBSTITUTE;
    int length = buildResponseHeader(server, slot, modified, slot->outPtr, slot->outCapacity);
    slot->pending = slot->responseHeaderLength = length;
    slot->bytesSent = 0;
    ++server->fileSentCount;
    // A file that fits behind the header goes out with it in one send, waking the client once
    // instead of twice. Larger files follow the header block by block. Whatever this read cannot
    // do is left to fileStep, which reads on from the same position.
    int room = slot->outCapacity - length;
    if (!(slot->flags & (FLAG_SUBSTITUTE | FLAG_CHUNKED)) && slot->file > 0 && slot->contentLength < room) {
        int error = 0;
        int count = fileRead(slot->file, slot->outPtr + length, room, &error);
        if (count > 0) slot->pending += count;
    }
}

int fileStep(ServerConfig* server, ConnectionSlot* slot) {
    if (server->maxSpeedKbps) {
        std::int64_t elapsed = nowSeconds() - slot->connectedAt;
        std::int64_t rate = slot->bytesSent / (elapsed * 1024 + 1);
        if (rate != 0 && rate > server->maxSpeedKbps) {
            slot->resumeTick = (netTickMs() + 1000) | 1;
            return 0;
        }
    }
    int direct = DIRECT_UNAVAILABLE;
    if (slot->sendFromFile == 1) {
        direct = sendFileBlock(server, slot);
        if (direct == DIRECT_SENT) return 0;
    } else if (slot->pending > 0) {
        bool chunked = (slot->flags & FLAG_CHUNKED) && slot->bytesSent >= slot->responseHeaderLength;
        int sent = sendData(slot, slot->outPtr, slot->pending, chunked, true);
        if (sent < 0) {
            slot->flags |= FLAG_CLOSE;
            fileClose(slot->file);
            slot->file = 0;
            return -1;
        }
        if (sent == 0) return 0;  // the socket takes nothing more just now
        slot->flags |= FLAG_DATA_SENT;
        server->bytesSent += static_cast<std::uint32_t>(sent);
        slot->bytesSent += sent;
        slot->outPtr += sent;
        slot->pending -= sent;
        if (slot->pending > 0) return 0;
        if (slot->sendFromFile == 0 && !(slot->flags & (FLAG_SUBSTITUTE | FLAG_CHUNKED))) {
            slot->sendFromFile = 1;
            slot->pending = SLOT_BUFFER_SIZE;
            direct = sendFileBlock(server, slot);
            if (direct == DIRECT_SENT) return 0;
        }
    }
    slot->outPtr = slot->ioBuffer;
    if (direct != DIRECT_END) {
        int error = 0;
        int count = fileRead(slot->file, slot->ioBuffer, SLOT_BUFFER_SIZE, &error);
        if (count < 0) {
            if (error == READ_ERROR_LEFT_TO_THE_LOOP) return 0;
            count = 0;
        }
        if (count > 0) {
            if (slot->flags & FLAG_SUBSTITUTE) count = substituteTags(server, slot, slot->ioBuffer, count);
            slot->pending = count;
            return 0;
        }
    }
    std::int64_t remaining = slot->contentLength + slot->responseHeaderLength - slot->bytesSent;
    if (remaining > 0) {
        int fill = remaining < SLOT_BUFFER_SIZE ? static_cast<int>(remaining) : SLOT_BUFFER_SIZE;
        std::memset(slot->ioBuffer, 0, static_cast<std::size_t>(fill));
        slot->pending = fill;
        return 0;
    }
    if (slot->flags & FLAG_CHUNKED) sendLastChunk(slot);
    fileClose(slot->file);
    slot->file = 0;
    return 1;
}

int sendHeader(ServerConfig* server, ConnectionSlot* slot) {
    if (slot->flags & FLAG_RAW) return bufferStep(server, slot);
    char header[MAX_HEADER_BYTES];
    int length = buildResponseHeader(server, slot, nowSeconds(), header, sizeof header);
    if (!netSendAll(slot->socket, header, length)) {
        serverPrintf("Failed to send header\n");
        return -1;
    }
    return 0;
}

int bufferStep(ServerConfig* server, ConnectionSlot* slot) {
    bool chunked = (slot->flags & FLAG_CHUNKED) != 0;
    if (slot->pending > 0 && slot->outPtr) {
        int sent = sendData(slot, slot->outPtr, slot->pending, chunked, false);
        if (sent < 0) {
            slot->flags |= FLAG_CLOSE;
            return -1;
        }
        server->bytesSent += static_cast<std::uint32_t>(sent);
        slot->bytesSent += sent;
        slot->outPtr += sent;
        slot->pending -= sent;
        return 0;
    }
    if ((slot->flags & FLAG_STREAM) && slot->handler && slot->handler->handler) {
        HandlerRequest request{};
        request.server = server;
        request.slot = slot;
        request.outBuffer = slot->ioBuffer;
        request.dataBytes = SLOT_BUFFER_SIZE;
        if (slot->handler->handler(&request) != 0) {
            slot->outPtr = request.outBuffer;
            slot->pending = request.outBuffer && request.dataBytes > 0 ? request.dataBytes : 0;
            return 0;
        }
        slot->flags |= FLAG_CLOSE;
    }
    if (chunked) sendLastChunk(slot);
    return 1;
}
