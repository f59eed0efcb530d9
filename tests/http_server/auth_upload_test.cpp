// Basic authentication, multipart and single-file uploads, and where uploaded files may land.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <vector>

#include "server_fixture.h"
#include "server_internal.h"

namespace {

const char* REQUIRED =
    "HTTP/1.1 401 Authorization Required\r\nWWW-Authenticate: Basic realm=\"Login\"\r\n"
    "Content-Length: 23\r\nContent-Type: text/html\r\n\r\nAuthentication required";
const char* FAILED_LOGIN_REPLY =
    "HTTP/1.1 401 Authorization Required\r\nWWW-Authenticate: Basic realm=\"Login\"\r\n"
    "Content-Length: 21\r\nContent-Type: text/html\r\n\r\nAuthentication failed";

TEST(Authentication, PrefixesCredentialsAndSpellings) {
    TempDir temp;
    writeFile(temp / "admin/x.txt", "protected");
    writeFile(temp / "open.txt", "open");
    std::string longUser(20, 'u');
    std::string longPassword(20, 'p');  // "user:password" of 41 characters does not fit the line
    AuthEntry entries[] = {{"admin", "alice", "secret", nullptr, {}},
                           {"wide", longUser.c_str(), longPassword.c_str(), nullptr, {}},
                           {nullptr, nullptr, nullptr, nullptr, {}}};
    TestServer server;
    setRoot(server.config.documentRoot, temp.path);
    server.config.authEntries = entries;
    ASSERT_EQ(server.start(), 0);
    std::uint16_t port = server.config.port;

    EXPECT_EQ(get(port, "/admin/x.txt"), REQUIRED);
    EXPECT_EQ(get(port, "/admin/x.txt", "Authorization: Basic d3Jvbmc6d3Jvbmc=\r\n"), FAILED_LOGIN_REPLY);
    EXPECT_EQ(bodyOf(get(port, "/admin/x.txt", "Authorization: Basic YWxpY2U6c2VjcmV0\r\n")), "protected");
    EXPECT_STREQ(entries[0].credentialLine, "Basic YWxpY2U6c2VjcmV0\r\n");
    EXPECT_EQ(bodyOf(get(port, "/open.txt")), "open");
    EXPECT_EQ(entries[1].credentialLine[0], '\0');
    EXPECT_EQ(get(port, "/wide/x"), NOT_FOUND_REPLY);  // skipped entry protects nothing
    EXPECT_NE(server.log().find("] Authorization Required\n"), std::string::npos);

    // Other spellings of the protected folder are protected too.
    for (const char* path : {"/%61dmin/x.txt", "/./admin/x.txt", "//admin/x.txt", "/ADMIN/x.txt",
                             "/admin%2fx.txt", "/~admin/x.txt"})
        EXPECT_EQ(get(port, path), REQUIRED) << path;

    EXPECT_EQ(base64Encode("a", 1), "YQ==");
    EXPECT_EQ(base64Encode("ab", 2), "YWI=");
    EXPECT_EQ(base64Encode("abc", 3), "YWJj");
}

// What the form callback and the upload callback saw.
std::vector<std::pair<std::string, std::string>> formFields;
std::string formPath;
int formCalls = 0;
struct Piece {
    int state;
    std::string data;
};
std::vector<Piece> pieces;

int recordForm(const FormFieldList* form) {
    ++formCalls;
    formPath = form->path ? form->path : "";
    formFields.clear();
    for (int i = 0; i < form->count; ++i)
        formFields.emplace_back(form->fields[i].name, form->fields[i].value);
    return 0;
}

int recordPieces(UploadState* upload, const char* data, std::int32_t length) {
    if (data) pieces.push_back({upload->state, std::string(data, static_cast<std::size_t>(length))});
    return 0;
}

struct Uploads : ::testing::Test {
    TempDir temp;
    TestServer server;
    fs::path previous = fs::current_path();
    void SetUp() override {
        formFields.clear();
        pieces.clear();
        formPath.clear();
        formCalls = 0;
        uploadDirectory.clear();
        fs::create_directories(temp / "cwd");
        fs::create_directories(temp / "store");
        fs::current_path(temp / "cwd");
        setRoot(server.config.documentRoot, temp / "root");
        writeFile(temp / "root/done.html", "thanks");
        server.config.onFormComplete = recordForm;
        server.config.onUploadData = uploadWriter;
    }
    void TearDown() override {
        uploadDirectory.clear();
        fs::current_path(previous);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(server.config.port) + path;
    }
    std::string multipart(const std::string& boundary, const std::string& parts) const {
        return "POST /done.html HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
               "\r\nContent-Length: " + std::to_string(parts.size()) + "\r\n\r\n" + parts;
    }
};

TEST_F(Uploads, CurlFormFieldsAndFile) {
    if (runCommand("command -v curl").empty()) GTEST_SKIP() << "curl is not installed";
    uploadDirectory = (temp / "store").string();
    std::string content;
    for (int i = 0; i < 300000; ++i) content.push_back(static_cast<char>(i * 7 % 251));
    writeFile(temp / "photo.dcm", content);
    ASSERT_EQ(server.start(), 0);
    std::string reply = runCommand("curl -s -F a=1 -F b=two -F 'file=@" + (temp / "photo.dcm").string() +
                                   "' -F c=three " + url("/done.html"));
    EXPECT_EQ(reply, "thanks");
    EXPECT_EQ(formCalls, 1);
    EXPECT_EQ(formPath, "done.html");
    EXPECT_EQ(formFields, (std::vector<std::pair<std::string, std::string>>{
                              {"a", "1"}, {"b", "two"}, {"file", "photo.dcm"}, {"c", "three"}}));
    EXPECT_TRUE(readFile(temp / "store/photo.dcm") == content);
}

TEST_F(Uploads, LargeFilePartArrivesInHalfBufferPieces) {
    server.config.onUploadData = recordPieces;
    std::string content(200000, 'z');
    for (std::size_t i = 0; i < content.size(); i += 1000) content[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(server.start(), 0);
    std::string parts =
        "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"big.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        content +
        "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"small\"; filename=\"s.txt\"\r\n\r\n"
        "tiny\r\n--XyZ--\r\n";
    EXPECT_EQ(bodyOf(roundTrip(server.config.port, multipart("XyZ", parts))), "thanks");
    ASSERT_GE(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].state, 1);
    EXPECT_EQ(pieces[0].data.size(), 65536u);
    std::string joined;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (i > 0 && i + 2 < pieces.size()) {
            EXPECT_EQ(pieces[i].state, 0);
            EXPECT_EQ(pieces[i].data.size(), 65536u);
        }
        joined += pieces[i].data;
    }
    EXPECT_EQ(pieces[pieces.size() - 2].state, 2);
    EXPECT_TRUE(joined == content);
    EXPECT_EQ(pieces.back().state, 2);  // the small file in one call
    EXPECT_EQ(pieces.back().data, "tiny");
    EXPECT_EQ(formCalls, 1);
}

