#pragma once
// What the server's own files share with each other; the host sees only lumiserv.h.

#include <cstddef>
#include <cstdint>
#include <string>

#include "lumiserv.h"
#include "server_records.h"
#include "server_util.h"

inline constexpr const char* SERVER_NAME = "Lumiserv";
inline constexpr int MAX_PATH_CHARS = 512;    // a request path is shorter than this
inline constexpr int MAX_LOCAL_PATH = 259;    // characters of a local file path
inline constexpr int MAX_HEADER_BYTES = 512;  // a composed response header
inline constexpr int MAX_POST_BODY = 262144;  // body of a plain POST
inline constexpr int MIN_OUTPUT_ROOM = 1024;  // room left for the answer behind the request
// Sent with every answer under SERVER_SECURITY_HEADERS: no page may frame this server's pages (a
// click on a bait button over an invisible viewer), guess a type the answer does not declare, read
// them from another origin even as an image or script, or learn their addresses from a link
// followed.
inline constexpr const char* SECURITY_HEADERS =
    "X-Frame-Options: DENY\r\n"
    "Content-Security-Policy: frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Cross-Origin-Resource-Policy: same-origin\r\n"
    "Referrer-Policy: no-referrer\r\n";

// Slots and connections (connection_slot.cpp).
// Takes a free slot for a connection just accepted; false when the slot's buffer cannot be had,
// and the connection has been closed.
bool openSlot(ServerConfig* server, ConnectionSlot* slot, SocketHandle socket, std::uint32_t peer,
              std::int64_t now);
// Prepares the slot for the next request; false when its buffer cannot be had.
bool resetSlot(ConnectionSlot* slot);
// Ends the request on the slot and releases what it holds; with FLAG_CLOSE also the connection.
// Only the event loop ends connections: a step reports a finished or failed response instead.
void closeConnection(ServerConfig* server, ConnectionSlot* slot);
// Counts the used slots whose client address equals this slot's, the slot itself included.
int connectionsFromAddress(const ServerConfig* server, const ConnectionSlot* slot);

// The steps the event loop runs for a ready slot (receiveStep, fileStep, bufferStep) return 0 to
// go on; anything else means the response is finished or failed, and the loop then ends the
// connection.

// Receiving and dispatch (request.cpp, header_fields.cpp, host_check.cpp, dispatch.cpp).
int receiveStep(ServerConfig* server, ConnectionSlot* slot);
// Reads the completed header (header_fields.cpp): 0, or -1 when the request is refused.
int parseHeader(ServerConfig* server, ConnectionSlot* slot);
// Length of a header value, which ends at "\r".
std::size_t headerValueLength(const char* value);
int dispatchHandlers(ServerConfig* server, ConnectionSlot* slot);
// True when a "Host: " value (ended by "\r" or NUL) names this machine by a loopback name:
// localhost, 127.0.0.1 or [::1], in any letter case, optionally with a ":" and a decimal port.
bool hostIsLoopback(const char* value);
// True when an "Origin: " value is this server's own: "http://" and one of those names with the
// server's port.
bool originIsOwn(const char* value, std::uint16_t port);
// True when a "Sec-Fetch-Site: " value says the request comes from another origin's page.
bool fetchSiteIsForeign(const char* value);

// Local paths and content lookup (local_path.cpp).
struct LocalPath {
    char text[MAX_LOCAL_PATH + 1];
    int length;
    int extension;  // offset of the extension in text, or -1
    bool endedWithSlash;
};
// False when the request cannot name a file (empty root, or an unusable decoded path).
bool composeLocalPath(const char* root, const char* requestPath, LocalPath* out);
// The request path as the file lookup sees it (decoded, without empty or dot segments), for
// comparisons that must not be dodged by spelling a path differently.
std::string normalisedRequestPath(const char* path);
int openContent(ServerConfig* server, ConnectionSlot* slot, const char* root, const char* requestPath);

