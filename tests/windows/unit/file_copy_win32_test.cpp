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
    EXPECT_EQ(copyFileExclusive(source, during, [&asked] { return ++asked < 3; }), FileCopyResult::Cancelled);
    EXPECT_EQ(asked, 3);
    EXPECT_FALSE(fs::exists(during));
}

TEST(FileCopyWin32, KeepsTheAttributesOfADiscFile) {
    ScratchFolder folder(L"attributes");
    fs::path source = folder.path() / L"DICOMDIR";
    writeFile(source, "DICM");
    ASSERT_TRUE(SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY));
    fs::path target = folder.path() / L"DICOMDIR.bkp";
    EXPECT_EQ(copyFileExclusive(source, target, always), FileCopyResult::Copied);
    EXPECT_EQ(readFile(target), "DICM");
    EXPECT_TRUE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY);
    // Published under its final name like any other file.
    EXPECT_TRUE(renameReplacing(target, folder.path() / L"DICOMDIR.copy"));
    SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW((folder.path() / L"DICOMDIR.copy").c_str(), FILE_ATTRIBUTE_NORMAL);
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