TEST_F(Uploads, FieldValuesAndMalformedForms) {
    ASSERT_EQ(server.start(), 0);
    std::string parts =
        "preamble\r\n--b1\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nline one\r\nline two\r\n"
        "--b1\r\nContent-Disposition: form-data; name=plain\r\n\r\nv\r\n--b1--\r\n";
    EXPECT_EQ(bodyOf(roundTrip(server.config.port, multipart("b1", parts))), "thanks");
    EXPECT_EQ(formFields, (std::vector<std::pair<std::string, std::string>>{{"note", "line one\r\nline two"},
                                                                            {"plain", "v"}}));

    // A boundary longer than the upload record holds refuses the request.
    std::string longBoundary(78, 'q');
    EXPECT_EQ(roundTrip(server.config.port, multipart(longBoundary, "--" + longBoundary + "--\r\n")), "");
    std::string fits(77, 'q');
    EXPECT_EQ(
        bodyOf(roundTrip(
            server.config.port,
            multipart(fits, "--" + fits + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\n1\r\n--" +
                                fits + "--\r\n"))),
        "thanks");

    // A form posted to "/" is answered with the redirect alone.
    std::string root =
        "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=r\r\n\r\n"
        "--r\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--r--\r\n";
    EXPECT_EQ(roundTrip(server.config.port, root),
              "HTTP/1.1 301 Moved Permanently\r\nServer: Lumiserv\r\nLocation: /\r\n\r\n");

    // A part header that never ends fills the buffer and closes the connection.
    std::string endless = "--e\r\nContent-Disposition: form-data; name=\"x\"\r\n" + std::string(140000, 'h');
    EXPECT_EQ(roundTrip(server.config.port, multipart("e", endless)), "");
    EXPECT_EQ(formCalls, 3);
}

