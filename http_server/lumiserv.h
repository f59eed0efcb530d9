#pragma once
// Lumiserv: the embedded single-threaded HTTP/1.1 server. The host fills one ServerConfig,
// calls startServer, runs runServer on a thread of its own and calls stopServer at shutdown.
// Everything else here (handlers, hooks, callbacks) runs on the server thread, one at a time.
// The connection slot and upload records stay behind server_records.h.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

// Socket handle wide enough for a Windows SOCKET; 0 means "none", negative means invalid.
using SocketHandle = std::intptr_t;

// ServerConfig::flags
constexpr std::uint32_t SERVER_DIR_LISTING = 0x1;
constexpr std::uint32_t SERVER_NO_ACCEPT_RANGES = 0x2;
// Also listen on [::1] at the same port, so that no other program can answer there for
// "localhost". A system without IPv6 is served on IPv4 alone (listenSocket6 stays 0); a [::1]
// port held by another program fails the start.
constexpr std::uint32_t SERVER_IPV6_LOOPBACK = 0x4;
// Every answer forbids framing, type guessing, reading from other origins and referrers.
constexpr std::uint32_t SERVER_SECURITY_HEADERS = 0x8;

// The bits of a URL handler's result, which the server keeps in the slot's flags; the bits
// that only the server sets are in server_records.h.
using ConnFlags = std::uint32_t;
constexpr ConnFlags FLAG_CLOSE = 0x100;        // end the connection after this response
constexpr ConnFlags FLAG_OWN_BUFFER = 0x1000;  // the server releases outBuffer (std::free)
constexpr ConnFlags FLAG_CHUNKED = 0x2000;
constexpr ConnFlags FLAG_CLOSE_NOTIFY = 0x4000;   // one more call when the connection closes
constexpr ConnFlags FLAG_FILE = 0x10000;          // a file; outBuffer may name another path
constexpr ConnFlags FLAG_BUFFER = 0x20000;        // outBuffer, dataBytes long
constexpr ConnFlags FLAG_HANDLER_FILE = 0x40000;  // the file the handler opened on the slot
constexpr ConnFlags FLAG_REDIRECT = 0x80000;      // outBuffer holds the location
constexpr ConnFlags FLAG_STREAM = 0x100000;       // refill calls until the handler returns 0
constexpr ConnFlags FLAG_RAW = 0x200000;          // the handler's data carries its own header
constexpr ConnFlags FLAG_TEXT_REPLY = 0x800000;   // handler results only

// Index into the MIME table (0 "application/octet-stream", 1 "text/html", 2 "text/xml", ...).
using ContentTypeIndex = std::int32_t;
constexpr ContentTypeIndex CONTENT_TYPE_COUNT = 26;
constexpr ContentTypeIndex CONTENT_TYPE_OCTET_STREAM = 0;  // also "none chosen yet"
constexpr ContentTypeIndex CONTENT_TYPE_HTML = 1;
constexpr ContentTypeIndex CONTENT_TYPE_XML = 2;
constexpr ContentTypeIndex CONTENT_TYPE_SCRIPT = 6;  // "application/x-javascript"

struct ServerConfig;
struct ConnectionSlot;
struct HandlerRequest;
struct UploadState;
struct UrlHandler;

// One name=value pair of a query or form. Arrays end with an entry whose name is null.
struct FormVariable {
    char* name;
    char* value;
};

// A $$name$$ tag found in an HTML or script file. The callback writes at most `room` bytes at
// `position` and returns how many it wrote, or a negative number to leave the tag as it is.
struct SubstituteTag {
    const char* name;
    char* position;
    std::int32_t room;
};

// The fields of a completely received multipart form.
struct FormFieldList {
    FormVariable* fields;
    std::int32_t count;
    const char* path;
};

// The first argument of a UrlHandler's event function.
constexpr int HANDLER_EVENT_START = 0;  // startServer: a non-zero result disables the entry
constexpr int HANDLER_EVENT_END = 1;    // runServer has ended

// What onFormComplete returns.
constexpr int FORM_NO_CHANGE = 0;
constexpr int FORM_AUTHENTICATED = 1;  // the sender's address may upload for a while
constexpr int FORM_AUTHENTICATION_FAILED = 2;
constexpr int FORM_REQUIRE_UPLOAD_AUTH = 3;  // uploads on this connection need that address
constexpr int FORM_LIFT_UPLOAD_AUTH = 4;

using HandlerFunction = int (*)(HandlerRequest* request);
using HandlerEvent = int (*)(int event, UrlHandler* entry, ServerConfig* server);
using UrlHook = int (*)(HandlerRequest* request);

