#pragma once
// The server's own records: the connection slot and the upload in progress on it, with the slot
// state bits that only the server sets. Handlers and upload callbacks inside the server (and
// tests that act as one) read them; a host needs only lumiserv.h.

#include <cstdint>

#include "lumiserv.h"

constexpr int SLOT_BUFFER_SIZE = 131072;

// Slot state bits, beside the handler result bits of lumiserv.h in the same word.
constexpr ConnFlags FLAG_GET = 0x1;
constexpr ConnFlags FLAG_POST = 0x2;
constexpr ConnFlags FLAG_DATA_SENT = 0x80;
constexpr ConnFlags FLAG_SUBSTITUTE = 0x200;
constexpr ConnFlags FLAG_UPLOAD_AUTH = 0x400;
constexpr ConnFlags FLAG_MULTIPART = 0x400000;
constexpr ConnFlags FLAG_SENDING = 0x40000000;
constexpr ConnFlags FLAG_RECEIVING = 0x80000000;

// UploadState::state: which data of a file part onUploadData is given.
constexpr std::uint8_t UPLOAD_MORE_DATA = 0;
constexpr std::uint8_t UPLOAD_FIRST_DATA = 1;
constexpr std::uint8_t UPLOAD_LAST_DATA = 2;

struct UploadState {
    char boundary[80];   // "--" + the form's boundary; empty for a single-file upload
    std::uint8_t state;  // UPLOAD_FIRST_DATA, UPLOAD_MORE_DATA or UPLOAD_LAST_DATA
    std::int32_t held;
    FormVariable fields[50];
    ServerConfig* server;
    std::int32_t fieldCount;
    const char* path;
    char fileName[260];
    std::int32_t file;  // descriptor used by uploadWriter; 0 = none
    // Server-private from here on.
    bool dropPart;                // the current file part is being discarded
    bool partOpen;                // a file part is being received
    char authorizationCopy[256];  // the request header is overwritten by form data
};

struct ConnectionSlot {
    SocketHandle socket;          // 0 = slot free
    std::uint32_t clientAddress;  // IPv4, host order
    std::int32_t protocolMinor;
    std::int64_t rangeStart;
    char* path;  // request path without its leading "/", query included (owned)
    const char* referer;
    const char* host;
    std::int32_t headerLength;
    char* body;  // body of a plain POST, NUL-terminated (owned)
    std::int32_t requestLength;
    std::int32_t cseq;
    const char* transport;
    const char* authorization;
    std::int32_t status;
    std::int32_t responseHeaderLength;
    std::int64_t bytesSent;
    std::int64_t contentLength;
    ContentTypeIndex contentType;
    char* outPtr;
    std::int32_t outCapacity;
    std::int32_t pending;
    std::int32_t file;  // 0 = none, -1 = the path is a directory
    ConnFlags flags;
    UrlHandler* handler;
    char* ownedBuffer;  // released with std::free when the connection ends (FLAG_OWN_BUFFER)
    std::int64_t connectedAt;
    std::int64_t expiresAt;
    std::uint32_t resumeTick;
    std::int32_t requestsServed;
    const char* contentTypeText;
    UploadState* upload;
    char* ioBuffer;  // SLOT_BUFFER_SIZE bytes, kept across connections
    // Server-private from here on.
    std::int32_t chunkOpen;  // bytes of the current chunk still to send, framing written
    // 1 while the pending bytes are still in the file and go straight from it to the socket;
    // -1 once that has proved impossible for this response; 0 before either.
    std::int32_t sendFromFile;
    // The request came from a page of another site or origin (its "Origin: " or
    // "Sec-Fetch-Site: " says so); such a request may not command the host.
    bool crossSite;
};
