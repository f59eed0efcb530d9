#include "test_disc.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string CONFIG_TEXT =
    "{\n"
    "  \"server\": \"http://localhost:8000/\",\n"
    "  \"dicomRoot\": \"http://localhost:8000/DICOM/\",\n"
    "  \"title\": \"Lumidra test viewer\"\n"
    "}\n";

// Runs argv[0] from PATH with its output in outputFile; the exit status, or -1 when it could
// not be started or did not exit normally.
int runProgram(const std::vector<std::string>& arguments, const fs::path& outputFile) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = 0;
    int failure = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void writeFiles(const fs::path& folder, const std::vector<TestDiscFile>& files) {
    for (const TestDiscFile& file : files) writeFileBytes(folder / file.path, file.content);
}

// Packs everything inside contentFolder (not the folder itself) into archive.
void makeArchive(const fs::path& archive, const fs::path& contentFolder, const char* type,
                 const fs::path& workFolder) {
    const fs::path sevenZip = findSevenZip();
    if (sevenZip.empty()) throw std::runtime_error("no 7-Zip (7zz, 7za, 7z) on PATH");
    fs::create_directories(archive.parent_path());
    fs::remove(archive);
    const fs::path output = workFolder / "7z-output.txt";
    // 7-Zip expands the wildcard itself and stores the paths below contentFolder.
    int status = runProgram({sevenZip.string(), "a", std::string("-t") + type, "-y", archive.string(),
                             (contentFolder / "*").string()},
                            output);
    if (status != 0)
        throw std::runtime_error("7-Zip could not make " + archive.string() + " (status " +
                                 std::to_string(status) + "): " + readFileBytes(output));
}

// Keeps the archive's signature but damages everything after it, so 7-Zip rejects it.
void corrupt(const fs::path& archive) {
    std::string bytes = readFileBytes(archive);
    const size_t keep = bytes.size() < 8 ? bytes.size() : 8;
    bytes.resize(keep);
    bytes += "this archive was damaged on purpose";
    writeFileBytes(archive, bytes);
}

void writeLargeFile(const fs::path& file, uint64_t size) {
    fs::create_directories(file.parent_path());
    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('A' + i % 23);
    uint64_t left = size;
    while (left > 0 && output) {
        const size_t part = left < block.size() ? static_cast<size_t>(left) : block.size();
        output.write(block.data(), static_cast<std::streamsize>(part));
        left -= part;
    }
    if (!output) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

const std::vector<TestDiscFile>& viewerArchiveFiles() {
    static const std::vector<TestDiscFile> files = {
        {"index.html", "<!doctype html>\n<title>Lumidra test viewer</title>\n<p>viewer</p>\n"},
        {"js/viewer.js", "console.log('test viewer');\n"},
        {TEST_DISC_CONFIG, CONFIG_TEXT},
    };
    return files;
}

const std::vector<TestDiscFile>& dataArchiveFiles() {
    static const std::vector<TestDiscFile> files = {
        {"DATA/DICOM/DICOMDIR", "DICOMDIR of the test study\n"},
        {"DATA/DICOM/S0001/I0001.dcm", "first image from data.zip\n"},
        {"DATA/DW/study.json", "{\"study\": \"test\"}\n"},
    };
    return files;
}

const std::vector<TestDiscFile>& discDicomFiles() {
    static const std::vector<TestDiscFile> files = {
        {"DATA/DICOM/S0001/I0001.dcm", "first image from data.zip\n"},
        {"DATA/DICOM/S0001/I0002.dcm", "second image, only on the disc\n"},
        {"DATA/DICOM/S0002/I0001.dcm", "second series, only on the disc\n"},
    };
    return files;
}

const std::vector<TestDiscFile>& discDwFiles() {
    static const std::vector<TestDiscFile> files = {
        {"DATA/DW/study.json", "{\"study\": \"test\"}\n"},
        {"DATA/DW/thumbs/S0001.txt", "thumbnail of series 1\n"},
    };
    return files;
}

fs::path findSevenZip() {
    const char* pathVariable = std::getenv("PATH");
    if (pathVariable == nullptr) return fs::path();
    const std::string_view folders(pathVariable);
    for (const char* name : {"7zz", "7za", "7z"}) {
        size_t start = 0;
        for (;;) {
            const size_t end = folders.find(':', start);
            const std::string folder(
                folders.substr(start, end == std::string_view::npos ? end : end - start));
            const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
            std::error_code error;
            if (fs::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0)
                return fs::absolute(candidate, error);
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
    }
    return fs::path();
}

void buildTestDisc(const fs::path& root, const TestDiscOptions& options) {
    fs::create_directories(root);
    TempFolder work("lumidra-disc-build");
    const fs::path viewerContent = work.path / "viewer";
    const fs::path dataContent = work.path / "data";
    writeFiles(viewerContent, viewerArchiveFiles());
    writeFiles(dataContent, dataArchiveFiles());

    const fs::path viewerArchive = root / "DATA" / "7z" / "viewer.7z";
    const fs::path dataArchive = root / "data.zip";
    makeArchive(viewerArchive, viewerContent, "7z", work.path);
    makeArchive(dataArchive, dataContent, "zip", work.path);
    if (options.corruptViewer) corrupt(viewerArchive);
    if (options.corruptData) corrupt(dataArchive);

    if (options.withDicomFolder) writeFiles(root, discDicomFiles());
    if (options.withDwFolder) writeFiles(root, discDwFiles());
    if (options.largeFileBytes > 0) writeLargeFile(root / TEST_DISC_LARGE_FILE, options.largeFileBytes);
    if (options.withExtractor) {
        const fs::path sevenZip = findSevenZip();
        if (sevenZip.empty()) throw std::runtime_error("no 7-Zip (7zz, 7za, 7z) on PATH");
        fs::create_directories(root / "BIN");
        fs::create_symlink(sevenZip, root / "BIN" / "7za");
    }
}

TempFolder::TempFolder(const std::string& nameHint) {
    std::random_device device;
    std::ostringstream name;
    name << nameHint << '-' << std::hex << device() << device();
    path = fs::temp_directory_path() / name.str();
    fs::create_directories(path);
}

TempFolder::~TempFolder() {
    std::error_code error;
    fs::remove_all(path, error);
}

std::string readFileBytes(const fs::path& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream content;
    content << input.rdbuf();
    return content.str();
}

void writeFileBytes(const fs::path& file, const std::string& content) {
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    output << content;
    output.close();
    if (!output) throw std::runtime_error("cannot write " + file.string());
}