// Responses (response.cpp, fixed_pages.cpp, listing.cpp, mime.cpp).
// The fixed pages, sent whole at once: the refusals, the demand for credentials with its message
// as the body, and a redirect composed in the slot's output area.
void sendForbidden(const ServerConfig* server, SocketHandle socket);
// The 403 answer, header and page, as sendForbidden sends it; its length, or 0 when it does not
// fit in capacity.
int composeForbidden(const ServerConfig* server, char* destination, int capacity);
void sendNotFound(const ServerConfig* server, SocketHandle socket);
void sendAuthorizationRequired(const ServerConfig* server, SocketHandle socket, const char* message);
void sendRedirect(const ServerConfig* server, ConnectionSlot* slot, const char* location);
// The header lines every answer carries: SECURITY_HEADERS when the server sends them, else none.
const char* securityHeaders(const ServerConfig* server);
int buildResponseHeader(const ServerConfig* server, const ConnectionSlot* slot, std::int64_t modified,
                        char* destination, int capacity);
void prepareFileResponse(ServerConfig* server, ConnectionSlot* slot, std::int64_t size, std::int64_t modified,
                         const char* extension);
int fileStep(ServerConfig* server, ConnectionSlot* slot);
int sendHeader(ServerConfig* server, ConnectionSlot* slot);
int bufferStep(ServerConfig* server, ConnectionSlot* slot);
void buildDirectoryListing(ServerConfig* server, ConnectionSlot* slot, const char* directory);
const char* reasonPhrase(int status);
const char* mimeTypeText(ContentTypeIndex index);
// "%s, %02d %s %d %02d:%02d:%02d GMT" of a UTC time; destination holds at least 40 bytes.
void formatHttpDate(std::int64_t time, char* destination, std::size_t capacity);

// Authentication, statistics, uploads (auth.cpp, stats.cpp, upload.cpp).
// What authenticate finds for the slot's path.
constexpr int AUTH_NOT_PROTECTED = 0;
constexpr int AUTH_ACCEPTED = 1;
constexpr int AUTH_NEEDED = 2;  // no credentials were sent
constexpr int AUTH_WRONG = -1;
int authenticate(ServerConfig* server, ConnectionSlot* slot);
std::string base64Encode(const char* data, std::size_t length);
struct XmlElement {
    const char* name;
    std::string value;
    int indentation;
    int flags;  // bit 0: wrap the value in CDATA
};
int writeXmlElement(char** cursor, int* room, const XmlElement& element);
UploadState* createUpload(ServerConfig* server, const char* boundary, std::size_t boundaryLength,
                          const char* fileName, std::size_t fileNameLength);
void releaseUpload(UploadState* upload);
// What the multipart receiver reports.
constexpr int UPLOAD_WAITING = 0;
constexpr int UPLOAD_COMPLETE = 1;  // the request is dispatched next
constexpr int UPLOAD_ANSWERED = 2;  // complete, and already answered (the redirect for "/")
constexpr int UPLOAD_FAILED = -1;
int multipartReceive(ServerConfig* server, ConnectionSlot* slot, bool dataPresent);
// True when it has answered the request itself (the redirect for an empty path).
bool formComplete(ServerConfig* server, ConnectionSlot* slot);

// Percent decoding (percent_decode.cpp). Decodes text into out, which may be text itself, and
// returns the length written (no terminator added). It ends at the terminator or at a "%" short
// of two characters; a request path also ends at its query ("?") or at an encoded NUL, and its
// backslashes become "/".
enum class DecodeAs { formValue, requestPath };
std::size_t percentDecode(const char* text, char* out, DecodeAs as);
// A query or form value, decoded where it lies.
void urlDecodeInPlace(char* text);
// The path up to its query, decoded.
std::string decodeRequestPath(const char* path);

// Text helpers (text_util.cpp).
// Offset of needle in the first haystackLength bytes of haystack, or -1.
long findBytes(const char* haystack, std::size_t haystackLength, const char* needle,
               std::size_t needleLength);
bool startsWithNoCase(const char* text, const char* prefix);
long findNoCase(const char* haystack, std::size_t haystackLength, const char* needle);
// &, <, >, " and ' as entities.
std::string htmlEscape(const char* text);
// Number of bytes that fit in room, copied with a NUL, or 0.
std::size_t copyBounded(char* destination, std::size_t capacity, const char* source,
                        std::size_t sourceLength);
