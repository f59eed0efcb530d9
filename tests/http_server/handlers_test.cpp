// URL handlers and the host's hook: what each result flag makes the client receive, the
// refill and close calls, the statistics document, and the query variables.

#include <gtest/gtest.h>

#include <fcntl.h>

#include <regex>
#include <vector>

#include "server_fixture.h"
#include "server_internal.h"

namespace {

std::vector<std::string> hookPaths;
std::string hookAnswer;
int hookDeclines = 0;

int recordingHook(HandlerRequest* request) {
    std::string path = request->path;
    hookPaths.push_back(path);
    if (path == "/uniqueId") {
        request->outBuffer = const_cast<char*>("LUMIDRA_abc");
        return 0;
    }
    if (path == "/empty") {
        request->outBuffer = const_cast<char*>("");
        return 0;
    }
    if (path == "/ok") return 0;
    ++hookDeclines;
    return 1;
}

UrlHandler launcherTable[] = {
    {"stats", statsHandler, nullptr, 0}, {"cmd", hookHandler, nullptr, 0}, {nullptr, nullptr, nullptr, 0}};

struct HookServer : ::testing::Test {
    TempDir temp;
    TestServer server;
    void SetUp() override {
        hookPaths.clear();
        hookDeclines = 0;
        urlHook.store(nullptr);
        writeFile(temp / "root/cmd/other", "other file");
        setRoot(server.config.documentRoot, temp / "root");
        server.config.urlHandlers = launcherTable;
        server.config.flags = SERVER_NO_ACCEPT_RANGES;
        ASSERT_EQ(server.start(), 0);
    }
    void TearDown() override { urlHook.store(nullptr); }
    std::uint16_t port() const { return server.config.port; }
};

TEST_F(HookServer, HookAnswersOnlyOnceInstalled) {
    EXPECT_EQ(get(port(), "/cmd/uniqueId"), NOT_FOUND_REPLY);
    EXPECT_TRUE(hookPaths.empty());
    urlHook.store(recordingHook);
    std::string reply = get(port(), "/cmd/uniqueId");
    std::regex expected(
        "HTTP/1\\.1 200 OK\r\nServer: Lumiserv\r\nCache-control: no-cache\r\nPragma: no-cache\r\n"
        "Connection: keep-alive\r\nLast-Modified: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d\\d "
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n"
        "Content-Type: text/html\r\n\r\nLUMIDRA_abc");
    EXPECT_TRUE(std::regex_match(reply, expected)) << reply;
    EXPECT_EQ(bodyOf(get(port(), "/cmd/ok")), "OK");
    EXPECT_EQ(hookPaths, (std::vector<std::string>{"/uniqueId", "/ok"}));
}

TEST_F(HookServer, QueriesAreCutForGetButNotForPost) {
    urlHook.store(recordingHook);
    EXPECT_EQ(bodyOf(get(port(), "/cmd/uniqueId?x=1")), "LUMIDRA_abc");
    EXPECT_EQ(get(port(), "/cmd/exit?uniqueId=abc"), NOT_FOUND_REPLY);
    EXPECT_EQ(roundTrip(port(), "POST /cmd/exit?uniqueId=abc HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              NOT_FOUND_REPLY);
    EXPECT_EQ(bodyOf(roundTrip(port(), "POST /cmd/uniqueId HTTP/1.1\r\nContent-Length: 3\r\n\r\na=b")),
              "LUMIDRA_abc");
    EXPECT_EQ(hookPaths, (std::vector<std::string>{"/uniqueId", "/exit", "/exit?uniqueId=abc", "/uniqueId"}));
}

TEST_F(HookServer, DeclinedUrlsFallThroughToFiles) {
    urlHook.store(recordingHook);
    EXPECT_EQ(bodyOf(get(port(), "/cmd/other")), "other file");
    EXPECT_EQ(get(port(), "/cmdx/uniqueId"), NOT_FOUND_REPLY);
    EXPECT_EQ(hookPaths, (std::vector<std::string>{"/other", "x/uniqueId"}));
}

TEST_F(HookServer, EmptyAnswerEndsAfterOneCall) {
    urlHook.store(recordingHook);
    std::string reply = get(port(), "/cmd/empty");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(bodyOf(reply), "");
    EXPECT_EQ(hookPaths, (std::vector<std::string>{"/empty"}));
    EXPECT_EQ(hookDeclines, 0);
}

TEST_F(HookServer, StatisticsDocument) {
    int other = connectTo(port());
    ASSERT_GE(other, 0);
    ASSERT_TRUE(sendText(other, "GET /half-way"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string reply = get(port(), "/statsx?detail=1");
    ::close(other);
    EXPECT_NE(reply.find("Content-Type: text/xml\r\n"), std::string::npos);
    std::string body = bodyOf(reply);
    EXPECT_NE(reply.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(
        body.rfind(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ServerStats>  <ClientIP>127.0.0.1</ClientIP>\n", 0),
        0u)
        << body;
    EXPECT_NE(body.find("  <Clients>2</Clients>\n"), std::string::npos);
    EXPECT_NE(body.find("  <MaxClients>2</MaxClients>\n"), std::string::npos);
    EXPECT_NE(body.find("  <Requests>1</Requests>\n"), std::string::npos);
    EXPECT_NE(body.find("  <Clients>\n    <Client ip=\"127.0.0.1\" requests=\"0\" expire=\""),
              std::string::npos);
    EXPECT_NE(body.find("path=\"statsx\"/>\n  </Clients>\n</ServerStats>"), std::string::npos) << body;
    EXPECT_EQ(body.size(), body.find("</ServerStats>") + 14);
}

TEST_F(HookServer, StatisticsEscapeRequestPaths) {
    // Six connections make the document use a buffer of its own.
    std::vector<int> others;
    for (int i = 0; i < 5; ++i) {
        others.push_back(connectTo(port()));
        ASSERT_TRUE(sendText(others.back(), "POST /x\"><evil HTTP/1.1\r\nContent-Length: 9\r\n\r\n"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string body = bodyOf(get(port(), "/stats"));
    for (int fd : others) ::close(fd);
    EXPECT_NE(body.find("<Clients>6</Clients>"), std::string::npos) << body;
    EXPECT_EQ(body.find("<evil"), std::string::npos);
    EXPECT_NE(body.find("path=\"x&quot;&gt;&lt;evil\"/>"), std::string::npos) << body;
}

// Handlers that answer with each kind of content.
int streamCalls = 0;
int closeCalls = 0;
int events[2] = {0, 0};

int contentHandler(HandlerRequest* request) {
    if (!request->path) {  // refill or close call
        if (request->dataBytes == -1) {
            ++closeCalls;
            return 0;
        }
        ++streamCalls;
        if (streamCalls > 2) return 0;
        std::strcpy(request->outBuffer, streamCalls == 1 ? "second piece" : "third");
        request->dataBytes = static_cast<int>(std::strlen(request->outBuffer));
        return 1;
    }
    std::string path = request->path;
    if (path == "/buffer") {
        std::strcpy(request->outBuffer, "buffer body");
        request->dataBytes = 11;
        request->contentType = 3;
        return FLAG_BUFFER;
    }
    if (path == "/owned") {
        char* text = static_cast<char*>(std::malloc(6));
        std::memcpy(text, "owned", 6);
        request->outBuffer = text;
        request->dataBytes = 5;
        return FLAG_BUFFER | FLAG_OWN_BUFFER;
    }
    if (path == "/stream") {
        std::strcpy(request->outBuffer, "hello");
        request->dataBytes = 5;
        return FLAG_STREAM | FLAG_CHUNKED;
    }
    if (path == "/raw") {
        std::strcpy(request->outBuffer, "RAW REPLY");
        request->dataBytes = 9;
        return FLAG_BUFFER | FLAG_RAW;
    }
    if (path == "/moved") {
        std::strcpy(request->outBuffer, "/elsewhere");
        return FLAG_REDIRECT;
    }
    if (path == "/other-file") {
        std::strcpy(request->outBuffer, "target.txt");
        return FLAG_FILE;
    }
    if (path == "/opened") {
        request->slot->file =
            ::open((std::string(request->server->documentRoot) + "/target.txt").c_str(), O_RDONLY);
        return FLAG_HANDLER_FILE | FLAG_CLOSE_NOTIFY;
    }
    if (path == "/chunked-file") {
        std::strcpy(request->outBuffer, "target.txt");
        return FLAG_FILE | FLAG_CHUNKED;
    }
    if (path == "/bad") return FLAG_GET;
    if (path == "/typed") {
        request->slot->status = 202;
        request->slot->contentTypeText = "application/json";
        std::strcpy(request->outBuffer, "{}");
        request->dataBytes = 2;
        request->contentType = 77;  // out of the table: falls back to the first entry
        return FLAG_BUFFER;
    }
    return 0;
}

int refusingEvent(int event, UrlHandler*, ServerConfig*) {
    ++events[event];
    return event == 0 ? 1 : 0;
}

int acceptingEvent(int event, UrlHandler*, ServerConfig*) {
    ++events[event];
    return 0;
}

TEST(Handlers, EveryResultKind) {
    TempDir temp;
    writeFile(temp / "target.txt", "target content");
    UrlHandler table[] = {{"off", contentHandler, refusingEvent, 0},
                          {"h", contentHandler, acceptingEvent, 7},
                          {nullptr, nullptr, nullptr, 0}};
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    server.config.urlHandlers = table;
    server.config.flags = SERVER_NO_ACCEPT_RANGES;
    events[0] = events[1] = 0;
    ASSERT_EQ(server.start(), 0);
    EXPECT_EQ(events[0], 2);
    EXPECT_EQ(table[0].handler, nullptr);
    std::uint16_t port = server.config.port;

    std::string buffer = get(port, "/h/buffer");
    EXPECT_NE(buffer.find("Content-Type: text/plain\r\nContent-Length: 11\r\n\r\nbuffer body"),
              std::string::npos)
        << buffer;
    EXPECT_EQ(bodyOf(get(port, "/h/owned")), "owned");

    streamCalls = closeCalls = 0;
    std::string stream = get(port, "/h/stream");
    EXPECT_NE(stream.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(stream.find("Content-Length"), std::string::npos);
    EXPECT_EQ(bodyOf(stream), "5\r\nhello\r\nc\r\nsecond piece\r\n5\r\nthird\r\n0\r\n\r\n");
    EXPECT_EQ(streamCalls, 3);
    EXPECT_EQ(closeCalls, 1);

    streamCalls = closeCalls = 0;
    std::string old = roundTrip(port, "GET /h/stream HTTP/1.0\r\n\r\n");
    EXPECT_EQ(old.find("chunked"), std::string::npos);
    EXPECT_EQ(bodyOf(old), "hellosecond piecethird");

    EXPECT_EQ(get(port, "/h/raw"), "RAW REPLY");
    EXPECT_EQ(get(port, "/h/moved"),
              "HTTP/1.1 301 Moved Permanently\r\nServer: Lumiserv\r\nLocation: /elsewhere\r\n\r\n");
    EXPECT_EQ(bodyOf(get(port, "/h/other-file")), "target content");
    closeCalls = 0;
    std::string opened = get(port, "/h/opened");
    EXPECT_NE(opened.find("Content-Type: application/octet-stream\r\nContent-Length: 14\r\n"),
              std::string::npos)
        << opened;
    EXPECT_EQ(bodyOf(opened), "target content");
    EXPECT_EQ(closeCalls, 1);
    std::string chunkedFile = get(port, "/h/chunked-file");
    EXPECT_NE(chunkedFile.find("Content-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"),
              std::string::npos)
        << chunkedFile;
    EXPECT_EQ(bodyOf(chunkedFile), "E\r\ntarget content\r\n0\r\n\r\n");
    EXPECT_EQ(get(port, "/h/bad"), "");
    std::string typed = get(port, "/h/typed");
    EXPECT_EQ(typed.rfind("HTTP/1.1 202 Accepted\r\n", 0), 0u);
    EXPECT_NE(typed.find("Content-Type: application/json\r\n"), std::string::npos);
    EXPECT_EQ(get(port, "/off/buffer"), NOT_FOUND_REPLY);  // its entry refused the start

    server.stop();
    EXPECT_EQ(events[1], 1);  // only the entry that still has its handler hears the end
    EXPECT_NE(server.log().find("Invalid data flag specified\n"), std::string::npos);
    EXPECT_EQ(server.config.handlerHits, 11u);
}

TEST(Variables, ParsingAndDecoding) {
    char path[] = "/exit?a=1&b=x%20y+z&flag&=v&c=%41%4";
    HandlerRequest request{};
    request.path = path;
    request.variableCount = -1;
    ASSERT_EQ(parseVariables(&request), 5);
    EXPECT_STREQ(path, "/exit");
    EXPECT_STREQ(request.variables[0].name, "a");
    EXPECT_STREQ(request.variables[0].value, "1");
    EXPECT_STREQ(request.variables[1].value, "x y z");
    EXPECT_STREQ(request.variables[2].name, "flag");
    EXPECT_STREQ(request.variables[2].value, "");
    EXPECT_STREQ(request.variables[3].name, "");
    EXPECT_STREQ(request.variables[4].value, "A");
    EXPECT_EQ(request.variables[5].name, nullptr);
    EXPECT_EQ(parseVariables(&request), 5);  // parsed once
    std::free(request.variables);

    char high[] = "p?name=\xc3\xa9";
    HandlerRequest highRequest{};
    highRequest.path = high;
    highRequest.variableCount = -1;
    EXPECT_EQ(parseVariables(&highRequest), 0);
    EXPECT_EQ(highRequest.variableCount, -1);
    EXPECT_EQ(highRequest.variables, nullptr);

    char none[] = "plain";
    HandlerRequest noneRequest{};
    noneRequest.path = none;
    noneRequest.variableCount = -1;
    EXPECT_EQ(parseVariables(&noneRequest), -1);

    char odd[] = "%zz%4a%";
    urlDecodeInPlace(odd);
    EXPECT_EQ(std::string(odd),
              "\xaa"
              "J");
}

}  // namespace
