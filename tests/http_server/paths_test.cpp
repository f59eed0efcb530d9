// Request paths to local paths: the described literal forms, and a table of hostile spellings
// that must never reach a file outside the document root or the current directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include "server_fixture.h"
#include "server_internal.h"

namespace {

std::string localPath(const char* root, const char* request, bool* endedWithSlash = nullptr,
                      std::string* extension = nullptr) {
    LocalPath local;
    if (!composeLocalPath(root, request, &local)) return "<refused>";
    if (endedWithSlash) *endedWithSlash = local.endedWithSlash;
    if (extension) *extension = local.extension >= 0 ? local.text + local.extension : "";
    return std::string(local.text, local.length);
}

TEST(LocalPaths, LiteralFormsKeepTheirDescribedResults) {
    EXPECT_EQ(localPath("/r", "a/../b"), "/r/a//b");
    EXPECT_EQ(localPath("/r", "../x"), "/r/./x");
    EXPECT_EQ(localPath("/r/", "a//b///c"), "/r/a/b/c");
    EXPECT_EQ(localPath("/r", "7z/index.html?uniqueId=abc"), "/r/7z/index.html");
    EXPECT_EQ(localPath("/r", "my+file%20name.txt"), "/r/my file name.txt");
    EXPECT_EQ(localPath("/r", "cut%2"), "/r/cut");
    EXPECT_EQ(localPath("/r", "~dir/f.txt"), "dir/f.txt");
    EXPECT_EQ(localPath("", "x"), "<refused>");
    bool slash = false;
    std::string extension;
    EXPECT_EQ(localPath("/r", "dir/", &slash), "/r/dir");
    EXPECT_TRUE(slash);
    EXPECT_EQ(localPath("/r", "a/b.tar..gz", &slash, &extension), "/r/a/b.tar.gz");
    EXPECT_FALSE(slash);
    EXPECT_EQ(extension, "gz");
    // Never longer than a local path may be.
    std::string longPath(600, 'x');
    EXPECT_EQ(localPath("/r", longPath.c_str()).size(), 259u);
}

TEST(LocalPaths, DecodedParentStepsAreDroppedToo) {
    EXPECT_EQ(localPath("/r", "a/%2e%2e/b"), "/r/a//b");
    EXPECT_EQ(localPath("/r", "%2e%2e/x"), "/r/./x");
    EXPECT_EQ(localPath("/r", "a/.%2e/b"), "/r/a//b");
    EXPECT_EQ(localPath("/r", "a%2F..%2Fb"), "/r/a//b");
    EXPECT_EQ(localPath("/r", "a\\..\\b"), "/r/a//b");
    EXPECT_EQ(localPath("/r", "a%5c..%5cb"), "/r/a//b");
    EXPECT_EQ(localPath("/r", "~/etc/passwd"), "etc/passwd");
    EXPECT_EQ(localPath("/r", "~%2fetc/passwd"), "etc/passwd");
    EXPECT_EQ(localPath("/r", "~C:/Windows/win.ini"), "<refused>");
}

// A document root and a current directory, each with a secret beside it.
struct Traversal : ::testing::Test {
    TempDir temp;
    TestServer server;
    fs::path previous = fs::current_path();
    void SetUp() override {
        writeFile(temp / "secret.txt", "SECRET-OUTSIDE");
        writeFile(temp / "site/secret.txt", "SECRET-SITE");
        writeFile(temp / "site/root/public.txt", "public");
        writeFile(temp / "site/root/sub/inner.txt", "inner");
        writeFile(temp / "site/cwd/here.txt", "cwd file");
        fs::current_path(temp / "site/cwd");
        setRoot(server.config.documentRoot, temp / "site/root");
        ASSERT_EQ(server.start(), 0);
    }
    void TearDown() override { fs::current_path(previous); }
};

TEST_F(Traversal, HostilePathsNeverLeaveTheRoot) {
    std::uint16_t port = server.config.port;
    // The legitimate forms still work.
    EXPECT_EQ(bodyOf(get(port, "/public.txt")), "public");
    EXPECT_EQ(get(port, "/sub/../public.txt"), NOT_FOUND_REPLY);  // looked up as sub//public.txt
    EXPECT_EQ(bodyOf(get(port, "/sub/inner.txt")), "inner");
    EXPECT_EQ(bodyOf(get(port, "/~here.txt")), "cwd file");

    std::string absolute = (temp / "secret.txt").string();
    const std::string hostile[] = {
        "/../secret.txt",
        "/../../secret.txt",
        "/%2e%2e/secret.txt",
        "/%2e%2e/%2e%2e/secret.txt",
        "/%2E%2E%2Fsecret.txt",
        "/%2E%2E%2F%2E%2E%2Fsecret.txt",
        "/.%2e/secret.txt",
        "/.%2e/.%2e/secret.txt",
        "/%2e./%2e./secret.txt",
        "/sub/%2e%2e/%2e%2e/secret.txt",
        "/..%5csecret.txt",
        "/..%5c..%5csecret.txt",
        "/..\\..\\secret.txt",
        "/%2e%2e%5c%2e%2e%5csecret.txt",
        "/%252e%252e/%252e%252e/secret.txt",
        "/%25%32%65%25%32%65/secret.txt",
        "/....//....//secret.txt",
        "/.../.../secret.txt",
        "/sub/./../../secret.txt",
        "//" + absolute,
        "/%2f" + absolute.substr(1),
        "/~../secret.txt",
        "/~/../secret.txt",
        "/~%2e%2e/secret.txt",
        "/~%2e%2e/%2e%2e/secret.txt",
        "/~.%2e/.%2e/secret.txt",
        "/~..%5csecret.txt",
        "/~" + absolute,
        "/~/" + absolute,
        "/~%2f" + absolute.substr(1),
        "/~%5c" + absolute.substr(1),
        "/~" + absolute + "%00.txt",
    };
    for (const std::string& path : hostile) {
        std::string reply = get(port, path);
        EXPECT_EQ(reply.find("SECRET"), std::string::npos) << path;
        EXPECT_EQ(reply.find("HTTP/1.1 200"), std::string::npos) << path;
    }
}

}  // namespace
