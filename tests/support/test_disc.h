#pragma once
// Small study discs for tests, with real archives made by the machine's 7-Zip:
//   DATA/7z/viewer.7z   index.html and data/config/config-lumidra.json (names localhost:8000 twice)
//   data.zip            DATA/DICOM/... and DATA/DW/... files
//   DATA/DICOM/, DATA/DW/   a few study files, copied later by the launcher
//   BIN/7za             only when asked: the machine's 7-Zip
// Every file's content is known (see the lists below), so tests can compare what arrived.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TestDiscOptions {
    bool corruptViewer = false;   // DATA/7z/viewer.7z is a damaged archive that 7-Zip rejects
    bool corruptData = false;     // data.zip likewise
    bool withDicomFolder = true;  // the disc's DATA/DICOM folder
    bool withDwFolder = true;     // the disc's optional DATA/DW folder
    uint64_t largeFileBytes = 0;  // when non-zero, TEST_DISC_LARGE_FILE of this many bytes
    bool withExtractor = false;   // BIN/7za, a link to the machine's 7-Zip
};

struct TestDiscFile {
    std::string path;  // relative, with '/' separators
    std::string content;
};

// Inside viewer.7z (relative to the viewer's folder), inside data.zip (relative to the
// workspace), and in the disc's DATA folder (relative to the disc's root).
const std::vector<TestDiscFile>& viewerArchiveFiles();
const std::vector<TestDiscFile>& dataArchiveFiles();
const std::vector<TestDiscFile>& discDicomFiles();
const std::vector<TestDiscFile>& discDwFiles();

// Relative to the disc's root; filled with a repeating byte pattern.
constexpr const char* TEST_DISC_LARGE_FILE = "DATA/DICOM/LARGE/LARGE.dcm";
constexpr const char* TEST_DISC_CONFIG = "data/config/config-lumidra.json";

// The machine's 7-Zip: the first of 7zz, 7za, 7z on PATH; empty when there is none.
std::filesystem::path findSevenZip();

// Builds the disc in root, which is created when missing. Throws std::runtime_error, with
// 7-Zip's own output, when an archive cannot be made.
void buildTestDisc(const std::filesystem::path& root, const TestDiscOptions& options = {});

// A fresh folder in the temporary folder whose name holds the hint (blanks and non-ASCII
// characters welcome); it and everything in it are removed with the object.
struct TempFolder {
    explicit TempFolder(const std::string& nameHint);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path path;
};

std::string readFileBytes(const std::filesystem::path& file);
void writeFileBytes(const std::filesystem::path& file, const std::string& content);