TEST_F(Uploads, WithoutUploadDirectoryNothingIsWritten) {
    ASSERT_EQ(server.start(), 0);
    std::string name = "lumiserv-upload-probe-" + std::to_string(::getpid()) + ".txt";
    std::string parts = "--w\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + name +
                        "\"\r\n\r\ndata\r\n--w--\r\n";
    EXPECT_EQ(bodyOf(roundTrip(server.config.port, multipart("w", parts))), "thanks");
    EXPECT_FALSE(fs::exists("/" + name));
    EXPECT_FALSE(fs::exists(temp / "cwd" / name));
    EXPECT_TRUE(fs::is_empty(temp / "cwd"));
}

TEST_F(Uploads, ClientFileNamesStayInTheUploadDirectory) {
    uploadDirectory = (temp / "store").string();
    ASSERT_EQ(server.start(), 0);
    const char* names[] = {
        "../escape1.txt", "..\\escape2.txt", "/tmp/../escape3.txt", "C:escape4.txt", "..", ".", ""};
    for (const char* name : names) {
        std::string parts = std::string("--n\r\nContent-Disposition: form-data; name=\"f\"; filename=\"") +
                            name + "\"\r\n\r\npayload\r\n--n--\r\n";
        roundTrip(server.config.port, multipart("n", parts));
    }
    EXPECT_EQ(readFile(temp / "store/escape1.txt"), "payload");
    EXPECT_EQ(readFile(temp / "store/escape2.txt"), "payload");
    EXPECT_EQ(readFile(temp / "store/escape3.txt"), "payload");
    EXPECT_EQ(readFile(temp / "store/escape4.txt"), "payload");
    int stored = 0;
    for (const auto& entry : fs::directory_iterator(temp / "store")) {
        (void)entry;
        ++stored;
    }
    EXPECT_EQ(stored, 4);
    EXPECT_FALSE(fs::exists(temp / "escape1.txt"));
    EXPECT_TRUE(fs::is_empty(temp / "cwd"));
}

TEST_F(Uploads, SingleFileUploadEndsWhenTheClientCloses) {
    uploadDirectory = (temp / "store").string();
    ASSERT_EQ(server.start(), 0);
    std::string content(150000, 's');
    int fd = connectTo(server.config.port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendText(
        fd, "POST /put HTTP/1.1\r\nContent-Type: application/octet-stream; filename=single.bin\r\n\r\n" +
                content));
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(readAll(fd), "");
    ::close(fd);
    for (int i = 0; i < 50 && readFile(temp / "store/single.bin").size() < content.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(readFile(temp / "store/single.bin") == content);
}

TEST(UploadWriter, ReturnsFailureWithoutDirectoryAndClosesOnLastData) {
    uploadDirectory.clear();
    UploadState upload{};
    std::snprintf(upload.fileName, sizeof upload.fileName, "x.bin");
    EXPECT_EQ(uploadWriter(&upload, "abc", 3), -1);
    EXPECT_EQ(upload.file, 0);
    TempDir temp;
    uploadDirectory = temp.path.string();
    upload.state = 1;
    EXPECT_EQ(uploadWriter(&upload, "abc", 3), 0);
    EXPECT_GT(upload.file, 0);
    upload.state = 2;
    EXPECT_EQ(uploadWriter(&upload, "def", 3), 0);
    EXPECT_EQ(upload.file, 0);
    EXPECT_EQ(readFile(temp / "x.bin"), "abcdef");
    uploadDirectory = std::string(300, 'd');
    EXPECT_EQ(uploadWriter(&upload, "abc", 3), -1);
    uploadDirectory.clear();
}

}  // namespace