// One entry of ServerConfig::urlHandlers; the table ends with an entry whose prefix is null.
// The prefix has no leading "/" and an empty prefix matches every path.
struct UrlHandler {
    const char* prefix;
    HandlerFunction handler;  // cleared by the server when `event` refuses the start
    HandlerEvent event;       // optional: HANDLER_EVENT_START, later HANDLER_EVENT_END
    std::uint32_t userParam;
};

// Virtual directory: requests whose path starts with `prefix` are looked up in `directory`.
struct AliasEntry {
    const char* prefix;
    char directory[260];
};

// Basic authentication for one path prefix; `credentialLine` is filled by the server.
struct AuthEntry {
    const char* prefix;
    const char* user;
    const char* password;
    const char* group;  // stored in the slot's `authorization` on success; null = "group=admin"
    char credentialLine[64];
};

struct ServerConfig {
    ConnectionSlot* slots;
    std::int32_t maxClients;
    std::int32_t maxClientsPerIp;  // 0 = no limit
    std::int32_t quit;
    std::int32_t running;
    std::uint32_t flags;  // SERVER_DIR_LISTING, SERVER_NO_ACCEPT_RANGES
    SocketHandle listenSocket;
    std::uint16_t port;  // host order; 0 lets the system choose, and startServer stores its choice
    std::int32_t socketRcvBufKb;
    char documentRoot[256];
    char secondaryRoot[256];  // empty = none
    UrlHandler* urlHandlers;
    AuthEntry* authEntries;
    AliasEntry* aliases;
    int (*onSubstitute)(SubstituteTag* tag);
    // Called with data as it arrives and once with (upload, nullptr, 0) when the connection ends.
    int (*onUploadData)(UploadState* upload, const char* data, std::int32_t length);
    // One of the FORM_ results.
    int (*onFormComplete)(const FormFieldList* form);
    void (*onIdle)(ServerConfig* server);
    std::uint32_t authAddress;
    std::int64_t authExpiry;
    std::int64_t expireTimeout;  // seconds; 0 becomes 120 at start
    std::int32_t maxSpeedKbps;   // 0 = unlimited
    std::int64_t startTime;
    std::uint16_t clientCount;
    std::uint16_t peakClients;
    std::uint32_t requestCount;
    std::uint32_t fileSentCount;
    std::uint32_t bytesSent;
    std::uint32_t handlerHits;
    std::uint32_t expiredCount;
    std::uint32_t rejectedUploads;
    std::uint32_t bindAddress;  // network order; 0 = all interfaces
    // Seconds from accept within which the whole request must have arrived, however it trickles
    // in; 0 = no bound beyond expireTimeout.
    std::int64_t requestTimeout;
    SocketHandle listenSocket6;  // [::1] with SERVER_IPV6_LOOPBACK; 0 = none
};

// What a handler is called with. On a request call every field is set; on a refill call only
// server, slot, outBuffer (the slot's buffer) and dataBytes (its size); on a close call only
// server and slot, with a null outBuffer and dataBytes -1.
struct HandlerRequest {
    ServerConfig* server;
    ConnectionSlot* slot;
    char* path;
    FormVariable* variables;
    std::int32_t variableCount;
    const char* requestText;
    char* outBuffer;
    char* body;
    std::int32_t dataBytes;
    std::int32_t contentLength;
    ContentTypeIndex contentType;
    std::uint32_t userParam;
};

// 0 started; -1 already running; -2 maxClients is 0; -3 socket, bind or listen failed.
int startServer(ServerConfig* server);
// The event loop; returns 0 once stopServer has been called.
int runServer(ServerConfig* server);
// -1 when not running or already stopping; otherwise 0 once the loop has ended or after 3 s.
int stopServer(ServerConfig* server);

// Where the server's diagnostic lines go; standard error unless set before the first start.
extern std::FILE* serverLog;

// The host's answer to "cmd" URLs: 0 = answered (outBuffer holds the reply text), non-zero =
// not its URL. Installed once by the host; until then hookHandler declines.
extern std::atomic<UrlHook> urlHook;
int hookHandler(HandlerRequest* request);

// The statistics document (text/xml).
int statsHandler(HandlerRequest* request);

// Writes uploaded files into uploadDirectory; with no upload directory nothing is stored.
int uploadWriter(UploadState* upload, const char* data, std::int32_t length);
extern std::string uploadDirectory;

// Splits the query (or the body of a POST) into request->variables. Returns the count, -1 when
// there is nothing to parse, 0 when the text holds a byte that is not allowed.
int parseVariables(HandlerRequest* request);
ContentTypeIndex mimeIndexForExtension(const char* extension);
