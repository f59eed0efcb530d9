// Large files on their way out: bytes sent from an offset, files that shrink or grow while they
// are sent, and clients that hang up halfway, none of which may end the process.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <random>

#include "server_fixture.h"

namespace {

constexpr std::size_t BIG = 32u * 1024 * 1024;  // more than loopback buffers hold in flight

std::string randomBytes(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

struct FileDelivery : ::testing::Test {
    TempDir temp;
    TestServer server;
    std::string big = randomBytes(BIG, 11);
    void SetUp() override {
        writeFile(temp / "root/big.bin", big);
        setRoot(server.config.documentRoot, temp / "root");
        server.config.flags = SERVER_NO_ACCEPT_RANGES;
        ASSERT_EQ(server.start(), 0);
    }
    std::uint16_t port() const { return server.config.port; }

    // Sends the request and reads until the header is complete; the socket stays open.
    int startDownload(std::string* received) {
        int fd = connectTo(port());
        if (fd < 0 || !sendText(fd, "GET /big.bin HTTP/1.1\r\nHost: localhost\r\n\r\n")) return -1;
        char chunk[4096];
        while (received->find("\r\n\r\n") == std::string::npos) {
            ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
            if (count <= 0) break;
            received->append(chunk, static_cast<std::size_t>(count));
        }
        return fd;
    }
};

TEST_F(FileDelivery, LargeFileFromAnOffsetAndWhole) {
    std::string whole = get(port(), "/big.bin");
    EXPECT_NE(whole.find("Content-Length: " + std::to_string(BIG) + "\r\n"), std::string::npos);
    EXPECT_TRUE(bodyOf(whole) == big);

    const std::size_t start = 1000001;
    std::string tail = get(port(), "/big.bin", "Range: bytes=" + std::to_string(start) + "-\r\n");
    EXPECT_EQ(tail.rfind("HTTP/1.1 206 Partial Content\r\n", 0), 0u);
    EXPECT_NE(tail.find("Content-Length: " + std::to_string(BIG - start) + "\r\n"), std::string::npos);
    EXPECT_TRUE(bodyOf(tail) == big.substr(start));
    server.stop();
    EXPECT_EQ(server.config.fileSentCount, 2u);
    std::uint64_t headers = whole.size() - bodyOf(whole).size() + tail.size() - bodyOf(tail).size();
    EXPECT_EQ(server.config.bytesSent, static_cast<std::uint32_t>(BIG + (BIG - start) + headers));
}

TEST_F(FileDelivery, FileThatShrinksIsPaddedToTheAnnouncedLength) {
    std::string received;
    int fd = startDownload(&received);
    ASSERT_GE(fd, 0);
    const std::size_t kept = 1024 * 1024;
    fs::resize_file(temp / "root/big.bin", kept);
    received += readAll(fd);
    ::close(fd);

    std::string body = bodyOf(received);
    ASSERT_EQ(body.size(), BIG);
    EXPECT_TRUE(body.compare(0, kept, big, 0, kept) == 0);
    // Bytes still in flight at the cut may be the file's old ones or already zero (data sent
    // straight from the file reflects the cut); beyond them everything is zero filling.
    std::size_t foreign = 0;
    for (std::size_t i = kept; i < BIG; ++i)
        if (body[i] != '\0' && body[i] != big[i]) ++foreign;
    EXPECT_EQ(foreign, 0u);
    EXPECT_LT(body.find_last_not_of('\0'), BIG / 2);
}

TEST_F(FileDelivery, FileThatGrowsIsSentToItsNewEnd) {
    std::string received;
    int fd = startDownload(&received);
    ASSERT_GE(fd, 0);
    std::string more = randomBytes(4096, 12);
    {
        std::ofstream out(temp / "root/big.bin", std::ios::binary | std::ios::app);
        out << more;
    }
    received += readAll(fd);
    ::close(fd);
    EXPECT_NE(received.find("Content-Length: " + std::to_string(BIG) + "\r\n"), std::string::npos);
    EXPECT_TRUE(bodyOf(received) == big + more);
}

TEST_F(FileDelivery, ClientsHangingUpHalfwayLeaveTheServerServing) {
    for (int i = 0; i < 4; ++i) {
        std::string received;
        int fd = startDownload(&received);
        ASSERT_GE(fd, 0);
        // Unread data makes the close a reset; the server's next send into it fails.
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string reply = get(port(), "/big.bin");
    EXPECT_TRUE(bodyOf(reply) == big);
    EXPECT_EQ(server.config.clientCount, 0);
}

}  // namespace
