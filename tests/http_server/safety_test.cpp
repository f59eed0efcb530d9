// What keeps the server safe beside other programs and other sites' pages: the [::1] listener,
// the refusal of commands from other origins, the headers of every answer, the bound on a
// request's arrival, whole method words, uploads without a writer, and what the statistics show.

#include <gtest/gtest.h>

#include <vector>

#include "server_fixture.h"

namespace {

const std::string SECURITY_LINES =
    "X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\nCross-Origin-Resource-Policy: same-origin\r\n"
    "Referrer-Policy: no-referrer\r\n";

const std::string GUARDED_FORBIDDEN =
    "HTTP/1.1 403 Forbidden\r\nServer: Lumiserv\r\nContent-length: 85\r\nContent-Type: text/html\r\n" +
    SECURITY_LINES +
    "\r\n<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>";

int commandsRun = 0;

int countingHook(HandlerRequest* request) {
    if (std::string(request->path) != "/exit?uniqueId=LUMIDRA_1") return 1;
    ++commandsRun;
    return 0;
}

UrlHandler launcherTable[] = {
    {"stats", statsHandler, nullptr, 0}, {"cmd", hookHandler, nullptr, 0}, {nullptr, nullptr, nullptr, 0}};

// A connection to [::1], or -1 when the system has no IPv6 loopback.
int connectTo6(std::uint16_t port) {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

bool systemHasIpv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

TEST(Safety, ListensOnIpv6LoopbackTooAndFailsWhenItIsTaken) {
    if (!systemHasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
    TempDir temp;
    writeFile(temp / "page.txt", "same page");
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    server.config.urlHandlers = launcherTable;
    server.config.flags = SERVER_IPV6_LOOPBACK;
    ASSERT_EQ(server.start(), 0);
    EXPECT_GT(server.config.listenSocket6, 0);
    std::uint16_t port = server.config.port;

    int fd = connectTo6(port);
    ASSERT_GE(fd, 0) << "nobody listens on [::1]";
    sendText(fd, "GET /page.txt HTTP/1.1\r\nHost: [::1]:" + std::to_string(port) + "\r\n\r\n");
    EXPECT_EQ(bodyOf(readAll(fd)), "same page");
    ::close(fd);
    EXPECT_EQ(bodyOf(get(port, "/page.txt")), "same page");
    // An IPv6 client of this machine is a loopback client like any other.
    fd = connectTo6(port);
    ASSERT_GE(fd, 0);
    sendText(fd, "GET /stats HTTP/1.1\r\n\r\n");
    EXPECT_NE(readAll(fd).find("<ClientIP>127.0.0.1</ClientIP>"), std::string::npos);
    ::close(fd);

    // Another program on [::1] at the port the IPv4 side would get: the start fails, leaving
    // nothing bound.
    int rival = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::bind(rival, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(rival, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(rival, reinterpret_cast<sockaddr*>(&address), &length);
    std::uint16_t takenPort = ntohs(address.sin6_port);
    TestServer second;
    second.config.port = takenPort;
    second.config.flags = SERVER_IPV6_LOOPBACK;
    EXPECT_EQ(second.start(), -3);
    EXPECT_EQ(second.config.listenSocket, 0);
    EXPECT_EQ(second.config.listenSocket6, 0);
    EXPECT_EQ(connectTo(takenPort), -1) << "the IPv4 side was released";
    ::close(rival);
    // Without the flag the same port serves on IPv4 alone.
    TestServer ipv4Only;
    ipv4Only.config.port = takenPort;
    EXPECT_EQ(ipv4Only.start(), 0);
    EXPECT_EQ(ipv4Only.config.listenSocket6, 0);
    serverLog = server.diagnostics;
}

struct CommandServer : ::testing::Test {
    TempDir temp;
    TestServer server;
    void SetUp() override {
        commandsRun = 0;
        writeFile(temp / "page.txt", "page");
        setRoot(server.config.documentRoot, temp.path);
        server.config.urlHandlers = launcherTable;
        server.config.flags = SERVER_SECURITY_HEADERS;
        urlHook.store(countingHook);
        ASSERT_EQ(server.start(), 0);
    }
    void TearDown() override { urlHook.store(nullptr); }
    std::string exitWith(const std::string& headers) {
        return roundTrip(
            server.config.port,
            "POST /cmd/exit?uniqueId=LUMIDRA_1 HTTP/1.1\r\nHost: localhost\r\n" + headers + "\r\n");
    }
};

TEST_F(CommandServer, CommandsFromAnotherOriginOrSiteAreRefused) {
    const std::string port = std::to_string(server.config.port);
    const std::string otherPort = std::to_string(server.config.port == 8000 ? 8001 : 8000);
    for (const std::string& foreign : std::vector<std::string>{
             "Origin: http://evil.example\r\n", "Origin: null\r\n",
             "Origin: http://localhost:" + otherPort + "\r\n", "Origin: https://localhost:" + port + "\r\n",
             "Origin: http://localhost:" + port + ".evil.example\r\n",
             "Origin: http://localhost:" + port + "\r\nOrigin: http://evil.example\r\n",
             "Sec-Fetch-Site: cross-site\r\n", "Sec-Fetch-Site: same-site\r\n",
             "Origin: http://localhost:" + port + "\r\nSec-Fetch-Site: cross-site\r\n"}) {
        EXPECT_EQ(exitWith(foreign), GUARDED_FORBIDDEN) << foreign;
        // The statistics are no command: a page of any origin may still ask for them.
        EXPECT_EQ(roundTrip(server.config.port, "GET /stats HTTP/1.1\r\n" + foreign + "\r\n").substr(0, 15),
                  "HTTP/1.1 200 OK");
    }
    EXPECT_EQ(commandsRun, 0);
    EXPECT_NE(server.log().find("] Command from another site refused\n"), std::string::npos);

    // The page's own origin under each loopback name, the address typed by the user, and a
    // client that names no origin at all still command the host.
    for (const std::string& own : std::vector<std::string>{
             "Origin: http://localhost:" + port + "\r\nSec-Fetch-Site: same-origin\r\n",
             "Origin: http://127.0.0.1:" + port + "\r\n", "Origin: http://[::1]:" + port + "\r\n",
             "ORIGIN: HTTP://LOCALHOST:" + port + "\r\n", "Sec-Fetch-Site: none\r\n", ""}) {
        std::string reply = exitWith(own);
        EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK") << own;
        EXPECT_EQ(bodyOf(reply), "OK") << own;
    }
    EXPECT_EQ(commandsRun, 6);
}

TEST_F(CommandServer, EveryAnswerForbidsFramingSniffingAndForeignReads) {
    std::uint16_t port = server.config.port;
    std::vector<std::string> replies = {
        get(port, "/page.txt"),
        get(port, "/missing"),
        get(port, "/stats"),
        exitWith(""),
        roundTrip(port, "GET /page.txt HTTP/1.1\r\nHost: evil.example\r\n\r\n"),
        exitWith("Origin: http://evil.example\r\n"),
    };
    writeFile(temp / "folder/index.htm", "index");
    server.config.flags |= SERVER_DIR_LISTING;
    replies.push_back(get(port, "/folder"));
    for (const std::string& reply : replies) {
        ASSERT_FALSE(reply.empty());
        std::string head = headerOf(reply);
        EXPECT_NE(head.find("\r\n" + SECURITY_LINES + "\r\n"), std::string::npos) << head;
    }
    EXPECT_EQ(bodyOf(replies[0]), "page");

    // A server that is not asked to send them sends none.
    TestServer plain;
    setRoot(plain.config.documentRoot, temp.path);
    ASSERT_EQ(plain.start(), 0);
    EXPECT_EQ(get(plain.config.port, "/page.txt").find("X-Frame-Options"), std::string::npos);
    EXPECT_EQ(get(plain.config.port, "/missing"), NOT_FOUND_REPLY);
    serverLog = server.diagnostics;
}

TEST(Safety, ARequestTrickledInBeyondItsBoundIsCutOff) {
    TempDir temp;
    writeFile(temp / "page.txt", "page");
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    server.config.requestTimeout = 2;
    ASSERT_EQ(server.start(), 0);
    std::uint16_t port = server.config.port;

    int slow = connectTo(port);
    ASSERT_GE(slow, 0);
    timeval shortWait{0, 300000};
    setsockopt(slow, SOL_SOCKET, SO_RCVTIMEO, &shortWait, sizeof shortWait);
    auto started = std::chrono::steady_clock::now();
    const std::string request =
        "GET /page.txt HTTP/1.1\r\nHost: localhost\r\nX-Padding: " + std::string(40, 'x');
    bool closed = false;
    // One byte every 300 ms renews the idle expiry each time; the request's own bound does not
    // move.
    for (std::size_t i = 0; i < request.size() && !closed; ++i) {
        if (!sendText(slow, request.substr(i, 1))) break;
        char byte;
        ssize_t got = ::recv(slow, &byte, 1, 0);
        closed = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(closed) << "the trickle was never cut off";
    EXPECT_GE(seconds, 1.0);
    EXPECT_LE(seconds, 4.5);
    ::close(slow);
    EXPECT_NE(server.log().find("] Http request not received in time\n"), std::string::npos);
    EXPECT_EQ(server.config.expiredCount, 1u);

    // A request that arrives in time is answered as ever.
    EXPECT_EQ(bodyOf(get(port, "/page.txt")), "page");
}

TEST(Safety, OnlyWholeMethodWordsAndRootedPathsAreServed) {
    TempDir temp;
    writeFile(temp / "page.txt", "page");
    writeFile(temp / "age.txt", "wrong file");
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    ASSERT_EQ(server.start(), 0);
    std::uint16_t port = server.config.port;
    for (const char* request : {"GETX /page.txt HTTP/1.1\r\n\r\n", "GETpage.txt HTTP/1.1\r\n\r\n",
                                "POSTX /page.txt HTTP/1.1\r\n\r\n", "GET page.txt HTTP/1.1\r\n\r\n",
                                "POST xage.txt HTTP/1.1\r\n\r\n"})
        EXPECT_EQ(roundTrip(port, request), "") << request;
    EXPECT_NE(server.log().find("] Unsupported method\n"), std::string::npos);
    EXPECT_EQ(bodyOf(roundTrip(port, "GET /page.txt HTTP/1.1\r\n\r\n")), "page");
    EXPECT_EQ(bodyOf(roundTrip(port, "POST /page.txt HTTP/1.1\r\n\r\n")), "page");
}

TEST(Safety, UploadsWithoutAWriterAreRefusedAtOnce) {
    TempDir temp;
    writeFile(temp / "page.txt", "page");
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    ASSERT_EQ(server.start(), 0);
    for (const char* type : {"Content-Type: text/plain; filename=note.txt\r\n",
                             "Content-Type: multipart/form-data; boundary=XyZ\r\n"}) {
        int fd = connectTo(server.config.port);
        ASSERT_GE(fd, 0);
        timeval wait{3, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        // The client keeps its side open: only the server can end this exchange in time.
        sendText(fd, std::string("POST /page.txt HTTP/1.1\r\n") + type + "Content-Length: 5\r\n\r\nhello");
        char byte;
        errno = 0;
        EXPECT_EQ(::recv(fd, &byte, 1, 0), 0) << type << " errno " << errno;
        ::close(fd);
    }
}

TEST(Safety, StatisticsShowOtherClientsPathsWithoutTheirQueries) {
    TempDir temp;
    writeFile(temp / "big.bin", std::string(32 << 20, 'b'));
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    server.config.urlHandlers = launcherTable;
    ASSERT_EQ(server.start(), 0);
    // A client that asks for a large file and reads nothing keeps its request on a slot.
    int reader = ::socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.config.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(reader, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    sendText(reader, "GET /big.bin?uniqueId=LUMIDRA_secret HTTP/1.1\r\n\r\n");
    std::string stats;
    for (int attempt = 0; attempt < 50; ++attempt) {
        stats = get(server.config.port, "/stats");
        if (stats.find("path=\"big.bin") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(reader);
    EXPECT_NE(stats.find("path=\"big.bin\""), std::string::npos) << stats;
    EXPECT_EQ(stats.find("LUMIDRA_secret"), std::string::npos) << stats;
}

}  // namespace
