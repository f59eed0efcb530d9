// Reading the request header: the protocol version and the header lines the server acts on.

#include <climits>
#include <cstring>

#include "server_internal.h"

std::size_t headerValueLength(const char* value) {
    const char* end = value;
    while (*end && *end != '\r') ++end;
    return static_cast<std::size_t>(end - value);
}

namespace {

// Decimal value at text (which ends at "\r"), clamped to the int range.
long long decimalValue(const char* text) {
    while (*text == ' ') ++text;
    bool negative = *text == '-';
    if (negative || *text == '+') ++text;
    long long value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < INT_MAX) value = value * 10 + (*text - '0');
        ++text;
    }
    if (value > INT_MAX) value = INT_MAX;
    return negative ? -value : value;
}

void parseForwardedFor(ConnectionSlot* slot, const char* value) {
    std::uint32_t octets[4] = {0, 0, 0, 0};
    for (int index = 0; index < 4; ++index) {
        if (*value < '0' || *value > '9') break;
        std::uint32_t number = 0;
        while (*value >= '0' && *value <= '9') number = (number * 10 + (*value++ - '0')) & 0xffff;
        octets[index] = number & 0xff;
        if (*value != '.') break;
        ++value;
    }
    slot->clientAddress = (octets[0] << 24) | (octets[1] << 16) | (octets[2] << 8) | octets[3];
}

// "Content-Type: " may announce a multipart form or a single uploaded file. False refuses the
// request (a boundary too long for the upload record).
bool parseContentType(ServerConfig* server, ConnectionSlot* slot, const char* value) {
    static const char MULTIPART[] = "multipart/form-data; boundary=";
    std::size_t length = headerValueLength(value);
    if (startsWithNoCase(value, MULTIPART)) {
        slot->flags |= FLAG_MULTIPART;
        if (slot->upload) return true;
        const char* boundary = value + sizeof MULTIPART - 1;
        slot->upload = createUpload(server, boundary, length - (sizeof MULTIPART - 1), nullptr, 0);
        return slot->upload != nullptr;
    }
    static const char FILE_NAME[] = "; filename=";
    constexpr std::size_t FILE_NAME_LENGTH = sizeof FILE_NAME - 1;
    long at = findBytes(value, length, FILE_NAME, FILE_NAME_LENGTH);
    if (at >= 0 && !slot->upload) {
        std::size_t nameAt = static_cast<std::size_t>(at) + FILE_NAME_LENGTH;
        slot->upload = createUpload(server, nullptr, 0, value + nameAt, length - nameAt);
    }
    return true;
}

// The header lines the server reads; every other line is passed over.
enum class HeaderField {
    connection,
    contentLength,
    contentType,
    cseq,
    referer,
    rangeStart,
    host,
    transport,
    authorization,
    forwardedFor,
    origin,
    fetchSite,
};

struct KnownHeader {
    const char* name;  // up to where the value begins, matched in any letter case
    HeaderField field;
};

const KnownHeader KNOWN_HEADERS[] = {
    {"Connection: ", HeaderField::connection},
    {"Content-Length: ", HeaderField::contentLength},
    {"Content-Type: ", HeaderField::contentType},
    {"CSeq: ", HeaderField::cseq},
    {"Referer: ", HeaderField::referer},
    {"Range: bytes=", HeaderField::rangeStart},
    {"Host: ", HeaderField::host},
    {"Transport: ", HeaderField::transport},
    {"Authorization: ", HeaderField::authorization},
    {"X-Forwarded-For: ", HeaderField::forwardedFor},
    {"Origin: ", HeaderField::origin},
    {"Sec-Fetch-Site: ", HeaderField::fetchSite},
};

// False refuses the request.
bool readHeaderField(ServerConfig* server, ConnectionSlot* slot, HeaderField field, const char* value) {
    switch (field) {
        case HeaderField::connection:
            if (startsWithNoCase(value, "close"))
                slot->flags |= FLAG_CLOSE;
            else if (startsWithNoCase(value, "Keep-Alive"))
                slot->flags &= ~FLAG_CLOSE;
            break;
        case HeaderField::contentLength:
            slot->requestLength = static_cast<std::int32_t>(decimalValue(value));
            break;
        case HeaderField::contentType:
            return parseContentType(server, slot, value);
        case HeaderField::cseq:
            slot->cseq = static_cast<std::int32_t>(decimalValue(value));
            break;
        case HeaderField::referer:
            slot->referer = value;
            break;
        case HeaderField::rangeStart: {
            const char* digits = value;
            while (*digits >= '0' && *digits <= '9') ++digits;
            if (*digits == '-') slot->rangeStart = decimalValue(value);
            break;
        }
        case HeaderField::host:
            slot->host = value;
            break;
        case HeaderField::transport:
            slot->transport = value;
            break;
        case HeaderField::authorization:
            slot->authorization = value;
            break;
        case HeaderField::forwardedFor:
            parseForwardedFor(slot, value);
            break;
        // Decided here, while the header is whole: form data may overwrite it later. Any one
        // foreign line is enough, however many lines there are.
        case HeaderField::origin:
            if (!originIsOwn(value, server->port)) slot->crossSite = true;
            break;
        case HeaderField::fetchSite:
            if (fetchSiteIsForeign(value)) slot->crossSite = true;
            break;
    }
    return true;
}

}  // namespace

int parseHeader(ServerConfig* server, ConnectionSlot* slot) {
    slot->flags &= ~FLAG_MULTIPART;
    const char* text = slot->ioBuffer;
    std::size_t length = static_cast<std::size_t>(slot->headerLength);
    // The protocol word and the major version, which the minor digit follows.
    constexpr std::size_t PROTOCOL_LENGTH = sizeof "HTTP/1." - 1;
    long at = findBytes(text, length, "HTTP/1.", PROTOCOL_LENGTH);
    if (at < 0) at = findBytes(text, length, "RTSP/1.", PROTOCOL_LENGTH);
    if (at < 0) return -1;
    slot->protocolMinor = text[static_cast<std::size_t>(at) + PROTOCOL_LENGTH] - '0';
    std::size_t position = static_cast<std::size_t>(at);
    for (;;) {
        long lineEnd = findBytes(text + position, length - position, "\r", 1);
        if (lineEnd < 0) return 0;
        position += static_cast<std::size_t>(lineEnd) + 1;
        if (position < length && text[position] == '\n') ++position;
        if (position >= length || text[position] == '\r') return 0;
        const char* line = text + position;
        for (const KnownHeader& known : KNOWN_HEADERS) {
            if (!startsWithNoCase(line, known.name)) continue;
            if (!readHeaderField(server, slot, known.field, line + std::strlen(known.name))) return -1;
            break;
        }
    }
}
