// The load client must count only complete, correct answers: a benchmark that times refusals,
// cut-off bodies or wrong files as successes measures nothing.

#include <gtest/gtest.h>

#include <atomic>

#include "fetch_client.h"
#include "http_server/server_fixture.h"

namespace {

FetchPlan planFor(std::uint16_t port, std::vector<std::string> paths, long long requests, int clients) {
    FetchPlan plan;
    plan.port = port;
    plan.paths = std::move(paths);
    plan.requests = requests;
    plan.clients = clients;
    plan.timeoutMs = 5000;
    return plan;
}

// Answers every connection with the same canned bytes and closes it.
struct CannedServer {
    int listener = -1;
    std::uint16_t port = 0;
    std::string answer;
    std::atomic<bool> stopping{false};
    std::thread loop;

    explicit CannedServer(std::string text) : answer(std::move(text)) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 16);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        loop = std::thread([this] {
            for (;;) {
                int client = ::accept(listener, nullptr, nullptr);
                if (client < 0 || stopping) {
                    if (client >= 0) ::close(client);
                    return;
                }
                char request[1024];
                ::recv(client, request, sizeof request, 0);
                sendText(client, answer);
                ::close(client);
            }
        });
    }
    ~CannedServer() {
        stopping = true;
        ::shutdown(listener, SHUT_RDWR);
        ::close(listener);
        loop.join();
    }
};

TEST(ResponseHead, StatusLengthAndCompleteness) {
    std::string head = "HTTP/1.1 206 Partial Content\r\nserver: x\r\ncontent-length:  1234\r\n\r\nbody";
    ResponseHead parsed = parseResponseHead(head.data(), head.size());
    EXPECT_TRUE(parsed.complete);
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.status, 206);
    EXPECT_EQ(parsed.contentLength, 1234);
    EXPECT_EQ(parsed.headLength, head.size() - 4);

    // Cut before the blank line: not complete yet, whatever it holds.
    EXPECT_FALSE(parseResponseHead(head.data(), head.find("\r\n\r\n") + 3).complete);

    std::string noLength = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
    parsed = parseResponseHead(noLength.data(), noLength.size());
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.contentLength, -1);

    for (std::string bad : {"SSH-2.0-OpenSSH\r\n\r\n", "HTTP/1.1 2x0 OK\r\n\r\n", "HTTP/1.1\r\n\r\n"}) {
        parsed = parseResponseHead(bad.data(), bad.size());
        EXPECT_TRUE(parsed.complete) << bad;
        EXPECT_FALSE(parsed.valid) << bad;
    }
}

TEST(FetchPlan, CountsWholeFilesFromARealServer) {
    TempDir temp;
    std::string content(10000, 'x');
    content[9999] = 'y';
    writeFile(temp / "root/a.bin", content);
    writeFile(temp / "root/b.bin", content);
    TestServer server;
    setRoot(server.config.documentRoot, temp / "root");
    ASSERT_EQ(server.start(), 0);

    FetchPlan plan = planFor(server.config.port, {"/a.bin", "/b.bin"}, 50, 4);
    plan.expectBytes = 10000;
    FetchResult result = runFetchPlan(plan);
    EXPECT_EQ(result.ok, 50);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(result.bodyBytes, 50 * 10000);
    EXPECT_EQ(result.firstError, "");
    server.stop();
    EXPECT_EQ(server.config.requestCount, 50u);

    // The same plan against a server that no longer listens fails every request.
    result = runFetchPlan(plan);
    EXPECT_EQ(result.ok, 0);
    EXPECT_EQ(result.failed, 50);
    EXPECT_EQ(result.firstError.rfind("connect: ", 0), 0u) << result.firstError;
}

TEST(FetchPlan, WrongStatusOrSizeIsAFailure) {
    TempDir temp;
    writeFile(temp / "root/a.bin", std::string(10000, 'x'));
    TestServer server;
    setRoot(server.config.documentRoot, temp / "root");
    ASSERT_EQ(server.start(), 0);

    FetchResult missing = runFetchPlan(planFor(server.config.port, {"/missing.bin"}, 3, 1));
    EXPECT_EQ(missing.ok, 0);
    EXPECT_EQ(missing.failed, 3);
    EXPECT_NE(missing.firstError.find("status 404"), std::string::npos) << missing.firstError;

    FetchPlan plan = planFor(server.config.port, {"/a.bin"}, 2, 1);
    plan.expectBytes = 9999;
    FetchResult wrongSize = runFetchPlan(plan);
    EXPECT_EQ(wrongSize.ok, 0);
    EXPECT_EQ(wrongSize.failed, 2);
    EXPECT_EQ(wrongSize.bodyBytes, 0);
    EXPECT_NE(wrongSize.firstError.find("expected 9999"), std::string::npos) << wrongSize.firstError;
}

TEST(FetchPlan, CutOffAnswersAreFailures) {
    CannedServer shortBody("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'x'));
    FetchResult result = runFetchPlan(planFor(shortBody.port, {"/x"}, 3, 1));
    EXPECT_EQ(result.ok, 0);
    EXPECT_EQ(result.failed, 3);
    EXPECT_NE(result.firstError.find("body of 50 bytes, announced 100"), std::string::npos)
        << result.firstError;

    CannedServer halfHead("HTTP/1.1 200 OK\r\nContent-Le");
    result = runFetchPlan(planFor(halfHead.port, {"/x"}, 2, 2));
    EXPECT_EQ(result.failed, 2);
    EXPECT_NE(result.firstError.find("head was complete"), std::string::npos) << result.firstError;

    // Without a length the body runs to the close, and that is a whole answer.
    CannedServer unannounced("HTTP/1.0 200 OK\r\n\r\n" + std::string(70, 'x'));
    result = runFetchPlan(planFor(unannounced.port, {"/x"}, 4, 2));
    EXPECT_EQ(result.ok, 4);
    EXPECT_EQ(result.bodyBytes, 4 * 70);
}

TEST(FetchPlan, NothingToDoIsReportedNotTimed) {
    FetchResult result = runFetchPlan(planFor(1, {}, 5, 1));
    EXPECT_EQ(result.ok + result.failed, 0);
    EXPECT_EQ(result.firstError, "nothing to fetch");
}

}  // namespace
