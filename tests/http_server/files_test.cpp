// Files from the two document roots as a client receives them: header fields byte for byte,
// ranges, default documents, listings, redirects, substitution and padding; curl as a peer.

#include <gtest/gtest.h>
#include <utime.h>

#include <regex>

#include "server_fixture.h"
#include "server_internal.h"

namespace {

constexpr std::int64_t MODIFIED = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT

std::string pattern(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
    return text;
}

void writeDated(const fs::path& path, const std::string& content) {
    writeFile(path, content);
    utimbuf times{MODIFIED, MODIFIED};
    utime(path.c_str(), &times);
}

struct FileServer : ::testing::Test {
    TempDir temp;
    TestServer server;
    std::string css = pattern(1000);
    void SetUp() override {
        writeDated(temp / "first/style.css", css);
        writeFile(temp / "first/7z/index.html", "<html>viewer</html>");
        writeFile(temp / "second/only-second.txt", "from the disc");
        writeFile(temp / "first/docs/index.htm", "htm first");
        writeFile(temp / "first/docs/index.html", "html second");
        writeFile(temp / "first/bare/readme.txt", "no default document");
        writeFile(temp / "first/empty.txt", "");
        writeFile(temp / "first/data.json", "{}");
        setRoot(server.config.documentRoot, temp / "first");
        setRoot(server.config.secondaryRoot, temp / "second");
        server.config.flags = SERVER_NO_ACCEPT_RANGES;
    }
    std::uint16_t port() const { return server.config.port; }
};

TEST_F(FileServer, CssFileByteForByte) {
    ASSERT_EQ(server.start(), 0);
    std::string expected =
        "HTTP/1.1 200 OK\r\nServer: Lumiserv\r\nCache-control: no-cache\r\nPragma: no-cache\r\n"
        "Connection: keep-alive\r\nLast-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\n"
        "Content-Type: text/css\r\nContent-Length: 1000\r\n\r\n" +
        css;
    EXPECT_EQ(get(port(), "/style.css"), expected);
    EXPECT_EQ(get(port(), "/style.css", "Connection: close\r\n").find("Connection: close\r\n"), 78u);
}

TEST_F(FileServer, AcceptRangesUnlessSwitchedOff) {
    server.config.flags = 0;
    ASSERT_EQ(server.start(), 0);
    EXPECT_NE(headerOf(get(port(), "/style.css")).find("\r\nAccept-Ranges: bytes\r\n"), std::string::npos);
}

TEST_F(FileServer, RangesRunToTheEndOfTheFile) {
    ASSERT_EQ(server.start(), 0);
    std::string partial = get(port(), "/style.css", "Range: bytes=100-199\r\n");
    EXPECT_EQ(partial.rfind("HTTP/1.1 206 Partial Content\r\n", 0), 0u) << partial;
    EXPECT_NE(headerOf(partial).find("Content-Length: 900\r\n"), std::string::npos);
    EXPECT_EQ(headerOf(partial).find("Content-Range"), std::string::npos);
    EXPECT_EQ(bodyOf(partial), css.substr(100));

    // A start at or beyond the end gives the whole file with status 200.
    for (const char* range :
         {"Range: bytes=1000-\r\n", "Range: bytes=5000-6000\r\n", "Range: bytes=99999999999-\r\n"}) {
        std::string whole = get(port(), "/style.css", range);
        EXPECT_EQ(whole.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << range;
        EXPECT_NE(headerOf(whole).find("Content-Length: 1000\r\n"), std::string::npos) << range;
        EXPECT_EQ(bodyOf(whole), css) << range;
    }
}

TEST_F(FileServer, TwoRootsAndTheNotFoundPage) {
    ASSERT_EQ(server.start(), 0);
    EXPECT_EQ(bodyOf(get(port(), "/7z/index.html?uniqueId=abc")), "<html>viewer</html>");
    EXPECT_EQ(bodyOf(get(port(), "/only-second.txt")), "from the disc");
    EXPECT_EQ(get(port(), "/nowhere.txt"), NOT_FOUND_REPLY);
    EXPECT_EQ(get(port(), "/bare/"), NOT_FOUND_REPLY);  // no listings unless switched on
    EXPECT_NE(server.log().find("] Http file not found\n"), std::string::npos);
    EXPECT_NE(server.log().find("] request path: 7z/index.html?uniqueId=abc\n"), std::string::npos);
}

TEST_F(FileServer, DefaultDocumentsTypesAndEmptyFiles) {
    ASSERT_EQ(server.start(), 0);
    std::string docs = get(port(), "/docs/");
    EXPECT_EQ(bodyOf(docs), "htm first");
    EXPECT_NE(docs.find("Content-Type: text/html\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(get(port(), "/docs")), "htm first");
    std::string json = get(port(), "/data.json");
    EXPECT_NE(json.find("Content-Type: application/octet-stream\r\nContent-Length: 2\r\n"),
              std::string::npos);
    std::string empty = get(port(), "/empty.txt");
    EXPECT_EQ(empty.find("Content-Length"), std::string::npos) << empty;
    EXPECT_EQ(bodyOf(empty), "");
}

TEST_F(FileServer, ListingEscapesNamesAndRedirectsBareDirectories) {
    server.config.flags |= SERVER_DIR_LISTING;
    writeFile(temp / "first/bare/<b>&'x\".txt", "x");
    fs::create_directories(temp / "first/bare/sub");
    ASSERT_EQ(server.start(), 0);
    std::string listing = get(port(), "/bare/");
    EXPECT_NE(listing.find("Content-Type: text/html\r\n"), std::string::npos);
    std::string body = bodyOf(listing);
    EXPECT_EQ(body.rfind("<html><head><title>/bare/</title></head><body><table border=0 cellpadding=0 "
                         "cellspacing=0 width=100%><h2>Directory of /bare/</h2><hr>",
                         0),
              0u)
        << body;
    EXPECT_NE(body.find("<a href='&lt;b&gt;&amp;&#39;x&quot;.txt'>&lt;b&gt;&amp;&#39;x&quot;.txt</a>"),
              std::string::npos)
        << body;
    EXPECT_EQ(body.find("<b>"), std::string::npos);
    EXPECT_NE(body.find("<a href='readme.txt'>readme.txt</a></td><td width=15%>0 KB</td><td "
                        "width=15%>text/plain</td><td>"),
              std::string::npos);
    EXPECT_NE(body.find("<a href='sub/'>sub</a></td><td width=15%>&lt;dir&gt;</td>"), std::string::npos);
    EXPECT_NE(body.find("<a href='../'>..</a>"), std::string::npos);
    EXPECT_NE(body.find("</table><hr><i>Directory content generated by Lumiserv</i></body></html>"),
              std::string::npos);
    std::size_t announced = std::stoul(listing.substr(listing.find("Content-Length: ") + 16));
    EXPECT_EQ(announced, body.size());

    EXPECT_EQ(get(port(), "/bare"),
              "HTTP/1.1 301 Moved Permanently\r\nServer: Lumiserv\r\nLocation: bare/\r\n\r\n");
    EXPECT_EQ(get(port(), "/bare/sub?x=1"),
              "HTTP/1.1 301 Moved Permanently\r\nServer: Lumiserv\r\nLocation: sub/?x=1\r\n\r\n");
}

TEST_F(FileServer, LargeListingMovesToItsOwnBuffer) {
    server.config.flags |= SERVER_DIR_LISTING;
    for (int i = 0; i < 700; ++i)
        writeFile(temp / ("first/many/file-with-a-rather-long-name-number-" + std::to_string(i) + ".bin"),
                  "");
    ASSERT_EQ(server.start(), 0);
    std::string listing = get(port(), "/many/");
    std::string body = bodyOf(listing);
    EXPECT_GT(body.size(), 131072u);
    EXPECT_NE(body.find("number-699.bin"), std::string::npos);
    EXPECT_NE(listing.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
}

int replaceWithStar(SubstituteTag* tag) {
    if (std::string(tag->name) == "keep") return -1;
    tag->position[0] = '*';
    return 1;
}

TEST_F(FileServer, SubstitutionShrinksAndPadsToTheAnnouncedLength) {
    server.config.onSubstitute = replaceWithStar;
    writeFile(temp / "first/page.html", "a$$who$$b$$keep$$c$$open");
    ASSERT_EQ(server.start(), 0);
    std::string reply = get(port(), "/page.html");
    EXPECT_NE(reply.find("Content-Length: 24\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(reply), std::string("a*b$$keep$$c$$open") + std::string(6, '\0'));
    // Only HTML and script files are substituted.
    writeFile(temp / "first/plain.txt", "a$$who$$b");
    EXPECT_EQ(bodyOf(get(port(), "/plain.txt")), "a$$who$$b");
}

TEST_F(FileServer, LargeFileArrivesWhole) {
    std::string big;
    std::mt19937 random(7);
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) big.push_back(static_cast<char>(random()));
    writeFile(temp / "second/big.bin", big);
    ASSERT_EQ(server.start(), 0);
    std::string reply = get(port(), "/big.bin");
    EXPECT_NE(reply.find("Content-Length: " + std::to_string(big.size()) + "\r\n"), std::string::npos);
    EXPECT_TRUE(bodyOf(reply) == big);
    server.stop();
    EXPECT_EQ(server.config.fileSentCount, 1u);
    EXPECT_GE(server.config.bytesSent, big.size());
}

TEST_F(FileServer, SpeedLimitStillDeliversEveryByte) {
    server.config.maxSpeedKbps = 150;
    std::string big = pattern(300000);
    writeFile(temp / "first/limited.bin", big);
    ASSERT_EQ(server.start(), 0);
    std::string reply = get(port(), "/limited.bin");
    EXPECT_NE(reply.find("Content-Length: 300000\r\n"), std::string::npos);
    EXPECT_TRUE(bodyOf(reply) == big);
}

TEST_F(FileServer, CurlSeesTheSameHeadersAndBodies) {
    if (runCommand("command -v curl").empty()) GTEST_SKIP() << "curl is not installed";
    ASSERT_EQ(server.start(), 0);
    std::string base = "http://127.0.0.1:" + std::to_string(port());
    std::string headers = runCommand("curl -s -D - -o /dev/null " + base + "/style.css");
    EXPECT_NE(headers.find("HTTP/1.1 200 OK"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Content-Type: text/css"), std::string::npos);
    EXPECT_NE(headers.find("Content-Length: 1000"), std::string::npos);
    EXPECT_EQ(runCommand("curl -s " + base + "/style.css"), css);
    EXPECT_EQ(runCommand("curl -s -r 100-199 " + base + "/style.css"), css.substr(100));
    EXPECT_EQ(runCommand("curl -s -o /dev/null -w '%{http_code}' -r 100-199 " + base + "/style.css"), "206");
    EXPECT_EQ(runCommand("curl -s -o /dev/null -w '%{http_code}' " + base + "/none"), "404");
    EXPECT_EQ(runCommand("curl -s " + base + "/only-second.txt"), "from the disc");
}

TEST(Responses, MimeTableAndReasonPhrases) {
    EXPECT_EQ(mimeIndexForExtension("JS"), 6);
    EXPECT_EQ(mimeIndexForExtension("ts"), 18);
    EXPECT_EQ(mimeIndexForExtension("m3u8"), 23);
    EXPECT_EQ(mimeIndexForExtension("HTML"), 1);
    EXPECT_EQ(mimeIndexForExtension("html?x"), 1);
    EXPECT_EQ(mimeIndexForExtension("htm"), 1);
    EXPECT_EQ(mimeIndexForExtension("htm?x"), 21);
    EXPECT_EQ(mimeIndexForExtension("264"), 16);
    for (const char* unknown : {"json", "svg", "wasm", "jpeg", "j", "", "mpeg4"})
        EXPECT_EQ(mimeIndexForExtension(unknown), 21) << unknown;
    EXPECT_STREQ(mimeTypeText(mimeIndexForExtension("m3u8")), "application/x-mpegURL");
    EXPECT_STREQ(mimeTypeText(99), "application/octet-stream");

    ServerConfig server{};
    server.flags = SERVER_NO_ACCEPT_RANGES;
    ConnectionSlot slot{};
    slot.status = 999;
    char header[600];
    int length = buildResponseHeader(&server, &slot, 0, header, sizeof header);
    EXPECT_EQ(std::string(header, length),
              "HTTP/1.1 999 \r\nServer: Lumiserv\r\nCache-control: no-cache\r\nPragma: no-cache\r\n"
              "Connection: keep-alive\r\nContent-Type: application/octet-stream\r\n\r\n");
    slot.status = 402;
    slot.cseq = 5;
    slot.contentLength = 12;
    slot.flags = FLAG_CLOSE;
    slot.contentTypeText = "image/x-own";
    length = buildResponseHeader(&server, &slot, 0, header, sizeof header);
    EXPECT_EQ(std::string(header, length),
              "HTTP/1.1 402 \r\nServer: Lumiserv\r\nCache-control: no-cache\r\nPragma: no-cache\r\n"
              "Connection: close\r\nCSeq: 5\r\nContent-Type: image/x-own\r\nContent-Length: 12\r\n\r\n");
    // However long the type, the header stays within 512 bytes.
    std::string longType(2000, 't');
    slot.contentTypeText = longType.c_str();
    EXPECT_LE(buildResponseHeader(&server, &slot, 0, header, sizeof header), 511);

    char date[64];
    formatHttpDate(0, date, sizeof date);
    EXPECT_STREQ(date, "Thu, 01 Jan 1970 00:00:00 GMT");
    formatHttpDate(951782400, date, sizeof date);  // a leap day
    EXPECT_STREQ(date, "Tue, 29 Feb 2000 00:00:00 GMT");
}

}  // namespace
