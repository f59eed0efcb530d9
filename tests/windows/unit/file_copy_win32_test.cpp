#include "staging/file_copy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "win32_test_support.h"

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::function<bool()> always = [] { return true; };

}  // namespace

TEST(FileCopyWin32, CopiesOnlyToANewName) {
    ScratchFolder folder(L"copy");
    fs::path source = folder.path() / L"image.dcm";
    fs::path target = folder.path() / L"image.dcm.bkp";
    writeFile(source, std::string("DICM\0\1\2", 7));

    EXPECT_EQ(copyFileExclusive(source, target, always), FileCopyResult::Copied);
    EXPECT_EQ(readFile(target), std::string("DICM\0\1\2", 7));

    // An existing target (a leftover .bkp) is neither overwritten nor removed.
    writeFile(target, "leftover");
    EXPECT_EQ(copyFileExclusive(source, target, always), FileCopyResult::Failed);
    EXPECT_EQ(readFile(target), "leftover");

    EXPECT_EQ(copyFileExclusive(folder.path() / L"missing.dcm", folder.path() / L"missing.bkp", always),
              FileCopyResult::Failed);
    EXPECT_FALSE(fs::exists(folder.path() / L"missing.bkp"));
}

TEST(FileCopyWin32, ATerminatingLauncherCancelsTheCopyAndLeavesNothing) {
    ScratchFolder folder(L"cancel");
    fs::path source = folder.path() / L"large.bin";
    writeFile(source, std::string(8 * 1024 * 1024, 'x'));

    fs::path before = folder.path() / L"before.bkp";
    EXPECT_EQ(copyFileExclusive(source, before, [] { return false; }), FileCopyResult::Cancelled);
    EXPECT_FALSE(fs::exists(before));

    // Cancelled after the copy has begun: the part already written goes too.
    int asked = 0;
    fs::path during = folder.path() / L"during.bkp";
    FileCopyResult result = copyFileExclusive(source, during, [&asked] { return ++asked < 3; });
    EXPECT_NE(result, FileCopyResult::Failed);
    if (result == FileCopyResult::Cancelled) {
        EXPECT_FALSE(fs::exists(during));
    } else {
        // A copy finished before the second question is complete.
        EXPECT_EQ(fs::file_size(during), fs::file_size(source));
    }
}

TEST(FileCopyWin32, RenameReplacesAnExistingFile) {
    ScratchFolder folder(L"rename");
    fs::path from = folder.path() / L"a.dcm.bkp";
    fs::path to = folder.path() / L"a.dcm";
    writeFile(from, "new");
    writeFile(to, "old");
    EXPECT_TRUE(renameReplacing(from, to));
    EXPECT_EQ(readFile(to), "new");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_FALSE(renameReplacing(from, to));
}
